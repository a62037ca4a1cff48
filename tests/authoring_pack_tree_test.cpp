// Packing directory trees into new archives, with and without the directory-node list.
#include <gtest/gtest.h>

#include <filesystem>

#include "authoring/pack_tree.h"
#include "support/authoring_checks.h"

using namespace korvo;

TEST(PackTree, TheExampleTreeGivesTwoEntriesAndFourNodesNamedByTheDirectoryText) {
  ExampleTree ex;
  EXPECT_EQ(ex.Nodes(), "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2");
  EXPECT_TRUE(ArchiveHolds(ex.archive, {ex.a, ex.b}));
  // Names follow the text as given: with a detour, and relative to the working directory where
  // one exists (on Windows the two may lie on different drives).
  std::string relative = std::filesystem::relative(ex.top).generic_string();
  for (const std::string& t : {ex.top + "/../D", relative.empty() ? ex.top : relative}) {
    CreatePkg_Tool(ex.archive.c_str(), t.c_str());
    EXPECT_TRUE(ArchiveHolds(ex.archive,
                             {TextEntry(t + "\\a.txt", "a"), TextEntry(t + "\\sub\\b.txt", "b")}));
  }
}

TEST(PackTree, EmptyFilesDirectoriesAndMissingOnes) {
  ExampleTree ex;
  std::string hollow = ex.top + "/sub/hollow", nodes = "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2";
  MakeDirectories(hollow);
  WriteFileText(ex.top + "/sub/nothing", "");
  CreatePkgTree_Tool(ex.archive.c_str(), ex.top.c_str(), &ex.manager);
  EXPECT_EQ(ex.Nodes(), nodes + " sub\\hollow:2 sub\\nothing:2");
  // An empty file is stored as the 8-byte stream of no input.
  EXPECT_TRUE(ArchiveHolds(
      ex.archive, {ex.a, ex.b, {ex.N("sub\\nothing"), {0x78, 0x9C, 3, 0, 0, 0, 0, 1}, 0}}));

  // A missing top directory gives the empty archive and leaves the list; an empty one gives the
  // root node alone; a missing archive directory, nothing at all.
  CreatePkgTree_Tool(ex.archive.c_str(), (ex.dir / "absent").c_str(), &ex.manager);
  EXPECT_TRUE(ArchiveHolds(ex.archive, {}));
  EXPECT_EQ(ex.Nodes(), nodes + " sub\\hollow:2 sub\\nothing:2");
  CreatePkg_Tool(ex.archive.c_str(), ex.top.c_str());  // full again, to be replaced
  CreatePkgTree_Tool(ex.archive.c_str(), hollow.c_str(), &ex.manager);
  EXPECT_TRUE(ArchiveHolds(ex.archive, {}));
  CreatePkgTree_Tool((ex.dir / "no/such.pak").c_str(), ex.top.c_str(), &ex.manager);
  EXPECT_EQ(NodeText(ex.manager, hollow), "*.*:-1");
  EXPECT_FALSE(FileExists(ex.dir / "no"));
}

#ifndef _WIN32
// POSIX lists each directory sorted byte-wise, does not descend a link to a directory, packs a
// link to a file as that file, and has no 260-byte path limit: only node names are cut.
TEST(PackTree, PosixWalkSortsByteWiseSkipsDirectoryLinksAndKeepsLongPathsWhole) {
  ExampleTree ex;
  std::string x(120, 'x'), y(140, 'y'), xy = ex.N(x + "\\" + y);
  MakeDirectories(ex.top + "/" + x + "/" + y);
  WriteFileText(ex.top + "/" + x + "/" + y + "/z", "z");
  WriteFileText(ex.top + "/B", "B");
  WriteFileText(ex.top + "/_", "_");
  std::filesystem::create_directory_symlink(ex.top, ex.top + "/loop");
  std::filesystem::create_symlink(ex.top + "/a.txt", ex.top + "/link");
  std::filesystem::create_symlink(ex.dir / "nowhere", ex.top + "/dangling");
  CreatePkgTree_Tool(ex.archive.c_str(), ex.top.c_str(), &ex.manager);
  EXPECT_TRUE(
      ArchiveHolds(ex.archive, {TextEntry(ex.N("B"), "B"), TextEntry(ex.N("_"), "_"), ex.a,
                                TextEntry(ex.N("link"), "a"), ex.b, TextEntry(xy + "\\z", "z")}));
  auto cut = [&](const std::string& name) {
    return name.substr(ex.top.size() + 1, 258 - ex.top.size());
  };
  EXPECT_EQ(ex.Nodes(), "*.*:-1 B:0 _:0 a.txt:0 dangling:0 link:0 sub:0 sub\\b.txt:6 " + x + ":0 " +
                            cut(xy) + ":8 " + cut(xy + "\\z") + ":9");
}
#endif
