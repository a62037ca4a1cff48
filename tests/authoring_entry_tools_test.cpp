// Adding and deleting single entries, with the directory-node list kept in step.
#include <gtest/gtest.h>

#include "authoring/entry_tools.h"
#include "compat/pkg_file_tools.h"
#include "support/authoring_checks.h"

using namespace korvo;

namespace {

bool Add(ExampleTree& ex, const std::string& name, const std::string& source = "",
         platform::Env* env = platform::Env::Default()) {
  return AddPkgFile(ex.archive.c_str(), (source.empty() ? ex.source : source).c_str(), name.c_str(),
                    &ex.manager, nullptr, nullptr, env)
      .ok();
}

bool Del(ExampleTree& ex, const std::string& name, platform::Env* env = platform::Env::Default()) {
  return DelPkgFile(ex.archive.c_str(), name.c_str(), &ex.manager, nullptr, nullptr, env).ok();
}

}  // namespace

TEST(EntryTools, AddingTakesTheFirstNodeInsideTheNameAsParentAndDeletingRenumbers) {
  ExampleTree ex, x, y, z;
  EditorWatch watch;
  std::string tails[] = {"sub\\c.txt", "sub\\deep", "sub\\deep\\x.txt", "a.txt2", "else\\c.txt"};
  std::vector<RawEntry> entries = {ex.a, ex.b};
  for (const std::string& tail : tails) {
    EXPECT_TRUE(Add(ex, ex.N(tail), "", &watch));
    entries.push_back(TextEntry(ex.N(tail), "c"));
  }
  // A name over 259 bytes is not stored; its node still goes in, cut to 259 bytes.
  std::string longName = ex.N(std::string(300, 'L'));
  EXPECT_FALSE(Add(ex, longName, "", &watch));
  // The uppermost node, not the nearest; a file's node; none.
  std::string nodes =
      "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2 sub\\c.txt:2 sub\\deep:2 sub\\deep\\x.txt:2 a.txt2:1 "
      "else\\c.txt:0 " +
      std::string(258 - ex.top.size(), 'L') + ":0";
  EXPECT_EQ(ex.Nodes(), nodes);
  EXPECT_TRUE(ArchiveHolds(ex.archive, entries));
  // The whole of a long name is searched for within the cut node names: none holds it.
  EXPECT_TRUE(Del(ex, longName, &watch));
  EXPECT_EQ(ex.Nodes(), nodes);
  EXPECT_TRUE(ArchiveHolds(ex.archive, entries));

  EXPECT_TRUE(Del(x, x.N("a.txt"), &watch));
  EXPECT_TRUE(Del(y, y.N("sub"), &watch));
  EXPECT_TRUE(Del(z, z.N("not\\there"), &watch));
  EXPECT_EQ(x.Nodes(), "*.*:-1 sub:0 sub\\b.txt:1");
  EXPECT_EQ(x.manager.DirNodes().nodes.size(), 4u);  // the vector keeps a stale element
  EXPECT_EQ(y.Nodes(), "*.*:-1 a.txt:0 sub\\b.txt:2");
  EXPECT_EQ(z.Nodes(), "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2");
  EXPECT_TRUE(ArchiveHolds(x.archive, {x.b}));
  EXPECT_TRUE(ArchiveHolds(z.archive, {z.a, z.b}));
  // Behind the stale element, the next node takes the slot after the list.
  EXPECT_TRUE(Add(x, x.N("sub\\c.txt"), "", &watch));
  EXPECT_EQ(x.Nodes(), "*.*:-1 sub:0 sub\\b.txt:1 sub\\c.txt:1");
  EXPECT_TRUE(ArchiveHolds(x.archive, {x.b, TextEntry(x.N("sub\\c.txt"), "c")}));
  // A name added again gets new data, and a second node under the first.
  EXPECT_TRUE(Add(z, z.N("a.txt"), "", &watch));
  EXPECT_EQ(z.Nodes(), "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2 a.txt:1");
  EXPECT_TRUE(ReadsBack(z.archive, {TextEntry(z.N("a.txt"), "c"), z.b}));
  // An empty source gives the 8-byte stream of no input; without a manager only the archive
  // changes.
  WriteFileText(y.dir / "empty", "");
  EXPECT_TRUE(Add(y, "empty", y.dir / "empty", &watch));
  EXPECT_TRUE(AddPkgFile_Tool(y.archive.c_str(), y.source.c_str(), "c", nullptr));
  EXPECT_TRUE(DelPkgFile_Tool(y.archive.c_str(), y.N("a.txt").c_str(), nullptr));
  EXPECT_EQ(y.Nodes(), "*.*:-1 a.txt:0 sub\\b.txt:2 empty:0");
  EXPECT_TRUE(ArchiveHolds(
      y.archive, {y.b, {"empty", {0x78, 0x9C, 3, 0, 0, 0, 0, 1}, 0}, TextEntry("c", "c")}));
  EXPECT_EQ(watch.messages, "");
}

TEST(EntryTools, FailuresChangeNeitherArchiveNorList) {
  ExampleTree ex;
  Bytes before = ReadFileBytes(ex.archive);
  std::string nodes = ex.Nodes();
  {
    CPackageManager reader(nullptr, 0);  // while mounted the archive cannot be opened to edit
    ASSERT_TRUE(reader.MountPackage(ex.archive.c_str()));
    EditorWatch watch;
    EXPECT_FALSE(Add(ex, "x", "", &watch));
    EXPECT_FALSE(Del(ex, ex.N("a.txt"), &watch));
    EXPECT_EQ(watch.attempts, 4);
    EXPECT_EQ(watch.messages,
              "CPackage::Open Failed!\nAddPkgFile_Tool Failed\n"
              "CPackage::Open Failed!\nDelPkgFile_Tool Failed!\n");
  }
  EditorWatch watch;
  EXPECT_FALSE(Add(ex, "x", ex.dir / "absent.txt", &watch));
  EXPECT_FALSE(Add(ex, "x", ex.top, &watch));  // nor a directory
  const std::string absent = ex.dir / "absent.txt";
  EXPECT_EQ(AddPkgFile(ex.archive.c_str(), absent.c_str(), "x", nullptr, nullptr, nullptr, &watch)
                .Message(),
            absent + ": no such file");
  EXPECT_EQ(AddPkgFile(ex.archive.c_str(), ex.top.c_str(), "x", nullptr, nullptr, nullptr, &watch)
                .Message(),
            ex.top + ": not a regular file");
  EXPECT_EQ(watch.messages, "");  // an unreadable source fails quietly
  EXPECT_EQ(ex.Nodes(), nodes);
  EXPECT_EQ(ReadFileBytes(ex.archive), before);
  EXPECT_TRUE(Del(ex, "not\\there", &watch));  // the archive was closed, and is no longer mounted
}
