// The korvo binary as content programmers use it: names as the game sees them, extraction that
// never overwrites silently, readable listings, verify's warnings and the stated policies.
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tool/tool_runner.h"

namespace {

using Tool = ToolTest;

TEST_F(Tool, PackStoresNamesTheLoaderFinds) {
  MakeDirectories(dir / "small/data/ui");
  WriteFileText(dir / "small/data/ui/btn.img", "b");
  const Bytes expected = BuildArchive({TextEntry("data\\ui\\btn.img", "b")});
  for (std::string given : {"./data", "data/", "../small/data", ".//data/./"}) {
    Expect({"pack", "-q", "-C", "small", "x.pak", given}, 0, "");
    EXPECT_EQ(ReadFileBytes(dir / "x.pak"), expected) << given;
  }
  Expect({"pack", "-q", "-C", "small/data", "x.pak", "."}, 0, "");
  EXPECT_EQ(ReadFileBytes(dir / "x.pak"), BuildArchive({TextEntry("ui\\btn.img", "b")}));
  if (!KORVO_TOOL_ON_WINDOWS) {  // a POSIX absolute path; Windows paths are covered elsewhere
    Expect({"pack", "-q", "x.pak", dir / "small/data"}, 0, "");  // inside the current directory
    EXPECT_EQ(ReadFileBytes(dir / "x.pak"),
              BuildArchive({TextEntry("small\\data\\ui\\btn.img", "b")}));
  }
  Expect({"pack", "-q", "-C", "small", "y.pak", "../small/.."}, 1, "",
         "korvo: ../small/..: '..' leads out of the current directory; entry names cannot start "
         "above it. Use -C <parent> and a relative directory\n");
  if (!KORVO_TOOL_ON_WINDOWS) {
    Expect({"pack", "-q", "-C", "small/data", "y.pak", dir / "small"}, 1, "",
           "korvo: " + dir / "small" +
               ": absolute path outside the current directory; entry names would start with it, "
               "and the game would not find them. Use -C <parent> and a relative directory\n");
  }
  EXPECT_FALSE(FileExists(dir / "y.pak"));

  // Windows paths stop at 260 bytes and cannot hold the colliding names below.
  if (KORVO_TOOL_ON_WINDOWS) return;
  // A name of 259 bytes is stored, and add can replace its entry; one of 260 refuses the pack.
  const std::string name259(248, 'n'), nameOut = "small\\data\\" + name259;
  ASSERT_EQ(nameOut.size(), 259u);
  WriteFileText(dir / ("small/data/" + name259), "259");
  Expect({"pack", "-q", "y.pak", "small/data"}, 0, "");
  WriteFileText(dir / "new.txt", "new");
  Expect({"add", "-q", "y.pak", "new.txt", nameOut}, 0, "");
  Expect({"cat", "y.pak", nameOut}, 0, "new");
  const Bytes before = ReadFileBytes(dir / "y.pak");
  WriteFileText(dir / ("small/data/" + name259 + "n"), "260");
  Expect({"pack", "-q", "y.pak", "small/data"}, 1, "",
         "korvo: small/data/" + name259 +
             "n: its entry name is 260 bytes long; entry names hold at most 259\n"
             "korvo: y.pak: not written: 1 file has a name that cannot be stored\n");
  EXPECT_EQ(ReadFileBytes(dir / "y.pak"), before);
  std::remove((dir / ("small/data/" + name259 + "n")).c_str());

  // Names the game cannot tell apart refuse the pack before anything is written, even with
  // --skip-unreadable, naming both files.
  WriteFileText(dir / "small/data/ui/BTN.IMG", "B");
  WriteFileText(dir / "small/data/ui\\btn.img", "\\");
  const std::string collides = "(the game ignores case and slash direction); rename one\n";
  Expect({"pack", "-q", "--skip-unreadable", "y.pak", "small/data"}, 1, "",
         "korvo: small/data/ui/btn.img: entry name 'small\\data\\ui\\btn.img' collides "
         "with 'small\\data\\ui\\BTN.IMG' of small/data/ui/BTN.IMG " +
             collides +
             "korvo: small/data/ui\\btn.img: entry name 'small\\data\\ui\\btn.img' "
             "collides with 'small\\data\\ui\\BTN.IMG' of small/data/ui/BTN.IMG " +
             collides + "korvo: y.pak: not written: 2 files have names that cannot be stored\n");
  EXPECT_EQ(ReadFileBytes(dir / "y.pak"), before);
  EXPECT_EQ(Shell("ls | grep -c tmp-").out, "0\n");
}

TEST_F(Tool, AddReplacesTheEntryTheGameResolvesAndSaysWhich) {
  WriteFileBytes(dir / "a.pak", BuildArchive({TextEntry("data\\ui\\btn.img", "old")}));
  WriteFileText(dir / "new.img", "new");
  Expect({"add", "a.pak", "new.img", "Data/UI/Btn.img"}, 0,
         "replaced 'data\\ui\\btn.img' (the entry the game finds for 'Data/UI/Btn.img') in "
         "a.pak: 3 bytes, 11 packed\n");
  Expect({"add", "a.pak", "new.img", "./more/../more/x.img"}, 0,
         "added 'more\\x.img' (given as './more/../more/x.img') in a.pak: 3 bytes, 11 packed\n");
  Expect({"list", "a.pak"}, 0,
         "      Size      Packed   Ratio      Offset  Name\n"
         "----------  ----------  ------  ----------  ----\n"
         "         3          11  366.7%          27  data\\ui\\btn.img\n"
         "         3          11  366.7%          38  more\\x.img\n"
         "----------  ----------  ------              ----\n"
         "         6          22  366.7%              2 entries\n");
  Expect({"add", "a.pak", "new.img", "../x.img"}, 1, "",
         "korvo: a.pak: cannot add '../x.img': the name is absolute, leads out with '..' or "
         "names no file; give a relative name such as data/ui/button.img\n");
  WriteFileBytes(dir / "two.pak",
                 BuildArchive({TextEntry("a\\b.txt", "1"), TextEntry("A/B.txt", "2")}));
  Expect({"add", "two.pak", "new.img", "a/B.TXT"}, 1, "",
         "korvo: two.pak: cannot add 'a/B.TXT': it matches several entries ('a\\b.txt', "
         "'A/B.txt'); give the exact name of the one to replace\n");
  Expect({"add", "-q", "two.pak", "new.img", "A/B.txt"}, 0, "");
  Expect({"cat", "two.pak", "a\\b.txt", "A/B.txt"}, 0, "1new");
}

TEST_F(Tool, VerifyWarnsAboutCollisionsUnsafeNamesAndStaleData) {
  Bytes file = BuildArchive({TextEntry("data\\a.txt", "one"), TextEntry("Data/A.txt", "two"),
                             TextEntry("..\\up.txt", "x"), TextEntry("CON", "y"),
                             TextEntry("d", "file"), TextEntry("D\\a.txt", "in a folder")});
  WriteFileBytes(dir / "w.pak", file);
  const std::string warnings =
      "warning: entry 2 'Data/A.txt': the game cannot tell it from entry 1 'data\\a.txt' (names "
      "differ only in case or slash direction); it finds this one\n"
      "warning: entry 3 '..\\up.txt': extract would refuse it: name has a '..' component\n"
      "warning: entry 4 'CON': extract would refuse it: name has the reserved device name "
      "'CON'\n"
      "warning: entry 5 'd': extract would refuse it: entry 'D\\a.txt' needs d as a folder; "
      "extract one of them by its exact name\n";
  Expect({"verify", "w.pak"}, 0, warnings + "w.pak: ok, 6 entries sound, 4 warnings\n");
  Expect({"verify", "--strict", "w.pak"}, 1, warnings,
         "korvo: w.pak: 4 warnings, errors under --strict\n");
  // What verify warns about, extract refuses, whatever the order of the entries.
  Expect({"extract", "-q", "w.pak", "-o", "out", "d", "D/A.TXT"}, 1, "",
         "korvo: w.pak: entry 'd': refused: entry 'D\\a.txt' needs d as a folder; extract one of "
         "them by its exact name\n");
  EXPECT_EQ(Shell("find out -type f").out, "out/D/a.txt\n");
  // Stale bytes, as a replaced entry leaves them: old.bin's data block with no record.
  RawEntry old = TextEntry("old.bin", std::string(100, 'z')), k = TextEntry("k", "k");
  uint32_t kOffset = 16 + static_cast<uint32_t>(old.stored.size());
  Bytes trimmed;
  for (uint32_t field : {100u, 1u, kOffset + static_cast<uint32_t>(k.stored.size()), 19u})
    PutU32(trimmed, field);
  PutBytes(trimmed, old.stored);
  PutBytes(trimmed, k.stored);
  PutU16(trimmed, 1);
  PutText(trimmed, "k");
  for (uint32_t field : {0u, kOffset, 1u, static_cast<uint32_t>(k.stored.size())})
    PutU32(trimmed, field);
  WriteFileBytes(dir / "stale.pak", trimmed);
  std::string bytes = std::to_string(old.stored.size());
  Expect({"verify", "stale.pak"}, 0,
         "warning: " + bytes + " bytes of stale data that no entry uses (" + bytes +
             " B, left by replaced or deleted entries); repack to reclaim them\n"
             "stale.pak: ok, 1 entry sound, 1 warning\n");
}

TEST_F(Tool, ExtractRefusesTwoEntriesForOneFileAndDefaultsToHere) {
  WriteFileBytes(dir / "c.pak",
                 BuildArchive({TextEntry("a\\b.txt", "first"), TextEntry("a/b.txt", "second"),
                               TextEntry("A\\B.TXT", "third"), TextEntry("a\\c.txt", "fine")}));
  const std::string refusal = "' maps to the same output path ";
  Expect({"extract", "c.pak"}, 1, "extracted 1 of 4 entries (4 B) to .\n",
         "korvo: c.pak: entry 'a\\b.txt': refused: entry 'a/b.txt" + refusal +
             "a/b.txt; extract one of them by its exact name\n"
             "korvo: c.pak: entry 'a/b.txt': refused: entry 'a\\b.txt" +
             refusal +
             "a/b.txt; extract one of them by its exact name\n"
             "korvo: c.pak: entry 'A\\B.TXT': refused: entry 'a\\b.txt" +
             refusal + "A/B.TXT; extract one of them by its exact name\n");
  EXPECT_EQ(Shell("find a -type f").out, "a/c.txt\n");
  Expect({"extract", "c.pak", "a/b.txt", "-o", "one"}, 0, "extracted 1 of 1 entry (6 B) to one\n");
  EXPECT_EQ(ReadText(dir / "one/a/b.txt"), "second");
  // Extracting again replaces the file whole, through a temporary file that does not stay and
  // that is never a file of the user's.
  WriteFileText(dir / "one/a/b.txt", "edited");
  WriteFileText(dir / "one/a/b.txt.korvo-part", "the user's own");
  Expect({"extract", "-q", "c.pak", "a/b.txt", "-o", "one"}, 0, "");
  EXPECT_EQ(ReadText(dir / "one/a/b.txt"), "second");
  EXPECT_EQ(ReadText(dir / "one/a/b.txt.korvo-part"), "the user's own");
  EXPECT_EQ(Shell("find one -type f | sort").out, "one/a/b.txt\none/a/b.txt.korvo-part\n");
  // Nor is it ever another entry's file.
  WriteFileBytes(dir / "part.pak", BuildArchive({TextEntry("a.txt.korvo-part", "part"),
                                                 TextEntry("a.txt", "whole")}));
  Expect({"extract", "part.pak", "-o", "two"}, 0, "extracted 2 of 2 entries (9 B) to two\n");
  EXPECT_EQ(ReadText(dir / "two/a.txt.korvo-part"), "part");
  EXPECT_EQ(ReadText(dir / "two/a.txt"), "whole");
  EXPECT_EQ(Shell("find two -type f | sort").out, "two/a.txt\ntwo/a.txt.korvo-part\n");
  Expect({"extract", "-q", "c.pak", "-o", "glob", "A/*.TXT", "missing/*"}, 1, "",
         "korvo: c.pak: no entry named 'missing/*'\n"
         "korvo: c.pak: entry 'a\\b.txt': refused: entry 'a/b.txt" +
             refusal +
             "a/b.txt; extract one of them by its exact name\n"
             "korvo: c.pak: entry 'a/b.txt': refused: entry 'a\\b.txt" +
             refusal +
             "a/b.txt; extract one of them by its exact name\n"
             "korvo: c.pak: entry 'A\\B.TXT': refused: entry 'a\\b.txt" +
             refusal + "A/B.TXT; extract one of them by its exact name\n");
  EXPECT_EQ(Shell("find glob -type f").out, "glob/a/c.txt\n");
}

TEST_F(Tool, ListsSelectAndShowUtf8NamesInAUtf8Locale) {
  if (KORVO_TOOL_ON_WINDOWS) GTEST_SKIP() << "the locale is chosen through POSIX LC_ALL";
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\\\xE8\xAA\x9E.txt";
  WriteFileBytes(dir / "u.pak",
                 BuildArchive({TextEntry(japanese, "x"), TextEntry("bad\xFF\\x.txt", "y"),
                               TextEntry("ui\\a.img", "z")}));
  const std::string head =
      "      Size      Packed   Ratio      Offset  Name\n"
      "----------  ----------  ------  ----------  ----\n";
  const std::string rows =
      "         1           9  900.0%          16  %s\n"
      "         1           9  900.0%          25  bad\\xFF\\x.txt\n";
  auto table = [&](const std::string& name) {
    std::string text = rows;
    text.replace(text.find("%s"), 2, name);
    return head + text +
           "----------  ----------  ------              ----\n"
           "         2          18  900.0%              2 entries\n";
  };
  EXPECT_EQ(Shell("LC_ALL=C.UTF-8 " + Quote(KORVO_TOOL_PATH) + " list u.pak '*.txt' '*/*.txt'").out,
            table(japanese));
  EXPECT_EQ(Shell("LC_ALL=C " + Quote(KORVO_TOOL_PATH) + " list u.pak '**.txt'").out,
            table("\\xE6\\x97\\xA5\\xE6\\x9C\\xAC\\\\xE8\\xAA\\x9E.txt"));
  Expect({"cat", "u.pak", "UI", "nothing"}, 1, "z", "korvo: u.pak: no entry named 'nothing'\n");
}

TEST_F(Tool, PackWarnsAboutEachDirectoryLinkItDoesNotFollowAndRefusesOrSkipsUnreadableFiles) {
  if (KORVO_TOOL_ON_WINDOWS) GTEST_SKIP() << "Wine shows POSIX links as reparse points or files";
  MakeDirectories(dir / "tree/real");
  MakeDirectories(dir / "outside");
  WriteFileText(dir / "tree/real/a.txt", "a");
  WriteFileText(dir / "outside/secret.txt", "s");
  std::filesystem::create_directory_symlink(dir / "outside", dir / "tree/linked");
  std::filesystem::create_symlink(dir / "tree/real/a.txt", dir / "tree/file-link");
  ToolResult result = Run({"pack", "t.pak", "tree"});
  EXPECT_EQ(result.err,
            "korvo: warning: tree/linked: symbolic link to a directory, not followed; pack its "
            "target separately or copy it in\n");
  EXPECT_EQ(ReadFileBytes(dir / "t.pak"),
            BuildArchive({TextEntry("tree\\file-link", "a"), TextEntry("tree\\real\\a.txt", "a")}));
  EXPECT_EQ(Run({"pack", "-q", "t.pak", "tree"}).err, "");

  // A file that cannot be read refuses the pack, with its cause, and the old archive stays;
  // with --skip-unreadable it is left out with a warning.
  const Bytes before = ReadFileBytes(dir / "t.pak");
  std::filesystem::create_symlink(dir / "nowhere", dir / "tree/a-dangling");
  std::filesystem::create_symlink(dir / "nowhere", dir / "tree/z-dangling");
  const std::string missing = ": cannot be read: No such file or directory";
  Expect({"pack", "-q", "t.pak", "tree"}, 1, "",
         "korvo: tree/a-dangling" + missing + "\nkorvo: tree/z-dangling" + missing +
             "\nkorvo: t.pak: not written: 2 files cannot be read; --skip-unreadable packs the "
             "rest\n");
  EXPECT_EQ(ReadFileBytes(dir / "t.pak"), before);
  EXPECT_EQ(Shell("ls | grep -c tmp-").out, "0\n");
  ToolResult skipped = Run({"pack", "--skip-unreadable", "t.pak", "tree"});
  EXPECT_EQ(skipped.code, 0);
  EXPECT_EQ(skipped.err,
            "korvo: warning: tree/linked: symbolic link to a directory, not followed; pack its "
            "target separately or copy it in\n"
            "korvo: warning: tree/a-dangling" +
                missing +
                "; left out of the archive\n"
                "korvo: warning: tree/z-dangling" +
                missing + "; left out of the archive\n");
  EXPECT_EQ(skipped.out.rfind("packed t.pak: 2 entries, ", 0), 0u) << skipped.out;
  EXPECT_EQ(ReadFileBytes(dir / "t.pak"), before);  // the same two entries
}

TEST_F(Tool, Png2ImgFormat1RoundsToTheNearestValueTheLoaderGives) {
  Picture picture{16, 16, Bytes()};
  for (int v = 0; v < 256; ++v) {  // every value in every component
    for (int c = 0; c < 4; ++c) picture.rgba.push_back(static_cast<uint8_t>(v));
  }
  WritePng("all.png", picture);
  Expect({"png2img", "-q", "all.png", "-o", "all.img", "--format", "1"}, 0, "");
  Expect({"img2png", "-q", "all.img", "-o", "back.png"}, 0, "");
  Picture back = ReadPng("back.png");
  ASSERT_EQ(back.rgba.size(), picture.rgba.size());
  for (int v = 0; v < 256; ++v) {
    int nearest = std::min(15, (v + 8) / 16) * 16;
    EXPECT_EQ(back.rgba[v * 4 + 3], nearest) << v;  // alpha; 255 reads back as 240
  }
}

TEST_F(Tool, MountsAndWhichReadTheGamesPackageListAsTheLibraryDoes) {
  // The messages below name paths joined with '/'; on Windows the library joins with '\\'.
  if (KORVO_TOOL_ON_WINDOWS) GTEST_SKIP() << "paths in these messages use the POSIX separator";
  MakeDirectories(dir / "game");
  WriteFileBytes(dir / "game/data.pak", BuildArchive({TextEntry("data\\a.txt", "hello"),
                                                      TextEntry("data\\b.txt", "base")}));
  WriteFileBytes(dir / "game/patch.pak", BuildArchive({TextEntry("Data/B.txt", "patched")}));
  WriteFileText(dir / "game/readme.txt", "readme");
  // The second record of cut.pak ends one byte early: a game mounts the first one only.
  Bytes cut = BuildArchive({TextEntry("c1.txt", "one"), TextEntry("c2.txt", "two")});
  cut.pop_back();
  WriteFileBytes(dir / "game/cut.pak", cut);
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  png.resize(100, 0x11);
  WriteFileBytes(dir / "game/not.png", png);
  WriteFileText(dir / "game/package.cfg",
                "data.pak patch.pak\nmissing.pak \"quoted.pak\" /nowhere/x.pak cut.pak not.png\n");
  const std::string g = std::filesystem::canonical(dir / "game").string();
  const std::string where =
      "game directory: " + g +
      " (package names in the plain form are joined to it; disk names and the tool form's "
      "directory resolve against it, as for a game started there)\n";
  const std::string mounts =
      where + "package list: " + g +
      "/package.cfg (plain form, 7 packages; a later package wins for a name)\n"
      "  1  mounted      " +
      g +
      "/data.pak\n"
      "  2  mounted      " +
      g +
      "/patch.pak\n"
      "  3  not mounted  missing.pak: " +
      g +
      "/missing.pak: no such file\n"
      "  4  not mounted  \"quoted.pak\": " +
      g +
      "/\"quoted.pak\": no such file (quotes are part "
      "of the name: a listed name cannot hold blanks)\n"
      "  5  not mounted  /nowhere/x.pak: " +
      g +
      "//nowhere/x.pak: no such file (listed names "
      "are joined to the root directory; an absolute path is not)\n"
      "  6  mounted, index damaged after record 1  " +
      g +
      "/cut.pak: damaged index: record 2 "
      "of 2 at offset 62 runs past the end of the file\n"
      "  7  not mounted  not.png: " +
      g +
      "/not.png: not a package archive or damaged: index "
      "offset 218103808 lies outside the file (100 bytes)\n";
  const std::string failed =
      "korvo: game: 4 listed packages not mounted, 1 listed package mounted in part (index "
      "damaged)\n";
  Expect({"mounts", "game"}, 1, mounts, failed);
  // A disk file whose size does not fit 32 bits would not load; it is not reported shorter.
  MakeSparseFile(dir / "game/big.bin", (uint64_t{5} << 30) + 10);
  Expect({"which", "game", "data/a.txt", "DATA\\B.TXT", "readme.txt", "nothing.img", "c1.txt",
          "c2.txt", "big.bin"},
         1,
         mounts + "data/a.txt: package " + g + "/data.pak, entry 'data\\a.txt' (5 bytes)\n" +
             "DATA\\B.TXT: package " + g + "/patch.pak, entry 'Data/B.txt' (7 bytes)\n" +
             "readme.txt: disk file " + g + "/readme.txt (6 bytes; in no mounted package)\n" +
             "nothing.img: would not load: no mounted package holds it, and there is no disk "
             "file of that name in " +
             g + "\n" + "c1.txt: package " + g + "/cut.pak, entry 'c1.txt' (3 bytes)\n" +
             "c2.txt: would not load: no mounted package holds it, and there is no disk file of "
             "that name in " +
             g + "\n" +
             "big.bin: would not load: in no mounted package, and big.bin: file of 5368709130 "
             "bytes; a resource holds at most 4294967295 bytes (4 GiB - 1)\n",
         "korvo: game: 3 of 7 names would not load\n");
  // The tool form's directory resolves against the game directory, not the shell's: "game"
  // there would be game/game.
  WriteFileText(dir / "game/package.cfg", "ZuResTool_Config: patch.pak game unread.pak\n");
  Expect({"mounts", "game"}, 1,
         where + "package list: " + g + "/package.cfg (tool form, 1 package)\n" +
             "  1  not mounted  game/patch.pak: game/patch.pak: no such file\n",
         "korvo: game: 1 listed package not mounted\n");
  WriteFileText(dir / "game/package.cfg", "ZuResTool_Config: patch.pak . unread.pak\n");
  Expect({"mounts", "game"}, 0,
         where + "package list: " + g + "/package.cfg (tool form, 1 package)\n" +
             "  1  mounted      ./patch.pak\n");
  std::remove((dir / "game/package.cfg").c_str());
  Expect({"which", "game", "readme.txt"}, 0,
         where + "package list: " + g +
             "/package.cfg: cannot open the package list: No such file or directory; no "
             "package is mounted\n"
             "readme.txt: disk file " +
             g + "/readme.txt (6 bytes; in no mounted package)\n");
  Expect({"mounts", "nodir"}, 1, "", "korvo: nodir: no such directory\n");
}

// A mod manager's view of a game: which package wins for each name and what it shadows, a
// patch of only what changed, and the chain flattened into one archive.
TEST_F(Tool, ConflictsWhichAllDiffMergeAndCompactFollowTheMountChain) {
  if (KORVO_TOOL_ON_WINDOWS) GTEST_SKIP() << "paths in these messages use the POSIX separator";
  MakeDirectories(dir / "game/mods");
  const std::vector<RawEntry> base = {TextEntry("data\\a.txt", "hello"),
                                      TextEntry("data\\b.txt", "base"),
                                      TextEntry("data\\gone.txt", "x")};
  const std::vector<RawEntry> mod = {TextEntry("Data/B.txt", "patched"),
                                     TextEntry("DATA/A.TXT", "hello"), TextEntry("new.txt", "n")};
  WriteFileBytes(dir / "game/data.pak", BuildArchive(base));
  WriteFileBytes(dir / "game/mods/hd.pak", BuildArchive(mod));
  WriteFileText(dir / "game/package.cfg", "data.pak mods/hd.pak\n");
  const std::string g = std::filesystem::canonical(dir / "game").string();
  const std::string mounts =
      "game directory: " + g +
      " (package names in the plain form are joined to it; disk names and the tool form's "
      "directory resolve against it, as for a game started there)\n"
      "package list: " +
      g + "/package.cfg (plain form, 2 packages; a later package wins for a name)\n" +
      "  1  mounted      " + g + "/data.pak\n" + "  2  mounted      " + g + "/mods/hd.pak\n";
  Expect({"conflicts", "game"}, 0,
         mounts +
             "DATA/A.TXT\n  loads    mods/hd.pak\n  shadows  data.pak\n"
             "Data/B.txt\n  loads    mods/hd.pak\n  shadows  data.pak\n"
             "2 of 4 names held by more than one package\n"
             "mods/hd.pak overrides 2 names of data.pak\n");
  ToolResult json = Run({"conflicts", "game", "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  const nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["names"], 4);
  ASSERT_EQ(document["conflicts"].size(), 2u);
  EXPECT_EQ(document["conflicts"][1]["name"], "Data/B.txt");
  EXPECT_EQ(document["conflicts"][1]["winner"]["package"], "mods/hd.pak");
  EXPECT_EQ(document["conflicts"][1]["shadowed"][0]["name"], "data\\b.txt");
  EXPECT_EQ(document["overrides"][0]["names"], 2);
  MakeDirectories(dir / "game/data");
  WriteFileText(dir / "game/data/b.txt", "");
  Expect({"which", "game", "data/b.txt", "--all"}, 0,
         mounts + "data/b.txt:\n  shadowed " + g + "/data.pak, entry 'data\\b.txt' (4 bytes)\n" +
             "  loads    " + g + "/mods/hd.pak, entry 'Data/B.txt' (7 bytes)\n" +
             "  fallback disk file " + g +
             "/data/b.txt (read only when no package holds the name)\n");

  // The patch holds the changed and added entries, their blocks as they were.
  Expect({"diff", "game/data.pak", "game/mods/hd.pak", "-o", "patch.pak"}, 0,
         "changed  Data/B.txt (4 -> 7 bytes)\nadded    new.txt (1 byte)\n"
         "removed  data\\gone.txt (1 byte)\n1 added, 1 changed, 1 removed, 1 unchanged\n"
         "wrote patch.pak: 2 entries, 93 B\n",
         "korvo: warning: patch.pak: 1 removed name is still read from game/data.pak: a patch "
         "cannot remove a name\n");
  EXPECT_EQ(ReadFileBytes(dir / "patch.pak"), BuildArchive({mod[0], mod[2]}));
  Expect({"diff", "-q", "game/data.pak", "game/mods/hd.pak", "--strict"}, 1,
         "changed  Data/B.txt (4 -> 7 bytes)\nadded    new.txt (1 byte)\n"
         "removed  data\\gone.txt (1 byte)\n",
         "korvo: game/mods/hd.pak: 1 name of game/data.pak removed; a patch cannot remove a "
         "name\n");

  // Flattening the chain: one record per name, the winner's name and block.
  const Bytes flat = BuildArchive({mod[1], mod[0], base[2], mod[2]});
  Expect({"merge", "-q", "flat.pak", "--game", "game"}, 0, "");
  EXPECT_EQ(ReadFileBytes(dir / "flat.pak"), flat);
  Expect({"merge", "flat2.pak", "game/data.pak", "game/mods/hd.pak"}, 0,
         "merged flat2.pak: 4 entries, 174 B (from 271 B; 2 replaced records dropped)\n");
  EXPECT_EQ(ReadFileBytes(dir / "flat2.pak"), flat);

  // Compacting drops what replaced entries left.
  WriteFileBytes(dir / "edited.pak", BuildArchive({base[1], base[0], mod[0]}));
  Expect({"compact", "edited.pak"}, 0,
         "compacted edited.pak: 2 entries, 100 B (from 140 B; 1 replaced record dropped)\n");
  EXPECT_EQ(ReadFileBytes(dir / "edited.pak"), BuildArchive({mod[0], base[0]}));
}

}  // namespace
