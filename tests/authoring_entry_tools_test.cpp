// Adding and deleting single entries, with the directory-node list kept in step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authoring/entry_tools.h"
#include "authoring/pack_tree.h"
#include "manager/package_manager.h"
#include "support/archive_bytes.h"
#include "support/authoring_checks.h"

namespace {

const char kTextA[] = "contents of a";
const char kTextB[] = "contents of b, in the subdirectory";
const char kTextC[] = "the file that gets added";

struct Node {
  std::string name;
  int32_t parent;
  bool operator==(const Node& other) const { return name == other.name && parent == other.parent; }
};

std::ostream& operator<<(std::ostream& out, const Node& node) {
  return out << "{" << node.name << ", " << node.parent << "}";
}

// The list of D / a.txt / sub / b.txt, packed into an archive, with a source file to add.
class EntryTools : public ::testing::Test {
 protected:
  void SetUp() override {
    top = dir / "D";
    MakeDirectories(top + "/sub");
    WriteFileText(top + "/a.txt", kTextA);
    WriteFileText(top + "/sub/b.txt", kTextB);
    source = dir / "c.txt";
    WriteFileText(source, kTextC);
    archive = dir / "tree.pak";
    CreatePkgTree_Tool(archive.c_str(), top.c_str(), &manager);
    ASSERT_EQ(manager.dirList.count, 4);
  }

  std::vector<Node> List() const {
    std::vector<Node> result;
    for (int32_t i = 0; i < manager.dirList.count; ++i) {
      result.push_back({manager.dirList.nodes.at(i).name, manager.dirList.nodes.at(i).parent});
    }
    return result;
  }

  std::string Name(const std::string& tail) const { return top + "\\" + tail; }

  RawEntry EntryA() const { return TextEntry(Name("a.txt"), kTextA); }
  RawEntry EntryB() const { return TextEntry(Name("sub\\b.txt"), kTextB); }

  void AppendNode(const std::string& name, int32_t parent) {
    DirNode node{};
    SetDirNodeName(node, name.c_str());
    node.parent = parent;
    manager.dirList.nodes.push_back(node);
    ++manager.dirList.count;
  }

  TempDir dir;
  std::string top;
  std::string source;
  std::string archive;
  CPackageManager manager{nullptr, 0};
};

}  // namespace

TEST_F(EntryTools, AddingUnderASubdirectoryTakesTheSubdirectoryAsParent) {
  std::string name = Name("sub\\c.txt");
  DebugOutputCapture capture;
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), name.c_str(), &manager));
  EXPECT_EQ(capture.Text(), "");
  EXPECT_EQ(manager.dirList.count, 5);
  EXPECT_EQ(List().back(), (Node{name, 2}));
  EXPECT_EQ(ReadFileBytes(archive), BuildArchive({EntryA(), EntryB(), TextEntry(name, kTextC)}));
  ExpectMountsAndReadsBack(archive, {{Name("a.txt"), ToBytes(kTextA)},
                                     {Name("sub\\b.txt"), ToBytes(kTextB)},
                                     {name, ToBytes(kTextC)}});
}

TEST_F(EntryTools, ParentIsTheUppermostContainingNodeNotTheNearest) {
  AppendNode(Name("sub\\deep"), 2);
  std::string name = Name("sub\\deep\\x.txt");
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), name.c_str(), &manager));
  EXPECT_EQ(List().back(), (Node{name, 2}));
  EXPECT_EQ(manager.dirList.count, 6);
}

TEST_F(EntryTools, AFileNodeCanBeTheParent) {
  std::string name = Name("a.txt2");
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), name.c_str(), &manager));
  EXPECT_EQ(List().back(), (Node{name, 1}));
}

TEST_F(EntryTools, ANameContainingNoNodeGetsParentZero) {
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), "elsewhere\\c.txt", &manager));
  EXPECT_EQ(List().back(), (Node{"elsewhere\\c.txt", 0}));
  ExpectMountsAndReadsBack(archive, {{Name("a.txt"), ToBytes(kTextA)},
                                     {Name("sub\\b.txt"), ToBytes(kTextB)},
                                     {"elsewhere\\c.txt", ToBytes(kTextC)}});
}

TEST_F(EntryTools, AddingAnExistingNameReplacesTheDataAndAddsASecondNode) {
  std::string name = Name("a.txt");
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), name.c_str(), &manager));
  EXPECT_EQ(manager.dirList.count, 5);
  EXPECT_EQ(List()[1], (Node{name, 0}));
  EXPECT_EQ(List()[4], (Node{name, 1}));
  std::vector<NamedBytes> entries = ReadEntriesBack(archive);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], NamedBytes(name, ToBytes(kTextC)));
  ExpectMountsAndReadsBack(archive,
                           {{name, ToBytes(kTextC)}, {Name("sub\\b.txt"), ToBytes(kTextB)}});
}

TEST_F(EntryTools, DeletingAFileRenumbersTheParentsBehindIt) {
  DebugOutputCapture capture;
  EXPECT_TRUE(DelPkgFile_Tool(archive.c_str(), Name("a.txt").c_str(), &manager));
  EXPECT_EQ(capture.Text(), "");
  std::vector<Node> expected = {{Name("*.*"), -1}, {Name("sub"), 0}, {Name("sub\\b.txt"), 1}};
  EXPECT_EQ(List(), expected);
  EXPECT_EQ(manager.dirList.nodes.size(), 4u);  // the vector keeps a stale element
  EXPECT_EQ(ReadFileBytes(archive), BuildArchive({EntryB()}));
  ExpectMountsAndReadsBack(archive, {{Name("sub\\b.txt"), ToBytes(kTextB)}});
}

TEST_F(EntryTools, DeletingADirectoryNameRewritesTheArchiveUnchanged) {
  Bytes before = ReadFileBytes(archive);
  EXPECT_TRUE(DelPkgFile_Tool(archive.c_str(), Name("sub").c_str(), &manager));
  std::vector<Node> expected = {{Name("*.*"), -1}, {Name("a.txt"), 0}, {Name("sub\\b.txt"), 2}};
  EXPECT_EQ(List(), expected);
  EXPECT_EQ(ReadFileBytes(archive), before);
}

TEST_F(EntryTools, DeletingANameNoNodeContainsLeavesTheList) {
  std::vector<Node> before = List();
  EXPECT_TRUE(DelPkgFile_Tool(archive.c_str(), "not\\there", &manager));
  EXPECT_EQ(List(), before);
  EXPECT_EQ(ReadFileBytes(archive), BuildArchive({EntryA(), EntryB()}));
}

TEST_F(EntryTools, AddingBehindStaleNodesReusesTheSlotAfterTheList) {
  ASSERT_TRUE(DelPkgFile_Tool(archive.c_str(), Name("a.txt").c_str(), &manager));
  ASSERT_EQ(manager.dirList.count, 3);
  std::string name = Name("sub\\c.txt");
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), name.c_str(), &manager));
  EXPECT_EQ(manager.dirList.count, 4);
  EXPECT_EQ(manager.dirList.nodes.size(), 5u);
  EXPECT_EQ(List()[3], (Node{name, 1}));
  ExpectMountsAndReadsBack(archive,
                           {{Name("sub\\b.txt"), ToBytes(kTextB)}, {name, ToBytes(kTextC)}});
}

TEST_F(EntryTools, OpenFailureSendsBothMessagesInOrderAndChangesNothing) {
  std::string missing = dir / "absent.pak";
  std::vector<Node> before = List();
  {
    OpenAttemptCounter counter;
    DebugOutputCapture capture;
    EXPECT_FALSE(AddPkgFile_Tool(missing.c_str(), source.c_str(), "x", &manager));
    EXPECT_EQ(counter.Attempts(), 2);
    EXPECT_EQ(capture.Text(), "CPackage::Open Failed!\nAddPkgFile_Tool Failed\n");
  }
  {
    DebugOutputCapture capture;
    EXPECT_FALSE(DelPkgFile_Tool(missing.c_str(), Name("a.txt").c_str(), &manager));
    EXPECT_EQ(capture.Text(), "CPackage::Open Failed!\nDelPkgFile_Tool Failed!\n");
  }
  EXPECT_EQ(List(), before);
  EXPECT_EQ(manager.dirList.nodes.size(), 4u);
  EXPECT_FALSE(FileExists(missing));
}

TEST_F(EntryTools, MountedArchiveCannotBeChanged) {
  Bytes before = ReadFileBytes(archive);
  std::vector<Node> list = List();
  CPackageManager reader(nullptr, 0);
  ASSERT_TRUE(reader.MountPackage(archive.c_str()));
  DebugOutputCapture capture;
  EXPECT_FALSE(AddPkgFile_Tool(archive.c_str(), source.c_str(), "x", &manager));
  EXPECT_FALSE(DelPkgFile_Tool(archive.c_str(), Name("a.txt").c_str(), &manager));
  EXPECT_EQ(capture.Text(),
            "CPackage::Open Failed!\nAddPkgFile_Tool Failed\n"
            "CPackage::Open Failed!\nDelPkgFile_Tool Failed!\n");
  EXPECT_EQ(List(), list);
  EXPECT_EQ(ReadFileBytes(archive), before);
}

TEST_F(EntryTools, UnreadableSourceFailsQuietlyAndLeavesEverything) {
  Bytes before = ReadFileBytes(archive);
  std::vector<Node> list = List();
  DebugOutputCapture capture;
  EXPECT_FALSE(AddPkgFile_Tool(archive.c_str(), (dir / "absent.txt").c_str(), "x", &manager));
  EXPECT_FALSE(AddPkgFile_Tool(archive.c_str(), top.c_str(), "x", &manager));  // a directory
  EXPECT_EQ(capture.Text(), "");
  EXPECT_EQ(List(), list);
  EXPECT_EQ(ReadFileBytes(archive), before);
  // The archive was closed: it can be opened again at once.
  EXPECT_TRUE(DelPkgFile_Tool(archive.c_str(), "not\\there", &manager));
}

TEST_F(EntryTools, LongEntryNamesAreStoredWholeAndCutInTheNode) {
  std::string name = Name(std::string(300, 'L') + ".txt");
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), name.c_str(), &manager));
  ASSERT_EQ(manager.dirList.count, 5);
  const DirNode& node = manager.dirList.nodes[4];
  EXPECT_EQ(std::string(node.name), name.substr(0, 259));
  EXPECT_EQ(node.parent, 0);
  ExpectMountsAndReadsBack(archive, {{Name("a.txt"), ToBytes(kTextA)},
                                     {Name("sub\\b.txt"), ToBytes(kTextB)},
                                     {name, ToBytes(kTextC)}});

  // Deleting searches for the whole name within the cut node names: the node stays, the
  // entry goes.
  EXPECT_TRUE(DelPkgFile_Tool(archive.c_str(), name.c_str(), &manager));
  EXPECT_EQ(manager.dirList.count, 5);
  EXPECT_EQ(ReadFileBytes(archive), BuildArchive({EntryA(), EntryB()}));
}

TEST_F(EntryTools, EmptySourceFileGivesTheEmptyStream) {
  std::string empty = dir / "empty.bin";
  WriteFileText(empty, "");
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), empty.c_str(), "empty", &manager));
  std::vector<NamedBytes> entries = ReadEntriesBack(archive);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2], NamedBytes("empty", Bytes()));
  Bytes bytes = ReadFileBytes(archive);
  uint32_t indexOffset = GetU32(bytes, 8);
  ASSERT_GE(indexOffset, 24u);
  // The new data is the last block of the data region.
  Bytes block(bytes.begin() + indexOffset - 8, bytes.begin() + indexOffset);
  EXPECT_EQ(block, (Bytes{0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
}

TEST_F(EntryTools, NullManagerEditsTheArchiveOnly) {
  EXPECT_TRUE(AddPkgFile_Tool(archive.c_str(), source.c_str(), "c", nullptr));
  EXPECT_TRUE(DelPkgFile_Tool(archive.c_str(), Name("a.txt").c_str(), nullptr));
  EXPECT_EQ(manager.dirList.count, 4);
  EXPECT_EQ(ReadFileBytes(archive), BuildArchive({EntryB(), TextEntry("c", kTextC)}));
}
