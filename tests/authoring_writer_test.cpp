// The two archive writers: CPackageBuilder writes new archives, CPackage edits them in place.
#include <gtest/gtest.h>

#include "authoring/package.h"
#include "authoring/package_builder.h"
#include "manager/package_manager.h"
#include "support/authoring_checks.h"

using namespace korvo;

namespace {

const std::vector<RawEntry> Three = {
    TextEntry("data\\one.txt", "first entry"),
    TextEntry("data\\two.txt", "the second entry, somewhat longer than the first"),
    TextEntry("data\\three.txt", "third")};

uint32_t Stored(const RawEntry& entry) {
  return static_cast<uint32_t>(entry.stored.size());
}

// Header values, then the blocks back to back, then a record (flags 0) per entry and offset.
Bytes Layout(std::vector<uint32_t> header, std::vector<const RawEntry*> blocks,
             std::vector<std::pair<const RawEntry*, uint32_t>> records) {
  Bytes out;
  for (uint32_t value : header) PutU32(out, value);
  for (const RawEntry* block : blocks) PutBytes(out, block->stored);
  for (const auto& [entry, offset] : records) {
    PutU16(out, static_cast<uint16_t>(entry->name.size()));
    PutText(out, entry->name);
    for (uint32_t value : {0u, offset, entry->size, Stored(*entry)}) PutU32(out, value);
  }
  return out;
}

template <class Writer>
bool Add(Writer& writer, const RawEntry& entry) {
  return writer.AddFile(entry.name.c_str(), entry.stored.data(), entry.size, Stored(entry), 0);
}

template <class Writer>
Status Append(Writer& writer, const RawEntry& entry) {
  return writer.Append(entry.name.c_str(), entry.stored.data(), entry.size, Stored(entry), 0);
}

void Build(const std::string& path, const std::vector<RawEntry>& entries) {
  CPackageBuilder builder;
  ASSERT_TRUE(builder.Create(path.c_str()));
  for (const RawEntry& entry : entries) ASSERT_TRUE(Add(builder, entry));
  ASSERT_TRUE(builder.Finish());
}

// Opens the archive, applies the change and closes it.
template <class Change>
void Edit(const std::string& path, Change change) {
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  change(package);
  ASSERT_TRUE(package.Close());
}

}  // namespace

TEST(PackageBuilder, WritesTheExact16And84ByteArchivesAndOneRecordPerName) {
  TempDir dir;
  std::string path = dir / "x.pak";
  CPackageBuilder builder;
  EXPECT_FALSE(Add(builder, Three[0]));  // nothing created yet
  EXPECT_FALSE(builder.Finish());
  EXPECT_FALSE(builder.Create(nullptr));
  EXPECT_FALSE(builder.Create((dir / "missing/x.pak").c_str()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  WriteFileText(path, "an older file, replaced");
  ASSERT_TRUE(builder.Create(path.c_str()));
  EXPECT_EQ(ReadFileBytes(path), Layout({100, 0, 16, 0}, {}, {}));
  // Names are at most 259 bytes, the editor's field; a block needs its data.
  Status tooLong = Append(builder, TextEntry(std::string(260, 'n'), ""));
  EXPECT_FALSE(tooLong.ok());
  EXPECT_EQ(tooLong.detail(), "entry name is longer than 259 bytes");
  EXPECT_FALSE(builder.AddFile("a", nullptr, 1, 1, 0));
  EXPECT_FALSE(builder.AddFile(nullptr, "a", 1, 1, 0));
  ASSERT_TRUE(builder.Finish());
  Edit(path, [](CPackage& empty) {
    EXPECT_TRUE(empty.index.empty());
    Status tooLong = Append(empty, TextEntry(std::string(260, 'n'), ""));  // the same limit
    EXPECT_FALSE(tooLong.ok());
    EXPECT_EQ(tooLong.detail(), "entry name is longer than 259 bytes");
  });
  EXPECT_TRUE(ArchiveHolds(path, {}));

  RawEntry a = TextEntry("a", "ab"), b = TextEntry("b", "abcdefghijkl");
  Build(path, {a, b});
  Bytes expected = Layout({100, 2, 46, 38}, {&a, &b}, {{&a, 16}, {&b, 26}});
  EXPECT_EQ(expected.size(), 84u);
  EXPECT_EQ(ReadFileBytes(path), expected);
  EXPECT_TRUE(ReadsBack(path, {a, b}));

  // A name added again keeps its record, which points at the new data; case counts.
  RawEntry x = TextEntry("x.txt", "old"), y = TextEntry("Y.txt", "y"), y2 = TextEntry("y.txt", "");
  RawEntry x2 = TextEntry("x.txt", "new contents, longer");
  uint32_t sx = Stored(x), sy = Stored(y), sy2 = Stored(y2);
  Build(path, {x, y, y2, x2});
  EXPECT_EQ(ReadFileBytes(path),
            Layout({100, 3, 16 + sx + sy + sy2 + Stored(x2), 3 * 18 + 15}, {&x, &y, &y2, &x2},
                   {{&x2, 16 + sx + sy + sy2}, {&y, 16 + sx}, {&y2, 16 + sx + sy}}));
  EXPECT_TRUE(ReadsBack(path, {x2, y, y2}));
}

TEST(PackageEditor, OpenRefusesMissingAndDamagedArchivesAndLeavesThemAlone) {
  TempDir dir;
  std::string path = dir / "x.pak";
  auto refused = [&](int attempts) {
    EditorWatch watch;
    CPackage package(&watch);
    EXPECT_FALSE(package.Open(path.c_str()));
    EXPECT_EQ(watch.attempts, attempts);
    EXPECT_EQ(watch.messages, "CPackage::Open Failed!\n");
    EXPECT_FALSE(package.Close());
  };
  refused(2);
  EXPECT_FALSE(FileExists(path));

  Bytes good = BuildArchive({TextEntry("a.txt", "abc"), TextEntry("b.txt", "defg")});
  const uint32_t record = GetU32(good, 8) + 2 + 5;  // behind the first record's name
  auto with = [&](size_t at, uint32_t value) {
    Bytes copy = good;
    for (int i = 0; i < 4; ++i) copy[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return copy;
  };
  std::pair<const char*, Bytes> damaged[] = {
      {"fifteen bytes", Bytes(good.begin(), good.begin() + 15)},
      {"index beyond the end", with(8, static_cast<uint32_t>(good.size()) + 1)},
      {"index inside the header", with(8, 8)},
      {"more records than the index holds", with(4, 3)},
      {"count read as negative", with(4, 0x80000000u)},
      {"last record cut short", Bytes(good.begin(), good.end() - 1)},
      {"name running past the end", with(record + 16, 0x7fff)},
      {"data block past the data region", with(record + 12, 1000)},
      {"data block before the data region", with(record + 4, 4)},
  };
  for (const auto& [what, bytes] : damaged) {
    SCOPED_TRACE(what);
    WriteFileBytes(path, bytes);
    refused(1);
    EXPECT_EQ(ReadFileBytes(path), bytes);
  }
  // The intact archive opens, and a second Open uses the open file again.
  WriteFileBytes(path, good);
  EditorWatch watch(1);
  CPackage package(&watch);
  // Not open: every edit fails.
  EXPECT_FALSE(Add(package, Three[0]));
  EXPECT_FALSE(package.DelFile("a"));
  EXPECT_FALSE(package.Close());
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_TRUE(package.Open(path.c_str()));
  EXPECT_EQ(watch.attempts, 2);
  EXPECT_EQ(watch.messages, "");
  EXPECT_EQ(package.index.size(), 2u);
  EXPECT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), good);
}

TEST(PackageEditor, ReAddedDataMovesToTheEndAndDeleteFollowsTheData) {
  TempDir dir;
  std::string path = dir / "x.pak";
  const RawEntry &one = Three[0], &two = Three[1], &three = Three[2];
  Build(path, Three);
  RawEntry fresh = TextEntry("data\\two.txt", "replacement");
  Edit(path, [&](CPackage& package) { EXPECT_TRUE(Add(package, fresh)); });
  uint32_t s1 = Stored(one), s2 = Stored(two), end = 16 + s1 + s2 + Stored(three);
  EXPECT_EQ(ReadFileBytes(path),
            Layout({100, 3, end + Stored(fresh), 30 + 30 + 32}, {&one, &two, &three, &fresh},
                   {{&one, 16}, {&fresh, end}, {&three, 16 + s1 + s2}}));
  EXPECT_TRUE(ReadsBack(path, {one, fresh, three}));

  // Three is last in the index but not in the data: the record before it moves down.
  Edit(path, [&](CPackage& package) { EXPECT_TRUE(package.DelFile("data\\three.txt")); });
  end = 16 + s1 + s2;
  EXPECT_EQ(ReadFileBytes(path), Layout({100, 2, end + Stored(fresh), 30 + 30},
                                        {&one, &two, &fresh}, {{&one, 16}, {&fresh, end}}));
  EXPECT_TRUE(ReadsBack(path, {one, fresh}));
}

TEST(PackageEditor, DeleteLeavesTheArchiveOfTheRest) {
  std::vector<RawEntry> big;  // incompressible, so moving takes several buffer loads
  for (uint32_t e = 0, state = 12345; e < 3; ++e) {
    Bytes data(1536 * 1024 + 7 * e);
    for (uint8_t& b : data) b = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    big.push_back({"big" + std::to_string(e), Compress(data), static_cast<uint32_t>(data.size())});
  }
  std::vector<RawEntry> names = {TextEntry(std::string(300, 'p'), "300"),
                                 TextEntry(std::string(32767, 'q'), "32767")};
  struct Case {
    const char* what;
    std::vector<RawEntry> before, rest;
    std::vector<std::string> deleted;
  } cases[] = {
      {"only", {TextEntry("a.txt", "abc")}, {}, {"a.txt"}},
      {"first", Three, {Three[1], Three[2]}, {"data\\one.txt"}},
      {"middle", Three, {Three[0], Three[2]}, {"data\\two.txt"}},
      {"last", Three, {Three[0], Three[1]}, {"data\\three.txt"}},
      {"missing: names compare whole and with case", Three, Three, {"data\\ONE.txt", "data"}},
      {"larger than the move buffer", big, {big[1], big[2]}, {"big0"}},
      {"names of 300 and 32767 bytes, rewritten whole", names, {names[1]}, {names[0].name}},
  };
  TempDir dir;
  std::string path = dir / "x.pak";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path, BuildArchive(c.before));  // no writer makes names over 259 bytes
    Edit(path, [&](CPackage& package) {
      for (const std::string& name : c.deleted) EXPECT_TRUE(package.DelFile(name.c_str()));
    });
    // With no entry left the header keeps the old index size ("a.txt": 23 bytes).
    EXPECT_EQ(ReadFileBytes(path),
              c.rest.empty() ? Layout({100, 0, 16, 23}, {}, {}) : BuildArchive(c.rest));
    EXPECT_TRUE(ReadsBack(path, c.rest));
  }
}
