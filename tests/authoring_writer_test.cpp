// The two archive writers: CPackageBuilder writes new archives, CPackage edits them in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authoring/package.h"
#include "authoring/package_builder.h"
#include "manager/package_manager.h"
#include "support/archive_bytes.h"
#include "support/authoring_checks.h"

namespace {

Bytes HeaderBytes(uint32_t count, uint32_t indexOffset, uint32_t indexSize) {
  Bytes out;
  PutU32(out, 100);
  PutU32(out, count);
  PutU32(out, indexOffset);
  PutU32(out, indexSize);
  return out;
}

void PutRecord(Bytes& out, const std::string& name, uint32_t offset, uint32_t size,
               uint32_t packedSize) {
  PutU16(out, static_cast<uint16_t>(name.size()));
  PutText(out, name);
  PutU32(out, 0);
  PutU32(out, offset);
  PutU32(out, size);
  PutU32(out, packedSize);
}

bool Add(CPackageBuilder& builder, const RawEntry& entry) {
  return builder.AddFile(entry.name.c_str(), entry.stored.data(), entry.size,
                         static_cast<uint32_t>(entry.stored.size()), 0);
}

bool Add(CPackage& package, const RawEntry& entry) {
  return package.AddFile(entry.name.c_str(), entry.stored.data(), entry.size,
                         static_cast<uint32_t>(entry.stored.size()), 0);
}

NamedBytes Content(const std::string& name, const std::string& text) {
  return {name, ToBytes(text)};
}

// Three text entries whose compressed sizes differ, so that every offset is distinct.
std::vector<RawEntry> ThreeEntries() {
  return {TextEntry("data\\one.txt", "first entry"),
          TextEntry("data\\two.txt", "the second entry, somewhat longer than the first"),
          TextEntry("data\\three.txt", "third")};
}

void WriteWithBuilder(const std::string& path, const std::vector<RawEntry>& entries) {
  CPackageBuilder builder;
  ASSERT_TRUE(builder.Create(path.c_str()));
  for (const RawEntry& entry : entries) ASSERT_TRUE(Add(builder, entry));
  ASSERT_TRUE(builder.Finish());
}

}  // namespace

TEST(PackageBuilder, EmptyArchiveIsExactlySixteenBytesAndMounts) {
  TempDir dir;
  std::string path = dir / "empty.pak";
  WriteFileText(path, std::string(100, 'x'));  // Create replaces whatever is there
  CPackageBuilder builder;
  ASSERT_TRUE(builder.Create(path.c_str()));
  EXPECT_EQ(ReadFileBytes(path), HeaderBytes(0, 16, 0));
  ASSERT_TRUE(builder.Finish());
  EXPECT_EQ(builder.file, nullptr);
  EXPECT_EQ(ReadFileBytes(path), HeaderBytes(0, 16, 0));
  EXPECT_TRUE(ReadEntriesBack(path).empty());
  ExpectMountsAndReadsBack(path, {});
}

TEST(PackageBuilder, TwoEntriesGiveThe84ByteArchive) {
  TempDir dir;
  std::string path = dir / "two.pak";
  RawEntry first = TextEntry("a", "ab");
  RawEntry second = TextEntry("b", "abcdefghijkl");
  ASSERT_EQ(first.stored.size(), 10u);
  ASSERT_EQ(second.stored.size(), 20u);
  WriteWithBuilder(path, {first, second});

  Bytes expected = HeaderBytes(2, 46, 38);
  PutBytes(expected, first.stored);
  PutBytes(expected, second.stored);
  PutRecord(expected, "a", 16, 2, 10);
  PutRecord(expected, "b", 26, 12, 20);
  ASSERT_EQ(expected.size(), 84u);
  EXPECT_EQ(ReadFileBytes(path), expected);
  ExpectMountsAndReadsBack(path, {Content("a", "ab"), Content("b", "abcdefghijkl")});
}

TEST(PackageBuilder, NameAddedTwiceKeepsOneRecordPointingAtTheNewData) {
  TempDir dir;
  std::string path = dir / "twice.pak";
  RawEntry old = TextEntry("x.txt", "old contents");
  RawEntry other = TextEntry("y.txt", "other");
  RawEntry fresh = TextEntry("x.txt", "new contents, longer");
  WriteWithBuilder(path, {old, other, fresh});

  uint32_t oldSize = static_cast<uint32_t>(old.stored.size());
  uint32_t otherSize = static_cast<uint32_t>(other.stored.size());
  uint32_t freshSize = static_cast<uint32_t>(fresh.stored.size());
  uint32_t indexOffset = 16 + oldSize + otherSize + freshSize;
  Bytes expected = HeaderBytes(2, indexOffset, 2 * 18 + 10);
  PutBytes(expected, old.stored);  // the first data stays, unreferenced
  PutBytes(expected, other.stored);
  PutBytes(expected, fresh.stored);
  PutRecord(expected, "x.txt", 16 + oldSize + otherSize, fresh.size, freshSize);
  PutRecord(expected, "y.txt", 16 + oldSize, other.size, otherSize);
  EXPECT_EQ(ReadFileBytes(path), expected);
  ExpectMountsAndReadsBack(path,
                           {Content("x.txt", "new contents, longer"), Content("y.txt", "other")});
}

TEST(PackageBuilder, NamesDifferingOnlyInCaseAreTwoRecords) {
  TempDir dir;
  std::string path = dir / "case.pak";
  WriteWithBuilder(path, {TextEntry("Data\\A.txt", "upper"), TextEntry("data\\a.txt", "lower")});
  std::vector<NamedBytes> expected = {Content("Data\\A.txt", "upper"),
                                      Content("data\\a.txt", "lower")};
  EXPECT_EQ(ReadEntriesBack(path), expected);
  // The manager's lookups ignore case: the later record wins the one key.
  ExpectMountsAndReadsBack(path, {Content("data\\a.txt", "lower")});
}

TEST(PackageBuilder, NamesUpTo32767BytesAreStoredWhole) {
  TempDir dir;
  std::string path = dir / "long.pak";
  std::string longest(32767, 'n');
  std::string tooLong(32768, 'n');
  CPackageBuilder builder;
  ASSERT_TRUE(builder.Create(path.c_str()));
  ASSERT_TRUE(Add(builder, TextEntry(longest, "longest")));
  // A longer name would be read back as a negative length: refused, nothing written.
  EXPECT_FALSE(Add(builder, TextEntry(tooLong, "too long")));
  EXPECT_EQ(builder.header.entryCount, 1u);
  ASSERT_TRUE(builder.Finish());
  EXPECT_EQ(ReadEntriesBack(path), std::vector<NamedBytes>{Content(longest, "longest")});
  ExpectMountsAndReadsBack(path, {Content(longest, "longest")});
}

TEST(PackageBuilder, FailsWithoutAFile) {
  TempDir dir;
  CPackageBuilder builder;
  RawEntry entry = TextEntry("a", "a");
  EXPECT_FALSE(Add(builder, entry));
  EXPECT_FALSE(builder.Finish());
  EXPECT_FALSE(builder.Create((dir / "missing/dir/x.pak").c_str()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_FALSE(builder.Create(nullptr));
  // Null data is refused for a non-empty block.
  ASSERT_TRUE(builder.Create((dir / "x.pak").c_str()));
  EXPECT_FALSE(builder.AddFile("a", nullptr, 1, 1, 0));
  EXPECT_FALSE(builder.AddFile(nullptr, entry.stored.data(), 1, 1, 0));
  ASSERT_TRUE(builder.Finish());
  EXPECT_EQ(ReadFileBytes(dir / "x.pak"), HeaderBytes(0, 16, 0));
}

TEST(PackageBuilder, UnfinishedArchiveKeepsTheEmptyHeaderAndTheData) {
  TempDir dir;
  std::string path = dir / "unfinished.pak";
  RawEntry entry = TextEntry("a", "abc");
  {
    CPackageBuilder builder;
    ASSERT_TRUE(builder.Create(path.c_str()));
    ASSERT_TRUE(Add(builder, entry));
  }
  Bytes expected = HeaderBytes(0, 16, 0);
  PutBytes(expected, entry.stored);
  EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(PackageEditor, OpenOfAMissingPathTriesTwiceReportsAndCreatesNothing) {
  TempDir dir;
  std::string path = dir / "absent.pak";
  OpenAttemptCounter counter;
  DebugOutputCapture capture;
  CPackage package;
  EXPECT_FALSE(package.Open(path.c_str()));
  EXPECT_EQ(counter.Attempts(), 2);
  EXPECT_EQ(capture.Text(), "CPackage::Open Failed!\n");
  EXPECT_EQ(package.fd, platform::kNoFile);
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(package.Close());
}

#ifndef _WIN32
// The debugger output channel on POSIX is standard error, one message a line.
TEST(PackageEditor, OpenFailureMessageGoesToStandardError) {
  TempDir dir;
  ::testing::internal::CaptureStderr();
  CPackage package;
  EXPECT_FALSE(package.Open((dir / "absent.pak").c_str()));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "CPackage::Open Failed!\n");
}
#endif

TEST(PackageEditor, OpenSucceedsOnTheSecondAttempt) {
  TempDir dir;
  std::string path = dir / "a.pak";
  WriteWithBuilder(path, {TextEntry("a", "a")});
  static int calls = 0;
  calls = 0;
  CPackage::openFunction = [](const char* p) {
    return ++calls == 1 ? platform::kNoFile : platform::OpenForEdit(p);
  };
  DebugOutputCapture capture;
  CPackage package;
  bool opened = package.Open(path.c_str());
  CPackage::openFunction = &platform::OpenForEdit;
  EXPECT_TRUE(opened);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(capture.Text(), "");
  EXPECT_TRUE(package.Close());
}

TEST(PackageEditor, OpenRefusesShortAndDamagedArchivesAndLeavesThemAlone) {
  TempDir dir;
  Bytes good = BuildArchive({TextEntry("a.txt", "abc"), TextEntry("b.txt", "defg")});
  uint32_t indexOffset = GetU32(good, 8);
  auto withU32 = [&](size_t at, uint32_t value) {
    Bytes copy = good;
    for (int i = 0; i < 4; ++i) copy[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return copy;
  };
  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases = {
      {"empty file", Bytes()},
      {"one byte", Bytes(1, 100)},
      {"fifteen bytes", Bytes(good.begin(), good.begin() + 15)},
      {"index beyond the end", withU32(8, static_cast<uint32_t>(good.size()) + 1)},
      {"index inside the header", withU32(8, 8)},
      {"more records than the index holds", withU32(4, 3)},
      {"count read as negative", withU32(4, 0x80000000u)},
      {"last record cut short", Bytes(good.begin(), good.end() - 1)},
      {"name running past the end", withU32(indexOffset + 2 + 5 + 16, 0x7fff)},
      {"data block past the data region", withU32(indexOffset + 2 + 5 + 12, 1000)},
      {"data block before the data region", withU32(indexOffset + 2 + 5 + 4, 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir / "damaged.pak";
    WriteFileBytes(path, c.bytes);
    DebugOutputCapture capture;
    CPackage package;
    EXPECT_FALSE(package.Open(path.c_str()));
    EXPECT_EQ(capture.Text(), "CPackage::Open Failed!\n");
    EXPECT_EQ(package.fd, platform::kNoFile);
    EXPECT_TRUE(package.index.empty());
    EXPECT_FALSE(package.Close());
    EXPECT_EQ(ReadFileBytes(path), c.bytes);
  }
  // The intact archive opens, as a control.
  std::string path = dir / "good.pak";
  WriteFileBytes(path, good);
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_EQ(package.index.size(), 2u);
  EXPECT_EQ(package.index[1].name, "b.txt");
  EXPECT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), good);
}

TEST(PackageEditor, EmptyArchiveOpensWithAnEmptyIndexAndClosesUnchanged) {
  TempDir dir;
  std::string path = dir / "empty.pak";
  WriteWithBuilder(path, {});
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  EXPECT_TRUE(package.index.empty());
  EXPECT_EQ(package.header.indexOffset, 16u);
  PackageEntry entry;
  EXPECT_FALSE(package.FirstEntry(entry));
  EXPECT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), HeaderBytes(0, 16, 0));
}

TEST(PackageEditor, WalkReadsEveryRecordOfTheIndex) {
  TempDir dir;
  std::string path = dir / "walk.pak";
  std::vector<RawEntry> entries = ThreeEntries();
  WriteFileBytes(path, BuildArchive(entries));
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  PackageEntry entry;
  ASSERT_TRUE(package.FirstEntry(entry));
  EXPECT_EQ(entry.name, "data\\one.txt");
  EXPECT_EQ(entry.offset, 16u);
  ASSERT_TRUE(package.NextEntry(entry));
  ASSERT_TRUE(package.NextEntry(entry));
  EXPECT_EQ(entry.name, "data\\three.txt");
  EXPECT_EQ(entry.size, 5u);
  EXPECT_FALSE(package.NextEntry(entry));
  EXPECT_EQ(package.nextRecordOffset, static_cast<uint32_t>(ReadFileBytes(path).size()));
  EXPECT_TRUE(package.Close());
}

TEST(PackageEditor, AddingANewNameAppendsDataAndRecord) {
  TempDir dir;
  std::string path = dir / "add.pak";
  std::vector<RawEntry> entries = ThreeEntries();
  WriteFileBytes(path, BuildArchive({entries[0], entries[1]}));
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_TRUE(Add(package, entries[2]));
  ASSERT_TRUE(package.Close());
  EXPECT_EQ(package.fd, platform::kNoFile);
  EXPECT_EQ(ReadFileBytes(path), BuildArchive(entries));
  ExpectMountsAndReadsBack(
      path, {Content("data\\one.txt", "first entry"),
             Content("data\\two.txt", "the second entry, somewhat longer than the first"),
             Content("data\\three.txt", "third")});
}

TEST(PackageEditor, AddingAnExistingNameMovesItsDataToTheEnd) {
  TempDir dir;
  std::string path = dir / "replace.pak";
  std::vector<RawEntry> entries = ThreeEntries();
  Bytes original = BuildArchive(entries);
  WriteFileBytes(path, original);
  RawEntry fresh = TextEntry("data\\two.txt", "replacement");
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_TRUE(Add(package, fresh));
  ASSERT_TRUE(package.Close());

  uint32_t oldIndexOffset = GetU32(original, 8);
  uint32_t freshSize = static_cast<uint32_t>(fresh.stored.size());
  uint32_t one = static_cast<uint32_t>(entries[0].stored.size());
  uint32_t two = static_cast<uint32_t>(entries[1].stored.size());
  Bytes expected = HeaderBytes(3, oldIndexOffset + freshSize, GetU32(original, 12));
  expected.insert(expected.end(), original.begin() + 16, original.begin() + oldIndexOffset);
  PutBytes(expected, fresh.stored);
  PutRecord(expected, "data\\one.txt", 16, entries[0].size, one);
  PutRecord(expected, "data\\two.txt", oldIndexOffset, fresh.size, freshSize);
  PutRecord(expected, "data\\three.txt", 16 + one + two, entries[2].size,
            static_cast<uint32_t>(entries[2].stored.size()));
  EXPECT_EQ(ReadFileBytes(path), expected);
  ExpectMountsAndReadsBack(
      path, {Content("data\\one.txt", "first entry"), Content("data\\two.txt", "replacement"),
             Content("data\\three.txt", "third")});
}

TEST(PackageEditor, DeletingEachEntryGivesTheArchiveOfTheOthers) {
  TempDir dir;
  std::vector<RawEntry> entries = ThreeEntries();
  const char* texts[] = {"first entry", "the second entry, somewhat longer than the first",
                         "third"};
  for (size_t removed = 0; removed < entries.size(); ++removed) {
    SCOPED_TRACE(entries[removed].name);
    std::string path = dir / ("del" + std::to_string(removed) + ".pak");
    WriteWithBuilder(path, entries);
    CPackage package;
    ASSERT_TRUE(package.Open(path.c_str()));
    ASSERT_TRUE(package.DelFile(entries[removed].name.c_str()));
    ASSERT_TRUE(package.Close());

    std::vector<RawEntry> rest;
    std::vector<NamedBytes> contents;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (i == removed) continue;
      rest.push_back(entries[i]);
      contents.push_back(Content(entries[i].name, texts[i]));
    }
    EXPECT_EQ(ReadFileBytes(path), BuildArchive(rest));
    ExpectMountsAndReadsBack(path, contents);
  }
}

TEST(PackageEditor, DeletingTheOnlyEntryLeavesSixteenBytesWithTheOldIndexSize) {
  TempDir dir;
  std::string path = dir / "only.pak";
  WriteWithBuilder(path, {TextEntry("a.txt", "abc")});
  ASSERT_EQ(ReadFileBytes(path).size(), 16u + 11u + 23u);
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_TRUE(package.DelFile("a.txt"));
  EXPECT_EQ(ReadFileBytes(path).size(), 16u);  // cut at once
  ASSERT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), HeaderBytes(0, 16, 23));
  ExpectMountsAndReadsBack(path, {});
}

TEST(PackageEditor, DeletingAMissingNameChangesNothing) {
  TempDir dir;
  std::string path = dir / "missing.pak";
  std::vector<RawEntry> entries = ThreeEntries();
  Bytes original = BuildArchive(entries);
  WriteFileBytes(path, original);
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  EXPECT_TRUE(package.DelFile("data\\ONE.txt"));  // names compare with case
  EXPECT_TRUE(package.DelFile("data"));
  EXPECT_EQ(package.index.size(), 3u);
  EXPECT_EQ(ReadFileBytes(path), original);
  ASSERT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), original);
}

TEST(PackageEditor, DeletingAfterAReAddFollowsTheDataNotTheIndexOrder) {
  TempDir dir;
  std::string path = dir / "order.pak";
  std::vector<RawEntry> entries = ThreeEntries();
  WriteWithBuilder(path, entries);
  RawEntry fresh = TextEntry("data\\one.txt", "the first entry, written again");
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_TRUE(Add(package, fresh));  // one's data now lies behind three's
  ASSERT_TRUE(package.DelFile("data\\two.txt"));
  ASSERT_TRUE(package.Close());

  uint32_t one = static_cast<uint32_t>(entries[0].stored.size());
  uint32_t three = static_cast<uint32_t>(entries[2].stored.size());
  uint32_t freshSize = static_cast<uint32_t>(fresh.stored.size());
  uint32_t indexOffset = 16 + one + three + freshSize;
  Bytes expected = HeaderBytes(2, indexOffset, 2 * 18 + 12 + 14);
  PutBytes(expected, entries[0].stored);  // no longer referenced
  PutBytes(expected, entries[2].stored);
  PutBytes(expected, fresh.stored);
  PutRecord(expected, "data\\one.txt", 16 + one + three, fresh.size, freshSize);
  PutRecord(expected, "data\\three.txt", 16 + one, entries[2].size, three);
  EXPECT_EQ(ReadFileBytes(path), expected);
  ExpectMountsAndReadsBack(path, {Content("data\\one.txt", "the first entry, written again"),
                                  Content("data\\three.txt", "third")});
}

TEST(PackageEditor, DeleteMovesDataLargerThanItsBuffer) {
  TempDir dir;
  std::string path = dir / "large.pak";
  // Incompressible blocks of a few MiB, so the move takes several buffer loads.
  std::vector<RawEntry> entries;
  std::vector<NamedBytes> contents;
  uint32_t state = 12345;
  for (int e = 0; e < 3; ++e) {
    Bytes data(1536 * 1024 + 7 * e);
    for (uint8_t& b : data) {
      state = state * 1103515245u + 12345u;
      b = static_cast<uint8_t>(state >> 24);
    }
    RawEntry entry;
    entry.name = "big" + std::to_string(e);
    entry.stored = Compress(data);
    entry.size = static_cast<uint32_t>(data.size());
    entries.push_back(entry);
    contents.emplace_back(entry.name, data);
  }
  WriteWithBuilder(path, entries);
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_TRUE(package.DelFile("big0"));
  ASSERT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), BuildArchive({entries[1], entries[2]}));
  ExpectMountsAndReadsBack(path, {contents[1], contents[2]});
}

TEST(PackageEditor, LongNamesSurviveARewrite) {
  TempDir dir;
  std::string path = dir / "names.pak";
  std::string name300 = std::string(296, 'p') + ".txt";
  std::string name32767(32767, 'q');
  std::vector<RawEntry> entries = {TextEntry(name300, "three hundred"),
                                   TextEntry(name32767, "longest")};
  WriteFileBytes(path, BuildArchive(entries));
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  ASSERT_EQ(package.index.size(), 2u);
  EXPECT_EQ(package.index[0].name, name300);
  EXPECT_EQ(package.index[1].name, name32767);
  entries.push_back(TextEntry("short", "s"));
  ASSERT_TRUE(Add(package, entries[2]));
  ASSERT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), BuildArchive(entries));
  ExpectMountsAndReadsBack(path, {Content(name300, "three hundred"), Content(name32767, "longest"),
                                  Content("short", "s")});
}

TEST(PackageEditor, AMountedArchiveCannotBeEdited) {
  TempDir dir;
  std::string path = dir / "mounted.pak";
  WriteWithBuilder(path, {TextEntry("a.txt", "abc")});
  Bytes original = ReadFileBytes(path);
  {
    CPackageManager manager(nullptr, 0);
    ASSERT_TRUE(manager.MountPackage(path.c_str()));
    OpenAttemptCounter counter;
    DebugOutputCapture capture;
    CPackage package;
    EXPECT_FALSE(package.Open(path.c_str()));
    EXPECT_EQ(counter.Attempts(), 2);
    EXPECT_EQ(capture.Text(), "CPackage::Open Failed!\n");
  }
  EXPECT_EQ(ReadFileBytes(path), original);
  CPackage package;  // free again once the manager is gone
  ASSERT_TRUE(package.Open(path.c_str()));
  EXPECT_TRUE(package.Close());
}

TEST(PackageEditor, OperationsNeedAnOpenArchive) {
  CPackage package;
  RawEntry entry = TextEntry("a", "a");
  EXPECT_FALSE(Add(package, entry));
  EXPECT_FALSE(package.DelFile("a"));
  EXPECT_FALSE(package.Close());
}

TEST(PackageEditor, ASecondOpenReloadsTheIndexOnce) {
  TempDir dir;
  std::string path = dir / "twice.pak";
  WriteFileBytes(path, BuildArchive(ThreeEntries()));
  CPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  int fd = package.fd;
  ASSERT_TRUE(package.Open(path.c_str()));
  EXPECT_EQ(package.fd, fd);  // the open descriptor is used again
  EXPECT_EQ(package.index.size(), 3u);
  EXPECT_TRUE(package.Close());
  EXPECT_EQ(ReadFileBytes(path), BuildArchive(ThreeEntries()));
}
