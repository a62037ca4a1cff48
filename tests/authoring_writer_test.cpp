// The two archive writers: CPackageBuilder writes new archives, CPackage edits them in place.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <random>

#include "archive/journal_format.h"
#include "authoring/entry_tools.h"
#include "authoring/package.h"
#include "authoring/package_builder.h"
#include "authoring/package_diff.h"
#include "authoring/package_merge.h"
#include "manager/package_manager.h"
#include "support/authoring_checks.h"
#include "support/fault_env.h"
#include "support/read_path.h"

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

// Merging, compacting and patching: archives written from the blocks of others.
namespace {

// What a manager reads for each name after mounting paths in order: the bytes, or "-" when the
// name does not load.
std::map<std::string, std::string> ReadThrough(const std::vector<std::string>& paths,
                                               const std::vector<std::string>& names) {
  CPackageManager manager(nullptr, 0);
  for (const std::string& path : paths) EXPECT_TRUE(manager.MountPackage(path.c_str())) << path;
  std::map<std::string, std::string> read;
  for (const std::string& name : names) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    if (manager.ReadResource(name.c_str(), data, size).ok()) {
      read[name].assign(reinterpret_cast<char*>(data), size);
      std::free(data);
    } else {
      read[name] = "-";
    }
  }
  return read;
}

// An entry stored at a given zlib level: the same text at two levels gives different blocks.
RawEntry LevelEntry(const std::string& name, const std::string& text, int level) {
  uLongf bound = compressBound(static_cast<uLong>(text.size()));
  Bytes stored(bound);
  EXPECT_EQ(compress2(stored.data(), &bound, reinterpret_cast<const Bytef*>(text.data()),
                      static_cast<uLong>(text.size()), level),
            Z_OK);
  stored.resize(bound);
  return RawEntry{name, stored, static_cast<uint32_t>(text.size())};
}

// The spellings of a name that a lookup takes for one: case and slash direction varied.
std::string Variant(const std::string& name, std::mt19937& random) {
  std::string out = name;
  for (char& c : out) {
    if (c == '\\' && random() % 2) c = '/';
    if (c >= 'a' && c <= 'z' && random() % 3 == 0) c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

// Random chains of archives whose names come in case and slash variants: the merged archive
// reads every name exactly as the chain does, and the old archive with the patch reads every
// name of the new one exactly as the new one does.
TEST(ChainWriters, MergedArchiveAndOldPlusPatchReadAsTheChainAndTheNewArchive) {
  TempDir dir;
  const std::vector<std::string> pool = {"data\\ui\\button.img", "data\\hero.txt", "a",
                                         "music\\theme.ogg",     "data\\ui\\x",    "z\\y\\w"};
  const std::vector<std::string> texts = {"", "one", "two", std::string(300, 'q'), Pattern(900, 3)};
  std::vector<std::string> lookups;
  for (const std::string& name : pool) {
    lookups.push_back(name);
    std::string other = name;
    for (char& c : other) c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
    lookups.push_back(other);
  }
  lookups.push_back("absent");
  for (int seed = 0; seed < 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(static_cast<unsigned>(seed));
    std::vector<std::string> chain;
    const int count = 1 + static_cast<int>(random() % 4);
    for (int p = 0; p < count; ++p) {
      std::vector<RawEntry> entries;
      const int records = static_cast<int>(random() % 7);
      for (int r = 0; r < records; ++r) {
        const std::string& text = texts[random() % texts.size()];
        const int level = random() % 2 ? 9 : 1;
        entries.push_back(LevelEntry(Variant(pool[random() % pool.size()], random), text, level));
      }
      chain.push_back(WriteArchive(dir / ("p" + std::to_string(p) + ".pak"), entries));
    }
    const std::string merged = dir / "merged.pak";
    MergeReport report;
    ASSERT_TRUE(MergeArchives(chain, merged, MergeSettings(), &report).ok());
    EXPECT_EQ(ReadThrough({merged}, lookups), ReadThrough(chain, lookups));
    // One record per name, none shadowed.
    CMappedPackage written;
    ASSERT_TRUE(written.Open(merged.c_str()));
    EXPECT_EQ(written.Header().entryCount, report.entries);
    written.Close();

    const std::string patch = dir / "patch.pak";
    DiffReport diff;
    ASSERT_TRUE(DiffArchives(chain.front(), chain.back(), patch, MergeSettings(), diff).ok());
    const auto viaPatch = ReadThrough({chain.front(), patch}, lookups);
    const auto fresh = ReadThrough({chain.back()}, lookups);
    for (const std::string& name : lookups) {
      if (fresh.at(name) != "-") {
        EXPECT_EQ(viaPatch.at(name), fresh.at(name)) << name;
      }
    }
    // Only what was removed still reads from the old archive.
    std::vector<std::string> removed;
    for (const DiffItem& item : diff.items) {
      if (item.change == DiffChange::Removed) removed.push_back(item.name);
    }
    EXPECT_EQ(removed.size(), diff.removed);
    const auto gone = ReadThrough({chain.back()}, removed);
    const auto kept = ReadThrough({chain.front(), patch}, removed);
    const auto was = ReadThrough({chain.front()}, removed);
    for (const std::string& name : removed) {
      EXPECT_EQ(gone.at(name), "-") << name;
      EXPECT_EQ(kept.at(name), was.at(name)) << name;
      EXPECT_NE(was.at(name), "-") << name;
    }
  }
}

// A diff inflates only blocks that differ in their stored bytes, and the patch holds exactly the
// added and changed entries, blocks copied as they are.
TEST(ChainWriters, DiffInflatesOnlyDifferingBlocksAndThePatchCopiesThemVerbatim) {
  TempDir dir;
  const RawEntry same = TextEntry("Data\\Same", "unchanged text");
  const RawEntry releveled = LevelEntry("data\\level", std::string(200, 'r'), 1);
  const RawEntry changed = TextEntry("data\\changed", "version two");
  const RawEntry added = TextEntry("data\\new", "brand new");
  const std::string oldPath = WriteArchive(
      dir / "old.pak", {same, LevelEntry("DATA/LEVEL", std::string(200, 'r'), 9),
                        TextEntry("data/Changed", "version 1"), TextEntry("gone", "x")});
  const std::string newPath = WriteArchive(dir / "new.pak", {same, releveled, changed, added});
  DiffReport report;
  ASSERT_TRUE(DiffArchives(oldPath, newPath, dir / "patch.pak", MergeSettings(), report).ok());
  EXPECT_EQ(report.added, 1u);
  EXPECT_EQ(report.changed, 1u);
  EXPECT_EQ(report.removed, 1u);
  EXPECT_EQ(report.unchanged, 2u);
  EXPECT_EQ(report.inflated, 1u);  // the re-levelled block; "changed" differs in size
  EXPECT_EQ(ReadFileBytes(dir / "patch.pak"), BuildArchive({changed, added}));
  EXPECT_EQ(report.patchBytes, BuildArchive({changed, added}).size());
  ASSERT_EQ(report.items.size(), 3u);
  EXPECT_EQ(report.items[2].name, "gone");
  EXPECT_EQ(report.items[2].change, DiffChange::Removed);
}

// Compacting keeps what a lookup reaches, in first-appearance order, with the winning block:
// the exact bytes of an archive written fresh.
TEST(ChainWriters, CompactDropsReplacedRecordsAndTheirBlocks) {
  TempDir dir;
  const RawEntry first = TextEntry("data\\a", "first version of a");
  const RawEntry b = TextEntry("data\\b", "bee");
  const RawEntry second = TextEntry("DATA/A", "second");
  const std::string path = WriteArchive(dir / "game.pak", {first, b, second});
  MergeReport report;
  ASSERT_TRUE(CompactArchive(path, MergeSettings(), &report).ok());
  EXPECT_EQ(ReadFileBytes(path), BuildArchive({second, b}));
  EXPECT_EQ(report.entries, 2u);
  EXPECT_EQ(report.shadowed, 1u);
}

// A damaged archive, one with an interrupted edit, or a missing one in the chain fails the
// merge and the diff with a status naming that file; nothing is written.
TEST(ChainWriters, BadSourcesNameTheFileAndWriteNothing) {
  TempDir dir;
  const std::string good = WriteArchive(dir / "good.pak", {TextEntry("a", "abc")});
  Bytes cut = BuildArchive({TextEntry("a", "abc"), TextEntry("b", "def")});
  cut.resize(cut.size() - 5);  // the last index record runs past the end
  WriteFileBytes(dir / "damaged.pak", cut);
  Bytes outside = BuildArchive({TextEntry("a", "abc")});
  outside[outside.size() - 12] = 0xF0;  // the block's offset lies in the index
  WriteFileBytes(dir / "outside.pak", outside);
  // An edit that stops half-way leaves a hot journal beside the archive.
  std::vector<RawEntry> big;
  for (int i = 0; i < 4; ++i) big.push_back(TextEntry("e" + std::to_string(i), Pattern(3000, i)));
  const std::string hot = WriteArchive(dir / "hot.pak", big);
  for (int k = 1; k < 60 && !HasHotJournal(hot.c_str()); ++k) {
    WriteArchive(hot, big);
    int calls = 0;
    FaultInjectionEnv crash([&](WriteCall) {
      return ++calls >= k ? FaultDecision{EIO, calls == k} : FaultDecision{};
    });
    (void)DelPkgFile(hot.c_str(), "e0", nullptr, nullptr, nullptr, &crash);
  }
  ASSERT_TRUE(HasHotJournal(hot.c_str()));
  const std::string out = dir / "out.pak";
  WriteFileText(dir / "kept.pak", "old output");
  for (const std::string& bad :
       {dir / "damaged.pak", dir / "outside.pak", hot, dir / "missing.pak"}) {
    SCOPED_TRACE(bad);
    Status merged = MergeArchives({good, bad}, out);
    EXPECT_FALSE(merged.ok());
    EXPECT_EQ(merged.file(), bad);
    EXPECT_FALSE(FileExists(out));
    DiffReport report;
    Status diffed = DiffArchives(bad, good, dir / "kept.pak", MergeSettings(), report);
    EXPECT_EQ(diffed.file(), bad);
    EXPECT_EQ(ReadFileBytes(dir / "kept.pak"), ToBytes("old output"));
  }
  EXPECT_EQ(MergeArchives({good, hot}, out).code(), StatusCode::Locked);
  EXPECT_EQ(MergeArchives({good, dir / "missing.pak"}, out).code(), StatusCode::NotFound);
  EXPECT_EQ(MergeArchives({good, dir / "damaged.pak"}, out).code(), StatusCode::Corrupt);
  const Bytes before = ReadFileBytes(dir / "outside.pak");
  EXPECT_EQ(CompactArchive(dir / "outside.pak").file(), dir / "outside.pak");
  EXPECT_EQ(ReadFileBytes(dir / "outside.pak"), before);
  // A stop request leaves the target as it was and no temporary file.
  std::atomic<bool> stop{true};
  MergeSettings stopped;
  stopped.cancel = &stop;
  EXPECT_EQ(MergeArchives({good}, dir / "kept.pak", stopped).code(), StatusCode::Interrupted);
  EXPECT_EQ(CompactArchive(good, stopped).code(), StatusCode::Interrupted);
  EXPECT_EQ(ReadFileBytes(dir / "kept.pak"), ToBytes("old output"));
  // Nothing but the sources and the file kept is left in the directory (no temporary file).
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
    (void)item;
    ++files;
  }
  EXPECT_EQ(files, 6u);  // good, damaged, outside, hot, its journal, kept
}

// The chain's conflicts: names held by more than one package, folded, and the count per pair.
TEST(ChainWriters, ConflictsCountNamesPerPairOfPackages) {
  TempDir dir;
  const std::string base = WriteArchive(
      dir / "base.pak", {TextEntry("a", "1"), TextEntry("B", "2"), TextEntry("c", "3")});
  const std::string patch =
      WriteArchive(dir / "patch.pak", {TextEntry("A", "1"), TextEntry("d", "4")});
  const std::string mod = WriteArchive(
      dir / "mod.pak", {TextEntry("b", "5"), TextEntry("a", "6"), TextEntry("a", "7")});
  CPackageChain chain;
  for (const std::string& path : {base, patch, mod}) ASSERT_TRUE(chain.Open(path).ok());
  ASSERT_TRUE(chain.Build().ok());
  const ChainConflicts conflicts = FindConflicts(chain);
  ASSERT_EQ(conflicts.names.size(), 2u);  // a (three packages), b (two)
  EXPECT_EQ(chain.Names()[conflicts.names[0]].holders, 3u);
  EXPECT_EQ(chain.Winner(chain.Names()[conflicts.names[0]]).size, 1u);
  ASSERT_EQ(conflicts.overrides.size(), 2u);
  EXPECT_EQ(conflicts.overrides[0].winner, 2u);
  EXPECT_EQ(conflicts.overrides[0].shadowed, 0u);
  EXPECT_EQ(conflicts.overrides[0].names, 2u);
  EXPECT_EQ(conflicts.overrides[1].shadowed, 1u);
  EXPECT_EQ(conflicts.overrides[1].names, 1u);
}
