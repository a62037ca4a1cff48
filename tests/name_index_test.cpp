// The name index: folding, batches, duplicates, growth and the order of enumeration.
#include "manager/name_index.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "archive/names.h"

namespace korvo {
namespace {

char FoldedByte(char c) {
  if (c == '/') return '\\';
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c + 0x20);
  return c;
}

IndexedEntry Value(uint32_t offset, uint32_t recordOffset = 0) {
  IndexedEntry entry;
  entry.info.offset = offset;
  entry.info.size = offset + 1;
  entry.info.packedSize = offset + 2;
  entry.info.flags = offset + 3;
  entry.recordOffset = recordOffset;
  return entry;
}

// Adds one key and commits it at once.
void Put(CNameIndex& index, const char* name, size_t length, const IndexedEntry& value) {
  ASSERT_TRUE(index.Add(name, length, value).ok());
  ASSERT_TRUE(index.Commit().ok());
}

// Every byte value at every position of names up to 19 bytes (the word-wise fold works on 8
// bytes at once and on a partial word at the end).
TEST(FoldName, MatchesTheByteRuleForEveryByteAtEveryPosition) {
  for (size_t length = 1; length < 20; ++length) {
    for (size_t position = 0; position < length; ++position) {
      for (int value = 0; value < 256; ++value) {
        std::string name(length, 'Q');
        name[position] = static_cast<char>(value);
        std::string folded(length, '\0');
        FoldName(name.data(), length, folded.data());
        std::string expected = name;
        for (char& c : expected) c = FoldedByte(c);
        ASSERT_EQ(folded, expected)
            << "length " << length << ", byte " << value << " at " << position;
      }
    }
  }
}

TEST(FoldName, FoldsInPlace) {
  std::string name = "Data/Maps/LEVEL_01.Bin";
  FoldName(name.data(), name.size(), name.data());
  EXPECT_EQ(name, "data\\maps\\level_01.bin");
}

TEST(FoldName, LeavesBytesAfterTheLengthAlone) {
  const char name[] = "ABCDEFGHIJK";
  char out[12] = "zzzzzzzzzzz";
  FoldName(name, 9, out);
  EXPECT_EQ(std::string(out), "abcdefghizz");
}

// An empty name reads and writes nothing: under AddressSanitizer a read before or after the
// one-byte buffers would fail here.
TEST(FoldName, FoldsNothingForAnEmptyName) {
  std::unique_ptr<char[]> name(new char[1]{'A'});
  std::unique_ptr<char[]> out(new char[1]{'z'});
  FoldName(name.get() + 1, 0, out.get() + 1);
  EXPECT_EQ(out[0], 'z');
}

TEST(FoldedName, FoldsLongNamesWhole) {
  std::string name(2000, 'A');
  name[1500] = '/';
  FoldedName folded(name.c_str());
  std::string expected(2000, 'a');
  expected[1500] = '\\';
  EXPECT_EQ(folded.View(), expected);
}

TEST(NameIndex, FindsAKeyUnderItsFoldedName) {
  CNameIndex index;
  Put(index, "Maps/One.BIN", 12, Value(7));
  IndexedEntry found;
  ASSERT_TRUE(index.Find("maps\\one.bin", found));
  EXPECT_EQ(found.info.offset, 7u);
  EXPECT_EQ(found.info.size, 8u);
  EXPECT_EQ(found.info.packedSize, 9u);
  EXPECT_EQ(found.info.flags, 10u);
  EXPECT_FALSE(index.Find("Maps/One.BIN", found));  // lookups take folded keys
  EXPECT_FALSE(index.Find("maps\\one.bi", found));
  EXPECT_FALSE(index.Find("maps\\one.bin\\", found));
}

TEST(NameIndex, TheEmptyNameIsAKey) {
  CNameIndex index;
  IndexedEntry found;
  EXPECT_FALSE(index.Find("", found));
  Put(index, "", 0, Value(3));
  ASSERT_TRUE(index.Find("", found));
  EXPECT_EQ(found.info.offset, 3u);
  EXPECT_EQ(index.size(), 1u);
}

TEST(NameIndex, TheLastValueWinsAndTheKeyIsKeptOnce) {
  CNameIndex index;
  Put(index, "a/B", 3, Value(1, 100));
  Put(index, "other", 5, Value(2));
  Put(index, "A\\b", 3, Value(5, 200));
  EXPECT_EQ(index.size(), 2u);
  IndexedEntry found;
  ASSERT_TRUE(index.Find("a\\b", found));
  EXPECT_EQ(found.info.offset, 5u);
  EXPECT_EQ(found.recordOffset, 200u);
}

// Within one batch a repeated key hands its value to the first record, and the records after
// it close up: enumeration sees each key once, in the order first added.
TEST(NameIndex, ABatchWithRepeatsKeepsEachKeyOnceInOrder) {
  CNameIndex index;
  const char* names[] = {"one", "two", "ONE", "three", "Two", "four"};
  for (uint32_t n = 0; n < 6; ++n) {
    ASSERT_TRUE(index.Add(names[n], std::strlen(names[n]), Value(n)).ok());
  }
  ASSERT_TRUE(index.Commit().ok());
  std::vector<std::string> keys;
  std::vector<uint32_t> offsets;
  index.ForEach([&](std::string_view key, const IndexedEntry& entry) {
    keys.emplace_back(key);
    offsets.push_back(entry.info.offset);
  });
  EXPECT_EQ(keys, (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(offsets, (std::vector<uint32_t>{2, 4, 3, 5}));
  IndexedEntry found;
  ASSERT_TRUE(index.Find("four", found));
  EXPECT_EQ(found.info.offset, 5u);
}

// Many keys in several batches, with repeats across batches and growth of both tables on the
// way; every key is found with its last value afterwards.
TEST(NameIndex, GrowsThroughManyBatchesAndFindsEveryKey) {
  CNameIndex index;
  const uint32_t count = 50000;
  for (uint32_t n = 0; n < count; ++n) {
    std::string name = "Dir" + std::to_string(n % 97) + "/File_" + std::to_string(n) + ".dat";
    ASSERT_TRUE(index.Add(name.data(), name.size(), Value(n)).ok());
  }
  ASSERT_TRUE(index.Commit().ok());
  // Every tenth key again, with a new value, in a second mount-sized batch.
  for (uint32_t n = 0; n < count; n += 10) {
    std::string name = "DIR" + std::to_string(n % 97) + "\\FILE_" + std::to_string(n) + ".DAT";
    ASSERT_TRUE(index.Add(name.data(), name.size(), Value(n + count)).ok());
  }
  ASSERT_TRUE(index.Commit().ok());
  EXPECT_EQ(index.size(), count);
  uint32_t wrong = 0;
  for (uint32_t n = 0; n < count; ++n) {
    std::string key = "dir" + std::to_string(n % 97) + "\\file_" + std::to_string(n) + ".dat";
    IndexedEntry found;
    uint32_t expected = n % 10 == 0 ? n + count : n;
    if (!index.Find(key, found) || found.info.offset != expected) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  size_t visited = 0;
  index.ForEach([&](std::string_view, const IndexedEntry&) { ++visited; });
  EXPECT_EQ(visited, count);
}

TEST(NameIndex, KeepsKeysLongerThanTheStackBuffer) {
  CNameIndex index;
  std::string name(40000, 'x');
  Put(index, name.data(), name.size(), Value(9));
  IndexedEntry found;
  ASSERT_TRUE(index.Find(name, found));
  EXPECT_EQ(found.info.offset, 9u);
  name.back() = 'y';
  EXPECT_FALSE(index.Find(name, found));
}

// A batch that outgrows the index's memory goes in not at all: neither the arena nor the slots
// failing to grow leaves a key of it, or a changed value, behind.
TEST(NameIndex, ABatchThatDoesNotFitLeavesTheIndexAsItWas) {
  struct Case {
    size_t mostBytes;
    size_t batch;
    bool failsInAdd;
  };
  // 2000 new keys outgrow the arena while they are added (after more than a thousand); 100 fit the
  // arena (8 KiB) but not the slots they need beside it (2 KiB more) when committed.
  for (const Case& c : {Case{128 * 1024, 2000, true}, Case{9000, 100, false}}) {
    CNameIndex index(c.mostBytes);
    for (uint32_t n = 0; n < 20; ++n) {
      const std::string name = "kept" + std::to_string(n);
      Put(index, name.data(), name.size(), Value(n));
    }
    Status failed;
    for (uint32_t n = 0; n < c.batch && failed.ok(); ++n) {
      const std::string name = n == 0 ? "KEPT3" : "new" + std::to_string(n);
      failed = index.Add(name.data(), name.size(), Value(1000 + n));
    }
    EXPECT_EQ(failed.ok(), !c.failsInAdd) << c.batch;
    if (failed.ok()) failed = index.Commit();
    EXPECT_EQ(failed.code(), StatusCode::TooLarge) << c.batch;
    EXPECT_EQ(failed.detail(), "the name index is full") << c.batch;
    EXPECT_EQ(index.size(), 20u) << c.batch;
    IndexedEntry found;
    ASSERT_TRUE(index.Find("kept3", found)) << c.batch;
    EXPECT_EQ(found.info.offset, 3u) << c.batch;
    EXPECT_FALSE(index.Find("new1", found)) << c.batch;
    size_t visited = 0;
    index.ForEach([&](std::string_view, const IndexedEntry&) { ++visited; });
    EXPECT_EQ(visited, 20u) << c.batch;
    // A batch that fits still goes in afterwards.
    Put(index, "later", 5, Value(77));
    ASSERT_TRUE(index.Find("later", found)) << c.batch;
    EXPECT_EQ(found.info.offset, 77u) << c.batch;
  }
}

// Readers without a lock beside a writer that grows the index through system-sized blocks and
// gives values to keys again: whenever a reader's version holds, its answer is one the index
// really had, every field from the same value, and a key published before it began is found.
TEST(NameIndexThreads, LookupsBesideAWriterAreRightWheneverTheVersionHolds) {
  CNameIndex index;
  constexpr uint32_t Keys = 120000;  // the slots and the arena both outgrow the heap blocks
  constexpr uint32_t Batch = 3000;
  const auto name = [](uint32_t n) { return "Maps/Region" + std::to_string(n) + ".BIN"; };
  const auto key = [](uint32_t n) { return "maps\\region" + std::to_string(n) + ".bin"; };
  std::atomic<uint32_t> published{0};
  std::atomic<bool> done{false};
  std::atomic<uint32_t> wrong{0}, missing{0}, settled{0};

  std::thread writer([&] {
    for (uint32_t start = 0; start < Keys; start += Batch) {
      {
        CNameIndex::Change change(index);
        for (uint32_t n = start; n < start + Batch; ++n) {
          if (!index.Add(name(n).c_str(), name(n).size(), Value(n)).ok()) ++wrong;
          // An earlier key takes a new value: offset n / 2 again, with record offset 1.
          if (!index.Add(name(n / 2).c_str(), name(n / 2).size(), Value(n / 2, 1)).ok()) ++wrong;
        }
        if (!index.Commit().ok()) ++wrong;
      }
      published.store(start + Batch, std::memory_order_release);
      // Readers settle a few lookups between changes, and try many during them.
      const uint32_t before = settled;
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
      while (settled < before + 50 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    }
    done = true;
  });
  std::vector<std::thread> readers;
  for (uint32_t t = 0; t < 2; ++t) {
    readers.emplace_back([&, t] {
      std::mt19937 random(t);
      while (!done) {
        const uint32_t known = published.load(std::memory_order_acquire);
        const uint32_t n = random() % (known + Batch);
        const uint64_t version = index.Version();
        IndexedEntry found;
        const bool hit = index.Find(key(n), found);
        if (!index.Unchanged(version)) continue;
        ++settled;
        if (!hit) {
          if (n < known) ++missing;
          continue;
        }
        const IndexedEntry want = Value(n, found.recordOffset);
        if (found.info.offset != n || found.info.size != want.info.size ||
            found.info.packedSize != want.info.packedSize || found.info.flags != want.info.flags ||
            found.recordOffset > 1)
          ++wrong;
      }
    });
  }
  writer.join();
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(missing, 0u);
  EXPECT_GT(settled, 0u);
  EXPECT_EQ(index.size(), size_t{Keys});
}

}  // namespace
}  // namespace korvo
