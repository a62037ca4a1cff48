// The stream interface and its two implementations: the disk-file stream over stdio and the
// package-entry stream over an inflated buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "archive/mapped_package.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "support/read_path.h"

namespace {

std::string ModeOf(uint32_t mode) {
  char out[3];
  CDiskStream::ModeString(mode, out);
  return std::string(out);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CDiskStream

TEST(DiskStreamMode, ModeWordSelectsTheStdioModeString) {
  EXPECT_EQ(ModeOf(0), "rb");
  EXPECT_EQ(ModeOf(ModeRead), "rb");
  EXPECT_EQ(ModeOf(ModeWrite), "wb");
  EXPECT_EQ(ModeOf(ModeRead | ModeWrite), "wb");
  EXPECT_EQ(ModeOf(ModeText), "rt");
  EXPECT_EQ(ModeOf(ModeRead | ModeText), "rt");
  EXPECT_EQ(ModeOf(ModeWrite | ModeText), "wt");
  EXPECT_EQ(ModeOf(ModeRead | ModeWrite | ModeText | 8 | 0x80000000u), "wt");
}

TEST(DiskStreamOpen, MissingFileFailsAndStaysFree) {
  TempDir dir;
  CDiskStream stream;
  EXPECT_FALSE(stream.Open((dir / "missing.bin").c_str(), ModeRead));
  EXPECT_EQ(stream.mode, 0u);
  EXPECT_EQ(stream.file, nullptr);
  EXPECT_TRUE(stream.IsFree());
}

TEST(DiskStreamOpen, ZeroModeWordIsRefused) {
  TempDir dir;
  WriteFileText(dir / "a.txt", "abc");
  CDiskStream stream;
  EXPECT_FALSE(stream.Open((dir / "a.txt").c_str(), 0));
  EXPECT_EQ(stream.file, nullptr);
  EXPECT_TRUE(stream.IsFree());
}

TEST(DiskStreamOpen, DirectoryIsRefused) {
  TempDir dir;
  MakeDirectories(dir / "sub");
  CDiskStream stream;
  EXPECT_FALSE(stream.Open((dir / "sub").c_str(), ModeRead));
  EXPECT_FALSE(stream.Open(dir.Path().c_str(), ModeRead));
  EXPECT_TRUE(stream.IsFree());
  EXPECT_EQ(stream.file, nullptr);
}

TEST(DiskStreamOpen, ReadOpenMeasuresSizeAndKeepsTheWholeModeWord) {
  TempDir dir;
  WriteFileBytes(dir / "ten.bin", Pattern(10, 1));
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "ten.bin").c_str(), ModeRead | 8));
  EXPECT_EQ(stream.mode, 9u);
  EXPECT_FALSE(stream.IsFree());
  EXPECT_NE(stream.file, nullptr);
  EXPECT_EQ(stream.size, 10u);
  EXPECT_EQ(stream.Seek(0, SeekCurrent), 0);
  stream.Close();
}

TEST(DiskStreamOpen, WriteModeCreatesOrTruncates) {
  TempDir dir;
  CDiskStream created;
  ASSERT_TRUE(created.Open((dir / "new.bin").c_str(), ModeWrite));
  EXPECT_EQ(created.size, 0u);
  EXPECT_TRUE(FileExists(dir / "new.bin"));
  created.Close();

  WriteFileBytes(dir / "old.bin", Pattern(64, 2));
  CDiskStream truncated;
  ASSERT_TRUE(truncated.Open((dir / "old.bin").c_str(), ModeRead | ModeWrite));
  EXPECT_EQ(truncated.size, 0u);
  truncated.Close();
  EXPECT_TRUE(ReadFileBytes(dir / "old.bin").empty());
}

TEST(DiskStreamOpen, TextModeOpensForReading) {
  TempDir dir;
  WriteFileText(dir / "t.txt", "plain text");
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "t.txt").c_str(), ModeText));
  char buffer[10];
  EXPECT_EQ(stream.Read(buffer, 10), 10u);
  EXPECT_EQ(std::string(buffer, 10), "plain text");
  stream.Close();

  CDiskStream written;
  ASSERT_TRUE(written.Open((dir / "w.txt").c_str(), ModeWrite | ModeText));
  EXPECT_TRUE(written.Write("abc", 3));
  written.Close();
  EXPECT_EQ(ReadFileBytes(dir / "w.txt"), ToBytes("abc"));
}

TEST(DiskStreamRead, ReadsToTheEndThenZeroAndEof) {
  TempDir dir;
  Bytes content = Pattern(25, 4);
  WriteFileBytes(dir / "f.bin", content);
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "f.bin").c_str(), ModeRead));
  uint8_t buffer[25];
  EXPECT_EQ(stream.Read(buffer, 10), 10u);
  EXPECT_FALSE(stream.Eof());
  EXPECT_EQ(stream.Read(buffer + 10, 15), 15u);
  EXPECT_EQ(Bytes(buffer, buffer + 25), content);
  EXPECT_EQ(stream.Read(buffer, 1), 0u);
  EXPECT_TRUE(stream.Eof());
  stream.Close();
}

TEST(DiskStreamRead, ShortReadAtTheEndSetsEof) {
  TempDir dir;
  WriteFileBytes(dir / "f.bin", Pattern(25, 5));
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "f.bin").c_str(), ModeRead));
  uint8_t buffer[40];
  EXPECT_EQ(stream.Read(buffer, 40), 25u);
  EXPECT_TRUE(stream.Eof());
  stream.Close();
}

TEST(DiskStreamEof, PositionAtTheSizeIsNotEofAndSeekClearsIt) {
  TempDir dir;
  WriteFileBytes(dir / "f.bin", Pattern(25, 6));
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "f.bin").c_str(), ModeRead));
  EXPECT_EQ(stream.Seek(0, SeekEnd), 25);
  EXPECT_FALSE(stream.Eof());
  uint8_t byte;
  EXPECT_EQ(stream.Read(&byte, 1), 0u);
  EXPECT_TRUE(stream.Eof());
  EXPECT_EQ(stream.Seek(3, SeekBegin), 3);
  EXPECT_FALSE(stream.Eof());
  stream.Close();
}

TEST(DiskStreamSeek, OriginsAndTheFromEndSign) {
  TempDir dir;
  Bytes content = Pattern(25, 7);
  WriteFileBytes(dir / "f.bin", content);
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "f.bin").c_str(), ModeRead));
  EXPECT_EQ(stream.Seek(10, SeekBegin), 10);
  EXPECT_EQ(stream.Seek(0, SeekCurrent), 10);  // tells without moving
  EXPECT_EQ(stream.Seek(0, SeekCurrent), 10);
  EXPECT_EQ(stream.Seek(5, SeekCurrent), 15);
  EXPECT_EQ(stream.Seek(-3, SeekCurrent), 12);
  uint8_t byte = 0;
  EXPECT_EQ(stream.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, content[12]);
  // Every origin other than 5 and 6 counts from the end, adding the offset to the size.
  for (int32_t origin : {SeekEnd, 0, 1, 2, 4, 7, 100, -1}) {
    EXPECT_EQ(stream.Seek(-4, origin), 21) << origin;
    EXPECT_EQ(stream.Seek(0, origin), 25) << origin;
    EXPECT_EQ(stream.Seek(10, origin), 35) << origin;
  }
  // A seek before the start fails and leaves the position.
  EXPECT_EQ(stream.Seek(7, SeekBegin), 7);
  EXPECT_EQ(stream.Seek(-100, SeekBegin), 7);
  stream.Close();
}

TEST(DiskStreamWrite, WritesOneItemAndFlushes) {
  TempDir dir;
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "out.bin").c_str(), ModeWrite));
  EXPECT_TRUE(stream.Write("hello", 5));
  // Flushed before Write returns: the file already holds the bytes while the stream is open.
  EXPECT_EQ(ReadFileBytes(dir / "out.bin"), ToBytes("hello"));
  EXPECT_TRUE(stream.Write(" world", 6));
  EXPECT_EQ(ReadFileBytes(dir / "out.bin"), ToBytes("hello world"));
  EXPECT_FALSE(stream.Write("x", 0));  // no item written
  EXPECT_EQ(stream.Seek(0, SeekCurrent), 11);
  stream.Close();
  EXPECT_EQ(ReadFileBytes(dir / "out.bin"), ToBytes("hello world"));
}

TEST(DiskStreamWrite, WriteToAReadOnlyOpenFails) {
  TempDir dir;
  WriteFileText(dir / "r.txt", "abc");
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "r.txt").c_str(), ModeRead));
  EXPECT_FALSE(stream.Write("xyz", 3));
  EXPECT_FALSE(stream.IsFree());
  stream.Close();
  EXPECT_EQ(ReadFileBytes(dir / "r.txt"), ToBytes("abc"));
}

TEST(DiskStreamLifetime, CloseFreesAndKeepsNameAndSize) {
  TempDir dir;
  WriteFileBytes(dir / "f.bin", Pattern(12, 8));
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "f.bin").c_str(), ModeRead));
  stream.name = "f.bin";
  stream.Close();
  EXPECT_TRUE(stream.IsFree());
  EXPECT_EQ(stream.file, nullptr);
  EXPECT_EQ(stream.size, 12u);
  EXPECT_EQ(stream.name, "f.bin");
  // Closing a free stream again does nothing harmful.
  stream.Close();
  EXPECT_TRUE(stream.IsFree());
  EXPECT_EQ(stream.file, nullptr);
  // The stream can be opened again.
  ASSERT_TRUE(stream.Open((dir / "f.bin").c_str(), ModeRead));
  EXPECT_EQ(stream.size, 12u);
  stream.Close();
}

TEST(DiskStreamLifetime, DeletingAnOpenStreamClosesItsFile) {
  TempDir dir;
  WriteFileBytes(dir / "f.bin", Pattern(12, 9));
  CResStream* stream = nullptr;
  {
    auto* disk = new CDiskStream();
    ASSERT_TRUE(disk->Open((dir / "f.bin").c_str(), ModeRead));
    stream = disk;
  }
  delete stream;  // through the base class
  // With the file closed it can be removed (on every platform).
  std::error_code error;
  EXPECT_TRUE(std::filesystem::remove(dir / "f.bin", error)) << error.message();
}

// ---------------------------------------------------------------------------------------------
// CMemStream

namespace {

// A package whose entries cover the stream cases, mapped for the whole test.
class MemStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hundred = Pattern(100, 11);
    fifty = Pattern(50, 22);
    twentyFive = Pattern(25, 33);
    RawEntry endsEarly = DataEntry("ends-early", Pattern(50, 44));
    endsEarly.size = 60;
    RawEntry hasMore = DataEntry("has-more", Pattern(50, 55));
    hasMore.size = 40;
    RawEntry corrupt;
    corrupt.name = "corrupt";
    corrupt.stored = Pattern(30, 66);
    corrupt.size = 30;
    RawEntry emptyButBroken;
    emptyButBroken.name = "empty-no-block";
    emptyButBroken.size = 0;
    std::string path = WriteArchive(
        dir / "streams.pak", {DataEntry("hundred", hundred), DataEntry("fifty", fifty),
                              DataEntry("twenty-five", twentyFive), DataEntry("empty", Bytes()),
                              endsEarly, hasMore, corrupt, emptyButBroken});
    ASSERT_TRUE(package.Open(path.c_str()));
    opened = true;
    PackageEntry entry;
    ASSERT_TRUE(package.FirstEntry(entry));
    do {
      infos[entry.name] =
          EntryInfo{&package, entry.flags, entry.offset, entry.size, entry.packedSize};
    } while (package.NextEntry(entry));
    ASSERT_EQ(infos.size(), 8u);
  }
  void TearDown() override {
    if (opened) package.Close();
  }

  const EntryInfo& Info(const std::string& name) { return infos.at(name); }

  TempDir dir;
  CMappedPackage package;
  bool opened = false;
  std::map<std::string, EntryInfo> infos;
  Bytes hundred, fifty, twentyFive;
};

}  // namespace

TEST_F(MemStreamTest, FreshStreamHasNoBuffer) {
  CMemStream stream;
  EXPECT_TRUE(stream.IsFree());
  EXPECT_EQ(stream.buffer, nullptr);
  EXPECT_EQ(stream.capacity, 0u);
  EXPECT_EQ(stream.name, "");
}

TEST_F(MemStreamTest, OpenEntryInflatesAtPositionZero) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("hundred"), ModeRead));
  EXPECT_EQ(stream.mode, ModeRead);
  EXPECT_EQ(stream.size, 100u);
  EXPECT_EQ(stream.position, 0u);
  EXPECT_EQ(stream.capacity, 100u);
  EXPECT_EQ(ReadAll(stream), hundred);
  stream.Close();
}

TEST_F(MemStreamTest, OpenEntryKeepsTheWholeModeWord) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("fifty"), ModeRead | ModeText));
  EXPECT_EQ(stream.mode, ModeRead | ModeText);
  EXPECT_EQ(ReadAll(stream), fifty);
  stream.Close();
}

TEST_F(MemStreamTest, ThreeReadsOfTenOnTwentyFiveBytes) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
  uint8_t buffer[25];
  EXPECT_EQ(stream.Read(buffer, 10), 10u);
  EXPECT_FALSE(stream.Eof());
  EXPECT_EQ(stream.Read(buffer + 10, 10), 10u);
  EXPECT_FALSE(stream.Eof());
  uint8_t last[10];
  std::memset(last, 0xEE, sizeof(last));
  EXPECT_EQ(stream.Read(last, 10), 5u);
  std::memcpy(buffer + 20, last, 5);
  EXPECT_EQ(last[5], 0xEE);   // nothing copied past the data
  EXPECT_TRUE(stream.Eof());  // without a further read
  EXPECT_EQ(Bytes(buffer, buffer + 25), twentyFive);
  EXPECT_EQ(stream.Read(last, 10), 0u);
  EXPECT_EQ(stream.position, 25u);
  stream.Close();
}

TEST_F(MemStreamTest, SeekOriginsAndTheFromEndSign) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
  EXPECT_EQ(stream.Seek(10, SeekBegin), 10);
  EXPECT_EQ(stream.Seek(5, SeekCurrent), 15);
  EXPECT_EQ(stream.Seek(-3, SeekCurrent), 12);
  uint8_t byte = 0;
  EXPECT_EQ(stream.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, twentyFive[12]);
  EXPECT_EQ(stream.Seek(0, SeekBegin), 0);
  EXPECT_FALSE(stream.Eof());
  // Every origin other than 5 and 6 counts from the end, subtracting the offset from the size.
  for (int32_t origin : {SeekEnd, 0, 1, 2, 4, 7, 100, -1}) {
    EXPECT_EQ(stream.Seek(10, origin), 15) << origin;
    EXPECT_FALSE(stream.Eof());
    EXPECT_EQ(stream.Seek(0, origin), 25) << origin;
    EXPECT_TRUE(stream.Eof());
    EXPECT_EQ(stream.Seek(-10, origin), 35) << origin;
    EXPECT_TRUE(stream.Eof());
  }
  stream.Close();
}

TEST_F(MemStreamTest, ReadAtOrPastTheEndCopiesNothing) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
  uint8_t buffer[8];
  std::memset(buffer, 0xAB, sizeof(buffer));
  EXPECT_EQ(stream.Seek(-10, SeekEnd), 35);
  EXPECT_EQ(stream.Read(buffer, 8), 0u);
  EXPECT_EQ(stream.position, 35u);
  EXPECT_EQ(stream.Seek(25, SeekBegin), 25);
  EXPECT_EQ(stream.Read(buffer, 8), 0u);
  EXPECT_EQ(stream.Seek(1000000, SeekBegin), 1000000);
  EXPECT_EQ(stream.Read(buffer, 8), 0u);
  // A position whose sum with the count passes the 32-bit range.
  stream.Seek(-1, SeekBegin);
  EXPECT_EQ(stream.position, 0xFFFFFFFFu);
  EXPECT_EQ(stream.Read(buffer, 8), 0u);
  EXPECT_EQ(stream.Seek(20, SeekBegin), 20);
  EXPECT_EQ(stream.Read(buffer, 0xFFFFFFFFu), 5u);  // a huge count is cut to what is left
  for (int i = 5; i < 8; ++i) EXPECT_EQ(buffer[i], 0xAB);
  stream.Close();
}

TEST_F(MemStreamTest, WriteAlwaysFailsAndChangesNothing) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
  stream.Seek(7, SeekBegin);
  Bytes before(stream.buffer, stream.buffer + stream.size);
  EXPECT_FALSE(stream.Write("abc", 3));
  EXPECT_FALSE(stream.Write("abc", 0));
  EXPECT_EQ(stream.position, 7u);
  EXPECT_EQ(stream.size, 25u);
  EXPECT_EQ(stream.mode, ModeRead);
  EXPECT_EQ(Bytes(stream.buffer, stream.buffer + stream.size), before);
  stream.Close();
}

TEST_F(MemStreamTest, EmptyEntryOpensAsAnEmptyStream) {
  for (const char* name : {"empty", "empty-no-block"}) {
    CMemStream stream;
    ASSERT_TRUE(stream.OpenEntry(Info(name), ModeRead)) << name;
    EXPECT_EQ(stream.size, 0u);
    EXPECT_TRUE(stream.Eof()) << name;
    uint8_t byte = 0x5A;
    EXPECT_EQ(stream.Read(&byte, 1), 0u);
    EXPECT_EQ(byte, 0x5A);
    stream.Close();
  }
  // Also in a stream that held a larger entry before.
  CMemStream reused;
  ASSERT_TRUE(reused.OpenEntry(Info("fifty"), ModeRead));
  reused.Close();
  ASSERT_TRUE(reused.OpenEntry(Info("empty"), ModeRead));
  EXPECT_EQ(reused.size, 0u);
  EXPECT_EQ(reused.position, 0u);
  EXPECT_TRUE(reused.Eof());
  uint8_t byte = 0;
  EXPECT_EQ(reused.Read(&byte, 1), 0u);
  EXPECT_EQ(reused.capacity, 50u);
  reused.Close();
}

TEST_F(MemStreamTest, ReserveGrowsOnlyForALargerRequest) {
  CMemStream stream;
  ASSERT_TRUE(stream.Reserve(100));
  EXPECT_NE(stream.buffer, nullptr);
  EXPECT_EQ(stream.capacity, 100u);
  unsigned char* block = stream.buffer;
  ASSERT_TRUE(stream.Reserve(50));
  EXPECT_EQ(stream.buffer, block);
  EXPECT_EQ(stream.capacity, 100u);
  ASSERT_TRUE(stream.Reserve(100));
  EXPECT_EQ(stream.buffer, block);
  EXPECT_EQ(stream.capacity, 100u);
  ASSERT_TRUE(stream.Reserve(101));
  EXPECT_NE(stream.buffer, nullptr);
  EXPECT_EQ(stream.capacity, 101u);
}

TEST_F(MemStreamTest, HundredThenFiftyKeepsTheHundredByteBlock) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("hundred"), ModeRead));
  unsigned char* block = stream.buffer;
  stream.Close();
  ASSERT_TRUE(stream.OpenEntry(Info("fifty"), ModeRead));
  EXPECT_EQ(stream.buffer, block);
  EXPECT_EQ(stream.capacity, 100u);
  EXPECT_EQ(stream.size, 50u);
  EXPECT_EQ(ReadAll(stream), fifty);
  stream.Close();
}

TEST_F(MemStreamTest, FiftyThenHundredAllocatesAHundredByteBlock) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("fifty"), ModeRead));
  EXPECT_EQ(stream.capacity, 50u);
  stream.Close();
  ASSERT_TRUE(stream.OpenEntry(Info("hundred"), ModeRead));
  EXPECT_EQ(stream.capacity, 100u);
  EXPECT_EQ(stream.size, 100u);
  EXPECT_EQ(ReadAll(stream), hundred);  // the whole new block is usable
  stream.Close();
}

TEST_F(MemStreamTest, CloseKeepsTheBufferAndItsContent) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("fifty"), ModeRead));
  stream.Seek(9, SeekBegin);
  stream.Close();
  EXPECT_TRUE(stream.IsFree());
  ASSERT_NE(stream.buffer, nullptr);
  EXPECT_EQ(stream.capacity, 50u);
  EXPECT_EQ(stream.size, 50u);
  EXPECT_EQ(stream.position, 9u);
  EXPECT_EQ(Bytes(stream.buffer, stream.buffer + 50), fifty);
  // Reopening starts at 0 again.
  ASSERT_TRUE(stream.OpenEntry(Info("fifty"), ModeRead));
  EXPECT_EQ(stream.position, 0u);
  stream.Close();
}

TEST_F(MemStreamTest, EntryThatDoesNotInflateToItsSizeFailsAndStaysFree) {
  for (const char* name : {"ends-early", "has-more", "corrupt"}) {
    CMemStream stream;
    // The stream held another entry before: nothing of it may be handed out again.
    ASSERT_TRUE(stream.OpenEntry(Info("hundred"), ModeRead));
    stream.Close();
    EXPECT_FALSE(stream.OpenEntry(Info(name), ModeRead)) << name;
    EXPECT_TRUE(stream.IsFree()) << name;
    EXPECT_EQ(stream.mode, 0u);
    // The stream is still usable for a good entry.
    ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
    EXPECT_EQ(ReadAll(stream), twentyFive);
    stream.Close();
  }
}

TEST_F(MemStreamTest, EntryOutsideTheFileFails) {
  EntryInfo outside = Info("fifty");
  outside.offset = package.FileSize() + 100;
  CMemStream stream;
  EXPECT_FALSE(stream.OpenEntry(outside, ModeRead));
  EXPECT_TRUE(stream.IsFree());
  EntryInfo overlong = Info("fifty");
  overlong.packedSize = package.FileSize();
  EXPECT_FALSE(stream.OpenEntry(overlong, ModeRead));
  EXPECT_TRUE(stream.IsFree());
}

TEST_F(MemStreamTest, RecordedSizeBeyondWhatTheBlockCanInflateToIsRefusedUnallocated) {
  // 50 stored bytes cannot inflate to more than 1032 times as much: a damaged record claiming
  // gigabytes fails before any buffer is reserved.
  EntryInfo huge = Info("fifty");
  huge.size = 0xF0000000u;
  CMemStream stream;
  EXPECT_FALSE(stream.OpenEntry(huge, ModeRead));
  EXPECT_TRUE(stream.IsFree());
  EXPECT_EQ(stream.buffer, nullptr);
  EXPECT_EQ(stream.capacity, 0u);
}

TEST_F(MemStreamTest, ZeroModeWordOrNoPackageFails) {
  CMemStream stream;
  EXPECT_FALSE(stream.OpenEntry(Info("fifty"), 0));
  EXPECT_TRUE(stream.IsFree());
  EntryInfo orphan = Info("fifty");
  orphan.package = nullptr;
  EXPECT_FALSE(stream.OpenEntry(orphan, ModeRead));
  EXPECT_TRUE(stream.IsFree());
}

TEST_F(MemStreamTest, DeletingThroughTheBaseReleasesTheBuffer) {
  CResStream* stream = nullptr;
  {
    auto* memory = new CMemStream();
    ASSERT_TRUE(memory->OpenEntry(Info("hundred"), ModeRead));
    memory->Close();
    stream = memory;
  }
  delete stream;  // the leak checker of the sanitizer build sees a kept buffer
}

// The same seek on the two kinds of stream reaches different positions.
TEST_F(MemStreamTest, FromEndSignIsOppositeOnTheTwoStreams) {
  WriteFileBytes(dir / "twenty-five.bin", twentyFive);
  CDiskStream disk;
  ASSERT_TRUE(disk.Open((dir / "twenty-five.bin").c_str(), ModeRead));
  CMemStream memory;
  ASSERT_TRUE(memory.OpenEntry(Info("twenty-five"), ModeRead));
  ASSERT_EQ(disk.size, memory.size);
  EXPECT_EQ(disk.Seek(4, SeekEnd), 29);
  EXPECT_EQ(memory.Seek(4, SeekEnd), 21);
  EXPECT_EQ(disk.Seek(-4, SeekEnd), 21);
  EXPECT_EQ(memory.Seek(-4, SeekEnd), 29);
  uint8_t a = 0;
  uint8_t b = 0;
  EXPECT_EQ(disk.Read(&a, 1), 1u);
  EXPECT_EQ(memory.Seek(4, SeekEnd), 21);
  EXPECT_EQ(memory.Read(&b, 1), 1u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, twentyFive[21]);
  disk.Close();
  memory.Close();
}
