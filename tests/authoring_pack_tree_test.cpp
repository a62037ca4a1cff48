// Packing directory trees into new archives, with and without the directory-node list.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "authoring/pack_tree.h"
#include "authoring/package_builder.h"
#include "manager/package_manager.h"
#include "support/archive_bytes.h"
#include "support/authoring_checks.h"

namespace {

const Bytes kEmptyArchive = {100, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};

struct Node {
  std::string name;
  int32_t parent;
  bool operator==(const Node& other) const { return name == other.name && parent == other.parent; }
};

std::ostream& operator<<(std::ostream& out, const Node& node) {
  return out << "{" << node.name << ", " << node.parent << "}";
}

// The list proper: the first count nodes.
std::vector<Node> ListOf(const CPackageManager& manager) {
  std::vector<Node> result;
  for (int32_t i = 0; i < manager.dirList.count; ++i) {
    result.push_back({manager.dirList.nodes.at(i).name, manager.dirList.nodes.at(i).parent});
  }
  return result;
}

// D holding a.txt and sub, sub holding b.txt.
std::string MakeExampleTree(const TempDir& dir) {
  std::string top = dir / "D";
  MakeDirectories(top + "/sub");
  WriteFileText(top + "/a.txt", "contents of a");
  WriteFileText(top + "/sub/b.txt", "contents of b, in the subdirectory");
  return top;
}

class RecordingObserver : public PackObserver {
 public:
  struct Call {
    std::string path;
    uint32_t size;
    uint32_t packedSize;
    bool packed;
  };
  void OnFile(const char* path, uint32_t size, uint32_t packedSize, bool packed) override {
    calls.push_back({path, size, packedSize, packed});
  }
  std::vector<Call> calls;
};

}  // namespace

TEST(PackTree, ExampleTreeGivesTwoEntriesAndFourNodes) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  std::string path = dir / "tree.pak";
  CPackageManager manager(nullptr, 0);
  RecordingObserver observer;
  CreatePkgTree_Tool(path.c_str(), top.c_str(), &manager, &observer);

  EXPECT_EQ(ReadFileBytes(path),
            BuildArchive({TextEntry(top + "\\a.txt", "contents of a"),
                          TextEntry(top + "\\sub\\b.txt", "contents of b, in the subdirectory")}));
  std::vector<Node> expected = {
      {top + "\\*.*", -1}, {top + "\\a.txt", 0}, {top + "\\sub", 0}, {top + "\\sub\\b.txt", 2}};
  EXPECT_EQ(ListOf(manager), expected);
  EXPECT_EQ(manager.dirList.count, 4);
  EXPECT_EQ(manager.dirList.first, 0);
  EXPECT_EQ(manager.dirList.nodes.size(), 4u);

  ASSERT_EQ(observer.calls.size(), 2u);
  std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(observer.calls[0].path, top + sep + "a.txt");
  EXPECT_EQ(observer.calls[0].size, 13u);
  EXPECT_EQ(observer.calls[0].packedSize, Compress(ToBytes("contents of a")).size());
  EXPECT_TRUE(observer.calls[0].packed);
  EXPECT_EQ(observer.calls[1].path, top + sep + "sub" + sep + "b.txt");

  ExpectMountsAndReadsBack(path,
                           {{top + "\\a.txt", ToBytes("contents of a")},
                            {top + "\\sub\\b.txt", ToBytes("contents of b, in the subdirectory")}});
}

TEST(PackTree, PlainPackingGivesTheSameArchive) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  CPackageManager manager(nullptr, 0);
  CreatePkgTree_Tool((dir / "tree.pak").c_str(), top.c_str(), &manager);
  CreatePkg_Tool((dir / "plain.pak").c_str(), top.c_str());
  EXPECT_EQ(ReadFileBytes(dir / "plain.pak"), ReadFileBytes(dir / "tree.pak"));
}

#ifndef _WIN32
// POSIX lists each directory sorted byte-wise (Windows keeps its own order, and its file
// systems do not tell B.txt from b.txt).
TEST(PackTree, ItemsArePackedInByteWiseNameOrderDepthFirst) {
  TempDir dir;
  std::string top = dir / "T";
  MakeDirectories(top + "/a_dir/inner");
  WriteFileText(top + "/b.txt", "b");
  WriteFileText(top + "/B.txt", "B");
  WriteFileText(top + "/a_dir/inner/x", "x");
  WriteFileText(top + "/a_dir/z", "z");
  WriteFileText(top + "/_", "_");
  CreatePkg_Tool((dir / "t.pak").c_str(), top.c_str());
  std::vector<std::string> names;
  for (const NamedBytes& entry : ReadEntriesBack(dir / "t.pak")) names.push_back(entry.first);
  std::vector<std::string> expected = {top + "\\B.txt", top + "\\_", top + "\\a_dir\\inner\\x",
                                       top + "\\a_dir\\z", top + "\\b.txt"};
  EXPECT_EQ(names, expected);
}

#endif

TEST(PackTree, EmptyTopDirectoryGivesTheEmptyArchiveAndTheRootAlone) {
  TempDir dir;
  std::string top = dir / "empty";
  MakeDirectories(top);
  CPackageManager manager(nullptr, 0);
  CreatePkgTree_Tool((dir / "tree.pak").c_str(), top.c_str(), &manager);
  EXPECT_EQ(ReadFileBytes(dir / "tree.pak"), kEmptyArchive);
  EXPECT_EQ(ListOf(manager), (std::vector<Node>{{top + "\\*.*", -1}}));

  CreatePkg_Tool((dir / "plain.pak").c_str(), top.c_str());
  EXPECT_EQ(ReadFileBytes(dir / "plain.pak"), kEmptyArchive);
  ExpectMountsAndReadsBack(dir / "plain.pak", {});
}

TEST(PackTree, MissingTopDirectoryLeavesTheEmptyArchiveAndTheListUntouched) {
  TempDir dir;
  std::string path = dir / "tree.pak";
  WriteFileText(path, "an older archive, replaced");
  CPackageManager manager(nullptr, 0);
  DirNode node{};
  SetDirNodeName(node, "kept");
  node.parent = 7;
  manager.dirList.nodes.push_back(node);
  manager.dirList.count = 1;
  manager.dirList.first = 0;
  CreatePkgTree_Tool(path.c_str(), (dir / "absent").c_str(), &manager);
  EXPECT_EQ(ReadFileBytes(path), kEmptyArchive);
  EXPECT_EQ(ListOf(manager), (std::vector<Node>{{"kept", 7}}));

  CreatePkg_Tool((dir / "plain.pak").c_str(), (dir / "absent").c_str());
  EXPECT_EQ(ReadFileBytes(dir / "plain.pak"), kEmptyArchive);
}

TEST(PackTree, UnwritableArchivePathChangesNothing) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  CPackageManager manager(nullptr, 0);
  CreatePkgTree_Tool((dir / "no/such/dir.pak").c_str(), top.c_str(), &manager);
  EXPECT_EQ(manager.dirList.count, 0);
  EXPECT_TRUE(manager.dirList.nodes.empty());
  EXPECT_FALSE(FileExists(dir / "no"));
}

TEST(PackTree, EmptySubdirectoryGivesANodeAndNoEntry) {
  TempDir dir;
  std::string top = dir / "D";
  MakeDirectories(top + "/hollow");
  WriteFileText(top + "/z.txt", "zed");
  CPackageManager manager(nullptr, 0);
  CreatePkgTree_Tool((dir / "t.pak").c_str(), top.c_str(), &manager);
  EXPECT_EQ(ListOf(manager),
            (std::vector<Node>{{top + "\\*.*", -1}, {top + "\\hollow", 0}, {top + "\\z.txt", 0}}));
  EXPECT_EQ(ReadFileBytes(dir / "t.pak"), BuildArchive({TextEntry(top + "\\z.txt", "zed")}));
}

TEST(PackTree, EmptyFileIsStoredAsTheEightByteStreamOfNoInput) {
  TempDir dir;
  std::string top = dir / "D";
  MakeDirectories(top);
  WriteFileText(top + "/nothing", "");
  std::string path = dir / "t.pak";
  CreatePkg_Tool(path.c_str(), top.c_str());
  RawEntry entry;
  entry.name = top + "\\nothing";
  entry.stored = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  entry.size = 0;
  EXPECT_EQ(ReadFileBytes(path), BuildArchive({entry}));
  ExpectMountsAndReadsBack(path, {{top + "\\nothing", Bytes()}});
}

#ifndef _WIN32
// Paths of 260 characters and more need no special handling on POSIX; narrow Windows paths
// stop there.
TEST(PackTree, LongPathsArePackedWholeAndOnlyTheNodeNameIsCut) {
  TempDir dir;
  std::string top = dir / "D";
  std::string level1(120, 'a');
  std::string level2(120, 'b');
  std::string file = std::string(100, 'c') + ".txt";
  MakeDirectories(top + "/" + level1 + "/" + level2);
  WriteFileText(top + "/" + level1 + "/" + level2 + "/" + file, "deep");
  CPackageManager manager(nullptr, 0);
  std::string path = dir / "t.pak";
  CreatePkgTree_Tool(path.c_str(), top.c_str(), &manager);

  std::string name = top + "\\" + level1 + "\\" + level2 + "\\" + file;
  ASSERT_GT(name.size(), 340u);
  ExpectMountsAndReadsBack(path, {{name, ToBytes("deep")}});
  ASSERT_EQ(manager.dirList.count, 4);
  const DirNode& node = manager.dirList.nodes[3];
  EXPECT_EQ(std::string(node.name), name.substr(0, 259));
  EXPECT_EQ(node.name[259], '\0');
  EXPECT_EQ(node.parent, 2);
  EXPECT_EQ(std::string(manager.dirList.nodes[2].name),
            (top + "\\" + level1 + "\\" + level2).substr(0, 259));
}

#endif

TEST(PackTree, PackingReplacesAnExistingArchive) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  std::string path = dir / "t.pak";
  WriteFileBytes(path, BuildArchive({TextEntry("old", std::string(5000, 'o'))}));
  CreatePkg_Tool(path.c_str(), top.c_str());
  std::vector<NamedBytes> entries = ReadEntriesBack(path);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].first, top + "\\a.txt");
}

TEST(PackTree, TreeReplacesTheListOfAMountingManager) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  std::string mounted = dir / "m.pak";
  WriteFileBytes(mounted, BuildArchive({TextEntry("x", "x")}));
  CPackageManager manager(nullptr, 0);
  ASSERT_TRUE(manager.MountPackage(mounted.c_str()));
  ASSERT_EQ(manager.dirList.nodes.size(), 1u);  // "Root"
  CreatePkgTree_Tool((dir / "t.pak").c_str(), top.c_str(), &manager);
  EXPECT_EQ(manager.dirList.count, 4);
  ASSERT_EQ(manager.dirList.nodes.size(), 4u);
  EXPECT_EQ(std::string(manager.dirList.nodes[0].name), top + "\\*.*");
  EXPECT_EQ(manager.dirList.nodes[3].parent, 2);
}

TEST(PackTree, EntryNamesFollowTheDirectoryTextAsGiven) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  // The same directory under other texts: with a detour, and relative to the working directory
  // (where one exists: on Windows the two may lie on different drives).
  std::vector<std::string> texts = {top, top + "/../D"};
  std::string relative =
      std::filesystem::relative(std::filesystem::path(top), std::filesystem::current_path())
          .generic_string();
  if (!relative.empty()) texts.push_back(relative);
  Bytes first;
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(texts[i]);
    std::string path = dir / ("t" + std::to_string(i) + ".pak");
    CreatePkg_Tool(path.c_str(), texts[i].c_str());
    std::vector<NamedBytes> entries = ReadEntriesBack(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, texts[i] + "\\a.txt");
    EXPECT_EQ(entries[1].first, texts[i] + "\\sub\\b.txt");
    EXPECT_EQ(entries[0].second, ToBytes("contents of a"));
  }
}

TEST(PackTree, SingleFileAndDirectoryHelpers) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  std::string path = dir / "h.pak";
  std::string file = top + "/a.txt";
  CPackageBuilder builder;
  ASSERT_TRUE(builder.Create(path.c_str()));
  RecordingObserver observer;
  AddFileToPkg(file.c_str(), builder, &observer);
  AddFileToPkg((dir / "absent.txt").c_str(), builder, &observer);
  AddDirToPkg((top + "/sub").c_str(), builder, &observer);
  CPackageManager manager(nullptr, 0);
  manager.dirList.nodes.resize(1);
  manager.dirList.count = 1;
  AddDirToPkgTree((top + "/sub").c_str(), builder, &manager, 0, &observer);
  ASSERT_TRUE(builder.Finish());

  // The helpers name entries by the path they are given; the second walk re-adds b.txt.
  std::string b = top + "/sub\\b.txt";
  ExpectMountsAndReadsBack(
      path, {{file, ToBytes("contents of a")}, {b, ToBytes("contents of b, in the subdirectory")}});
  EXPECT_EQ(ReadEntriesBack(path).size(), 2u);
  ASSERT_EQ(observer.calls.size(), 4u);
  EXPECT_FALSE(observer.calls[1].packed);
  EXPECT_EQ(observer.calls[1].size, 0u);
  ASSERT_EQ(manager.dirList.count, 2);
  EXPECT_EQ(std::string(manager.dirList.nodes[1].name), b);
  EXPECT_EQ(manager.dirList.nodes[1].parent, 0);
}

#ifndef _WIN32
TEST(PackTree, LinkedDirectoriesAreNotDescendedAndDanglingLinksGiveNoEntry) {
  TempDir dir;
  std::string top = MakeExampleTree(dir);
  std::filesystem::create_directory_symlink(top, top + "/loop");
  std::filesystem::create_symlink(top + "/a.txt", top + "/link.txt");
  std::filesystem::create_symlink(dir / "nowhere", top + "/dangling");
  CPackageManager manager(nullptr, 0);
  RecordingObserver observer;
  std::string path = dir / "t.pak";
  CreatePkgTree_Tool(path.c_str(), top.c_str(), &manager, &observer);

  std::vector<Node> expected = {{top + "\\*.*", -1},     {top + "\\a.txt", 0},
                                {top + "\\dangling", 0}, {top + "\\link.txt", 0},
                                {top + "\\sub", 0},      {top + "\\sub\\b.txt", 4}};
  EXPECT_EQ(ListOf(manager), expected);
  ASSERT_EQ(observer.calls.size(), 4u);
  EXPECT_FALSE(observer.calls[1].packed);
  ExpectMountsAndReadsBack(path,
                           {{top + "\\a.txt", ToBytes("contents of a")},
                            {top + "\\link.txt", ToBytes("contents of a")},
                            {top + "\\sub\\b.txt", ToBytes("contents of b, in the subdirectory")}});
}
#endif
