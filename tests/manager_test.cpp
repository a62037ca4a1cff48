// The resource manager: its lifetime as the process's current manager, its two stream pools
// and the opening of a resource by name from a package entry or a disk file.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "archive/mapped_package.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "support/allocation_faults.h"
#include "support/read_path.h"

using namespace korvo;

namespace {

template <class Pool>
size_t Lent(const Pool& pool) {
  return std::count_if(pool.begin(), pool.end(), [](auto* s) { return s && !s->IsFree(); });
}

// Reads the accessor while the object is still being built.
struct ProbingManager : CPackageManager {
  ProbingManager() : CPackageManager(nullptr, 0), seen(GetPackageManager()) {}
  CPackageManager* seen;
};

// One package mounted in a single-package manager with full pools. Some entry names are also disk
// files; names only in the package are never-created paths of the test's own directory.
class ManagerWithPackageTest : public NoManagerTest {
 protected:
  void SetUp() override {
    NoManagerTest::SetUp();
    WriteFileText(both, "from the disk");
    WriteFileText(diskOnly, "only on disk");
    WriteFileText(badBoth, "disk copy of a broken entry");
    WriteArchive(dir / "pack.pak",
                 {TextEntry(both, "from the package"), TextEntry("Data\\Img\\a.bmp", "bitmap"),
                  TextEntry(pkgOnly, "only in the package"), TextEntry(uncreatable, "indexed"),
                  RawEntry{badBoth, Compress(ToBytes("too short")), 100},
                  RawEntry{brokenOnly, Compress(ToBytes("too short")), 100}});
    manager = std::make_unique<CPackageManager>((dir / "pack.pak").c_str(), 0);
    ASSERT_EQ(manager->EntryCount(), 6u);
  }
  void TearDown() override {
    manager.reset();
    NoManagerTest::TearDown();
  }
  size_t LentCount() const { return Lent(manager->MemPool()) + Lent(manager->DiskPool()); }
  std::string Read(const std::string& name) {
    CResStream* stream = manager->OpenPackageStream(name.c_str(), ModeRead);
    std::string content = stream ? ReadAll(*stream) : "<null>";
    if (stream) stream->Close();
    return content;
  }
  // The directory-node list's sizes and its first node.
  struct DirListState {
    size_t nodes;
    int32_t count, first;
    std::string firstName;
    int32_t firstParent;
    bool operator==(const DirListState& o) const {
      return nodes == o.nodes && count == o.count && first == o.first && firstName == o.firstName &&
             firstParent == o.firstParent;
    }
    friend std::ostream& operator<<(std::ostream& out, const DirListState& d) {
      return out << "{nodes " << d.nodes << ", count " << d.count << ", first " << d.first
                 << ", node 0 \"" << d.firstName << "\" parent " << d.firstParent << "}";
    }
  };
  DirListState DirList() const {
    const DirNodeList& list = manager->DirNodes();
    return DirListState{list.nodes.size(), list.count, list.first, list.nodes[0].name,
                        list.nodes[0].parent};
  }
  void FillDirList() {  // as the authoring operations do
    manager->DirNodes().nodes.assign(3, DirNode{"node", 5});
    manager->DirNodes().count = 3;
    manager->DirNodes().first = 2;
  }

  const std::string both = dir / "both.txt", diskOnly = dir / "disk-only.txt",
                    badBoth = dir / "bad-both.txt", pkgOnly = dir / "pkg-only.txt",
                    brokenOnly = dir / "broken-only", uncreatable = dir / "no-dir/indexed.txt";
  std::unique_ptr<CPackageManager> manager;
};

}  // namespace

using ManagerTest = NoManagerTest;

TEST_F(ManagerTest, AccessorBuildsOneDefaultManagerAndEachNewOneBecomesCurrent) {
  CPackageManager* first = GetPackageManager();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetPackageManager(), first);
  EXPECT_STREQ(first->ListFileName(), "package.cfg");
  EXPECT_EQ(first->DiskPool().size() + first->MemPool().size(), 20u);
  ASSERT_TRUE(first->MountPackage(WriteArchive(dir / "a.pak", {TextEntry("a", "x")}).c_str()));
  std::unique_ptr<CPackageManager> firstOwner(first);
  auto probe = std::make_unique<ProbingManager>();  // current from its construction on
  EXPECT_EQ(probe->seen, probe.get());
  EXPECT_TRUE(probe->DiskPool().empty());  // a null path: no pools
  EXPECT_TRUE(probe->MemPool().empty());
  EXPECT_EQ(GetPackageManager(), probe.get());
  EXPECT_EQ(first->EntryCount(), 1u);  // still alive, no longer current
  probe.reset();
  EXPECT_EQ(g_packageManager, nullptr);
  firstOwner.reset();
  std::unique_ptr<CPackageManager> second(GetPackageManager());  // nothing of the first mount
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->EntryCount() == 0);
}

TEST_F(ManagerWithPackageTest, PreferenceFoldingAndFallback) {
  // Name, mode word, preferPackage, whether the package answers, and the content.
  const std::tuple<std::string, uint32_t, bool, bool, std::string> cases[] = {
      {both, ModeRead, true, true, "from the package"},
      {both, ModeRead | ModeText, false, false, "from the disk"},
      {diskOnly, ModeRead, true, false, "only on disk"},
      {Upper(pkgOnly), ModeRead, false, true, "only in the package"},
      {"Data/Img/A.BMP", ModeRead, true, true, "bitmap"},  // folded on the package side only
      {"DATA\\IMG\\A.BMP", ModeRead, false, true, "bitmap"},
      {badBoth, ModeRead, true, false, "disk copy of a broken entry"},  // inflation failed
      {uncreatable, ModeRead, false, true, "indexed"},
      {both, ModeWrite, true, false, ""},  // a write opens "wb" on disk only and truncates
  };
  for (const auto& [name, mode, preferPackage, fromPackage, content] : cases) {
    SCOPED_TRACE(name + (preferPackage ? " package first" : " disk first"));
    CResStream* stream = manager->OpenStream(name.c_str(), mode, preferPackage);
    ASSERT_NE(stream, nullptr);
    CResStream* first = manager->MemPool()[0];  // the first stream of its pool
    EXPECT_EQ(stream, fromPackage ? first : manager->DiskPool()[0]);
    EXPECT_EQ(stream->name, fromPackage ? Key(name) : name);  // the disk name unchanged
    EXPECT_EQ(stream->mode, mode);
    EXPECT_EQ(stream->size, content.size());
    EXPECT_EQ(stream->Seek(0, SeekCurrent), 0);
    EXPECT_EQ(ReadAll(*stream), content);
    stream->Close();
    EXPECT_EQ(LentCount(), 0u);
  }
  EXPECT_TRUE(ReadFileBytes(both).empty());
}

TEST_F(ManagerWithPackageTest, FailedOpensGiveNullAndUseNoStream) {
  const std::string missing = dir / "missing";
  for (bool preferPackage : {true, false}) {
    // Missing everywhere, broken, or a mode word of 0.
    for (const std::string& name : {missing, brokenOnly, both, pkgOnly, diskOnly}) {
      uint32_t mode = name == missing || name == brokenOnly ? ModeRead : 0;
      EXPECT_EQ(manager->OpenStream(name.c_str(), mode, preferPackage), nullptr) << name;
    }
    // A write opens no package entry, and this file cannot be created.
    EXPECT_EQ(manager->OpenStream(uncreatable.c_str(), ModeWrite | 1, preferPackage), nullptr);
  }
  for (const char* unfolded : {"data\\img\\a.bmp ", "data\\\\img\\a.bmp", "data\\img"})
    EXPECT_EQ(manager->OpenPackageStream(unfolded, ModeRead), nullptr) << unfolded;
  EXPECT_FALSE(FileExists(uncreatable));
  EXPECT_EQ(LentCount(), 0u);
}

TEST_F(ManagerWithPackageTest, ExistsAsksTheSourcesItIsTold) {
  // The answers for where = 0, LookInPackages, LookOnDisk and both; a directory counts.
  const std::pair<std::string, const char*> cases[] = {
      {both, "-+++"}, {Upper(pkgOnly), "-+-+"}, {diskOnly, "--++"}, {dir.Path(), "--++"}};
  for (const auto& c : cases)
    for (uint32_t where = 0; where < 4; ++where)
      EXPECT_EQ(manager->Exists(c.first.c_str(), where), c.second[where] == '+')
          << c.first << where;
  EXPECT_FALSE(manager->Exists(nullptr, 3));
  EXPECT_FALSE(manager->Exists((dir / "missing").c_str(), 3));
}

// A stat copies no text: the package path is the mount's own, the stored name lies in the
// mapped index record, and a disk path is the name asked for.
TEST_F(ManagerWithPackageTest, StatPointsIntoWhatTheMountKeepsAndCopiesNoText) {
  const std::string asked = "DATA/img/A.bmp";
  ResourceStat stat = manager->Stat(asked.c_str());
  ASSERT_TRUE(stat.found);
  ASSERT_TRUE(stat.inPackage);
  const CMappedPackage& package = *manager->PackageAt(0)->package;
  EXPECT_EQ(stat.packagePath, dir / "pack.pak");
  EXPECT_EQ(stat.packagePath.data(), package.Path().data());
  IndexedEntry found;
  ASSERT_TRUE(manager->Lookup(asked.c_str(), found));
  EXPECT_EQ(stat.StoredName(), "Data\\Img\\a.bmp");
  // The record: the name's 16-bit length, then the name.
  EXPECT_EQ(stat.StoredName().data(),
            reinterpret_cast<const char*>(package.View()) + found.recordOffset + 2);
  stat = manager->Stat(diskOnly.c_str());
  ASSERT_TRUE(stat.found);
  EXPECT_FALSE(stat.inPackage);
  EXPECT_EQ(stat.diskPath.data(), diskOnly.c_str());
}

// An enumeration after the first one since a mount allocates nothing, name for name.
TEST_F(ManagerWithPackageTest, EnumerationAllocatesNothingOnceTheNamesAreSorted) {
  WriteArchive(dir / "more.pak", {TextEntry("data/img/b.bmp", "b"), TextEntry("data/c", "c")});
  size_t seen = 0;
  const auto count = [&](std::string_view, const EntryInfo&) { return ++seen > 0; };
  for (int mounts = 0; mounts < 2; ++mounts) {
    manager->EnumerateNames("data/", count);  // sorts the names the last mount added
    seen = 0;
    const size_t before = AllocationsOnThisThread();
    EXPECT_EQ(manager->EnumerateNames("DATA\\", count), size_t(1 + 2 * mounts));
    EXPECT_EQ(AllocationsOnThisThread() - before, 0u) << mounts;
    EXPECT_EQ(seen, size_t(1 + 2 * mounts));
    ASSERT_TRUE(manager->Mount((dir / "more.pak").c_str()).ok());
  }
}

// Ten opens take every stream of a pool in slot order; then that side gives null and touches
// no lent stream, and a name found on the other side falls back to it. A closed stream is
// lent again, the lowest free slot first; an empty slot is passed over.
TEST_F(ManagerWithPackageTest, PoolsLendTenStreamsEachAndReuseTheLowestFreeSlot) {
  for (bool package : {true, false}) {
    SCOPED_TRACE(package ? "package pool" : "disk pool");
    const std::string& name = package ? pkgOnly : diskOnly;
    const std::string content = package ? "only in the package" : "only on disk";
    std::vector<CResStream*> lent, pool(manager->DiskPool().begin(), manager->DiskPool().end());
    if (package) pool.assign(manager->MemPool().begin(), manager->MemPool().end());
    for (size_t i = 0; i < 10; ++i) {
      lent.push_back(manager->OpenStream(name.c_str(), ModeRead, package));
      char head[3];
      ASSERT_EQ(lent[i], pool[i]);
      ASSERT_EQ(lent[i]->Read(head, 3), 3u);
    }
    for (bool preferPackage : {true, false})
      EXPECT_EQ(manager->OpenStream(Upper(name).c_str(), ModeRead, preferPackage), nullptr);
    CResStream* other = manager->OpenStream(both.c_str(), ModeRead, package);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(std::count(pool.begin(), pool.end(), other), 0);
    other->Close();
    for (CResStream* stream : lent) {
      EXPECT_EQ(stream->name, package ? Key(name) : name);
      EXPECT_EQ(ReadAll(*stream), content.substr(3));
    }
    lent[6]->Close();
    lent[1]->Close();
    EXPECT_EQ(manager->OpenStream(name.c_str(), ModeRead, package), lent[1]);
    EXPECT_EQ(manager->OpenStream(name.c_str(), ModeRead, package), lent[6]);
    EXPECT_EQ(ReadAll(*lent[6]), content);
    for (CResStream* stream : lent) stream->Close();
  }
  std::vector<CDiskStream*> disk = manager->DiskPool();
  manager->FillStreamPools();  // a second fill keeps the streams that exist
  EXPECT_EQ(manager->DiskPool(), disk);
  // The first package stream cannot be allocated: its slot stays empty and is passed over.
  CPackageManager holed(nullptr, 0);
  ASSERT_TRUE(holed.MountPackage((dir / "pack.pak").c_str()));
  FailAllocationOfSize(sizeof(CMemStream),
                       sizeof(CDiskStream) == sizeof(CMemStream) ? int(StreamPoolSize) : 0);
  holed.FillStreamPools();
  ASSERT_FALSE(DisarmAllocationFailure());
  ASSERT_EQ(holed.MemPool().size(), StreamPoolSize);
  EXPECT_EQ(holed.MemPool()[0], nullptr);
  CResStream* stream = holed.OpenStream(pkgOnly.c_str(), ModeRead, true);
  EXPECT_EQ(stream, holed.MemPool()[1]);
  EXPECT_EQ(holed.FindFreeStream(true), holed.MemPool()[2]);
  stream->Close();
  // No room for the disk pool's slot table: that pool stays empty, the other one is filled.
  CPackageManager bare(nullptr, 0);
  FailAllocationOfSize(StreamPoolSize * sizeof(CDiskStream*));
  bare.FillStreamPools();
  ASSERT_FALSE(DisarmAllocationFailure());
  EXPECT_TRUE(bare.DiskPool().empty());
  EXPECT_EQ(bare.MemPool().size(), StreamPoolSize);
  EXPECT_EQ(bare.OpenStream(diskOnly.c_str(), ModeRead, false), nullptr);
}

// A failed mount changes nothing. A successful one indexes what the walk yields and resets the
// directory-node list to the root alone: a huge entryCount gives only the records that the
// file holds, and the walk stops at the first record that does not lie whole in the file (a
// negative name length, a record cut short by the end of the file). A file that is no archive
// (shorter than a header, an index offset outside the file, a first record that does not fit)
// is not mounted.
TEST_F(ManagerWithPackageTest, MountsIndexWhatTheWalkYieldsAndFailuresChangeNothing) {
  Bytes file = HeaderBytes(0x7FFFFFFF, 16, 0);
  PutRecord(file, "Maps/One.BIN", 7, 100, 200, 300);
  PutRecord(file, "two", 8, 400, 500, 600);
  PutU16(file, 0x9000);
  for (uint32_t value : {5u, 6u, 7u, 8u}) PutU32(file, value);
  WriteFileBytes(dir / "fields.pak", file);
  Bytes cut = HeaderBytes(2, 16, 0);
  PutRecord(cut, "kept", 1, 2, 3, 4);
  PutRecord(cut, "cut", 5, 6, 7, 8);
  cut.pop_back();  // the last record ends one byte early, inside its packedSize
  WriteFileBytes(dir / "cut.pak", cut);
  WriteFileBytes(dir / "short.pak", {0x64, 0, 0, 0, 9, 0, 0});
  WriteFileBytes(dir / "zero.pak", {});
  Bytes past = HeaderBytes(1, 5000, 0);
  PutRecord(past, "junk", 1, 2, 3, 4);
  WriteFileBytes(dir / "past.pak", past);
  Bytes firstCut = HeaderBytes(1, 16, 0);
  PutRecord(firstCut, "junk", 1, 2, 3, 4);
  firstCut.resize(firstCut.size() - 4);
  WriteFileBytes(dir / "first-cut.pak", firstCut);
  MakeDirectories(dir / "Sub");
  FillDirList();
  for (const std::string& bad : {dir / "missing.pak", dir / "Sub", dir.Path(), dir / "zero.pak",
                                 dir / "short.pak", dir / "past.pak", dir / "first-cut.pak"})
    EXPECT_FALSE(manager->MountPackage(bad.c_str())) << bad;
  EXPECT_FALSE(manager->MountPackage(nullptr));
  EXPECT_EQ(manager->PackageCount(), 1u);
  EXPECT_EQ(manager->EntryCount(), 6u);
  EXPECT_EQ(DirList(), (DirListState{3, 3, 2, "node", 5}));
  for (const std::string& path :
       {dir / "Sub/../fields.pak", dir / "cut.pak", WriteArchive(dir / "empty.pak", {})}) {
    FillDirList();
    ASSERT_TRUE(manager->MountPackage(path.c_str())) << path;
    EXPECT_STREQ(manager->PackageAt(manager->PackageCount() - 1)->path, path.c_str());  // as given
    EXPECT_EQ(DirList(), (DirListState{1, 1, 0, "Root", 0}));
  }
  ASSERT_EQ(manager->PackageCount(), 4u);
  ASSERT_EQ(manager->EntryCount(), 9u);
  const EntryInfo one = IndexedAt(*manager, "maps\\one.bin");
  const EntryInfo two = IndexedAt(*manager, "two");
  const EntryInfo kept = IndexedAt(*manager, "kept");
  EXPECT_EQ(one.package, manager->PackageAt(1)->package);
  // Flags, offset, size and packed size of each record, as the index holds them.
  EXPECT_EQ(std::vector<uint32_t>({one.flags, one.offset, one.size, one.packedSize}),
            std::vector<uint32_t>({7, 100, 200, 300}));
  EXPECT_EQ(std::vector<uint32_t>({two.flags, two.offset, two.size, two.packedSize}),
            std::vector<uint32_t>({8, 400, 500, 600}));
  EXPECT_EQ(std::vector<uint32_t>({kept.flags, kept.offset, kept.size, kept.packedSize}),
            std::vector<uint32_t>({1, 2, 3, 4}));
  EXPECT_FALSE(Indexed(*manager, ""));  // the record with a negative name length
  EXPECT_FALSE(Indexed(*manager, "cut"));

  // What each mount took, and why it stopped or was refused.
  const std::tuple<std::string, bool, uint32_t, uint32_t, std::string> reports[] = {
      {"fields.pak", true, 0x7FFFFFFF, 2,
       "damaged index: record 3 of 2147483647 at offset 67 has a name length of 36864, over the "
       "limit of 32767"},
      {"cut.pak", true, 2, 1,
       "damaged index: record 2 of 2 at offset 38 runs past the end of the file"},
      {"empty.pak", true, 0, 0, ""},
      {"short.pak", false, 0, 0, "not a package archive: 7 bytes, shorter than its 16-byte header"},
      {"past.pak", false, 0, 0,
       "not a package archive or damaged: index offset 5000 lies outside the file (38 bytes)"},
      {"first-cut.pak", false, 0, 0,
       "not a package archive or damaged: index record 1 of 1 at offset 16 runs past the end of "
       "the file"},
  };
  for (const auto& [name, mounted, listed, indexed, cause] : reports) {
    SCOPED_TRACE(name);
    MountReport report;
    Status status = manager->Mount((dir / name).c_str(), &report);
    EXPECT_EQ(status.ok(), mounted);
    EXPECT_EQ(report.listed, listed);
    EXPECT_EQ(report.indexed, indexed);
    EXPECT_EQ(mounted ? report.damage.detail() : status.detail(), cause);
  }
}

// A package that the name index or the package list has no room for is not mounted, and the
// mount changes nothing: not the package list, not a lookup (even of a name the package would
// take over), not the nodes.
TEST_F(ManagerWithPackageTest, AMountTheIndexHasNoRoomForChangesNothing) {
  manager.reset();
  manager = std::make_unique<CPackageManager>((dir / "pack.pak").c_str(), 0, 128 * 1024);
  ASSERT_EQ(manager->EntryCount(), 6u);
  std::vector<RawEntry> many = {TextEntry("DATA/IMG/A.BMP", "taken over")};
  for (int n = 0; n < 2000; ++n) many.push_back(TextEntry("new" + std::to_string(n), "x"));
  const std::string big = WriteArchive(dir / "big.pak", many);
  FillDirList();
  // No room to record one more package: refused, nothing changed, nothing thrown.
  const std::string small = WriteArchive(dir / "small.pak", {TextEntry("s", "S")});
  FailAllocationOfSize(sizeof(PackageRecord) * (manager->PackageCount() + 1));
  const Status unrecorded = manager->Mount(small.c_str());
  ASSERT_FALSE(DisarmAllocationFailure());
  EXPECT_EQ(unrecorded.code(), StatusCode::NoMemory);
  EXPECT_EQ(manager->PackageCount(), 1u);
  EXPECT_EQ(manager->EntryCount(), 6u);
  EXPECT_FALSE(Indexed(*manager, "s"));
  const Status status = manager->Mount(big.c_str());
  EXPECT_EQ(status.code(), StatusCode::TooLarge);
  EXPECT_EQ(status.Message(), big + ": the name index is full");
  EXPECT_EQ(manager->PackageCount(), 1u);
  EXPECT_EQ(manager->EntryCount(), 6u);
  EXPECT_EQ(Read("Data/Img/a.bmp"), "bitmap");
  EXPECT_FALSE(Indexed(*manager, "new0"));
  EXPECT_EQ(DirList(), (DirListState{3, 3, 2, "node", 5}));
  EXPECT_TRUE(manager->MountPackage(small.c_str()));
  EXPECT_EQ(Read("s"), "S");
}

TEST_F(ManagerWithPackageTest, TheLastMountAndTheLastRecordOfAnIndexWinWholeNameForWholeName) {
  const std::string longName = "Long/" + std::string(300, 'n') + "/First.dat";
  WriteArchive(dir / "a.pak", {TextEntry("Data/Hero.img", "hero from A"), TextEntry("a", "A"),
                               TextEntry("\xC4pfel.TXT", "upper"), TextEntry(longName, "long")});
  WriteArchive(dir / "b.pak",
               {TextEntry("\xE4pfel.txt", "lower"), TextEntry("Data/Hero.img", "B")});
  WriteArchive(dir / "dup.pak", {TextEntry("Map/A.bin", "first"), TextEntry("MAP\\a.bin", "2nd")});
  for (const char* name : {"a.pak", "b.pak", "dup.pak", "dup.pak"})
    ASSERT_TRUE(manager->MountPackage((dir / name).c_str()));
  ASSERT_EQ(manager->PackageCount(), 5u);
  EXPECT_EQ(manager->EntryCount(), 6u + 6u);
  EXPECT_EQ(IndexedAt(*manager, "data\\hero.img").package, manager->PackageAt(2)->package);
  EXPECT_EQ(IndexedAt(*manager, "map\\a.bin").package, manager->PackageAt(4)->package);
  EXPECT_EQ(Read("DATA/HERO.IMG"), "B");
  EXPECT_EQ(Read("a"), "A");
  EXPECT_EQ(Read("map/A.BIN"), "2nd");
  EXPECT_EQ(Read("\xC4PFEL.txt"), "upper");  // only ASCII letters fold
  EXPECT_EQ(Read("\xE4PFEL.TXT"), "lower");
  EXPECT_EQ(Read(Upper(longName)), "long");
  EXPECT_EQ(Read(longName.substr(0, 259)), "<null>");
}
