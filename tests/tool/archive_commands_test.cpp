// pack, list, extract, cat and verify, run on archives that the tests make or write byte by byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tool/tool_runner.h"

namespace {

namespace fs = std::filesystem;

struct Record {
  std::string name;
  uint32_t flags, offset, size, packedSize;
};

// Reads the index of an archive file independently of the library.
std::vector<Record> ParseIndex(const Bytes& file) {
  std::vector<Record> records;
  uint32_t count = GetU32(file, 4);
  size_t at = GetU32(file, 8);
  for (uint32_t i = 0; i < count; ++i) {
    size_t length = file[at] | (file[at + 1] << 8);
    Record record;
    record.name.assign(reinterpret_cast<const char*>(&file[at + 2]), length);
    at += 2 + length;
    record.flags = GetU32(file, at);
    record.offset = GetU32(file, at + 4);
    record.size = GetU32(file, at + 8);
    record.packedSize = GetU32(file, at + 12);
    at += 16;
    records.push_back(record);
  }
  return records;
}

std::string LongText() {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + " of the long file\n";
  return text;
}

// assets/a.txt, assets/sub/b.txt and the empty assets/sub/empty.bin under root.
void MakeTree(const std::string& root) {
  MakeDirectories(root + "/assets/sub");
  WriteFileText(root + "/assets/a.txt", "hello");
  WriteFileText(root + "/assets/sub/b.txt", LongText());
  WriteFileBytes(root + "/assets/sub/empty.bin", Bytes());
}

TEST(ToolPack, PacksATreeWithPathNamesAndASummary) {
  TempDir dir;
  MakeTree(dir.Path());
  ToolResult result = RunKorvo({"pack", "game.pak", "assets"}, dir.Path(), dir.Path());
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.err, "");  // no progress bar without a terminal
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 1u) << result.out;
  EXPECT_EQ(lines[0].rfind("packed game.pak: 3 entries, ", 0), 0u) << lines[0];

  Bytes file = ReadFileBytes(dir / "game.pak");
  EXPECT_EQ(GetU32(file, 0), 100u);
  std::vector<Record> records = ParseIndex(file);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].name, "assets\\a.txt");
  EXPECT_EQ(records[1].name, "assets\\sub\\b.txt");
  EXPECT_EQ(records[2].name, "assets\\sub\\empty.bin");
  EXPECT_EQ(records[0].offset, 16u);
  EXPECT_EQ(records[0].size, 5u);
  EXPECT_EQ(records[0].packedSize, Compress(ToBytes("hello")).size());
  EXPECT_EQ(records[1].size, LongText().size());
  EXPECT_EQ(records[2].size, 0u);
  EXPECT_EQ(records[2].packedSize, 8u);

  // A trailing slash, -C and -q give the same archive without output.
  MakeDirectories(dir / "elsewhere");
  ToolResult quiet = RunKorvo({"pack", "-q", "-C", dir.Path(), "elsewhere/again.pak", "assets/"},
                              dir.Path(), dir.Path());
  ASSERT_EQ(quiet.code, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(ReadFileBytes(dir / "elsewhere/again.pak"), file);
}

TEST(ToolPack, ReplacesAnArchiveAndRefusesToPackItIntoItself) {
  TempDir dir;
  MakeTree(dir.Path());
  WriteFileText(dir / "game.pak", "old content that must go");
  ASSERT_EQ(RunKorvo({"pack", "-q", "game.pak", "assets"}, dir.Path(), dir.Path()).code, 0);
  EXPECT_EQ(ParseIndex(ReadFileBytes(dir / "game.pak")).size(), 3u);

  ToolResult inside = RunKorvo({"pack", "assets/sub/self.pak", "assets"}, dir.Path(), dir.Path());
  EXPECT_EQ(inside.code, 1);
  EXPECT_EQ(inside.err,
            "korvo: assets/sub/self.pak: lies inside the directory being packed; write it "
            "elsewhere\n");
  EXPECT_FALSE(FileExists(dir / "assets/sub/self.pak"));
}

TEST(ToolPack, ShowsAProgressBarOnlyOnATerminal) {
  if (!ShellSucceeds("command -v script")) GTEST_SKIP() << "script(1) is not installed";
  TempDir dir;
  MakeTree(dir.Path());
  std::string command = "cd " + ShellQuote(dir.Path()) + " && script -qec " +
                        ShellQuote(ShellQuote(KORVO_TOOL_PATH) + " pack game.pak assets") +
                        " /dev/null >" + ShellQuote(dir / "typescript") + " 2>&1";
  ASSERT_TRUE(ShellSucceeds("(" + command + ")"));
  std::string screen = ReadText(dir / "typescript");
  EXPECT_NE(screen.find("3/3 files"), std::string::npos) << screen;
  EXPECT_NE(screen.find('\r'), std::string::npos);
  EXPECT_NE(screen.find("packed game.pak: 3 entries"), std::string::npos) << screen;
}

TEST(ToolList, ListsEveryEntryAsTextAndJson) {
  TempDir dir;
  RawEntry a = TextEntry("data\\a.txt", "hello");
  RawEntry empty = TextEntry("Data/Empty.bin", "");
  WriteFileBytes(dir / "x.pak", BuildArchive({a, empty}));
  ToolResult result = RunKorvo({"list", "x.pak"}, dir.Path(), dir.Path());
  ASSERT_EQ(result.code, 0) << result.err;
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 2u);
  std::string packed = std::to_string(a.stored.size());
  char ratio[16];
  std::snprintf(ratio, sizeof(ratio), "%.1f%%", 100.0 * a.stored.size() / 5.0);
  EXPECT_EQ(Fields(lines[0]), (std::vector<std::string>{"data\\a.txt", "5", packed, ratio, "16"}));
  EXPECT_EQ(Fields(lines[1]), (std::vector<std::string>{"Data/Empty.bin", "0", "8", "-",
                                                        std::to_string(16 + a.stored.size())}));

  ToolResult json = RunKorvo({"list", "--json", "x.pak"}, dir.Path(), dir.Path());
  ASSERT_EQ(json.code, 0) << json.err;
  nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["archive"], "x.pak");
  ASSERT_EQ(document["entries"].size(), 2u);
  EXPECT_EQ(document["entries"][0]["name"], "data\\a.txt");
  EXPECT_EQ(document["entries"][0]["size"], 5);
  EXPECT_EQ(document["entries"][0]["packedSize"], a.stored.size());
  EXPECT_EQ(document["entries"][0]["offset"], 16);
  EXPECT_EQ(document["entries"][0]["flags"], 0);
  EXPECT_DOUBLE_EQ(document["entries"][0]["ratio"].get<double>(), a.stored.size() / 5.0);
  EXPECT_TRUE(document["entries"][1]["ratio"].is_null());

  // An archive with no entries lists nothing; a name with a line break stays on its line.
  WriteFileBytes(dir / "none.pak", BuildArchive({}));
  ToolResult none = RunKorvo({"list", "none.pak"}, dir.Path(), dir.Path());
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(none.out, "");
  WriteFileBytes(dir / "odd.pak", BuildArchive({TextEntry("two\nlines", "x")}));
  ToolResult odd = RunKorvo({"list", "odd.pak"}, dir.Path(), dir.Path());
  ASSERT_EQ(Lines(odd.out).size(), 1u);
  EXPECT_EQ(Fields(odd.out)[0], "two\\x0Alines");
}

TEST(ToolCat, WritesTheEntryBytesExactly) {
  TempDir dir;
  std::string binary("\x00\x01\xFFzero\x00bytes", 12);
  WriteFileBytes(dir / "x.pak",
                 BuildArchive({TextEntry("bin\\blob.dat", binary), TextEntry("t.txt", "text")}));
  ToolResult exact = RunKorvo({"cat", "x.pak", "bin\\blob.dat"}, dir.Path(), dir.Path());
  EXPECT_EQ(exact.code, 0);
  EXPECT_EQ(exact.out, binary);
  ToolResult loose = RunKorvo({"cat", "x.pak", "BIN/Blob.DAT"}, dir.Path(), dir.Path());
  EXPECT_EQ(loose.code, 0);
  EXPECT_EQ(loose.out, binary);
  ToolResult missing = RunKorvo({"cat", "x.pak", "nope"}, dir.Path(), dir.Path());
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "korvo: x.pak: no entry named 'nope'\n");
}

TEST(ToolExtract, WritesEveryEntryOrTheNamedOnesWithSlashes) {
  TempDir dir;
  MakeTree(dir.Path());
  ASSERT_EQ(RunKorvo({"pack", "-q", "game.pak", "assets"}, dir.Path(), dir.Path()).code, 0);
  ToolResult all = RunKorvo({"extract", "game.pak", "-o", "out"}, dir.Path(), dir.Path());
  ASSERT_EQ(all.code, 0) << all.err;
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(FilesBelow(dir / "out"),
            (std::vector<std::string>{"assets/a.txt", "assets/sub/b.txt", "assets/sub/empty.bin"}));
  EXPECT_EQ(ReadText(dir / "out/assets/a.txt"), "hello");
  EXPECT_EQ(ReadText(dir / "out/assets/sub/b.txt"), LongText());
  EXPECT_EQ(ReadFileBytes(dir / "out/assets/sub/empty.bin").size(), 0u);

  ToolResult some = RunKorvo({"extract", "-q", "game.pak", "-o", "some", "ASSETS/SUB/B.TXT"},
                             dir.Path(), dir.Path());
  ASSERT_EQ(some.code, 0) << some.err;
  EXPECT_EQ(some.out, "");
  EXPECT_EQ(FilesBelow(dir / "some"), (std::vector<std::string>{"assets/sub/b.txt"}));

  ToolResult missing =
      RunKorvo({"extract", "game.pak", "-o", "none", "assets\\a.txt", "nothing.txt"}, dir.Path(),
               dir.Path());
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "korvo: game.pak: no entry named 'nothing.txt'\n");
  EXPECT_EQ(FilesBelow(dir / "none"), (std::vector<std::string>{"assets/a.txt"}));
}

TEST(ToolExtract, RefusesNamesThatLeaveTheOutputDirectory) {
  TempDir dir;
  MakeDirectories(dir / "out");
  std::string absolute = dir / "absolute.txt";
  WriteFileBytes(
      dir / "evil.pak",
      BuildArchive({TextEntry("../up.txt", "x"), TextEntry(absolute, "x"),
                    TextEntry("\\rooted.txt", "x"), TextEntry("a\\..\\..\\twice.txt", "x"),
                    TextEntry("C:\\drive.txt", "x"), TextEntry("dir\\", "x"),
                    TextEntry("good\\.\\fine.txt", "fine")}));
  ToolResult result = RunKorvo({"extract", "evil.pak", "-o", "out"}, dir.Path(), dir.Path());
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(
      result.err,
      "korvo: evil.pak: entry '../up.txt': refused: name has a '..' component\n"
      "korvo: evil.pak: entry '" +
          absolute +
          "': refused: absolute name\n"
          "korvo: evil.pak: entry '\\rooted.txt': refused: absolute name\n"
          "korvo: evil.pak: entry 'a\\..\\..\\twice.txt': refused: name has a '..' component\n"
          "korvo: evil.pak: entry 'C:\\drive.txt': refused: absolute name (drive prefix)\n"
          "korvo: evil.pak: entry 'dir\\': refused: name ends in a separator (a directory, "
          "not a file)\n");
  EXPECT_EQ(result.out, "extracted 1 of 7 entries (4 B) to out\n");
  EXPECT_EQ(FilesBelow(dir / "out"), (std::vector<std::string>{"good/fine.txt"}));
  EXPECT_EQ(FilesBelow(dir.Path()), (std::vector<std::string>{"evil.pak", "out/good/fine.txt"}));
}

TEST(ToolExtract, DoesNotFollowSymbolicLinksOutOfTheOutputDirectory) {
  TempDir dir;
  MakeDirectories(dir / "out");
  MakeDirectories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "out/link");
  WriteFileText(dir / "elsewhere/target.txt", "keep");
  fs::create_symlink(dir / "elsewhere/target.txt", dir / "out/file.txt");
  WriteFileBytes(dir / "x.pak", BuildArchive({TextEntry("link\\planted.txt", "bad"),
                                              TextEntry("file.txt", "overwrite")}));
  ToolResult result = RunKorvo({"extract", "-q", "x.pak", "-o", "out"}, dir.Path(), dir.Path());
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(Lines(result.err).size(), 2u) << result.err;
  EXPECT_NE(result.err.find("refusing to pass through the symbolic link"), std::string::npos);
  EXPECT_NE(result.err.find("refusing to write through the symbolic link"), std::string::npos);
  EXPECT_EQ(FilesBelow(dir / "elsewhere"), (std::vector<std::string>{"target.txt"}));
  EXPECT_EQ(ReadText(dir / "elsewhere/target.txt"), "keep");
}

TEST(ToolVerify, PassesASoundArchive) {
  TempDir dir;
  MakeTree(dir.Path());
  ASSERT_EQ(RunKorvo({"pack", "-q", "game.pak", "assets"}, dir.Path(), dir.Path()).code, 0);
  ToolResult result = RunKorvo({"verify", "game.pak"}, dir.Path(), dir.Path());
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out, "game.pak: ok, 3 entries sound\n");
  EXPECT_EQ(result.err, "");
  WriteFileBytes(dir / "none.pak", BuildArchive({}));
  EXPECT_EQ(RunKorvo({"verify", "-q", "none.pak"}, dir.Path(), dir.Path()).code, 0);
}

TEST(ToolVerify, ListsEveryBadEntry) {
  TempDir dir;
  RawEntry good = TextEntry("good.txt", "all fine here");
  RawEntry corrupt = TextEntry("corrupt.txt", "some text that will be damaged");
  corrupt.stored.back() ^= 0xFF;  // the Adler-32 check value
  RawEntry wrongSize = TextEntry("size.txt", "twelve bytes");
  wrongSize.size = 13;
  RawEntry cut = TextEntry("cut.txt", "a text whose zlib stream is cut short");
  cut.stored.resize(cut.stored.size() - 6);
  RawEntry again = TextEntry("good.txt", "all fine here");
  Bytes file = BuildArchive({good, corrupt, wrongSize, cut, again, TextEntry("far.txt", "x")});
  // The last record's data offset points past the data region.
  size_t lastOffsetField = file.size() - 12;
  file[lastOffsetField] = 0xF0;
  file[lastOffsetField + 1] = 0xFF;
  WriteFileBytes(dir / "bad.pak", file);

  ToolResult result = RunKorvo({"verify", "bad.pak"}, dir.Path(), dir.Path());
  EXPECT_EQ(result.code, 1);
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 5u) << result.out;
  EXPECT_EQ(lines[0], "bad entry 2 'corrupt.txt': zlib data is corrupt (incorrect data check)");
  EXPECT_EQ(lines[1], "bad entry 3 'size.txt': inflates to 12 bytes, index records 13");
  EXPECT_EQ(lines[2].rfind("bad entry 4 'cut.txt': zlib data is cut short after ", 0), 0u)
      << lines[2];
  EXPECT_EQ(lines[3], "bad entry 5 'good.txt': same name as entry 1");
  uint32_t indexOffset = GetU32(file, 8);
  EXPECT_EQ(lines[4],
            "bad entry 6 'far.txt': data at offset 65520 (9 bytes) lies outside the "
            "data region 16.." +
                std::to_string(indexOffset));
  EXPECT_EQ(result.err, "korvo: bad.pak: damaged: 5 of 6 entries bad, 0 index problems\n");
}

TEST(ToolVerify, ChecksTheHeaderAndIndexAgainstTheFile) {
  TempDir dir;
  Bytes sound = BuildArchive({TextEntry("a.txt", "abc"), TextEntry("b.txt", "defg")});
  uint32_t indexOffset = GetU32(sound, 8);

  Bytes trailing = sound;
  PutText(trailing, "xyz");
  Bytes staleSize = sound;
  staleSize[12] = 1;
  Bytes shortIndex(sound.begin(), sound.end() - 5);
  Bytes badOffset = sound;
  badOffset[8] = 0xFF;
  badOffset[9] = 0xFF;
  Bytes tooShort(sound.begin(), sound.begin() + 10);
  Bytes negative = sound;
  negative[7] = 0x80;

  struct Case {
    const char* name;
    Bytes bytes;
    std::string out;
    std::string err;
  } cases[] = {
      {"trailing.pak", trailing, "bad index: 3 bytes after the end of the index\n",
       "korvo: trailing.pak: damaged: 0 of 2 entries bad, 1 index problems\n"},
      {"stale.pak", staleSize,
       "bad index: header index size 1 differs from the 46 bytes of the index\n",
       "korvo: stale.pak: damaged: 0 of 2 entries bad, 1 index problems\n"},
      {"short.pak", shortIndex, "",
       "korvo: short.pak: damaged index: record 2 of 2 at offset " +
           std::to_string(indexOffset + 23) + " runs past the end of the file\n"},
      {"offset.pak", badOffset, "",
       "korvo: offset.pak: damaged header: index offset 65535 lies outside the file (" +
           std::to_string(sound.size()) + " bytes)\n"},
      {"tiny.pak", tooShort, "",
       "korvo: tiny.pak: not a package archive: 10 bytes, shorter than its header\n"},
      {"negative.pak", negative, "",
       "korvo: negative.pak: damaged header: entry count 2147483650 is out of range\n"},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / c.name, c.bytes);
    ToolResult result = RunKorvo({"verify", c.name}, dir.Path(), dir.Path());
    EXPECT_EQ(result.code, 1) << c.name;
    EXPECT_EQ(result.out, c.out) << c.name;
    EXPECT_EQ(result.err, c.err) << c.name;
  }
}

}  // namespace
