// The package archive format and its mapped reader: the exact bytes of small packages, the
// index walk over damaged files, and extraction of single blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/read_path.h"

using namespace korvo;

using Walk = std::vector<std::string>;

// The empty package is its 16-byte header. One entry "a.txt" holding "abc" makes 50 bytes: the
// header, the 11-byte block at 16 and the 23-byte record at 27.
TEST(ArchiveFormat, EmptyAndOneEntryPackagesAreExactly16And50Bytes) {
  EXPECT_EQ(BuildArchive({}), Bytes({0x64, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0}));
  Bytes stored = Compress(ToBytes("abc")),
        file = {100, 0, 0, 0, 1, 0, 0, 0, 27, 0, 0, 0, 23, 0, 0, 0};
  ASSERT_EQ(stored.size(), 11u);
  PutBytes(file, stored);
  PutBytes(file, {5, 0, 'a', '.', 't', 'x', 't', 0, 0, 0, 0, 16, 0, 0, 0, 3, 0, 0, 0, 11, 0, 0, 0});
  EXPECT_EQ(BuildArchive({TextEntry("a.txt", "abc")}), file);

  ScratchPackage empty(BuildArchive({})), one(file);
  ASSERT_TRUE(empty.opened);
  ASSERT_TRUE(one.opened);
  PackageEntry entry;  // nothing reported, the entry left as it was
  entry.name = "keep";
  EXPECT_FALSE(empty.package.FirstEntry(entry));
  EXPECT_EQ(entry.name, "keep");
  const PackageHeader& h = one.package.Header();
  EXPECT_EQ(std::vector<uint32_t>({h.tag, h.entryCount, h.indexOffset, h.indexSize}),
            std::vector<uint32_t>({100, 1, 27, 23}));
  EXPECT_EQ(WalkIndex(one.package), Walk{"a.txt 0 16 3 11"});
  char out[3];
  ASSERT_TRUE(one.package.Extract(out, 3, 16, 11));
  EXPECT_EQ(std::string(out, 3), "abc");
}

// The walk never reads outside the file: a field that does not fit keeps the value the entry
// held, a negative or overlong name length gives an empty name and leaves the cursor behind the
// length, and the walk ends when a record would begin with fewer than 2 bytes left.
TEST(ArchiveIndexWalk, DamagedAndTruncatedIndexes) {
  Bytes two = HeaderBytes(2, 16, 0);
  PutRecord(two, "first", 11, 22, 33, 44);
  PutRecord(two, "second", 55, 66, 77, 88);
  auto cut = [&](size_t n) { return Bytes(two.begin(), two.end() - n); };
  auto badName = [](uint16_t length) {
    Bytes file = HeaderBytes(2, 16, 0);
    PutRecord(file, "first", 11, 22, 33, 44);
    PutU16(file, length);
    for (uint32_t value : {10u, 20u, 30u, 40u}) PutU32(file, value);
    return file;
  };
  auto oneRecord = [](uint32_t count, uint32_t indexOffset, const std::string& name = "only") {
    Bytes file = HeaderBytes(count, indexOffset, 0, name == "only" ? 100 : 0xDEADBEEF);
    PutRecord(file, name, 1, 2, 3, 4);
    return file;
  };
  Bytes tail = HeaderBytes(1, 16, 0);
  PutU16(tail, 4);
  PutText(tail, "tail");
  Bytes absurd1 = oneRecord(0x7FFFFFFF, 16);
  absurd1.push_back(0x01);
  Bytes absurd2 = absurd1;
  absurd2.push_back(0x00);  // a name length of 1 with nothing behind it
  Bytes zeros = HeaderBytes(0x7FFFFFFF, 16, 0);
  zeros.resize(4096, 0);
  const std::string first = "first 11 22 33 44", only = "only 1 2 3 4";

  const std::string exact = "Data/Sub\\MiXeD \xC4\xE4.BIN";
  std::vector<std::tuple<std::string, Bytes, Walk>> cases = {
      {"names are kept byte for byte, the tag is not checked",
       oneRecord(1, 16, exact),
       {exact + " 1 2 3 4"}},
      {"cut inside the last packedSize", cut(2), {first, "second 55 66 77 44"}},
      {"cut inside size", cut(5), {first, "second 55 66 33 44"}},
      {"name length 0x8000", badName(0x8000), {first, " 10 20 30 40"}},
      {"name length 0xFFFF", badName(0xFFFF), {first, " 10 20 30 40"}},
      {"name running one byte past the end", badName(17), {first, " 10 20 30 40"}},
      {"name ending at the end", tail, {"tail 0 0 0 0"}},
      {"absurd count", oneRecord(0x7FFFFFFF, 16), {only}},
      {"absurd count, one byte left", absurd1, {only}},
      {"absurd count, a cut record begins", absurd2, {only, " 1 2 3 4"}},
      {"absurd count over zeros", zeros, Walk(228, " 0 0 0 0")},
      {"index offset past the end: the cursor stays after the header", oneRecord(1, 5000), {only}},
      {"index offset at the end", HeaderBytes(3, 16, 0), {}},
      {"count 0x80000000", oneRecord(0x80000000u, 16), {}},
      {"count 0xFFFFFFFF", oneRecord(0xFFFFFFFFu, 16), {}},
  };
  for (size_t length = 1; length < 16; ++length) {
    Bytes file = HeaderBytes(5, 0, 0);  // would claim entries were the header read
    file.resize(length);
    cases.emplace_back("file of " + std::to_string(length) + " bytes", file, Walk{});
  }
  for (const auto& [what, file, expected] : cases) {
    SCOPED_TRACE(what);
    ScratchPackage pak(file);
    ASSERT_TRUE(pak.opened);
    EXPECT_EQ(WalkIndex(pak.package), expected);
  }
}

TEST(ArchiveExtract, OnlyAWholeBlockInsideTheFileInflatingToExactlyTheSizeSucceeds) {
  const std::string content = Pattern(300, 3);
  Bytes stored = Compress(ToBytes(content));
  const uint32_t packed = static_cast<uint32_t>(stored.size());
  Bytes file = HeaderBytes(0, 16, 0);
  PutBytes(file, stored);  // the block ends with the file
  ScratchPackage pak(file);
  ASSERT_TRUE(pak.opened);
  const uint32_t end = static_cast<uint32_t>(file.size());
  // Destination size, offset, packedSize, and whether Extract succeeds.
  const std::tuple<uint32_t, uint32_t, uint32_t, bool> cases[] = {
      {300, 16, packed, true},          // the last byte of the block is the file's last
      {299, 16, packed, false},         // the stream has more to give
      {301, 16, packed, false},         // the stream ends early
      {300, 16, packed - 1, false},     // cut short
      {300, 17, packed - 1, false},     // not a zlib stream
      {300, 16, 0, false},              // no block
      {300, end + 1, 10, false},        // begins past the end
      {300, end, 1, false},             // begins at the end
      {300, 16, packed + 1, false},     // runs one byte past the end
      {300, 16, 0xFFFFFFFFu, false},    // offset + packedSize wraps in 32 bits
      {300, 0xFFFFFFF0u, 0x20, false},  // so does this one
      {300, 16, packed, true},          // still usable after all that
  };
  for (const auto& [size, offset, packedSize, ok] : cases) {
    SCOPED_TRACE(std::to_string(size) + " " + std::to_string(offset) + " " +
                 std::to_string(packedSize));
    std::string out(301, '\0');
    EXPECT_EQ(pak.package.Extract(&out[0], size, offset, packedSize), ok);
    EXPECT_EQ(ok ? out.substr(0, 300) : content, content);
  }
}
