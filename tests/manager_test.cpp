// The resource manager: its lifetime as the process's current manager, its two stream pools
// and the opening of a resource by name from a package entry or a disk file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "manager/mounting.h"
#include "manager/package_manager.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "support/read_path.h"

namespace {

// Every test starts and ends with no current manager.
class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(g_packageManager, nullptr); }
  void TearDown() override { EXPECT_EQ(g_packageManager, nullptr); }
};

bool AllFree(const CPackageManager& manager) {
  for (CDiskStream* stream : manager.diskPool)
    if (stream != nullptr && !stream->IsFree()) return false;
  for (CMemStream* stream : manager.memPool)
    if (stream != nullptr && !stream->IsFree()) return false;
  return true;
}

size_t FreeCount(const std::vector<CMemStream*>& pool) {
  size_t n = 0;
  for (CMemStream* stream : pool) n += stream != nullptr && stream->IsFree() ? 1 : 0;
  return n;
}

size_t FreeCount(const std::vector<CDiskStream*>& pool) {
  size_t n = 0;
  for (CDiskStream* stream : pool) n += stream != nullptr && stream->IsFree() ? 1 : 0;
  return n;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  return text;
}

std::string Key(const std::string& name) {
  std::string key;
  NormalizeName(key, name.c_str());
  return key;
}

// Reads the constructor's view of the accessor while the object is still being built.
struct ProbingManager : CPackageManager {
  ProbingManager() : CPackageManager(nullptr, 0), seenDuringConstruction(GetPackageManager()) {}
  CPackageManager* seenDuringConstruction;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lifetime

TEST_F(ManagerTest, AccessorCreatesOnceAndReturnsTheSameObject) {
  CPackageManager* first = GetPackageManager();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(g_packageManager, first);
  EXPECT_EQ(GetPackageManager(), first);
  EXPECT_EQ(GetPackageManager(), first);
  // The default set-up: list file name, the executable's directory, full pools.
  EXPECT_STREQ(first->listFileName, "package.cfg");
  size_t rootLength = std::strlen(first->rootDir);
  ASSERT_GT(rootLength, 0u);
  EXPECT_EQ(first->rootDir[rootLength - 1], platform::kPathSeparator);
  EXPECT_EQ(first->diskPool.size(), 10u);
  EXPECT_EQ(first->memPool.size(), 10u);
  EXPECT_TRUE(AllFree(*first));
  delete first;
}

TEST_F(ManagerTest, AfterTeardownTheAccessorBuildsANewManager) {
  TempDir dir;
  std::string path = WriteArchive(dir / "a.pak", {TextEntry("only/in/first.txt", "x")});
  CPackageManager* first = GetPackageManager();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(first->MountPackage(path.c_str()));
  delete first;
  EXPECT_EQ(g_packageManager, nullptr);

  CPackageManager* second = GetPackageManager();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(g_packageManager, second);
  // A freshly built manager: nothing of the first one's mount.
  EXPECT_EQ(second->entries.count("only\\in\\first.txt"), 0u);
  for (const PackageRecord& record : second->packages) EXPECT_NE(std::string(record.path), path);
  delete second;
}

TEST_F(ManagerTest, ManagerConstructedDirectlyBecomesCurrent) {
  CPackageManager* first = GetPackageManager();
  ASSERT_NE(first, nullptr);
  auto* second = new CPackageManager(nullptr, 0);
  EXPECT_EQ(g_packageManager, second);
  EXPECT_EQ(GetPackageManager(), second);
  // The first one is still alive and usable, though no longer reachable by the accessor.
  EXPECT_EQ(first->diskPool.size(), 10u);
  delete second;
  EXPECT_EQ(g_packageManager, nullptr);
  delete first;
}

TEST_F(ManagerTest, AccessorDuringConstructionReturnsTheObjectUnderConstruction) {
  auto* probe = new ProbingManager();
  EXPECT_EQ(probe->seenDuringConstruction, static_cast<CPackageManager*>(probe));
  EXPECT_EQ(g_packageManager, probe);
  delete probe;
}

TEST_F(ManagerTest, TeardownOfAManagerWithoutPackagesClearsTheCurrentPointer) {
  auto* manager = new CPackageManager(nullptr, 0);
  EXPECT_EQ(g_packageManager, manager);
  EXPECT_TRUE(manager->packages.empty());
  delete manager;
  EXPECT_EQ(g_packageManager, nullptr);
}

TEST_F(ManagerTest, MembersAreBuiltEmpty) {
  CPackageManager manager(nullptr, 0);
  EXPECT_TRUE(manager.dirList.nodes.empty());
  EXPECT_GE(manager.dirList.nodes.capacity(), 512u);
  EXPECT_EQ(manager.dirList.count, 0);
  EXPECT_EQ(manager.dirList.first, 0);
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(manager.entries.empty());
  EXPECT_STREQ(manager.rootDir, "");
  EXPECT_STREQ(manager.listFileName, "");
}

TEST_F(ManagerTest, SinglePackageConstructorWithNullPathHasEmptyPools) {
  CPackageManager manager(nullptr, 0);
  EXPECT_EQ(g_packageManager, &manager);
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(manager.diskPool.empty());
  EXPECT_TRUE(manager.memPool.empty());
  // With no pool every open gives null.
  EXPECT_EQ(manager.OpenStream("anything", ModeRead, true), nullptr);
  EXPECT_EQ(manager.FindFreeStream(true), nullptr);
  EXPECT_EQ(manager.FindFreeStream(false), nullptr);
}

TEST_F(ManagerTest, SinglePackageConstructorWithMissingPathHasFullPools) {
  TempDir dir;
  CPackageManager manager((dir / "missing.pak").c_str(), 0);
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(manager.entries.empty());
  ASSERT_EQ(manager.diskPool.size(), 10u);
  ASSERT_EQ(manager.memPool.size(), 10u);
  for (size_t i = 0; i < 10; ++i) {
    ASSERT_NE(manager.diskPool[i], nullptr);
    ASSERT_NE(manager.memPool[i], nullptr);
    EXPECT_TRUE(manager.diskPool[i]->IsFree());
    EXPECT_TRUE(manager.memPool[i]->IsFree());
    EXPECT_EQ(manager.memPool[i]->buffer, nullptr);
  }
  EXPECT_STREQ(manager.rootDir, "");
  EXPECT_STREQ(manager.listFileName, "");
}

TEST_F(ManagerTest, SinglePackageConstructorMountsAnExistingPackage) {
  TempDir dir;
  std::string path = WriteArchive(dir / "one.pak", {TextEntry("A.txt", "abc")});
  CPackageManager manager(path.c_str(), 12345);
  ASSERT_EQ(manager.packages.size(), 1u);
  EXPECT_STREQ(manager.packages[0].path, path.c_str());
  EXPECT_EQ(manager.entries.count("a.txt"), 1u);
  EXPECT_EQ(manager.diskPool.size(), 10u);
  EXPECT_EQ(manager.memPool.size(), 10u);
}

TEST_F(ManagerTest, SinglePackageConstructorWithADirectoryMountsNothing) {
  TempDir dir;
  CPackageManager manager(dir.Path().c_str(), 0);
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_EQ(manager.diskPool.size(), 10u);
  EXPECT_EQ(manager.memPool.size(), 10u);
}

TEST_F(ManagerTest, TeardownClosesLentStreams) {
  TempDir dir;
  std::string path = WriteArchive(dir / "one.pak", {TextEntry("a.txt", "abc")});
  WriteFileText(dir / "disk.txt", "disk");
  auto* manager = new CPackageManager(path.c_str(), 0);
  ASSERT_NE(manager->OpenStream("a.txt", ModeRead, true), nullptr);
  ASSERT_NE(manager->OpenStream((dir / "disk.txt").c_str(), ModeRead, false), nullptr);
  delete manager;  // never closed by the borrower
  std::error_code error;
  EXPECT_TRUE(std::filesystem::remove(dir / "disk.txt", error)) << error.message();
}

// ---------------------------------------------------------------------------------------------
// Opening by name

namespace {

// One package holding a few entries, some of whose names are also disk files (the entry name
// is the file's path), mounted in a single-package manager.
class OpenStreamTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    both = dir / "both.txt";
    diskOnly = dir / "disk-only.txt";
    badBoth = dir / "bad-both.txt";
    uncreatable = dir / "no-such-dir/indexed.txt";
    // Names that are only in the package: paths in the test's directory that are never
    // created, so that no file of the working directory can answer for them.
    pkgOnly = dir / "pkg-only.txt";
    brokenOnly = dir / "broken-only";
    WriteFileText(both, "from the disk");
    WriteFileText(diskOnly, "only on disk");
    WriteFileText(badBoth, "disk copy of a broken entry");
    RawEntry broken = TextEntry(badBoth, "too short");
    broken.size = 100;
    RawEntry brokenOnlyEntry = TextEntry(brokenOnly, "too short");
    brokenOnlyEntry.size = 100;
    WriteArchive(dir / "pack.pak",
                 {TextEntry(both, "from the package"), TextEntry("Data\\Img\\a.bmp", "bitmap"),
                  TextEntry(pkgOnly, "only in the package"), broken, brokenOnlyEntry,
                  TextEntry(uncreatable, "indexed")});
    manager = std::make_unique<CPackageManager>((dir / "pack.pak").c_str(), 0);
    ASSERT_EQ(manager->packages.size(), 1u);
    ASSERT_EQ(manager->entries.size(), 6u);
  }
  void TearDown() override {
    manager.reset();
    ManagerTest::TearDown();
  }

  static std::string Content(CResStream* stream) {
    Bytes bytes = ReadAll(*stream);
    return std::string(bytes.begin(), bytes.end());
  }
  bool InMemPool(CResStream* stream) const {
    for (CMemStream* s : manager->memPool)
      if (s == stream) return true;
    return false;
  }
  bool InDiskPool(CResStream* stream) const {
    for (CDiskStream* s : manager->diskPool)
      if (s == stream) return true;
    return false;
  }

  TempDir dir;
  std::string both, diskOnly, badBoth, uncreatable, pkgOnly, brokenOnly;
  std::unique_ptr<CPackageManager> manager;
};

}  // namespace

TEST_F(OpenStreamTest, PreferPackageOpensThePackageEntry) {
  CResStream* stream = manager->OpenStream(both.c_str(), ModeRead, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(InMemPool(stream));
  EXPECT_EQ(Content(stream), "from the package");
  stream->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, PreferDiskOpensTheDiskFile) {
  CResStream* stream = manager->OpenStream(both.c_str(), ModeRead, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(InDiskPool(stream));
  EXPECT_EQ(stream->name, both);
  EXPECT_EQ(Content(stream), "from the disk");
  stream->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, EachSideFallsBackToTheOther) {
  CResStream* fromDisk = manager->OpenStream(diskOnly.c_str(), ModeRead, true);
  ASSERT_NE(fromDisk, nullptr);
  EXPECT_TRUE(InDiskPool(fromDisk));
  EXPECT_EQ(Content(fromDisk), "only on disk");
  fromDisk->Close();

  CResStream* fromPackage = manager->OpenStream(Upper(pkgOnly).c_str(), ModeRead, false);
  ASSERT_NE(fromPackage, nullptr);
  EXPECT_TRUE(InMemPool(fromPackage));
  EXPECT_EQ(Content(fromPackage), "only in the package");
  fromPackage->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, NameInNeitherPlaceGivesNullAndUsesNoStream) {
  std::string missing = dir / "missing.txt";
  EXPECT_EQ(manager->OpenStream(missing.c_str(), ModeRead, true), nullptr);
  EXPECT_EQ(manager->OpenStream(missing.c_str(), ModeRead, false), nullptr);
  EXPECT_EQ(manager->OpenPackageStream(missing.c_str(), ModeRead), nullptr);
  EXPECT_EQ(manager->OpenDiskStream(missing.c_str(), ModeRead), nullptr);
  EXPECT_TRUE(AllFree(*manager));
  for (CMemStream* stream : manager->memPool) EXPECT_EQ(stream->buffer, nullptr);
}

TEST_F(OpenStreamTest, CaseAndSlashFoldingOnThePackageSideOnly) {
  CResStream* stream = manager->OpenStream("Data/Img/A.BMP", ModeRead, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->name, "data\\img\\a.bmp");
  EXPECT_EQ(Content(stream), "bitmap");
  stream->Close();
  for (const char* name : {"data\\img\\a.bmp", "DATA\\IMG\\A.BMP", "data/img/a.bmp"}) {
    CMemStream* found = manager->OpenPackageStream(name, ModeRead);
    ASSERT_NE(found, nullptr) << name;
    EXPECT_EQ(found->name, "data\\img\\a.bmp");
    found->Close();
  }
  // Nothing else is folded.
  EXPECT_EQ(manager->OpenPackageStream("data\\img\\a.bmp ", ModeRead), nullptr);
  EXPECT_EQ(manager->OpenPackageStream("data\\\\img\\a.bmp", ModeRead), nullptr);
  EXPECT_EQ(manager->OpenPackageStream("data\\img", ModeRead), nullptr);
}

TEST_F(OpenStreamTest, DiskSideUsesTheNameUnchanged) {
  MakeDirectories(dir / "Sub");
  WriteFileText(dir / "Sub/File.TXT", "mixed case");
  std::string name = dir / "Sub/File.TXT";
  CResStream* stream = manager->OpenStream(name.c_str(), ModeRead, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->name, name);
  EXPECT_EQ(stream->size, 10u);
  stream->Close();
}

TEST_F(OpenStreamTest, ModeWordZeroGivesNullOnBothSides) {
  for (bool preferPackage : {true, false}) {
    EXPECT_EQ(manager->OpenStream(both.c_str(), 0, preferPackage), nullptr);
    EXPECT_EQ(manager->OpenStream(pkgOnly.c_str(), 0, preferPackage), nullptr);
    EXPECT_EQ(manager->OpenStream(diskOnly.c_str(), 0, preferPackage), nullptr);
  }
  EXPECT_EQ(manager->OpenPackageStream(pkgOnly.c_str(), 0), nullptr);
  EXPECT_EQ(manager->OpenDiskStream(diskOnly.c_str(), 0), nullptr);
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, WriteModeSkipsThePackageSide) {
  // Package first: the package refuses, the disk opens the file with "wb" and truncates it.
  CResStream* stream = manager->OpenStream(both.c_str(), ModeWrite, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(InDiskPool(stream));
  EXPECT_EQ(stream->size, 0u);
  EXPECT_TRUE(stream->Write("new", 3));
  stream->Close();
  EXPECT_EQ(ReadFileBytes(both), ToBytes("new"));

  // Disk first, for a file that cannot be created: null although the name is indexed.
  ASSERT_TRUE(manager->Exists(uncreatable.c_str(), LookInPackages));
  EXPECT_EQ(manager->OpenStream(uncreatable.c_str(), ModeWrite, false), nullptr);
  EXPECT_EQ(manager->OpenStream(uncreatable.c_str(), ModeWrite | ModeRead, true), nullptr);
  EXPECT_FALSE(FileExists(uncreatable));
  // Read-only, the same name opens the entry.
  CResStream* entry = manager->OpenStream(uncreatable.c_str(), ModeRead, false);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(InMemPool(entry));
  EXPECT_EQ(Content(entry), "indexed");
  entry->Close();
  EXPECT_EQ(manager->OpenPackageStream(pkgOnly.c_str(), ModeWrite), nullptr);
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, FailedInflationGivesNullAndPackageFirstFallsBackToDisk) {
  // Fill a stream's buffer with another entry first: a failed open must not reveal it.
  CMemStream* earlier = manager->OpenPackageStream(pkgOnly.c_str(), ModeRead);
  ASSERT_EQ(earlier, manager->memPool[0]);
  earlier->Close();

  EXPECT_EQ(manager->OpenPackageStream(brokenOnly.c_str(), ModeRead), nullptr);
  EXPECT_EQ(manager->OpenStream(brokenOnly.c_str(), ModeRead, true), nullptr);
  EXPECT_EQ(manager->OpenStream(brokenOnly.c_str(), ModeRead, false), nullptr);
  EXPECT_TRUE(AllFree(*manager));

  CResStream* stream = manager->OpenStream(badBoth.c_str(), ModeRead, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(InDiskPool(stream));
  EXPECT_EQ(Content(stream), "disk copy of a broken entry");
  stream->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, OpenedStreamIsAtZeroWithItsSize) {
  CResStream* stream = manager->OpenStream(pkgOnly.c_str(), ModeRead, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->size, 19u);
  EXPECT_EQ(stream->mode, ModeRead);
  EXPECT_EQ(stream->Seek(0, SeekCurrent), 0);
  EXPECT_FALSE(stream->Eof());
  stream->Close();
  stream = manager->OpenStream(diskOnly.c_str(), ModeRead | ModeText, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->size, 12u);
  EXPECT_EQ(stream->mode, ModeRead | ModeText);
  EXPECT_EQ(stream->Seek(0, SeekCurrent), 0);
  stream->Close();
}

TEST_F(OpenStreamTest, ExistsAsksTheSourcesItIsTold) {
  EXPECT_FALSE(manager->Exists(both.c_str(), 0));
  EXPECT_TRUE(manager->Exists(Upper(pkgOnly).c_str(), LookInPackages));
  EXPECT_FALSE(manager->Exists(diskOnly.c_str(), LookInPackages));
  EXPECT_TRUE(manager->Exists(diskOnly.c_str(), LookOnDisk));
  EXPECT_FALSE(manager->Exists(pkgOnly.c_str(), LookOnDisk));
  EXPECT_TRUE(manager->Exists(pkgOnly.c_str(), LookInPackages | LookOnDisk));
  EXPECT_TRUE(manager->Exists(diskOnly.c_str(), LookInPackages | LookOnDisk));
  EXPECT_TRUE(manager->Exists(dir.Path().c_str(), LookOnDisk));  // a directory counts
  EXPECT_FALSE(manager->Exists((dir / "missing").c_str(), LookInPackages | LookOnDisk));
  EXPECT_FALSE(manager->Exists(nullptr, LookInPackages | LookOnDisk));
  EXPECT_TRUE(AllFree(*manager));
}

// ---------------------------------------------------------------------------------------------
// Pool rules

TEST_F(OpenStreamTest, PoolsHoldTenFreeStreamsAfterStartUp) {
  ASSERT_EQ(manager->diskPool.size(), 10u);
  ASSERT_EQ(manager->memPool.size(), 10u);
  for (size_t i = 0; i < 10; ++i) {
    ASSERT_NE(manager->diskPool[i], nullptr);
    ASSERT_NE(manager->memPool[i], nullptr);
    for (size_t j = 0; j < i; ++j) {
      EXPECT_NE(manager->diskPool[i], manager->diskPool[j]);
      EXPECT_NE(manager->memPool[i], manager->memPool[j]);
    }
  }
  EXPECT_TRUE(AllFree(*manager));
  EXPECT_EQ(manager->FindFreeStream(true), manager->memPool[0]);
  EXPECT_EQ(manager->FindFreeStream(false), manager->diskPool[0]);
}

TEST_F(OpenStreamTest, FillingThePoolsAgainKeepsTheStreamsThatExist) {
  std::vector<CDiskStream*> disk = manager->diskPool;
  std::vector<CMemStream*> memory = manager->memPool;
  manager->FillStreamPools();
  EXPECT_EQ(manager->diskPool, disk);
  EXPECT_EQ(manager->memPool, memory);
}

TEST_F(OpenStreamTest, TenPackageOpensTakeEveryStreamAndTheEleventhTouchesNone) {
  std::vector<CResStream*> lent;
  for (size_t i = 0; i < 10; ++i) {
    CResStream* stream = manager->OpenStream(pkgOnly.c_str(), ModeRead, true);
    ASSERT_EQ(stream, manager->memPool[i]) << i;
    char head[3];
    ASSERT_EQ(stream->Read(head, 3), 3u);
    lent.push_back(stream);
  }
  EXPECT_EQ(manager->FindFreeStream(true), nullptr);

  // No free package stream: null for a package-only name, and no lent stream is touched.
  EXPECT_EQ(manager->OpenPackageStream(Upper(pkgOnly).c_str(), ModeRead), nullptr);
  EXPECT_EQ(manager->OpenStream(Upper(pkgOnly).c_str(), ModeRead, true), nullptr);
  EXPECT_EQ(manager->OpenStream(Upper(pkgOnly).c_str(), ModeRead, false), nullptr);
  for (CResStream* stream : lent) {
    auto* memory = static_cast<CMemStream*>(stream);
    EXPECT_EQ(memory->mode, ModeRead);
    EXPECT_EQ(memory->position, 3u);
    EXPECT_EQ(memory->size, 19u);
    EXPECT_EQ(memory->name, Key(pkgOnly));
    EXPECT_EQ(Content(stream), "y in the package");
  }
  // A name that is also on disk falls back to a disk stream.
  CResStream* fallback = manager->OpenStream(both.c_str(), ModeRead, true);
  ASSERT_NE(fallback, nullptr);
  EXPECT_TRUE(InDiskPool(fallback));
  fallback->Close();

  // The fourth one lent is the next one lent after its Close, then the lowest free slot first.
  lent[3]->Close();
  CResStream* again = manager->OpenStream(Upper(pkgOnly).c_str(), ModeRead, true);
  EXPECT_EQ(again, lent[3]);
  EXPECT_EQ(Content(again), "only in the package");
  lent[6]->Close();
  lent[1]->Close();
  EXPECT_EQ(manager->OpenStream(pkgOnly.c_str(), ModeRead, true), lent[1]);
  EXPECT_EQ(manager->OpenStream(pkgOnly.c_str(), ModeRead, true), lent[6]);
  EXPECT_EQ(manager->OpenStream(pkgOnly.c_str(), ModeRead, true), nullptr);
  for (CResStream* stream : lent) stream->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, TenDiskOpensTakeEveryStreamAndTheEleventhTouchesNone) {
  std::vector<CResStream*> lent;
  for (size_t i = 0; i < 10; ++i) {
    CResStream* stream = manager->OpenStream(diskOnly.c_str(), ModeRead, false);
    ASSERT_EQ(stream, manager->diskPool[i]) << i;
    char head[5];
    ASSERT_EQ(stream->Read(head, 5), 5u);
    lent.push_back(stream);
  }
  EXPECT_EQ(manager->FindFreeStream(false), nullptr);
  EXPECT_EQ(manager->OpenDiskStream(both.c_str(), ModeRead), nullptr);
  EXPECT_EQ(manager->OpenStream(diskOnly.c_str(), ModeRead, false), nullptr);
  EXPECT_EQ(manager->OpenStream((dir / "new.txt").c_str(), ModeWrite, true), nullptr);
  EXPECT_FALSE(FileExists(dir / "new.txt"));
  for (CResStream* stream : lent) {
    auto* disk = static_cast<CDiskStream*>(stream);
    EXPECT_EQ(disk->mode, ModeRead);
    EXPECT_NE(disk->file, nullptr);
    EXPECT_EQ(disk->name, diskOnly);
    EXPECT_EQ(Content(stream), "on disk");
  }
  // A name that is also in the package falls back to a package stream.
  CResStream* fallback = manager->OpenStream(both.c_str(), ModeRead, false);
  ASSERT_NE(fallback, nullptr);
  EXPECT_TRUE(InMemPool(fallback));
  EXPECT_EQ(Content(fallback), "from the package");
  fallback->Close();

  lent[3]->Close();
  EXPECT_EQ(manager->OpenStream(both.c_str(), ModeRead, false), lent[3]);
  for (CResStream* stream : lent) stream->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, FailedOpensUseNoStream) {
  CResStream* held = manager->OpenStream(pkgOnly.c_str(), ModeRead, true);
  ASSERT_EQ(held, manager->memPool[0]);
  CResStream* heldDisk = manager->OpenStream(diskOnly.c_str(), ModeRead, false);
  ASSERT_EQ(heldDisk, manager->diskPool[0]);

  EXPECT_EQ(manager->OpenStream((dir / "missing").c_str(), ModeRead, true), nullptr);
  EXPECT_EQ(manager->OpenStream(brokenOnly.c_str(), ModeRead, true), nullptr);
  EXPECT_EQ(manager->OpenStream(dir.Path().c_str(), ModeRead, false), nullptr);
  EXPECT_EQ(manager->OpenStream((dir / "no-dir/x").c_str(), ModeWrite, true), nullptr);
  EXPECT_EQ(manager->OpenStream(pkgOnly.c_str(), 0, true), nullptr);
  EXPECT_EQ(held->Seek(0, SeekCurrent), 0);
  EXPECT_EQ(heldDisk->Seek(0, SeekCurrent), 0);
  EXPECT_EQ(FreeCount(manager->memPool), 9u);
  EXPECT_EQ(FreeCount(manager->diskPool), 9u);
  held->Close();
  heldDisk->Close();
  EXPECT_TRUE(AllFree(*manager));
}

TEST_F(OpenStreamTest, EmptySlotsArePassedOver) {
  // A slot whose stream could not be allocated stays null and is never lent.
  delete manager->memPool[0];
  manager->memPool[0] = nullptr;
  delete manager->diskPool[0];
  manager->diskPool[0] = nullptr;
  EXPECT_EQ(manager->FindFreeStream(true), manager->memPool[1]);
  EXPECT_EQ(manager->FindFreeStream(false), manager->diskPool[1]);
  CResStream* stream = manager->OpenStream(pkgOnly.c_str(), ModeRead, true);
  EXPECT_EQ(stream, manager->memPool[1]);
  stream->Close();
  stream = manager->OpenStream(diskOnly.c_str(), ModeRead, true);
  EXPECT_EQ(stream, manager->diskPool[1]);
  stream->Close();
}
