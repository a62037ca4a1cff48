// add and del: single-entry edits through the tool, and the checks that keep them from
// rewriting a file that is no sound archive.
#include <gtest/gtest.h>

#include "tool/tool_runner.h"

namespace {

// Names and contents of an archive as the tool lists and prints them.
std::vector<std::string> EntryNames(const std::string& dir, const std::string& archive) {
  ToolResult result = RunKorvo({"list", archive}, dir, dir);
  std::vector<std::string> names;
  for (const std::string& line : Lines(result.out)) names.push_back(Fields(line)[0]);
  return names;
}

std::string Cat(const std::string& dir, const std::string& archive, const std::string& name) {
  return RunKorvo({"cat", archive, name}, dir, dir).out;
}

class ToolEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir / "game.pak",
                   BuildArchive({TextEntry("a.txt", "first"), TextEntry("b.txt", "second entry"),
                                 TextEntry("c.txt", "third")}));
    WriteFileText(dir / "new.txt", "brand new content");
  }
  TempDir dir;
};

TEST_F(ToolEdit, AddsAndReplacesEntries) {
  ToolResult added =
      RunKorvo({"add", "game.pak", "new.txt", "data\\new.txt"}, dir.Path(), dir.Path());
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_EQ(added.err, "");
  EXPECT_EQ(added.out.rfind("added 'data\\new.txt' in game.pak: 17 bytes, ", 0), 0u) << added.out;
  EXPECT_EQ(EntryNames(dir.Path(), "game.pak"),
            (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "data\\new.txt"}));
  EXPECT_EQ(Cat(dir.Path(), "game.pak", "data/new.txt"), "brand new content");

  WriteFileText(dir / "b2.txt", "the second entry, replaced");
  ToolResult replaced = RunKorvo({"add", "game.pak", "b2.txt", "b.txt"}, dir.Path(), dir.Path());
  ASSERT_EQ(replaced.code, 0) << replaced.err;
  EXPECT_EQ(replaced.out.rfind("replaced 'b.txt' in game.pak: 26 bytes, ", 0), 0u) << replaced.out;
  EXPECT_EQ(EntryNames(dir.Path(), "game.pak"),
            (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "data\\new.txt"}));
  EXPECT_EQ(Cat(dir.Path(), "game.pak", "b.txt"), "the second entry, replaced");
  EXPECT_EQ(RunKorvo({"verify", "game.pak"}, dir.Path(), dir.Path()).code, 0);
}

TEST_F(ToolEdit, DeletesEntriesByExactOrLooseName) {
  ToolResult exact = RunKorvo({"del", "game.pak", "b.txt"}, dir.Path(), dir.Path());
  ASSERT_EQ(exact.code, 0) << exact.err;
  EXPECT_EQ(exact.out, "deleted 'b.txt' from game.pak\n");
  EXPECT_EQ(EntryNames(dir.Path(), "game.pak"), (std::vector<std::string>{"a.txt", "c.txt"}));
  ToolResult loose = RunKorvo({"del", "-q", "game.pak", "C.TXT"}, dir.Path(), dir.Path());
  ASSERT_EQ(loose.code, 0) << loose.err;
  EXPECT_EQ(loose.out, "");
  EXPECT_EQ(EntryNames(dir.Path(), "game.pak"), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(Cat(dir.Path(), "game.pak", "a.txt"), "first");
  EXPECT_EQ(RunKorvo({"verify", "game.pak"}, dir.Path(), dir.Path()).code, 0);
}

TEST_F(ToolEdit, DeletesAfterAReplacementMovedDataBehindLaterEntries) {
  // Replacing a.txt puts its data behind c.txt's, so data order no longer follows index order.
  WriteFileText(dir / "a2.txt", "first, written again and longer");
  ASSERT_EQ(RunKorvo({"add", "-q", "game.pak", "a2.txt", "a.txt"}, dir.Path(), dir.Path()).code, 0);
  ASSERT_EQ(RunKorvo({"del", "-q", "game.pak", "b.txt"}, dir.Path(), dir.Path()).code, 0);
  ToolResult verify = RunKorvo({"verify", "game.pak"}, dir.Path(), dir.Path());
  EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
  EXPECT_EQ(Cat(dir.Path(), "game.pak", "a.txt"), "first, written again and longer");
  EXPECT_EQ(Cat(dir.Path(), "game.pak", "c.txt"), "third");
  ASSERT_EQ(RunKorvo({"del", "-q", "game.pak", "a.txt"}, dir.Path(), dir.Path()).code, 0);
  EXPECT_EQ(RunKorvo({"verify", "game.pak"}, dir.Path(), dir.Path()).code, 0);
  EXPECT_EQ(Cat(dir.Path(), "game.pak", "c.txt"), "third");
}

TEST_F(ToolEdit, RefusesWithoutTouchingTheArchive) {
  Bytes before = ReadFileBytes(dir / "game.pak");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"add", "game.pak", "missing.txt", "x"}, "korvo: missing.txt: no such file\n"},
      {{"add", "game.pak", ".", "x"}, "korvo: .: not a regular file\n"},
      {{"del", "game.pak", "nothing.txt"}, "korvo: game.pak: no entry named 'nothing.txt'\n"},
      {{"add", "missing.pak", "new.txt", "x"}, "korvo: missing.pak: no such file\n"},
      {{"del", "missing.pak", "x"}, "korvo: missing.pak: no such file\n"},
  };
  for (const Case& c : cases) {
    ToolResult result = RunKorvo(c.args, dir.Path(), dir.Path());
    EXPECT_EQ(result.code, 1) << c.err;
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(ReadFileBytes(dir / "game.pak"), before);
  EXPECT_FALSE(FileExists(dir / "missing.pak"));
}

TEST_F(ToolEdit, NeverRewritesAFileThatIsNoSoundArchive) {
  // A picture, a truncated archive and one whose entry data lies outside the file: editing
  // any of them in place would destroy data.
  Bytes picture = ToBytes(std::string("\x89PNG\r\n\x1A\n", 8) + std::string(40, 'p'));
  WriteFileBytes(dir / "picture.png", picture);
  Bytes archive = ReadFileBytes(dir / "game.pak");
  Bytes truncated(archive.begin(), archive.end() - 3);
  WriteFileBytes(dir / "truncated.pak", truncated);
  Bytes stray = archive;
  stray[stray.size() - 1] = 0x7F;  // c.txt's packed size reaches far past the data region
  WriteFileBytes(dir / "stray.pak", stray);

  ToolResult png = RunKorvo({"add", "picture.png", "new.txt", "x"}, dir.Path(), dir.Path());
  EXPECT_EQ(png.code, 1);
  EXPECT_EQ(png.err,
            "korvo: picture.png: not a package archive: header tag is 1196314761, not "
            "100\n");
  ToolResult cut = RunKorvo({"del", "truncated.pak", "a.txt"}, dir.Path(), dir.Path());
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.err.find("korvo: truncated.pak: damaged index: record 3 of 3"), std::string::npos)
      << cut.err;
  ToolResult far = RunKorvo({"del", "stray.pak", "a.txt"}, dir.Path(), dir.Path());
  EXPECT_EQ(far.code, 1);
  EXPECT_EQ(far.err.rfind("korvo: stray.pak: refusing to edit a damaged archive: entry 'c.txt': "
                          "data at offset ",
                          0),
            0u)
      << far.err;
  EXPECT_EQ(ReadFileBytes(dir / "picture.png"), picture);
  EXPECT_EQ(ReadFileBytes(dir / "truncated.pak"), truncated);
  EXPECT_EQ(ReadFileBytes(dir / "stray.pak"), stray);
}

TEST_F(ToolEdit, AsksForTheExactNameWhenSeveralEntriesMatch) {
  WriteFileBytes(dir / "two.pak", BuildArchive({TextEntry("Data\\A.txt", "upper"),
                                                TextEntry("data/a.txt", "lower")}));
  ToolResult result = RunKorvo({"del", "two.pak", "DATA/A.TXT"}, dir.Path(), dir.Path());
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err,
            "korvo: two.pak: 'DATA/A.TXT' matches several entries ('Data\\A.txt', "
            "'data/a.txt'); give the exact name\n");
  ASSERT_EQ(RunKorvo({"del", "-q", "two.pak", "data/a.txt"}, dir.Path(), dir.Path()).code, 0);
  EXPECT_EQ(EntryNames(dir.Path(), "two.pak"), (std::vector<std::string>{"Data\\A.txt"}));
}

}  // namespace
