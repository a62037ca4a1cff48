// The package archive format and its memory-mapped reader: header and index records byte by
// byte, the index walk over damaged files, and extraction of single entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/mapped_package.h"
#include "support/read_path.h"

namespace {

Bytes Text(const std::string& text) {
  return ToBytes(text);
}

// A data block as it lies in the file, for building archives by hand.
struct Block {
  uint32_t offset;
  Bytes stored;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Format facts

TEST(ArchiveFormat, EmptyPackageIsSixteenBytesAndHasNoEntries) {
  TempDir dir;
  std::string path = WriteArchive(dir / "empty.pak", {});
  Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes, HeaderBytes(0, 16, 0, 100));

  CMappedPackage package;
  ASSERT_TRUE(package.Open(path.c_str()));
  EXPECT_EQ(package.FileSize(), 16u);
  EXPECT_EQ(package.Header().tag, 100u);
  EXPECT_EQ(package.Header().entryCount, 0u);
  EXPECT_EQ(package.Header().indexOffset, 16u);
  EXPECT_EQ(package.Header().indexSize, 0u);

  // FirstEntry reports nothing and leaves the entry as it was.
  PackageEntry entry;
  entry.name = "keep";
  entry.flags = 1;
  entry.offset = 2;
  entry.size = 3;
  entry.packedSize = 4;
  EXPECT_FALSE(package.FirstEntry(entry));
  EXPECT_EQ(entry.name, "keep");
  EXPECT_EQ(entry.flags, 1u);
  EXPECT_EQ(entry.offset, 2u);
  EXPECT_EQ(entry.size, 3u);
  EXPECT_EQ(entry.packedSize, 4u);
  package.Close();
}

TEST(ArchiveFormat, OneEntryPackageIsFiftyBytesWithExactHeaderAndRecord) {
  Bytes stored = Compress(Text("abc"));
  ASSERT_EQ(stored.size(), 11u);

  // Laid out by hand: header, the 11-byte block at 16, the 23-byte index at 27.
  Bytes file = HeaderBytes(1, 27, 23);
  PutBytes(file, stored);
  PutRecord(file, "a.txt", 0, 16, 3, 11);
  ASSERT_EQ(file.size(), 50u);
  const uint8_t expectedHeader[16] = {0x64, 0, 0, 0, 1, 0, 0, 0, 27, 0, 0, 0, 23, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(file.data(), expectedHeader, 16));
  const uint8_t expectedRecord[23] = {5, 0, 'a', '.', 't', 'x', 't', 0,  0, 0, 0, 16,
                                      0, 0, 0,   3,   0,   0,   0,   11, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(file.data() + 27, expectedRecord, 23));

  // The test builder lays out the same bytes.
  EXPECT_EQ(BuildArchive({TextEntry("a.txt", "abc")}), file);

  TempDir dir;
  WriteFileBytes(dir / "one.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "one.pak").c_str()));
  EXPECT_EQ(package.FileSize(), 50u);
  EXPECT_EQ(package.Header().tag, 100u);
  EXPECT_EQ(package.Header().entryCount, 1u);
  EXPECT_EQ(package.Header().indexOffset, 27u);
  EXPECT_EQ(package.Header().indexSize, 23u);

  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 1u);
  EXPECT_EQ(walk[0].name, "a.txt");
  EXPECT_EQ(walk[0].flags, 0u);
  EXPECT_EQ(walk[0].offset, 16u);
  EXPECT_EQ(walk[0].size, 3u);
  EXPECT_EQ(walk[0].packedSize, 11u);

  char out[3] = {};
  EXPECT_TRUE(package.Extract(out, 3, 16, 11));
  EXPECT_EQ(std::string(out, 3), "abc");
  package.Close();
}

TEST(ArchiveFormat, TagIsNotChecked) {
  TempDir dir;
  Bytes file = HeaderBytes(1, 16, 23, /*tag=*/0xDEADBEEF);
  PutRecord(file, "a.txt", 7, 1, 2, 3);
  WriteFileBytes(dir / "tag.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "tag.pak").c_str()));
  EXPECT_EQ(package.Header().tag, 0xDEADBEEFu);
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 1u);
  EXPECT_EQ(walk[0].name, "a.txt");
  EXPECT_EQ(walk[0].flags, 7u);
  package.Close();
}

TEST(ArchiveFormat, EntryCountWithTopBitSetGivesNoEntries) {
  TempDir dir;
  for (uint32_t count : {0x80000000u, 0x80000001u, 0xFFFFFFFFu}) {
    Bytes file = HeaderBytes(count, 16, 23);
    PutRecord(file, "a.txt", 0, 0, 0, 0);
    WriteFileBytes(dir / "top.pak", file);
    CMappedPackage package;
    ASSERT_TRUE(package.Open((dir / "top.pak").c_str())) << count;
    EXPECT_EQ(package.Header().entryCount, count);
    PackageEntry entry;
    EXPECT_FALSE(package.FirstEntry(entry)) << count;
    EXPECT_EQ(entry.name, "") << count;
    package.Close();
  }
}

TEST(ArchiveFormat, RecordsAreReadInIndexOrderWhateverTheBlockOrder) {
  // Blocks in reverse order, with stray bytes that no record points to.
  Bytes first = Compress(Text("first entry"));
  Bytes second = Compress(Text("second"));
  Bytes file = HeaderBytes(2, 0, 0);
  uint32_t secondAt = static_cast<uint32_t>(file.size());
  PutBytes(file, second);
  PutText(file, "junk");
  uint32_t firstAt = static_cast<uint32_t>(file.size());
  PutBytes(file, first);
  uint32_t indexAt = static_cast<uint32_t>(file.size());
  PutRecord(file, "one", 0, firstAt, 11, static_cast<uint32_t>(first.size()));
  PutRecord(file, "two", 0, secondAt, 6, static_cast<uint32_t>(second.size()));
  Bytes header = HeaderBytes(2, indexAt, static_cast<uint32_t>(file.size()) - indexAt);
  std::copy(header.begin(), header.end(), file.begin());

  TempDir dir;
  WriteFileBytes(dir / "order.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "order.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[0].name, "one");
  EXPECT_EQ(walk[1].name, "two");

  // Extractions are random access: the second first, then the first, then the second again.
  char buffer[11];
  ASSERT_TRUE(package.Extract(buffer, 6, walk[1].offset, walk[1].packedSize));
  EXPECT_EQ(std::string(buffer, 6), "second");
  ASSERT_TRUE(package.Extract(buffer, 11, walk[0].offset, walk[0].packedSize));
  EXPECT_EQ(std::string(buffer, 11), "first entry");
  ASSERT_TRUE(package.Extract(buffer, 6, walk[1].offset, walk[1].packedSize));
  EXPECT_EQ(std::string(buffer, 6), "second");
  package.Close();
}

TEST(ArchiveFormat, NamesAreKeptByteForByte) {
  TempDir dir;
  std::string name = "Data/Sub\\MiXeD \xC4\xE4.BIN";
  WriteArchive(dir / "names.pak", {TextEntry(name, "x")});
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "names.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 1u);
  EXPECT_EQ(walk[0].name, name);
  package.Close();
}

// ---------------------------------------------------------------------------------------------
// Damaged and truncated indexes

TEST(ArchiveTruncatedIndex, FileEndingInsideLastPackedSizeKeepsPreviousValue) {
  Bytes file = HeaderBytes(2, 16, 0);
  PutRecord(file, "first", 11, 22, 33, 44);
  PutRecord(file, "second", 55, 66, 77, 88);
  file.resize(file.size() - 2);  // cut inside the last packedSize field

  TempDir dir;
  WriteFileBytes(dir / "cut.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "cut.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[1].name, "second");
  EXPECT_EQ(walk[1].flags, 55u);
  EXPECT_EQ(walk[1].offset, 66u);
  EXPECT_EQ(walk[1].size, 77u);
  EXPECT_EQ(walk[1].packedSize, 44u);  // the first record's value
  package.Close();
}

TEST(ArchiveTruncatedIndex, FileEndingInsideSizeKeepsSizeAndPackedSize) {
  Bytes file = HeaderBytes(2, 16, 0);
  PutRecord(file, "first", 11, 22, 33, 44);
  PutRecord(file, "second", 55, 66, 77, 88);
  file.resize(file.size() - 4 - 1);  // cut inside size; packedSize is missing entirely

  TempDir dir;
  WriteFileBytes(dir / "cut.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "cut.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[1].name, "second");
  EXPECT_EQ(walk[1].flags, 55u);
  EXPECT_EQ(walk[1].offset, 66u);
  EXPECT_EQ(walk[1].size, 33u);
  EXPECT_EQ(walk[1].packedSize, 44u);
  package.Close();
}

TEST(ArchiveTruncatedIndex, NegativeNameLengthGivesEmptyName) {
  for (uint16_t length : {uint16_t{0x8000}, uint16_t{0xFFFF}}) {
    Bytes file = HeaderBytes(2, 16, 0);
    PutRecord(file, "first", 1, 2, 3, 4);
    // The name length field, then 16 bytes that are read as the four fields.
    PutU16(file, length);
    PutU32(file, 10);
    PutU32(file, 20);
    PutU32(file, 30);
    PutU32(file, 40);

    TempDir dir;
    WriteFileBytes(dir / "neg.pak", file);
    CMappedPackage package;
    ASSERT_TRUE(package.Open((dir / "neg.pak").c_str()));
    std::vector<PackageEntry> walk = WalkIndex(package);
    ASSERT_EQ(walk.size(), 2u) << length;
    EXPECT_EQ(walk[0].name, "first");
    EXPECT_EQ(walk[1].name, "") << length;
    EXPECT_EQ(walk[1].flags, 10u);
    EXPECT_EQ(walk[1].offset, 20u);
    EXPECT_EQ(walk[1].size, 30u);
    EXPECT_EQ(walk[1].packedSize, 40u);
    package.Close();
  }
}

TEST(ArchiveTruncatedIndex, NamePastEndOfFileGivesEmptyName) {
  Bytes file = HeaderBytes(2, 16, 0);
  PutRecord(file, "first", 1, 2, 3, 4);
  // A name length of 17 with only 16 bytes left after it: the name would pass the end.
  PutU16(file, 17);
  PutU32(file, 10);
  PutU32(file, 20);
  PutU32(file, 30);
  PutU32(file, 40);

  TempDir dir;
  WriteFileBytes(dir / "long.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "long.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[1].name, "");
  EXPECT_EQ(walk[1].flags, 10u);
  EXPECT_EQ(walk[1].offset, 20u);
  EXPECT_EQ(walk[1].size, 30u);
  EXPECT_EQ(walk[1].packedSize, 40u);
  package.Close();
}

TEST(ArchiveTruncatedIndex, NameEndingExactlyAtEndOfFileIsRead) {
  Bytes file = HeaderBytes(1, 16, 0);
  PutU16(file, 4);
  PutText(file, "tail");
  TempDir dir;
  WriteFileBytes(dir / "tail.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "tail.pak").c_str()));
  PackageEntry entry;
  entry.flags = 9;
  ASSERT_TRUE(package.FirstEntry(entry));
  EXPECT_EQ(entry.name, "tail");
  EXPECT_EQ(entry.flags, 9u);  // no field fits
  PackageEntry again;
  EXPECT_FALSE(package.NextEntry(again));
  package.Close();
}

TEST(ArchiveTruncatedIndex, FilesShorterThanAHeaderOpenWithoutEntries) {
  TempDir dir;
  for (size_t length = 1; length < 16; ++length) {
    // Bytes that would claim entries were the header read.
    Bytes file = HeaderBytes(5, 0, 0);
    file.resize(length);
    WriteFileBytes(dir / "short.pak", file);
    CMappedPackage package;
    ASSERT_TRUE(package.Open((dir / "short.pak").c_str())) << length;
    EXPECT_EQ(package.FileSize(), length);
    EXPECT_EQ(package.Header().entryCount, 0u) << length;
    PackageEntry entry;
    EXPECT_FALSE(package.FirstEntry(entry)) << length;
    package.Close();
  }
}

TEST(ArchiveTruncatedIndex, AbsurdEntryCountEndsAtTheEndOfTheFile) {
  TempDir dir;
  Bytes file = HeaderBytes(0x7FFFFFFF, 16, 0);
  PutRecord(file, "only", 1, 2, 3, 4);
  WriteFileBytes(dir / "absurd.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "absurd.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 1u);
  EXPECT_EQ(walk[0].name, "only");
  package.Close();

  // One byte after the last record is too little to begin another.
  file.push_back(0x01);
  WriteFileBytes(dir / "absurd1.pak", file);
  CMappedPackage plusOne;
  ASSERT_TRUE(plusOne.Open((dir / "absurd1.pak").c_str()));
  EXPECT_EQ(WalkIndex(plusOne).size(), 1u);
  plusOne.Close();

  // Two bytes begin a record that is cut short: it is still returned, and the walk then ends.
  file.push_back(0x00);
  WriteFileBytes(dir / "absurd2.pak", file);
  CMappedPackage plusTwo;
  ASSERT_TRUE(plusTwo.Open((dir / "absurd2.pak").c_str()));
  walk = WalkIndex(plusTwo);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[1].name, "");  // a length of 1 with no byte behind it
  EXPECT_EQ(walk[1].packedSize, 4u);
  plusTwo.Close();
}

TEST(ArchiveTruncatedIndex, AbsurdEntryCountOverGarbageStaysBounded) {
  // A file of zeros with a huge count: every two bytes could begin an empty-named record,
  // but the walk can never yield more records than there are bytes.
  TempDir dir;
  Bytes file = HeaderBytes(0x7FFFFFFF, 16, 0);
  file.resize(4096, 0);
  WriteFileBytes(dir / "zeros.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "zeros.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package, 100000);
  EXPECT_LE(walk.size(), 4096u / 2);
  EXPECT_GE(walk.size(), 1u);
  package.Close();
}

TEST(ArchiveTruncatedIndex, IndexOffsetPastTheEndReadsFromAfterTheHeader) {
  Bytes file = HeaderBytes(1, 5000, 0);
  PutRecord(file, "here", 1, 2, 3, 4);
  TempDir dir;
  WriteFileBytes(dir / "far.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "far.pak").c_str()));
  std::vector<PackageEntry> walk = WalkIndex(package);
  ASSERT_EQ(walk.size(), 1u);
  EXPECT_EQ(walk[0].name, "here");
  EXPECT_EQ(walk[0].packedSize, 4u);
  package.Close();
}

TEST(ArchiveTruncatedIndex, IndexOffsetAtTheEndGivesNoRecord) {
  Bytes file = HeaderBytes(3, 16, 0);
  TempDir dir;
  WriteFileBytes(dir / "end.pak", file);
  CMappedPackage package;
  ASSERT_TRUE(package.Open((dir / "end.pak").c_str()));
  PackageEntry entry;
  EXPECT_FALSE(package.FirstEntry(entry));
  package.Close();
}

// ---------------------------------------------------------------------------------------------
// Opening

TEST(ArchiveOpen, MissingEmptyAndDirectoryPathsDoNotOpen) {
  TempDir dir;
  WriteFileBytes(dir / "zero.pak", {});
  MakeDirectories(dir / "folder.pak");
  for (const std::string& path :
       {dir / "missing.pak", dir / "zero.pak", dir / "folder.pak", dir.Path()}) {
    CMappedPackage package;
    EXPECT_FALSE(package.Open(path.c_str())) << path;
  }
  CMappedPackage package;
  EXPECT_FALSE(package.Open(nullptr));
}

TEST(ArchiveOpen, PackagesWithTheSameFileNameReadTheirOwnFiles) {
  TempDir dir;
  MakeDirectories(dir / "games/data");
  MakeDirectories(dir / "data");
  WriteArchive(dir / "games/data/pak01.pak", {TextEntry("x", "from games")});
  WriteArchive(dir / "data/pak01.pak", {TextEntry("x", "from data!")});
  CMappedPackage first;
  CMappedPackage second;
  ASSERT_TRUE(first.Open((dir / "games/data/pak01.pak").c_str()));
  ASSERT_TRUE(second.Open((dir / "data/pak01.pak").c_str()));
  PackageEntry a = WalkIndex(first).at(0);
  PackageEntry b = WalkIndex(second).at(0);
  char bufferA[10];
  char bufferB[10];
  ASSERT_TRUE(first.Extract(bufferA, 10, a.offset, a.packedSize));
  ASSERT_TRUE(second.Extract(bufferB, 10, b.offset, b.packedSize));
  EXPECT_EQ(std::string(bufferA, 10), "from games");
  EXPECT_EQ(std::string(bufferB, 10), "from data!");
  first.Close();
  second.Close();
}

// ---------------------------------------------------------------------------------------------
// Extraction

class ArchiveExtract : public ::testing::Test {
 protected:
  void SetUp() override {
    content = Pattern(300, 3);
    Bytes stored = Compress(content);
    packed = static_cast<uint32_t>(stored.size());
    Bytes file = HeaderBytes(1, 16 + packed, 0);
    PutBytes(file, stored);
    PutRecord(file, "e", 0, 16, 300, packed);
    fileSize = static_cast<uint32_t>(file.size());
    WriteFileBytes(dir / "x.pak", file);
    ASSERT_TRUE(package.Open((dir / "x.pak").c_str()));
    opened = true;
  }
  void TearDown() override {
    if (opened) package.Close();
  }

  TempDir dir;
  CMappedPackage package;
  bool opened = false;
  Bytes content;
  uint32_t packed = 0;
  uint32_t fileSize = 0;
};

TEST_F(ArchiveExtract, ExactSizeInflates) {
  Bytes out(300);
  ASSERT_TRUE(package.Extract(out.data(), 300, 16, packed));
  EXPECT_EQ(out, content);
}

TEST_F(ArchiveExtract, SmallerDestinationFails) {
  Bytes out(299);
  EXPECT_FALSE(package.Extract(out.data(), 299, 16, packed));
}

TEST_F(ArchiveExtract, LargerDestinationFailsBecauseTheStreamEndsEarly) {
  Bytes out(301);
  EXPECT_FALSE(package.Extract(out.data(), 301, 16, packed));
}

TEST_F(ArchiveExtract, IncompleteOrCorruptBlockFails) {
  Bytes out(300);
  EXPECT_FALSE(package.Extract(out.data(), 300, 16, packed - 1));
  EXPECT_FALSE(package.Extract(out.data(), 300, 17, packed - 1));
  EXPECT_FALSE(package.Extract(out.data(), 300, 16, 0));
}

TEST_F(ArchiveExtract, BlockOutsideTheFileFails) {
  Bytes out(300);
  EXPECT_FALSE(package.Extract(out.data(), 300, fileSize + 1, 10));   // offset past the end
  EXPECT_FALSE(package.Extract(out.data(), 300, fileSize, 1));        // starts at the end
  EXPECT_FALSE(package.Extract(out.data(), 300, 16, fileSize));       // runs past the end
  EXPECT_FALSE(package.Extract(out.data(), 300, 16, 0xFFFFFFFFu));    // wraps in 32 bits
  EXPECT_FALSE(package.Extract(out.data(), 300, 0xFFFFFFF0u, 0x20));  // wraps in 32 bits
  // The package is still usable afterwards.
  ASSERT_TRUE(package.Extract(out.data(), 300, 16, packed));
  EXPECT_EQ(out, content);
}

TEST_F(ArchiveExtract, BlockEndingExactlyAtTheEndOfTheFileIsInside) {
  // A block whose last byte is the file's last byte lies inside the file.
  Bytes stored = Compress(Text("at the end"));
  Bytes file = HeaderBytes(0, 16, 0);
  PutBytes(file, stored);
  WriteFileBytes(dir / "end.pak", file);
  CMappedPackage atEnd;
  ASSERT_TRUE(atEnd.Open((dir / "end.pak").c_str()));
  char out[10];
  EXPECT_TRUE(atEnd.Extract(out, 10, 16, static_cast<uint32_t>(stored.size())));
  EXPECT_EQ(std::string(out, 10), "at the end");
  atEnd.Close();
}
