// Mounting packages into the name index: keys, override order, the directory-node reset,
// damaged packages, and the lock that keeps a mounted archive from being edited.
#include "manager/mounting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "archive/mapped_package.h"
#include "manager/package_manager.h"
#include "platform/platform.h"
#include "stream/mem_stream.h"
#include "support/read_path.h"

namespace {

std::string Key(const char* name) {
  std::string out = "stale";
  NormalizeName(out, name);
  return out;
}

std::string Key(const std::string& name) {
  return Key(name.c_str());
}

// A manager with full pools and nothing mounted.
class MountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_packageManager, nullptr);
    manager = std::make_unique<CPackageManager>((dir / "none.pak").c_str(), 0);
    ASSERT_TRUE(manager->packages.empty());
  }
  void TearDown() override {
    manager.reset();
    EXPECT_EQ(g_packageManager, nullptr);
  }

  // Puts nodes into the directory-node list, as the authoring operations do.
  void FillDirList() {
    manager->dirList.nodes.clear();
    for (const char* name : {"Root", "a", "b"}) {
      DirNode node{};
      SetDirNodeName(node, name);
      node.parent = 0;
      manager->dirList.nodes.push_back(node);
    }
    manager->dirList.count = 3;
    manager->dirList.first = 2;
  }

  void ExpectDirListFilled() {
    ASSERT_EQ(manager->dirList.nodes.size(), 3u);
    EXPECT_STREQ(manager->dirList.nodes[2].name, "b");
    EXPECT_EQ(manager->dirList.count, 3);
    EXPECT_EQ(manager->dirList.first, 2);
  }

  void ExpectDirListReset() {
    ASSERT_EQ(manager->dirList.nodes.size(), 1u);
    const DirNode& root = manager->dirList.nodes[0];
    EXPECT_STREQ(root.name, "Root");
    for (size_t i = 4; i < sizeof(root.name); ++i) ASSERT_EQ(root.name[i], '\0') << i;
    EXPECT_EQ(root.parent, 0);
    EXPECT_EQ(manager->dirList.count, 1);
    EXPECT_EQ(manager->dirList.first, 0);
  }

  std::string ReadEntry(const std::string& name) {
    CResStream* stream = manager->OpenPackageStream(name.c_str(), ModeRead);
    if (stream == nullptr) return "<null>";
    Bytes bytes = ReadAll(*stream);
    stream->Close();
    return std::string(bytes.begin(), bytes.end());
  }

  TempDir dir;
  std::unique_ptr<CPackageManager> manager;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// NormalizeName

TEST(NormalizeName, FoldsAsciiCapitalsAndForwardSlashes) {
  EXPECT_EQ(Key("Data/Img/A.BMP"), "data\\img\\a.bmp");
  EXPECT_EQ(Key("data\\img\\a.bmp"), "data\\img\\a.bmp");
  EXPECT_EQ(Key("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(Key("//\\\\"), "\\\\\\\\");
  // The neighbours of the capitals are kept.
  EXPECT_EQ(Key("@[`{ 09_-.~"), "@[`{ 09_-.~");
  EXPECT_EQ(Key(""), "");
  EXPECT_EQ(Key(nullptr), "");
}

TEST(NormalizeName, BytesFromTheHighHalfAreKept) {
  std::string name;
  for (int c = 0x80; c <= 0xFF; ++c) name.push_back(static_cast<char>(c));
  EXPECT_EQ(Key(name), name);
  EXPECT_EQ(Key("\xC4/\xD6.TXT"), "\xC4\\\xD6.txt");
  // Upper and lower case outside ASCII are different keys.
  EXPECT_NE(Key("\xC4"), Key("\xE4"));
}

TEST(NormalizeName, LongNamesAreKeyedWhole) {
  for (size_t length : {259u, 260u, 261u, 300u, 5000u, 40000u}) {
    std::string name(length, 'A');
    name[length / 2] = '/';
    std::string expected(length, 'a');
    expected[length / 2] = '\\';
    std::string key = Key(name);
    EXPECT_EQ(key.size(), length);
    EXPECT_EQ(key, expected) << length;
  }
}

// ---------------------------------------------------------------------------------------------
// Mounting

TEST_F(MountTest, MissingPathFailsAndChangesNothing) {
  std::string first = WriteArchive(dir / "first.pak", {TextEntry("x", "1")});
  ASSERT_TRUE(manager->MountPackage(first.c_str()));
  FillDirList();
  EXPECT_FALSE(manager->MountPackage((dir / "missing.pak").c_str()));
  EXPECT_FALSE(manager->MountPackage(nullptr));
  EXPECT_EQ(manager->packages.size(), 1u);
  EXPECT_EQ(manager->entries.size(), 1u);
  ExpectDirListFilled();
}

TEST_F(MountTest, DirectoryAndEmptyFileFailToMount) {
  FillDirList();
  MakeDirectories(dir / "folder.pak");
  WriteFileBytes(dir / "empty.pak", {});
  EXPECT_FALSE(manager->MountPackage((dir / "folder.pak").c_str()));
  EXPECT_FALSE(manager->MountPackage(dir.Path().c_str()));
  EXPECT_FALSE(manager->MountPackage((dir / "empty.pak").c_str()));
  EXPECT_TRUE(manager->packages.empty());
  EXPECT_TRUE(manager->entries.empty());
  ExpectDirListFilled();
}

TEST_F(MountTest, EmptyIndexMountsWithoutKeysAndResetsTheDirList) {
  FillDirList();
  std::string path = WriteArchive(dir / "empty.pak", {});
  ASSERT_TRUE(manager->MountPackage(path.c_str()));
  ASSERT_EQ(manager->packages.size(), 1u);
  EXPECT_STREQ(manager->packages[0].path, path.c_str());
  EXPECT_NE(manager->packages[0].package, nullptr);
  EXPECT_TRUE(manager->entries.empty());
  ExpectDirListReset();
}

TEST_F(MountTest, SuccessfulMountResetsTheDirListToRoot) {
  FillDirList();
  std::string path = WriteArchive(dir / "a.pak", {TextEntry("a", "1"), TextEntry("b", "2")});
  ASSERT_TRUE(manager->MountPackage(path.c_str()));
  ExpectDirListReset();
  FillDirList();
  ASSERT_TRUE(manager->MountPackage(path.c_str()));
  ExpectDirListReset();
}

TEST_F(MountTest, EntriesAreIndexedWithTheirFourFields) {
  Bytes file = HeaderBytes(2, 16, 0);
  PutRecord(file, "Maps/One.BIN", 7, 100, 200, 300);
  PutRecord(file, "two", 8, 400, 500, 600);
  WriteFileBytes(dir / "fields.pak", file);
  ASSERT_TRUE(manager->MountPackage((dir / "fields.pak").c_str()));
  ASSERT_EQ(manager->entries.size(), 2u);
  const EntryInfo& one = manager->entries.at("maps\\one.bin");
  EXPECT_EQ(one.package, manager->packages[0].package);
  EXPECT_EQ(one.flags, 7u);
  EXPECT_EQ(one.offset, 100u);
  EXPECT_EQ(one.size, 200u);
  EXPECT_EQ(one.packedSize, 300u);
  const EntryInfo& two = manager->entries.at("two");
  EXPECT_EQ(two.flags, 8u);
  EXPECT_EQ(two.offset, 400u);
  EXPECT_EQ(two.size, 500u);
  EXPECT_EQ(two.packedSize, 600u);
}

TEST_F(MountTest, RecordKeepsThePathAsGiven) {
  MakeDirectories(dir / "Sub");
  WriteArchive(dir / "Sub/Mixed.PAK", {TextEntry("x", "1")});
  std::string path = dir / "Sub/../Sub/Mixed.PAK";
  ASSERT_TRUE(manager->MountPackage(path.c_str()));
  EXPECT_STREQ(manager->packages[0].path, path.c_str());
}

TEST_F(MountTest, LaterPackageWinsForASharedName) {
  WriteArchive(dir / "a.pak", {TextEntry("Data/Hero.img", "hero from A"), TextEntry("a", "A")});
  WriteArchive(dir / "b.pak", {TextEntry("b", "B"), TextEntry("Data/Hero.img", "B's hero!")});
  ASSERT_TRUE(manager->MountPackage((dir / "a.pak").c_str()));
  ASSERT_TRUE(manager->MountPackage((dir / "b.pak").c_str()));
  ASSERT_EQ(manager->packages.size(), 2u);
  ASSERT_EQ(manager->entries.size(), 3u);

  CMappedPackage* b = manager->packages[1].package;
  std::vector<PackageEntry> walk = WalkIndex(*b);
  ASSERT_EQ(walk.size(), 2u);
  const EntryInfo& hero = manager->entries.at("data\\hero.img");
  EXPECT_EQ(hero.package, b);
  EXPECT_EQ(hero.flags, walk[1].flags);
  EXPECT_EQ(hero.offset, walk[1].offset);
  EXPECT_EQ(hero.size, walk[1].size);
  EXPECT_EQ(hero.packedSize, walk[1].packedSize);
  EXPECT_EQ(ReadEntry("DATA/HERO.IMG"), "B's hero!");
  // Names held by one package only still resolve to it.
  EXPECT_EQ(manager->entries.at("a").package, manager->packages[0].package);
  EXPECT_EQ(ReadEntry("a"), "A");
  EXPECT_EQ(ReadEntry("b"), "B");
}

TEST_F(MountTest, MountingTheSameArchiveTwiceResolvesToTheSecond) {
  std::string path = WriteArchive(dir / "twice.pak", {TextEntry("x", "1"), TextEntry("y", "2")});
  ASSERT_TRUE(manager->MountPackage(path.c_str()));
  ASSERT_TRUE(manager->MountPackage(path.c_str()));
  ASSERT_EQ(manager->packages.size(), 2u);
  EXPECT_NE(manager->packages[0].package, manager->packages[1].package);
  EXPECT_STREQ(manager->packages[0].path, path.c_str());
  EXPECT_STREQ(manager->packages[1].path, path.c_str());
  for (const auto& item : manager->entries)
    EXPECT_EQ(item.second.package, manager->packages[1].package);
  EXPECT_EQ(ReadEntry("y"), "2");
}

TEST_F(MountTest, LaterRecordOfOneIndexWinsAndTheKeyIsFolded) {
  WriteArchive(dir / "dup.pak", {TextEntry("Map/A.bin", "first"), TextEntry("other", "o"),
                                 TextEntry("MAP\\a.bin", "second!")});
  ASSERT_TRUE(manager->MountPackage((dir / "dup.pak").c_str()));
  ASSERT_EQ(manager->entries.size(), 2u);
  ASSERT_EQ(manager->entries.count("map\\a.bin"), 1u);
  std::vector<PackageEntry> walk = WalkIndex(*manager->packages[0].package);
  ASSERT_EQ(walk.size(), 3u);
  const EntryInfo& info = manager->entries.at("map\\a.bin");
  EXPECT_EQ(info.offset, walk[2].offset);
  EXPECT_EQ(info.size, 7u);
  EXPECT_EQ(info.packedSize, walk[2].packedSize);
  EXPECT_EQ(ReadEntry("map/A.BIN"), "second!");
}

TEST_F(MountTest, HighBytesInNamesMustMatchExactly) {
  WriteArchive(dir / "high.pak",
               {TextEntry("\xC4pfel.TXT", "upper"), TextEntry("\xE4pfel.txt", "lower")});
  ASSERT_TRUE(manager->MountPackage((dir / "high.pak").c_str()));
  EXPECT_EQ(manager->entries.size(), 2u);
  EXPECT_EQ(ReadEntry("\xC4PFEL.txt"), "upper");
  EXPECT_EQ(ReadEntry("\xE4PFEL.TXT"), "lower");
}

TEST_F(MountTest, LongNamesAreIndexedAndLookedUpWhole) {
  std::string base(300, 'n');
  std::string first = "Long/" + base + "/First.dat";
  std::string second = "Long/" + base + "/Second.dat";
  WriteArchive(dir / "long.pak", {TextEntry(first, "one"), TextEntry(second, "two")});
  ASSERT_TRUE(manager->MountPackage((dir / "long.pak").c_str()));
  ASSERT_EQ(manager->entries.size(), 2u);
  EXPECT_EQ(manager->entries.count(Key(first)), 1u);
  EXPECT_EQ(manager->entries.count(Key(second)), 1u);
  EXPECT_EQ(ReadEntry(first), "one");
  EXPECT_EQ(ReadEntry(second), "two");
  CResStream* stream = manager->OpenPackageStream(second.c_str(), ModeRead);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->name, Key(second));
  stream->Close();
  // A name that matches only in its first 259 bytes is not found.
  EXPECT_EQ(ReadEntry("Long/" + base), "<null>");
  EXPECT_EQ(ReadEntry("Long/" + base + "/Third.dat"), "<null>");
}

TEST_F(MountTest, DamagedIndexesMountWithWhatTheWalkYields) {
  // A negative name length gives the empty key.
  Bytes negative = HeaderBytes(2, 16, 0);
  PutRecord(negative, "good", 1, 2, 3, 4);
  PutU16(negative, 0x9000);
  PutU32(negative, 5);
  PutU32(negative, 6);
  PutU32(negative, 7);
  PutU32(negative, 8);
  WriteFileBytes(dir / "negative.pak", negative);
  ASSERT_TRUE(manager->MountPackage((dir / "negative.pak").c_str()));
  ASSERT_EQ(manager->entries.size(), 2u);
  EXPECT_EQ(manager->entries.at("").offset, 6u);
  EXPECT_EQ(manager->entries.at("good").offset, 2u);

  // A file shorter than a header mounts with no entries.
  WriteFileBytes(dir / "short.pak", Bytes{0x64, 0, 0, 0, 9, 0, 0});
  ASSERT_TRUE(manager->MountPackage((dir / "short.pak").c_str()));
  EXPECT_EQ(manager->packages.size(), 2u);
  EXPECT_EQ(manager->entries.size(), 2u);

  // An absurd entry count over a small file yields only the records the file can hold.
  Bytes absurd = HeaderBytes(0x7FFFFFFF, 16, 0);
  PutRecord(absurd, "one", 0, 0, 0, 0);
  PutRecord(absurd, "two", 0, 0, 0, 0);
  WriteFileBytes(dir / "absurd.pak", absurd);
  ASSERT_TRUE(manager->MountPackage((dir / "absurd.pak").c_str()));
  EXPECT_EQ(manager->packages.size(), 3u);
  EXPECT_EQ(manager->entries.size(), 4u);
  EXPECT_EQ(manager->entries.count("one"), 1u);
  EXPECT_EQ(manager->entries.count("two"), 1u);

  // The top bit of the count gives no entries, and the package is still recorded.
  Bytes top = HeaderBytes(0x80000002u, 16, 0);
  PutRecord(top, "hidden", 0, 0, 0, 0);
  WriteFileBytes(dir / "top.pak", top);
  ASSERT_TRUE(manager->MountPackage((dir / "top.pak").c_str()));
  EXPECT_EQ(manager->packages.size(), 4u);
  EXPECT_EQ(manager->entries.count("hidden"), 0u);
}

TEST_F(MountTest, PathExistsForFilesAndDirectories) {
  WriteFileText(dir / "file.txt", "x");
  EXPECT_TRUE(PathExists((dir / "file.txt").c_str()));
  EXPECT_TRUE(PathExists(dir.Path().c_str()));
  EXPECT_FALSE(PathExists((dir / "missing").c_str()));
  EXPECT_FALSE(PathExists(nullptr));
}

// ---------------------------------------------------------------------------------------------
// A mounted archive is locked against editing

TEST(MountLock, MountedArchiveCannotBeOpenedForEditingUntilTeardown) {
  ASSERT_EQ(g_packageManager, nullptr);
  TempDir dir;
  std::string path = WriteArchive(dir / "locked.pak", {TextEntry("a", "abc")});
  std::string other = WriteArchive(dir / "other.pak", {TextEntry("b", "def")});

  auto* manager = new CPackageManager(path.c_str(), 0);
  ASSERT_EQ(manager->packages.size(), 1u);
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
  // A second mount of the same file is a reader too and is allowed.
  EXPECT_TRUE(manager->MountPackage(path.c_str()));
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
  // Another file is not affected.
  int fd = platform::OpenForEdit(other.c_str());
  EXPECT_NE(fd, platform::kNoFile);
  platform::CloseFd(fd);

  delete manager;
  EXPECT_EQ(g_packageManager, nullptr);
  fd = platform::OpenForEdit(path.c_str());
  EXPECT_NE(fd, platform::kNoFile);
  platform::CloseFd(fd);
}

TEST(MountLock, ArchiveOpenForEditingCannotBeMounted) {
  TempDir dir;
  std::string path = WriteArchive(dir / "editing.pak", {TextEntry("a", "abc")});
  int fd = platform::OpenForEdit(path.c_str());
  ASSERT_NE(fd, platform::kNoFile);
  {
    CPackageManager manager(nullptr, 0);
    EXPECT_FALSE(manager.MountPackage(path.c_str()));
    EXPECT_TRUE(manager.packages.empty());
  }
  platform::CloseFd(fd);
  CPackageManager manager(nullptr, 0);
  EXPECT_TRUE(manager.MountPackage(path.c_str()));
}
