// The korvo binary run as a user runs it, on archives and images the tests make.
#include <zlib.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "tool/tool_runner.h"

namespace {

using Tool = ToolTest;

constexpr int ExitZero = 0, ExitOne = 1;

// A PNG whose header claims 16384x16384 RGBA pixels, followed by a 12-byte image data chunk.
Bytes HugeHeaderPng(uint32_t width = 0x4000, uint32_t height = 0x4000) {
  Bytes out = ToBytes(std::string("\x89PNG\r\n\x1A\n", 8));
  auto chunk = [&out](const char* type, const Bytes& data) {
    Bytes typed = ToBytes(type);
    typed.insert(typed.end(), data.begin(), data.end());
    const uint32_t length = static_cast<uint32_t>(data.size());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, typed.data(), typed.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(length >> shift));
    out.insert(out.end(), typed.begin(), typed.end());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(crc >> shift));
  };
  // Width and height (big-endian), 8 bits a sample, colour type 6 (RGBA).
  Bytes header;
  for (uint32_t side : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(uint8_t(side >> shift));
  header.insert(header.end(), {8, 6, 0, 0, 0});
  chunk("IHDR", header);
  chunk("IDAT", {0x78, 0x9C, 0x63, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  chunk("IEND", {});
  return out;
}

TEST_F(Tool, HelpOnEverySubcommandAndUsageErrorsExitTwoWithTheCauseAndAHint) {
  for (std::string name :
       {"pack", "add", "del", "list", "extract", "cat", "verify", "img2png", "png2img", "which",
        "mounts", "conflicts", "diff", "merge", "compact", "view"}) {
    ToolResult help = Run({name, "--help"});
    EXPECT_NE(help.out.find("\nUsage: korvo " + name + " "), std::string::npos) << name;
    EXPECT_NE(help.out.find("\nExample:\n  korvo " + name + " "), std::string::npos) << name;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
    Expect({name, "-h"}, 0, help.out);
  }
  const std::string tile = "--tile: tile size must be WxH with sides 1 to 2048";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "A subcommand is required"},
      {{"frobnicate"}, "unknown subcommand 'frobnicate'"},
      {{"list"}, "archive is required"},
      {{"cat", "a.pak"}, "pattern is required"},
      {{"list", "--bogus", "a.pak"}, "The following argument was not expected: --bogus"},
      {{"extract", "a.pak", "-o"}, "--output: 1 required TEXT missing"},
      {{"add", "a.pak", "file", ""}, "entry-name: entry name must not be empty"},
      {{"add", "a.pak", "file", std::string(260, 'n')},
       "entry-name: entry name is longer than 259 bytes"},
      {{"png2img", "a.png", "-o", "a.img", "--format", "2"}, "--format: 2 not in {1,3}"},
      {{"png2img", "a.png", "-o", "a.img", "--tile", "0x8"}, tile},
      {{"png2img", "a.png", "-o", "a.img", "--tile", "8x2049"}, tile},
      {{"merge", "out.pak"}, "give the archives to merge, or --game, but not both"},
      {{"merge", "out.pak", "a.pak", "--game", "."},
       "give the archives to merge, or --game, but not both"},
      {{"diff", "a.pak"}, "new is required"},
  };
  for (const auto& c : cases) {
    bool sub = !c.first.empty() && c.first[0] != "frobnicate";
    std::string korvo = sub ? "korvo " + c.first[0] : "korvo";
    Expect(c.first, 2, "",
           korvo + ": usage error: " + c.second + "\nRun '" + korvo + " --help' for usage.\n");
  }
}

TEST_F(Tool, FailuresExitOneWithOneLineNamingTheFileAndTouchNothing) {
  Bytes game = BuildArchive(
      {TextEntry("a.txt", "first"), TextEntry("b.txt", "second"), TextEntry("c.txt", "third")});
  Bytes stray = game;
  stray.back() = 0x7F;  // c.txt's packed size reaches past the data region
  WriteFileText(dir / "text.txt", "not an archive at all");
  MakeDirectories(dir / "folder");
  WritePng("a.png", RandomPicture(20, 12, 5));
  WritePng("small.png", RandomPicture(4, 4, 6));
  ASSERT_EQ(Run({"png2img", "-q", "a.png", "-o", "a.img"}).code, 0);
  Bytes image = ReadFileBytes(dir / "a.img"), noFrames(image.begin(), image.begin() + 36);
  noFrames[32] = 0;
  RawEntry corrupt = TextEntry("pic.img", std::string(image.begin(), image.end()));
  corrupt.stored.back() ^= 0xFF;  // the zlib check value
  const std::pair<std::string, Bytes> files[] = {
      {"corrupt.pak", BuildArchive({corrupt})},
      {"pic.pak", BuildArchive({TextEntry("pic.img", std::string(image.begin(), image.end()))})},
      {"game.pak", game},
      {"empty.pak", {}},
      {"truncated.pak", Bytes(game.begin(), game.end() - 3)},
      {"stray.pak", stray},
      {"two.pak", BuildArchive({TextEntry("Data\\A.txt", "upper"), TextEntry("data/a.txt", "")})},
      {"picture.png", ToBytes(std::string("\x89PNG\r\n\x1A\n", 8) + std::string(40, 'p'))},
      {"cut.img", Bytes(image.begin(), image.begin() + 100)},
      {"huge.png", HugeHeaderPng()},
      {"wide.png", HugeHeaderPng(16385, 1)},
      {"tall.png", HugeHeaderPng(1, 20000)},
      {"empty.img", noFrames}};
  for (const auto& file : files) WriteFileBytes(dir / file.first, file.second);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"list", "missing.pak"}, "missing.pak: no such file"},
      {{"list", "empty.pak"}, "empty.pak: empty file, not a package archive"},
      {{"cat", "folder", "x"}, "folder: is a directory"},
      {{"verify", "text.txt"}, "text.txt: not a package archive: header tag is 544501614, not 100"},
      {{"pack", "a.pak", "nodir"}, "nodir: no such directory"},
      {{"add", "game.pak", "missing.txt", "x"}, "missing.txt: no such file"},
      {{"add", "game.pak", "folder", "x"}, "folder: not a regular file"},
      {{"add", "missing.pak", "text.txt", "x"}, "missing.pak: no such file"},
      {{"add", "picture.png", "text.txt", "x"},
       "picture.png: not a package archive: header tag is 1196314761, not 100"},
      {{"del", "truncated.pak", "a.txt"},
       "truncated.pak: damaged index: record 3 of 3 at offset 102 runs past the end of the file"},
      {{"del", "stray.pak", "a.txt"},
       "stray.pak: refusing to edit a damaged archive: entry 'c.txt': data at offset 43 "
       "(2130706445 bytes) lies outside the data region 16..56"},
      {{"add", "stray.pak", "text.txt", "x"},
       "stray.pak: refusing to edit a damaged archive: entry 'c.txt': data at offset 43 "
       "(2130706445 bytes) lies outside the data region 16..56"},
      {{"add", "stray.pak", "text.txt"},
       "stray.pak: refusing to edit a damaged archive: entry 'c.txt': data at offset 43 "
       "(2130706445 bytes) lies outside the data region 16..56"},
      {{"del", "two.pak", "DATA/A.TXT"},
       "two.pak: 'DATA/A.TXT' matches several entries ('Data\\A.txt', 'data/a.txt'); give the "
       "exact name"},
      {{"png2img", "a.png", "small.png", "-o", "x.img"},
       "small.png: 4x4 differs from the first frame's 20x12; every frame must be the same size"},
      {{"png2img", "text.txt", "-o", "x.img"}, "text.txt: not a readable PNG: end of stream"},
      {{"png2img", "folder", "-o", "x.img"}, "folder: is a directory"},
      {{"png2img", "missing.png", "-o", "x.img"},
       "missing.png: cannot open: " + std::string(std::strerror(ENOENT))},
      {{"png2img", "huge.png", "-o", "x.img"},
       "huge.png: not a readable PNG: its data cannot hold 16384x16384 pixels"},
      {{"png2img", "wide.png", "-o", "x.img"},
       "wide.png: image width 16385 exceeds the limit of 16384 pixels"},
      {{"png2img", "tall.png", "-o", "x.img"},
       "tall.png: image height 20000 exceeds the limit of 16384 pixels"},
      {{"png2img", "a.png", "-o", "x.img", "--tile", "3x4"},
       "x.img: cannot build the image: tile width 3 cannot cover 20 pixels in format 3: the "
       "number of tile columns must divide the row into equal tiles of at most 2048 pixels (tile "
       "width 20 does); use --tile 20x4"},
      {{"img2png", "text.txt", "-o", "x.png"},
       "text.txt: not a tiled image file (no KWF/IANI signature)"},
      {{"img2png", "cut.img", "-o", "x.png"},
       "cut.img: damaged tiled image: cut short in tile record 0"},
      {{"img2png", "empty.img", "-o", "x.png"}, "empty.img: image has no frames; nothing written"},
      {{"img2png", "PIC.IMG", "--package", "corrupt.pak", "-o", "x.png"},
       "corrupt.pak: entry 'pic.img': zlib data is corrupt (incorrect data check)"},
      {{"img2png", "a.img", "--package", "game.pak", "-o", "x.png"},
       "game.pak: no entry named 'a.img'"},
      {{"merge", "out.pak", "game.pak", "missing.pak"}, "missing.pak: no such file"},
      {{"merge", "out.pak", "game.pak", "truncated.pak"},
       "truncated.pak: damaged index: record 3 of 3 at offset 102 runs past the end of the file"},
      {{"merge", "out.pak", "game.pak", "stray.pak"},
       "stray.pak: entry 'c.txt': data at offset 43 (2130706445 bytes) lies outside the data "
       "region"},
      {{"diff", "game.pak", "stray.pak", "-o", "out.pak"},
       "stray.pak: entry 'c.txt': data at offset 43 (2130706445 bytes) lies outside the data "
       "region"},
      {{"diff", "pic.pak", "corrupt.pak"},
       "corrupt.pak: entry 'pic.img': zlib data is corrupt (incorrect data check)"},
      {{"compact", "truncated.pak"},
       "truncated.pak: damaged index: record 3 of 3 at offset 102 runs past the end of the file"},
  };
  for (const auto& c : cases) Expect(c.first, 1, "", "korvo: " + c.second + "\n");
  if (!KORVO_TOOL_ON_WINDOWS) {
    Expect({"merge", "out.pak", "--game", "folder"}, 1, "",
           "korvo: " + std::filesystem::canonical(dir / "folder").string() +
               "/package.cfg: cannot open the package list: No such file or directory\n");
  }
  if (!KORVO_TOOL_ON_WINDOWS) {
    // The system's cause, and an archive in use said as such: held by an editor (exclusive
    // lock) or open in a game (shared lock).
    Expect({"extract", "game.pak", "-o", "text.txt/out"}, 1, "",
           "korvo: text.txt/out: cannot create the output directory: Not a directory\n");
    const std::string inUse =
        "korvo: game.pak: another program is editing it, or a game has it "
        "open: Resource temporarily unavailable\n";
    const std::string korvo = Quote(KORVO_TOOL_PATH);
    for (std::string lock : {"-x", "-s"}) {
      for (std::string edit : {" del game.pak a.txt", " add game.pak text.txt a.txt"}) {
        ToolResult locked = Shell("flock " + lock + " game.pak " + korvo + edit);
        EXPECT_EQ(std::tie(locked.code, locked.err), std::tie(ExitOne, inUse)) << lock << edit;
      }
    }
    // Output that cannot be written fails every subcommand, in one line.
    const std::string noSpace = "korvo: standard output: cannot write: No space left on device\n";
    const std::vector<std::string> writers[] = {{"list", "game.pak"},
                                                {"list", "--json", "game.pak"},
                                                {"verify", "game.pak"},
                                                {"which", ".", "text.txt"},
                                                {"mounts", "."},
                                                {"conflicts", "."},
                                                {"diff", "game.pak", "two.pak"},
                                                {"extract", "game.pak", "-o", "full"},
                                                {"cat", "game.pak", "a.txt"},
                                                {"pack", "full.pak", "folder"},
                                                {"img2png", "a.img", "-o", "full.png"}};
    for (const std::vector<std::string>& args : writers) {
      std::string command = korvo;
      for (const std::string& arg : args) command += " " + Quote(arg);
      ToolResult full = Shell(command + " >/dev/full");
      EXPECT_EQ(std::tie(full.code, full.err), std::tie(ExitOne, noSpace)) << args[0];
    }
  }
  for (const auto& file : files) EXPECT_EQ(ReadFileBytes(dir / file.first), file.second);
  for (std::string made : {"missing.pak", "a.pak", "x.img", "x.png", "out.pak"})
    EXPECT_FALSE(FileExists(dir / made));
}

TEST_F(Tool, PacksExtractsAndVerifiesATree) {
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "line " + std::to_string(i) + " of the long file\n";
  MakeDirectories(dir / "assets/sub");
  WriteFileText(dir / "assets/a.txt", "hello");
  WriteFileText(dir / "assets/sub/b.txt", longText);
  WriteFileText(dir / "assets/sub/empty.bin", "");
  WriteFileText(dir / "game.pak", "an old file that packing replaces");
  ToolResult packed = Run({"pack", "game.pak", "assets"});
  EXPECT_EQ(packed.err, "");  // no progress bar without a terminal
  EXPECT_EQ(packed.out.rfind("packed game.pak: 3 entries, ", 0), 0u) << packed.out;
  Bytes expected =
      BuildArchive({TextEntry("assets\\a.txt", "hello"), TextEntry("assets\\sub\\b.txt", longText),
                    TextEntry("assets\\sub\\empty.bin", "")});
  EXPECT_EQ(ReadFileBytes(dir / "game.pak"), expected);
  // An archive inside the tree never holds itself or its temporary file, however its path is
  // spelled, and whether it exists yet or not.
  for (std::string self : {"assets/sub/self.pak", "assets/../assets/sub/self.pak"}) {
    Expect({"pack", "-q", self, "assets"}, 0, "");
    EXPECT_EQ(ReadFileBytes(dir / "assets/sub/self.pak"), expected) << self;
  }
  std::remove((dir / "assets/sub/self.pak").c_str());
  const Bytes fromInside =
      BuildArchive({TextEntry("a.txt", "hello"), TextEntry("sub\\b.txt", longText),
                    TextEntry("sub\\empty.bin", "")});
  for (std::string self : {"game.pak", "./game.pak", "../assets/game.pak"}) {
    EXPECT_EQ(Shell("cd assets && " + Quote(KORVO_TOOL_PATH) + " pack -q " + self + " .").code, 0);
    EXPECT_EQ(ReadFileBytes(dir / "assets/game.pak"), fromInside) << self;
  }
  std::remove((dir / "assets/game.pak").c_str());
  Expect({"verify", "game.pak"}, 0, "game.pak: ok, 3 entries sound\n");
  Expect({"extract", "game.pak", "-o", "out"}, 0, "extracted 3 of 3 entries (7.5 KiB) to out\n");
  // Packing what was extracted, with -C, a trailing slash and -q, gives the same archive.
  Expect({"pack", "-q", "-C", "out", "again.pak", "assets/"}, 0, "");
  EXPECT_EQ(ReadFileBytes(dir / "again.pak"), expected);
  Expect({"extract", "-q", "game.pak", "-o", "some", "ASSETS/SUB/B.TXT", "nothing"}, 1, "",
         "korvo: game.pak: no entry named 'nothing'\n");
  EXPECT_EQ(Shell("find some -type f").out, "some/assets/sub/b.txt\n");
}

TEST_F(Tool, ListsAndCatsEntries) {
  std::string binary("\x00\x01\xFFzero\x00", 8);
  WriteFileBytes(dir / "x.pak",
                 BuildArchive({TextEntry("data\\a.txt", "hello"), TextEntry("Data/Empty.bin", ""),
                               TextEntry("two\nlines", binary)}));
  Expect({"list", "x.pak"}, 0,
         "      Size      Packed   Ratio      Offset  Name\n"
         "----------  ----------  ------  ----------  ----\n"
         "         5          13  260.0%          16  data\\a.txt\n"
         "         0           8       -          29  Data/Empty.bin\n"
         "         8          16  200.0%          37  two\\x0Alines\n"
         "----------  ----------  ------              ----\n"
         "        13          37  284.6%              3 entries\n");
  EXPECT_EQ(nlohmann::json::parse(Run({"list", "--json", "x.pak"}).out),
            nlohmann::json::parse(R"({"archive": "x.pak", "entries": [
    {"name": "data\\a.txt", "size": 5, "packedSize": 13, "ratio": 2.6, "offset": 16, "flags": 0},
    {"name": "Data/Empty.bin", "size": 0, "packedSize": 8, "ratio": null, "offset": 29, "flags": 0},
    {"name": "two\nlines", "size": 8, "packedSize": 16, "ratio": 2.0, "offset": 37, "flags": 0}]})"));
  WriteFileBytes(dir / "none.pak", BuildArchive({}));
  Expect({"verify", "-q", "none.pak"}, 0, "");
  Expect({"cat", "x.pak", "two\nlines"}, 0, binary);
  Expect({"cat", "x.pak", "DATA/A.TXT"}, 0, "hello");
  // A stored name with glob characters selects itself, not what its glob reading matches.
  WriteFileBytes(dir / "glob.pak", BuildArchive({TextEntry("br\\x2.txt", "glob"),
                                                 TextEntry("br\\x[2].txt", "exact")}));
  Expect({"cat", "glob.pak", "br\\x[2].txt"}, 0, "exact");
  EXPECT_EQ(
      nlohmann::json::parse(Run({"list", "--json", "glob.pak", "br\\x[2].txt"}).out)["entries"]
          .size(),
      1u);
  Expect({"extract", "-q", "glob.pak", "-o", "g", "br\\x[2].txt"}, 0, "");
  EXPECT_EQ(Shell("find g -type f").out, "g/br/x[2].txt\n");
}

TEST_F(Tool, ExtractWritesNothingOutsideTheOutputDirectory) {
  // Wine shows a Unix link to a file as a plain file: windows/windows_tool_test has this case.
  if (KORVO_TOOL_ON_WINDOWS) GTEST_SKIP() << "links to files are not links under Wine";
  MakeDirectories(dir / "elsewhere");
  MakeDirectories(dir / "out");
  WriteFileText(dir / "elsewhere/target.txt", "keep");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "out/link");
  std::filesystem::create_symlink(dir / "elsewhere/target.txt", dir / "out/file.txt");
  const std::pair<std::string, std::string> refused[] = {
      {"../up.txt", "name has a '..' component"},
      {dir / "absolute.txt", "absolute name"},
      {"\\rooted.txt", "absolute name"},
      {"a\\..\\..\\twice.txt", "name has a '..' component"},
      {"C:\\drive.txt", "absolute name (drive prefix)"},
      {"dir\\", "name ends in a separator (a directory, not a file)"},
      {"link\\planted.txt", "refusing to pass through the symbolic link out/link"},
      {"file.txt", "refusing to write through the symbolic link out/file.txt"},
      {"fifo.txt", "out/fifo.txt exists and is not a regular file"},
  };
  ASSERT_EQ(Shell("mkfifo out/fifo.txt").code, 0);
  std::vector<RawEntry> entries = {TextEntry("good\\.\\fine.txt", "fine")};
  std::string err;
  for (const auto& r : refused) {
    entries.push_back(TextEntry(r.first, "bad"));
    err += "korvo: evil.pak: entry '" + r.first + "': refused: " + r.second + "\n";
  }
  WriteFileBytes(dir / "evil.pak", BuildArchive(entries));
  Expect({"extract", "evil.pak", "-o", "out"}, 1, "extracted 1 of 10 entries (4 B) to out\n", err);
  EXPECT_EQ(Shell("find . -type f | LC_ALL=C sort").out,  // links left out
            "./elsewhere/target.txt\n./evil.pak\n./out/good/fine.txt\n");
  EXPECT_EQ(ReadText(dir / "elsewhere/target.txt"), "keep");
}

TEST_F(Tool, AddsReplacesAndDeletesEntries) {
  WriteFileBytes(dir / "game.pak",
                 BuildArchive({TextEntry("a.txt", "first"), TextEntry("b.txt", "second"),
                               TextEntry("c.txt", "third")}));
  WriteFileText(dir / "new.txt", "brand new content");
  WriteFileText(dir / "b2.txt", "the second entry, replaced");
  std::string longest(259, 'n');
  Expect({"add", "game.pak", "new.txt", longest}, 0,
         "added '" + longest + "' in game.pak: 17 bytes, 25 packed\n");
  // b.txt's new data lies behind later entries', so deleting c.txt moves data out of index order.
  Expect({"add", "game.pak", "b2.txt", "b.txt"}, 0,
         "replaced 'b.txt' in game.pak: 26 bytes, 34 packed\n");
  Expect({"del", "game.pak", "c.txt"}, 0, "deleted 'c.txt' from game.pak\n");
  Expect({"del", "-q", "game.pak", "A.TXT"}, 0, "");
  // Replacing b.txt left its old data behind.
  Expect({"verify", "game.pak"}, 0,
         "warning: 14 bytes of stale data that no entry uses (14 B, left by replaced or deleted "
         "entries); repack to reclaim them\ngame.pak: ok, 2 entries sound, 1 warning\n");
  Expect({"cat", "game.pak", "b.txt"}, 0, "the second entry, replaced");
  Expect({"cat", "game.pak", longest}, 0, "brand new content");
  // One path, or three or more, add every file named as pack names it, through a new archive
  // that keeps every other entry's packed data (and drops the stale bytes).
  MakeDirectories(dir / "more/sub");
  WriteFileText(dir / "more/x.txt", "x");
  WriteFileText(dir / "more/sub/y.txt", "y");
  Expect({"add", "game.pak", "more"}, 0,
         "added 2 files to game.pak (2 entries kept as they were)\n");
  Expect({"verify", "game.pak"}, 0, "game.pak: ok, 4 entries sound\n");
  WriteFileText(dir / "more/x.txt", "x again");
  Expect({"add", "game.pak", "new.txt", "b2.txt", "more/missing.txt"}, 1, "",
         "korvo: more/missing.txt: no such file or directory\n");
  Expect({"add", "game.pak", "new.txt", "b2.txt", "./more/x.txt"}, 0,
         "added 3 files to game.pak (3 entries kept as they were)\n");
  Expect({"cat", "game.pak", "more/x.txt"}, 0, "x again");
  Expect({"cat", "game.pak", "more/sub/y.txt"}, 0, "y");
  Expect({"cat", "game.pak", "b2.txt"}, 0, "the second entry, replaced");
  WriteFileBytes(dir / "two.pak",
                 BuildArchive({TextEntry("Data\\A.txt", "upper"), TextEntry("data/a.txt", "")}));
  Expect({"del", "-q", "two.pak", "data/a.txt"}, 0, "");  // exact; the loose name is ambiguous
  Expect({"cat", "two.pak", "DATA/A.TXT"}, 0, "upper");
}

TEST_F(Tool, VerifyNamesEachKindOfDamage) {
  // a.txt's data takes 11 bytes from 16, b.txt's 12 from 27; the two 23-byte records of the
  // index start at 39, and the file ends at 85 with b.txt's offset, size and packed size.
  const Bytes sound = BuildArchive({TextEntry("a.txt", "abc"), TextEntry("b.txt", "defg")});
  const std::string b = "bad entry 2 'b.txt': ",
                    index = "damaged: 0 of 2 entries bad, 1 index problems";
  const struct {
    size_t at;  // the byte to flip bits of
    uint8_t bits;
    size_t length;  // of the damaged file
    std::string out, err = "damaged: 1 of 2 entries bad, 0 index problems";
  } cases[] = {
      {38, 0xFF, 85, b + "zlib data is corrupt (incorrect data check)\n"},
      {77, 1, 85, b + "inflates to 4 bytes, index records 5\n"},
      {77, 7, 85, b + "inflates to more than its recorded size of 3 bytes\n"},
      {78, 0x80, 85, b + "recorded size 32772 is impossible for 12 packed bytes\n"},
      {81, 14, 85, b + "zlib data is cut short after 0 bytes\n"},
      {64, 3, 85, "bad entry 2 'a.txt': same name as entry 1\n"},
      {74, 0xFF, 85, b + "data at offset 65307 (12 bytes) lies outside the data region 16..39\n"},
      {0, 0, 88, "bad index: 3 bytes after the end of the index\n", index},
      {12, 47, 85, "bad index: header index size 1 differs from the 46 bytes of the index\n",
       index},
      // The index breaks at record 2: a game mounts record 1, which is checked.
      {0, 0, 80,
       "bad index: record 2 of 2 at offset 62 runs past the end of the file; a game mounts the "
       "archive with the 1 entry before it\n",
       "damaged: 0 of 1 entries bad, 1 index problems"},
      // What a game does not mount at all.
      {9, 0xFF, 85, "",
       "not a package archive or damaged: index offset 65319 lies outside the file (85 bytes)"},
      {7, 0x80, 85, "", "not a package archive or damaged: entry count 2147483650 is out of range"},
      {0, 0, 50, "",
       "not a package archive or damaged: index record 1 of 2 at offset 39 runs past the end of "
       "the file"},
      {0, 0, 10, "", "not a package archive: 10 bytes, shorter than its 16-byte header"},
  };
  for (const auto& c : cases) {
    Bytes file = sound;
    file[c.at] ^= c.bits;
    file.resize(c.length);
    WriteFileBytes(dir / "bad.pak", file);
    Expect({"verify", "bad.pak"}, 1, c.out, "korvo: bad.pak: " + c.err + "\n");
  }
  // A directory where the journal would lie: sound, and named in a warning.
  WriteFileBytes(dir / "bad.pak", sound);
  MakeDirectories(dir / "bad.pak-journal");
  const std::string stray =
      "warning: 'bad.pak-journal' is not a journal (a directory): it does not keep the archive "
      "from mounting, but no edit can start until it is moved away\n";
  Expect({"verify", "bad.pak"}, 0, stray + "bad.pak: ok, 2 entries sound, 1 warning\n");
  Expect({"verify", "--strict", "bad.pak"}, 1, stray,
         "korvo: bad.pak: 1 warning, errors under --strict\n");
}

TEST_F(Tool, ImageRoundTripsKeepFormat3ExactAndFormat1NearestFourBits) {
  Picture a = RandomPicture(20, 12, 1), b = RandomPicture(20, 12, 2), sheet{40, 12, {}};
  for (size_t row = 0; row < 24; ++row) {  // a's row, then b's
    const Bytes& frame = row % 2 ? b.rgba : a.rgba;
    sheet.rgba.insert(sheet.rgba.end(), &frame[row / 2 * 80], &frame[row / 2 * 80 + 80]);
  }
  WritePng("a.png", a);
  WritePng("b.png", b);
  MakeDirectories(dir / "content/img");
  for (uint32_t format : {3u, 1u}) {
    std::string img = "content/img/anim.img", f = std::to_string(format);
    Expect({"png2img", "-q", "a.png", "b.png", "-o", img, "--tile", "10x4", "--format", f}, 0, "");
    // Signature, tile cell, frame size and count, format; a's first pixel, 8 or 4 bits a part
    // (format 1 rounds to the nearest value the loader gives back).
    Bytes file = ReadFileBytes(dir / img);
    ASSERT_GE(file.size(), 56u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "KWF\x1AIANI");
    EXPECT_EQ((std::vector<uint32_t>{GetU32(file, 16), GetU32(file, 20), GetU32(file, 24),
                                     GetU32(file, 28), GetU32(file, 32), GetU32(file, 48)}),
              (std::vector<uint32_t>{10, 4, 20, 12, 2, format}));
    uint32_t bits = format == 3 ? 8 : 4, first = 0;
    auto stored = [&](uint8_t v) { return format == 3 ? v : std::min(15, (v + 8) >> 4); };
    for (int c : {3, 0, 1, 2}) first = first << bits | stored(a.rgba[c]);  // A, R, G, B
    EXPECT_EQ(GetU32(file, 52) & (format == 3 ? ~0u : 0xFFFFu), first);
    for (Picture* p : {&a, &b, &sheet}) {
      for (uint8_t& byte : p->rgba) byte = format == 1 ? stored(byte) << 4 : byte;
    }
    Expect({"img2png", img, "-o", "out.png"}, 0,
           "wrote out-0.png: frame 0 of 2, 20x12\nwrote out-1.png: frame 1 of 2, 20x12\n");
    Expect({"img2png", img, "-o", "sheet.png", "--sheet"}, 0,
           "wrote sheet.png: 2 frames side by side of 20x12\n");
    // And read from a package, by the name in another case and slash direction.
    ASSERT_EQ(Run({"pack", "-q", "-C", "content", "game.pak", "img"}).code, 0);
    Expect({"img2png", "-q", "IMG/ANIM.IMG", "--package", "game.pak", "-o", "p.png", "--sheet"}, 0,
           "");
    EXPECT_TRUE(ReadPng("out-0.png") == a) << format;
    EXPECT_TRUE(ReadPng("out-1.png") == b) << format;
    EXPECT_TRUE(ReadPng("sheet.png") == sheet) << format;
    EXPECT_TRUE(ReadPng("p.png") == sheet) << format;
  }
  if (KORVO_TOOL_ON_WINDOWS) return;
  // An output that is not a regular file: a link's target is replaced and the link stays; a
  // device or a FIFO is written through and stays what it is; a directory is refused. The
  // device is a null device of the test's own where the test may make one.
  const std::string korvo = Quote(KORVO_TOOL_PATH), img = "content/img/anim.img", noError;
  WriteFileText(dir / "old.png", "old");
  WriteFileText(dir / "old.pak", "old");
  ASSERT_EQ(Shell("ln -s old.png link.png && ln -s old.pak link.pak && mkfifo fifo.png && "
                  "(mknod null c 1 3 2>/dev/null || ln -s /dev/null null)")
                .code,
            0);
  Expect({"img2png", "-q", img, "--sheet", "-o", "link.png"}, 0, "");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.png"));
  EXPECT_TRUE(ReadPng("old.png") == sheet);
  Expect({"pack", "-q", "-C", "content", "link.pak", "img"}, 0, "");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.pak"));
  EXPECT_EQ(ReadFileBytes(dir / "old.pak"), ReadFileBytes(dir / "game.pak"));
  for (std::string tool : {"img2png", "png2img"}) {
    // One frame, so that one file is written. The reader gives up should nothing come.
    std::string in = tool == "img2png" ? img + " --sheet" : "a.png";
    ASSERT_EQ(Shell(korvo + " " + tool + " -q " + in + " -o regular").code, 0);
    ToolResult fifo = Shell("timeout 60 cat fifo.png >from-fifo & " + korvo + " " + tool + " -q " +
                            in + " -o fifo.png; code=$?; wait; exit $code");
    EXPECT_EQ(std::tie(fifo.code, fifo.err), std::tie(ExitZero, noError)) << tool;
    EXPECT_EQ(ReadFileBytes(dir / "from-fifo"), ReadFileBytes(dir / "regular")) << tool;
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.png")) << tool;
    EXPECT_EQ(Shell(korvo + " " + tool + " -q " + in + " -o null").code, 0) << tool;
    EXPECT_TRUE(std::filesystem::is_character_file(dir / "null")) << tool;
  }
  MakeDirectories(dir / "folder.png");
  Expect({"png2img", "-q", "a.png", "-o", "folder.png"}, 1, "",
         "korvo: folder.png: cannot replace it: Is a directory\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.png"));
  EXPECT_EQ(Shell("ls -a | grep korvo- | grep -v '[.]korvo-cache$'").out, "");
}

}  // namespace
