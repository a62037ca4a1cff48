// The two streams: the disk-file stream over stdio and the package-entry stream over an
// inflated buffer, and their opposite from-end seek signs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "support/read_path.h"

using namespace korvo;

namespace {

// The observable state of a package-entry stream, printed by field when a comparison fails.
struct MemState {
  uint32_t mode, size, position, capacity;
  bool operator==(const MemState& o) const {
    return mode == o.mode && size == o.size && position == o.position && capacity == o.capacity;
  }
};
std::ostream& operator<<(std::ostream& out, const MemState& s) {
  return out << "{mode " << s.mode << ", size " << s.size << ", position " << s.position
             << ", capacity " << s.capacity << "}";
}
MemState State(const CMemStream& s) {
  return MemState{s.mode, s.size, s.position, s.capacity};
}

// The entry of that name in package.
EntryInfo InfoIn(CMappedPackage& package, const std::string& name) {
  PackageEntry e;
  for (bool more = package.FirstEntry(e); more; more = package.NextEntry(e))
    if (e.name == name) return EntryInfo{&package, e.flags, e.offset, e.size, e.packedSize};
  ADD_FAILURE() << name;
  return EntryInfo{};
}

// A zlib stream of stored blocks only: the data cut at the given lengths, one block each (0
// makes an empty block), the last block marked last unless lastBlock is false.
Bytes StoredZlib(const Bytes& data, const std::vector<uint16_t>& blocks, bool lastBlock = true) {
  Bytes out = {0x78, 0x01};
  size_t at = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    out.push_back(lastBlock && i + 1 == blocks.size() ? 1 : 0);
    PutU16(out, blocks[i]);
    PutU16(out, static_cast<uint16_t>(~blocks[i]));
    out.insert(out.end(), data.begin() + at, data.begin() + at + blocks[i]);
    at += blocks[i];
  }
  const uint32_t check = static_cast<uint32_t>(adler32(1, data.data(), uInt(data.size())));
  for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<uint8_t>(check >> shift));
  return out;
}

// The same stream with the byte at offset changed by flip.
Bytes Flipped(Bytes bytes, size_t offset, uint8_t flip) {
  bytes.at(offset) ^= flip;
  return bytes;
}

// Large enough to be read in place (InPlaceMinimum).
const std::string storedText = Pattern(100000, 77);
const Bytes storedBytes = ToBytes(storedText);
// Blocks of 30000, 0, 45000 and 25000 bytes: the data of each non-empty block begins at these
// stream offsets (after the 2-byte zlib header and a 5-byte header per block).
const std::vector<uint16_t> storedBlocks = {30000, 0, 45000, 25000};
const size_t storedAt[] = {7, 30017, 75022};

// A package whose entries cover the stream cases, mapped for the whole test; its directory
// takes the disk files.
class StreamTest : public ::testing::Test {
 protected:
  StreamTest()
      : pak(BuildArchive({TextEntry("hundred", hundred), TextEntry("fifty", fifty),
                          TextEntry("twenty-five", twentyFive), TextEntry("empty", ""),
                          RawEntry{"ends-early", Compress(ToBytes(Pattern(50, 44))), 60},
                          RawEntry{"has-more", Compress(ToBytes(Pattern(50, 55))), 40},
                          RawEntry{"corrupt", ToBytes(Pattern(30, 66)), 30},
                          RawEntry{"empty-no-block", {}, 0},
                          RawEntry{"stored", StoredZlib(storedBytes, storedBlocks), 100000},
                          // Stored blocks, then an empty block of fixed codes, the last one.
                          RawEntry{"stored-then-coded", StoredCoded(), 100000}})) {}
  static Bytes StoredCoded() {
    Bytes stream = StoredZlib(storedBytes, storedBlocks, false);
    const Bytes coded = {0x03, 0x00};  // last block, fixed codes, end of block at once
    stream.insert(stream.end() - 4, coded.begin(), coded.end());
    return stream;
  }
  EntryInfo Info(const std::string& name) { return InfoIn(pak.package, name); }

  const std::string hundred = Pattern(100, 11), fifty = Pattern(50, 22),
                    twentyFive = Pattern(25, 33);
  ScratchPackage pak;
};

}  // namespace

TEST(DiskStream, ModeWordSelectsTheStdioModeString) {
  const char* expected[8] = {"rb", "rb", "wb", "wb", "rt", "rt", "wt", "wt"};  // by the low 3 bits
  for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 0x8000000Fu}) {
    char out[3];
    CDiskStream::ModeString(mode, out);
    EXPECT_STREQ(out, expected[mode & 7]) << mode;
  }
}

TEST_F(StreamTest, DiskStreamOpensReadsAndWritesThroughStdio) {
  const std::string path = pak.dir / "f.bin";
  WriteFileText(path, twentyFive);
  MakeDirectories(pak.dir / "sub");
  auto stream = std::make_unique<CDiskStream>();
  for (const std::string& bad : {pak.dir / "missing", path, pak.dir / "sub", pak.dir.Path()}) {
    EXPECT_FALSE(stream->Open(bad.c_str(), bad == path ? 0 : ModeRead)) << bad;
    EXPECT_TRUE(stream->IsFree()) << bad;
    EXPECT_EQ(stream->file, nullptr) << bad;
  }
  ASSERT_TRUE(stream->Open(path.c_str(), ModeRead | 8));
  EXPECT_EQ(stream->mode, 9u);  // the whole mode word
  EXPECT_EQ(stream->size, 25u);
  char buffer[40];
  EXPECT_EQ(stream->Read(buffer, 10), 10u);
  EXPECT_FALSE(stream->Eof());
  EXPECT_EQ(stream->Read(buffer + 10, 15), 15u);
  EXPECT_EQ(std::string(buffer, 25), twentyFive);
  EXPECT_FALSE(stream->Write("xyz", 3));  // a read-only open
  EXPECT_EQ(stream->Read(buffer, 1), 0u);
  EXPECT_TRUE(stream->Eof());  // set only by a read past the end, cleared by a seek
  EXPECT_EQ(stream->Seek(0, SeekEnd), 25);
  EXPECT_FALSE(stream->Eof());
  EXPECT_EQ(stream->Seek(-100, SeekBegin), 25);  // before the start: fails, position kept
  EXPECT_EQ(stream->Seek(3, SeekBegin), 3);
  EXPECT_EQ(stream->Read(buffer, 40), 22u);
  EXPECT_TRUE(stream->Eof());
  stream->name = "f";
  for (int i = 0; i < 2; ++i) {  // closing a free stream again is harmless
    stream->Close();
    EXPECT_TRUE(stream->IsFree()) << i;
    EXPECT_EQ(stream->file, nullptr) << i;
    EXPECT_EQ(stream->size, 25u) << i;
    EXPECT_EQ(stream->name, "f") << i;
  }
  ASSERT_TRUE(stream->Open(path.c_str(), ModeRead | ModeWrite));  // truncates
  EXPECT_EQ(stream->size, 0u);
  EXPECT_TRUE(stream->Write("hello", 5));
  EXPECT_EQ(ReadFileBytes(path), ToBytes("hello"));  // flushed: on disk while still open
  EXPECT_FALSE(stream->Write("x", 0));               // no item written
  EXPECT_EQ(stream->Seek(0, SeekCurrent), 5);
  // Destroying an open stream closes its file: only then can it be removed on every platform.
  stream.reset();
  EXPECT_TRUE(platform::RemoveFile(path.c_str()).ok());
}

// The disk stream adds the offset to the size from the end, the entry stream subtracts it;
// every origin other than SeekBegin and SeekCurrent counts from the end.
TEST_F(StreamTest, SeekOriginsAndTheOppositeFromEndSigns) {
  WriteFileText(pak.dir / "f.bin", twentyFive);
  CDiskStream disk;
  ASSERT_TRUE(disk.Open((pak.dir / "f.bin").c_str(), ModeRead));
  CMemStream memory;
  ASSERT_TRUE(memory.OpenEntry(Info("twenty-five"), ModeRead));
  for (CResStream* s : {static_cast<CResStream*>(&disk), static_cast<CResStream*>(&memory)}) {
    const int32_t sign = s == &disk ? 1 : -1;
    EXPECT_EQ(s->Seek(10, SeekBegin), 10);
    EXPECT_EQ(s->Seek(0, SeekCurrent), 10);
    EXPECT_EQ(s->Seek(5, SeekCurrent), 15);
    EXPECT_EQ(s->Seek(-3, SeekCurrent), 12);
    char byte = 0;
    EXPECT_EQ(s->Read(&byte, 1), 1u);
    EXPECT_EQ(byte, twentyFive[12]);
    for (int32_t origin : {SeekEnd, 0, 1, 2, 4, 7, 100, -1}) {
      EXPECT_EQ(s->Seek(-4, origin), 25 - 4 * sign) << origin;
      EXPECT_EQ(s->Seek(0, origin), 25) << origin;
      EXPECT_EQ(s->Seek(10, origin), 25 + 10 * sign) << origin;
    }
    EXPECT_EQ(s->Seek(-4 * sign, SeekEnd), 21);
    EXPECT_EQ(s->Read(&byte, 1), 1u);
    EXPECT_EQ(byte, twentyFive[21]);
  }
  disk.Close();
  for (int32_t offset : {10, 0, -10}) {  // the entry stream is at its end from the size on
    memory.Seek(offset, SeekEnd);
    EXPECT_EQ(memory.Eof(), offset <= 0) << offset;
  }
}

TEST_F(StreamTest, EntryReadsCopyNothingAtOrPastTheEndAndWritesFail) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
  std::string got(10, '\0'), last(10, '#');
  EXPECT_EQ(stream.Read(&got[0], 10) + stream.Read(&got[0], 10), 20u);
  EXPECT_FALSE(stream.Eof());
  EXPECT_EQ(stream.Read(&last[0], 10), 5u);
  EXPECT_TRUE(stream.Eof());  // without a further read
  EXPECT_EQ(got + last, twentyFive.substr(10) + "#####");
  for (int32_t at : {25, 35, 1000000, -1}) {  // -1: position + count passes 32 bits
    stream.Seek(at, SeekBegin);
    EXPECT_EQ(stream.Read(&got[0], 8), 0u) << at;
    EXPECT_EQ(stream.position, static_cast<uint32_t>(at));
  }
  EXPECT_EQ(got, twentyFive.substr(10, 10));
  stream.Seek(20, SeekBegin);
  EXPECT_EQ(stream.Read(&last[0], 0xFFFFFFFFu), 5u);  // a huge count is cut to what is left
  EXPECT_EQ(last, twentyFive.substr(20) + "#####");
  stream.Seek(7, SeekBegin);
  EXPECT_FALSE(stream.Write("abc", 3));
  EXPECT_FALSE(stream.Write("abc", 0));
  EXPECT_EQ(State(stream), (MemState{1, 25, 7, 25}));
}

TEST_F(StreamTest, EntryLendsItsBytesInPlaceAndADiskFileLendsNothing) {
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(Info("twenty-five"), ModeRead));
  const uint8_t* first = stream.Borrow(10);
  EXPECT_EQ(first, stream.buffer);  // in place: no copy
  EXPECT_EQ(stream.position, 10u);
  EXPECT_EQ(stream.Borrow(16), nullptr);  // one more than is left: nothing moves
  EXPECT_EQ(stream.position, 10u);
  EXPECT_EQ(stream.Borrow(15), stream.buffer + 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), 25), twentyFive);
  EXPECT_EQ(stream.position, 25u);
  EXPECT_NE(stream.Borrow(0), nullptr);  // nothing, at the end
  for (int32_t at : {26, -1}) {          // past the end; -1: position + count passes 32 bits
    stream.Seek(at, SeekBegin);
    EXPECT_EQ(stream.Borrow(0), nullptr) << at;
    EXPECT_EQ(stream.Borrow(1), nullptr) << at;
    EXPECT_EQ(stream.position, static_cast<uint32_t>(at));
  }

  const std::string path = pak.dir / "lend.bin";
  WriteFileText(path, twentyFive);
  CDiskStream disk;
  ASSERT_TRUE(disk.Open(path.c_str(), ModeRead));
  EXPECT_EQ(disk.Borrow(5), nullptr);
  char buffer[5];
  EXPECT_EQ(disk.Read(buffer, 5), 5u);  // still at the start
  EXPECT_EQ(std::string(buffer, 5), twentyFive.substr(0, 5));
}

// Stored blocks hold the data as it is: such an entry is checked at open and then read from the
// mapped file without a copy. Its bytes are lent block by block.
TEST_F(StreamTest, EntryOfStoredBlocksIsReadInPlaceFromTheMappedFile) {
  const EntryInfo info = Info("stored");
  const uint8_t* block = pak.package.View() + info.offset;
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(info, ModeRead));
  EXPECT_EQ(stream.capacity, 0u);  // nothing inflated
  EXPECT_EQ(stream.Borrow(30000), block + storedAt[0]);
  EXPECT_EQ(stream.Borrow(10), block + storedAt[1]);  // past the empty block
  EXPECT_EQ(stream.Borrow(44991), nullptr);           // runs into the next block
  EXPECT_EQ(stream.position, 30010u);
  EXPECT_EQ(stream.Borrow(44990), block + storedAt[1] + 10);
  EXPECT_EQ(stream.Borrow(25000), block + storedAt[2]);
  EXPECT_EQ(stream.Borrow(0), block + storedAt[2] + 25000);  // nothing, at the end
  EXPECT_EQ(stream.Borrow(1), nullptr);
  // Reads from every place, across the blocks, in any order.
  for (uint32_t at : {99999u, 0u, 29999u, 30000u, 30001u, 74999u, 75000u, 40u, 100000u}) {
    for (uint32_t count : {1u, 2u, 45001u, 200000u}) {
      std::string got(count, '#');
      stream.Seek(static_cast<int32_t>(at), SeekBegin);
      const uint32_t n = stream.Read(&got[0], count);
      EXPECT_EQ(got.substr(0, n), storedText.substr(at, count)) << at << "+" << count;
      EXPECT_EQ(stream.position, at + n) << at << "+" << count;
    }
  }
  stream.Close();
  // A stream whose blocks are not all stored is inflated as usual.
  ASSERT_TRUE(stream.OpenEntry(Info("stored-then-coded"), ModeRead));
  EXPECT_EQ(stream.capacity, 100000u);
  EXPECT_EQ(stream.Borrow(100000), stream.buffer);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(stream.buffer), 100000), storedText);
  // And a stored entry after it is read in place again.
  ASSERT_TRUE(stream.OpenEntry(info, ModeRead));
  EXPECT_EQ(stream.Borrow(30000), block + storedAt[0]);
}

TEST_F(StreamTest, EntryOpensInflatedAtZeroInABufferThatOnlyGrowsAndOutlivesClose) {
  auto stream = std::make_unique<CMemStream>();
  for (uint32_t n : {100u, 50u, 100u}) ASSERT_TRUE(stream->Reserve(n));
  unsigned char* block = stream->buffer;
  ASSERT_TRUE(stream->OpenEntry(Info("fifty"), ModeRead));  // a smaller entry keeps the block
  EXPECT_EQ(stream->buffer, block);
  stream->Seek(9, SeekBegin);
  stream->Close();  // keeps buffer, content, size and position
  EXPECT_EQ(State(*stream), (MemState{0, 50, 9, 100}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 50), fifty);
  for (const char* name : {"empty", "empty-no-block", "hundred", "empty"}) {
    ASSERT_TRUE(stream->OpenEntry(Info(name), ModeRead | ModeText)) << name;
    EXPECT_EQ(ReadAll(*stream), name[0] == 'h' ? hundred : "");
    EXPECT_TRUE(stream->Eof());
    stream->Close();
  }
  EXPECT_EQ(State(*stream), (MemState{0, 0, 0, 100}));
  ASSERT_TRUE(stream->OpenEntry(Info("hundred"), ModeRead));
  ASSERT_TRUE(stream->Reserve(101));
  EXPECT_EQ(stream->capacity, 101u);
  stream.reset();  // the sanitizer build's leak check sees a kept buffer

  CMemStream growing;  // a larger entry gets a block of its size, all of it in use
  ASSERT_TRUE(growing.OpenEntry(Info("fifty"), ModeRead));
  ASSERT_TRUE(growing.OpenEntry(Info("hundred"), ModeRead));
  EXPECT_EQ(State(growing), (MemState{1, 100, 0, 100}));
  EXPECT_EQ(ReadAll(growing), hundred);
}

TEST_F(StreamTest, EntryThatDoesNotInflateToItsSizeFailsAndLeavesTheStreamFree) {
  EntryInfo outside = Info("fifty"), overlong = outside, orphan = outside, huge = outside;
  outside.offset = pak.package.FileSize() + 100;
  overlong.packedSize = pak.package.FileSize();
  orphan.package = nullptr;
  const Bytes stored = StoredZlib(storedBytes, storedBlocks);
  ScratchPackage broken(
      BuildArchive({RawEntry{"check", Flipped(stored, stored.size() - 1, 1), 100000},
                    RawEntry{"data", Flipped(stored, storedAt[1] + 60, 0x20), 100000},
                    RawEntry{"complement", Flipped(stored, 5, 1), 100000},  // the first block's
                    RawEntry{"type", Flipped(stored, 2, 6), 100000},
                    RawEntry{"no-last", StoredZlib(storedBytes, storedBlocks, false), 100000},
                    RawEntry{"cut", Bytes(stored.begin(), stored.end() - 5), 100000},
                    RawEntry{"larger", stored, 100001}, RawEntry{"smaller", stored, 99999}}));
  ASSERT_TRUE(broken.opened);
  const std::pair<const char*, EntryInfo> cases[] = {
      {"ends early", Info("ends-early")},
      {"has more", Info("has-more")},
      {"corrupt", Info("corrupt")},
      {"outside the file", outside},
      {"runs past the end", overlong},
      {"no package", orphan},
      {"stored, check value wrong", InfoIn(broken.package, "check")},
      {"stored, data changed", InfoIn(broken.package, "data")},
      {"stored, length and complement disagree", InfoIn(broken.package, "complement")},
      {"stored, block type 3", InfoIn(broken.package, "type")},
      {"stored, no last block", InfoIn(broken.package, "no-last")},
      {"stored, cut short", InfoIn(broken.package, "cut")},
      {"stored, recorded larger", InfoIn(broken.package, "larger")},
      {"stored, recorded smaller", InfoIn(broken.package, "smaller")}};
  CMemStream stream;
  for (const auto& [what, info] : cases) {
    ASSERT_TRUE(stream.OpenEntry(Info("hundred"), ModeRead));  // no stale bytes may be lent
    stream.Close();
    EXPECT_FALSE(stream.OpenEntry(info, ModeRead)) << what;
    EXPECT_TRUE(stream.IsFree()) << what;
  }
  EXPECT_FALSE(stream.OpenEntry(Info("fifty"), 0));
  EXPECT_TRUE(stream.IsFree());
  // A size that 50 stored bytes cannot inflate to (over 1032:1) is refused before allocating.
  huge.size = 0xF0000000u;
  CMemStream fresh;
  EXPECT_FALSE(fresh.OpenEntry(huge, ModeRead));
  EXPECT_TRUE(fresh.IsFree());
  EXPECT_EQ(fresh.buffer, nullptr);
}

// Memory follows what an entry really inflates to, not what its record claims.
TEST(EntryMemory, ALyingRecordCostsNoMoreThanItsBlockCanFill) {
  // One record with an empty name: offset 0, size 0xA8000000 (about 2.8 GB), packed size
  // 16 MiB, so the block lies far outside the 34-byte file.
  Bytes file = HeaderBytes(1, 16, 18);
  PutRecord(file, "", 0, 0, 0xA8000000u, 0x01000000u);
  TempDir dir;
  WriteFileBytes(dir / "tiny.pak", file);
  CPackageManager manager((dir / "tiny.pak").c_str(), 0);
  const EntryInfo claim = IndexedAt(manager, "");
  EXPECT_EQ(claim.size, 0xA8000000u);
  EXPECT_EQ(claim.packedSize, 0x01000000u);
  EXPECT_EQ(manager.OpenPackageStream("", ModeRead), nullptr);
  EXPECT_EQ(manager.MemPool()[0]->buffer, nullptr);  // nothing was allocated
  unsigned char* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(manager.ReadResource("", data, size).code(), StatusCode::Corrupt);

  // A real block inside the file whose record claims 1000 times its output.
  const Bytes real = ToBytes(Pattern(3000, 5));
  const Bytes packed = Compress(real);
  const uint32_t claimed = uint32_t(std::min<uint64_t>(MaxInflatedSize(packed.size()), 3000000));
  WriteFileBytes(dir / "liar.pak", BuildArchive({RawEntry{"liar", packed, claimed}}));
  ASSERT_TRUE(manager.MountPackage((dir / "liar.pak").c_str()));
  CMemStream stream;
  EXPECT_FALSE(stream.OpenEntry(IndexedAt(manager, "liar"), ModeRead));
  EXPECT_LE(stream.capacity, std::max<uint32_t>(TrustedInflateSize, 8 * packed.size()));
}

TEST(EntryMemory, AGrownBufferIsKeptUpToTheLimitAndReleasedAboveIt) {
  const Bytes big(KeptBufferLimit + 1, 'z'), small(KeptBufferLimit, 'y');
  ScratchPackage pak(BuildArchive({RawEntry{"big", Compress(big), uint32_t(big.size())},
                                   RawEntry{"small", Compress(small), uint32_t(small.size())}}));
  ASSERT_TRUE(pak.opened);
  std::vector<EntryInfo> infos;
  PackageEntry e;
  for (bool more = pak.package.FirstEntry(e); more; more = pak.package.NextEntry(e))
    infos.push_back(EntryInfo{&pak.package, e.flags, e.offset, e.size, e.packedSize});
  ASSERT_EQ(infos.size(), 2u);
  CMemStream stream;
  ASSERT_TRUE(stream.OpenEntry(infos[0], ModeRead));
  EXPECT_EQ(stream.capacity, KeptBufferLimit + 1);
  stream.Close();
  EXPECT_EQ(stream.buffer, nullptr);
  EXPECT_EQ(stream.capacity, 0u);
  ASSERT_TRUE(stream.OpenEntry(infos[1], ModeRead));
  stream.Close();
  EXPECT_EQ(stream.capacity, KeptBufferLimit);  // kept for the next open
}
