// The peer benchmark's archive writers: exact bytes of a one-entry package and zip, the zip64
// end records from 65535 entries on, reading a package index back, and staged files.
#include "archive_writers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "corpus.h"

namespace korvo::peer {
namespace {

namespace fs = std::filesystem;

class WritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvo-peer-writers-" + std::to_string(std::random_device()()));
    fs::create_directories(dir_);
    ASSERT_TRUE(PackBlob(reinterpret_cast<const uint8_t*>("abc"), 3, abc_));
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(dir_, error);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  static std::vector<uint8_t> Bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(path, bytes));
    return bytes;
  }
  static uint32_t U16(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | uint32_t{bytes[at + 1]} << 8;
  }
  static uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
    return U16(bytes, at) | U16(bytes, at + 2) << 16;
  }
  static uint64_t U64(const std::vector<uint8_t>& bytes, size_t at) {
    return U32(bytes, at) | uint64_t{U32(bytes, at + 4)} << 32;
  }

  fs::path dir_;
  PackedBlob abc_;  // "abc" through compress2: 78 9c 4b 4c 4a 06 00 02 4d 01 27
};

TEST_F(WritersTest, BlobIsTheZlibStreamWithSizeAndCrc) {
  const std::vector<uint8_t> expected = {0x78, 0x9c, 0x4b, 0x4c, 0x4a, 0x06,
                                         0x00, 0x02, 0x4d, 0x01, 0x27};
  EXPECT_EQ(abc_.zlib, expected);
  EXPECT_EQ(abc_.size, 3u);
  EXPECT_EQ(abc_.crc, 0x352441c2u);
}

TEST_F(WritersTest, PackageWithOneEntryHasTheFormatBytes) {
  PackageWriter writer;
  uint32_t offset = 0;
  ASSERT_TRUE(writer.Create(Path("one.pak")));
  ASSERT_TRUE(writer.Add("a.txt", abc_, &offset));
  ASSERT_TRUE(writer.Finish());
  std::vector<uint8_t> expected = {100, 0, 0, 0, 1, 0, 0, 0, 27, 0, 0, 0, 23, 0, 0, 0};
  expected.insert(expected.end(), abc_.zlib.begin(), abc_.zlib.end());
  const std::vector<uint8_t> index = {5, 0, 'a', '.', 't', 'x', 't', 0,  0, 0, 0, 16,
                                      0, 0, 0,   3,   0,   0,   0,   11, 0, 0, 0};
  expected.insert(expected.end(), index.begin(), index.end());
  EXPECT_EQ(offset, 16u);
  EXPECT_EQ(Bytes(Path("one.pak")), expected);
}

TEST_F(WritersTest, ZipWithOneEntryHasLocalHeaderCentralRecordAndEnd) {
  ZipWriter writer;
  ASSERT_TRUE(writer.Create(Path("one.zip")));
  ASSERT_TRUE(writer.Add("a.txt", abc_));
  ASSERT_TRUE(writer.Finish());
  std::vector<uint8_t> zip = Bytes(Path("one.zip"));
  // 30 + 5 local, 5 deflate bytes, 46 + 5 central, 22 end.
  ASSERT_EQ(zip.size(), 113u);
  struct Field {
    size_t at;
    int width;
    uint32_t value;
  };
  const Field fields[] = {
      {0, 4, 0x04034b50},  {4, 2, 20},          {6, 2, 0},           {8, 2, 8},   {10, 2, 0},
      {12, 2, 0x21},       {14, 4, 0x352441c2}, {18, 4, 5},          {22, 4, 3},  {26, 2, 5},
      {28, 2, 0},          {40, 4, 0x02014b50}, {44, 2, 20},         {46, 2, 20}, {50, 2, 8},
      {56, 4, 0x352441c2}, {60, 4, 5},          {64, 4, 3},          {68, 2, 5},  {70, 2, 0},
      {72, 2, 0},          {82, 4, 0},          {91, 4, 0x06054b50}, {99, 2, 1},  {101, 2, 1},
      {103, 4, 51},        {107, 4, 40},        {111, 2, 0},
  };
  for (const Field& field : fields) {
    uint32_t value = field.width == 2 ? U16(zip, field.at) : U32(zip, field.at);
    EXPECT_EQ(value, field.value) << "field at " << field.at;
  }
  EXPECT_EQ(std::string(zip.begin() + 30, zip.begin() + 35), "a.txt");
  EXPECT_EQ(std::vector<uint8_t>(zip.begin() + 35, zip.begin() + 40),
            std::vector<uint8_t>(abc_.zlib.begin() + 2, abc_.zlib.end() - 4));
  EXPECT_EQ(std::string(zip.begin() + 86, zip.begin() + 91), "a.txt");
}

// The end of a zip of count entries named by number.
std::vector<uint8_t> ZipOfCount(const std::string& path, uint32_t count, const PackedBlob& blob) {
  ZipWriter writer;
  EXPECT_TRUE(writer.Create(path));
  for (uint32_t i = 0; i < count; ++i) EXPECT_TRUE(writer.Add(std::to_string(i), blob));
  EXPECT_TRUE(writer.Finish());
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(path, bytes));
  return bytes;
}

TEST_F(WritersTest, ZipEndRecordsSwitchToZip64At65535Entries) {
  std::vector<uint8_t> classic = ZipOfCount(Path("classic.zip"), 65534, abc_);
  ASSERT_GT(classic.size(), 100u);
  size_t end = classic.size() - 22;
  EXPECT_EQ(U32(classic, end), 0x06054b50u);
  EXPECT_EQ(U16(classic, end + 10), 65534u);
  EXPECT_NE(U32(classic, end - 20), 0x07064b50u);

  std::vector<uint8_t> wide = ZipOfCount(Path("wide.zip"), 65535, abc_);
  ASSERT_GT(wide.size(), 100u);
  end = wide.size() - 22;
  size_t locator = end - 20;
  size_t record = locator - 56;
  EXPECT_EQ(U32(wide, end), 0x06054b50u);
  EXPECT_EQ(U16(wide, end + 8), 0xffffu);
  EXPECT_EQ(U16(wide, end + 10), 0xffffu);
  ASSERT_EQ(U32(wide, locator), 0x07064b50u);
  EXPECT_EQ(U64(wide, locator + 8), record);
  EXPECT_EQ(U32(wide, locator + 16), 1u);
  ASSERT_EQ(U32(wide, record), 0x06064b50u);
  EXPECT_EQ(U64(wide, record + 4), 44u);
  EXPECT_EQ(U64(wide, record + 24), 65535u);
  EXPECT_EQ(U64(wide, record + 32), 65535u);
  uint64_t centralSize = U64(wide, record + 40);
  uint64_t centralOffset = U64(wide, record + 48);
  ASSERT_EQ(centralOffset + centralSize, record);
  EXPECT_EQ(U32(wide, centralOffset), 0x02014b50u);
}

TEST_F(WritersTest, PackageIndexReadsBackAndRefusesATruncatedIndex) {
  PackageWriter writer;
  ASSERT_TRUE(writer.Create(Path("two.pak")));
  ASSERT_TRUE(writer.Add("a.txt", abc_));
  ASSERT_TRUE(writer.Add("dir/b.bin", abc_));
  ASSERT_TRUE(writer.Finish());
  std::vector<EntryRef> entries;
  ASSERT_TRUE(ReadPackageIndex(Path("two.pak"), entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, "dir/b.bin");
  EXPECT_EQ(entries[1].offset, 27u);
  EXPECT_EQ(entries[1].size, 3u);
  EXPECT_EQ(entries[1].packedSize, 11u);

  fs::resize_file(Path("two.pak"), fs::file_size(Path("two.pak")) - 1);
  EXPECT_FALSE(ReadPackageIndex(Path("two.pak"), entries));
}

TEST_F(WritersTest, StagedFileAppearsOnlyOnCommit) {
  {
    StagedFile abandoned;
    ASSERT_TRUE(abandoned.Create(Path("abandoned")));
    ASSERT_TRUE(abandoned.Write("x", 1));
  }
  // Nothing is left, not even the file written beside the name.
  EXPECT_TRUE(fs::is_empty(dir_));

  StagedFile kept;
  ASSERT_TRUE(kept.Create(Path("kept")));
  ASSERT_TRUE(kept.Write("xyz", 3));
  ASSERT_TRUE(kept.WriteAt(0, "a", 1));
  EXPECT_FALSE(fs::exists(Path("kept")));
  ASSERT_TRUE(kept.Commit());
  EXPECT_EQ(Bytes(Path("kept")), (std::vector<uint8_t>{'a', 'y', 'z'}));
  // The file it was written to is gone: the final name is all there is.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace korvo::peer
