// korvo.exe under Wine: Windows paths on the command line, bytes passing through unchanged, and
// extraction refusing names that Windows would turn into a device or into another file.
#include <algorithm>

#include "tool/tool_runner.h"

namespace {

using WindowsTool = ToolTest;

// The Windows path of a file of the build machine: Wine's drive Z: is its root.
std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

// Line endings of every kind, a zero byte and a Ctrl-Z: whatever a text mode would change.
const std::string Binary("one\r\ntwo\nthree\r\x1A\x00end\n", 20);

TEST_F(WindowsTool, EverySubcommandTakesDriveLetterPathsWithBackslashes) {
  MakeDirectories(dir / "content/data/ui");
  WriteFileText(dir / "content/data/ui/btn.txt", "button");
  WriteFileBytes(dir / "content/data/raw.bin", ToBytes(Binary));
  WriteFileText(dir / "extra.txt", "extra\n");
  WritePng("a.png", RandomPicture(8, 4, 3));
  const std::string root = WindowsPath(dir.Path()), pak = root + "\\game.pak";
  Expect({"pack", "-q", "-C", root + "\\content", pak, "data"}, 0, "");
  // A trailing backslash names the same directory.
  Expect({"pack", "-q", "-C", root + "\\content", root + "\\again.pak", "data\\"}, 0, "");
  EXPECT_EQ(ReadFileBytes(dir / "again.pak"), ReadFileBytes(dir / "game.pak"));
  Expect({"verify", pak}, 0, pak + ": ok, 2 entries sound\n");
  Expect({"cat", pak, "data\\raw.bin"}, 0, Binary);
  Expect({"cat", pak, "DATA/UI/BTN.TXT"}, 0, "button");
  Expect({"add", "-q", pak, root + "\\extra.txt", "data\\extra.txt"}, 0, "");
  Expect({"del", "-q", pak, "data\\ui\\btn.txt"}, 0, "");
  ToolResult listed = Run({"list", pak});
  EXPECT_EQ(listed.code, 0);
  EXPECT_NE(listed.out.find("  data\\raw.bin\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("  data\\extra.txt\n"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("btn.txt"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find('\r'), std::string::npos) << listed.out;
  Expect({"extract", "-q", pak, "-o", root + "\\out"}, 0, "");
  EXPECT_EQ(ReadFileBytes(dir / "out/data/raw.bin"), ToBytes(Binary));
  EXPECT_EQ(ReadText(dir / "out/data/extra.txt"), "extra\n");
  Expect({"png2img", "-q", root + "\\a.png", "-o", root + "\\a.img"}, 0, "");
  Expect({"img2png", "-q", root + "\\a.img", "-o", root + "\\back.png", "--sheet"}, 0, "");
  EXPECT_TRUE(ReadPng("back.png") == RandomPicture(8, 4, 3));

  // Mods and patches: a second archive that overrides one name.
  const std::vector<RawEntry> mod = {TextEntry("DATA/RAW.BIN", "modded"),
                                     TextEntry("new.txt", "n")};
  WriteFileBytes(dir / "mod.pak", BuildArchive(mod));
  Expect({"diff", "-q", pak, root + "\\mod.pak", "-o", root + "\\patch.pak"}, 0,
         "changed  DATA/RAW.BIN (20 -> 6 bytes)\nadded    new.txt (1 byte)\n"
         "removed  data\\extra.txt (6 bytes)\n");
  EXPECT_EQ(ReadFileBytes(dir / "patch.pak"), BuildArchive(mod));
  // Each source is unmapped before the new archive is renamed over it.
  Expect({"merge", "-q", root + "\\flat.pak", pak, root + "\\mod.pak"}, 0, "");
  Expect({"merge", "-q", root + "\\mod.pak", root + "\\mod.pak"}, 0, "");
  Expect({"compact", "-q", root + "\\flat.pak"}, 0, "");
  Expect({"cat", root + "\\flat.pak", "data/raw.bin"}, 0, "modded");
  WriteFileText(dir / "package.cfg", "game.pak mod.pak\n");
  ToolResult conflicts = Run({"conflicts", root});
  EXPECT_EQ(conflicts.code, 0) << conflicts.err;
  EXPECT_NE(conflicts.out.find("mod.pak overrides 1 name of game.pak\n"), std::string::npos)
      << conflicts.out;
  ToolResult which = Run({"which", root, "data/raw.bin", "--all"});
  EXPECT_EQ(which.code, 0) << which.err;
  EXPECT_NE(which.out.find("mod.pak, entry 'DATA/RAW.BIN' (6 bytes)\n"), std::string::npos)
      << which.out;
  Expect({"merge", "-q", root + "\\flat2.pak", "--game", root}, 0, "");
  EXPECT_EQ(ReadFileBytes(dir / "flat2.pak"), ReadFileBytes(dir / "flat.pak"));
}

TEST_F(WindowsTool, ExtractRefusesDevicesDrivesAndNamesWindowsWouldChange) {
  const std::pair<std::string, std::string> refused[] = {
      {"CON", "name has the reserved device name 'CON'"},
      {"data\\nul.txt", "name has the reserved device name 'nul.txt'"},
      {"Com1.img", "name has the reserved device name 'Com1.img'"},
      {"lpt9\\x.txt", "name has the reserved device name 'lpt9'"},
      {"aux .log", "name has the reserved device name 'aux .log'"},
      {"good.txt.", "component 'good.txt.' ends in a dot or space, which Windows drops"},
      {"good.txt ", "component 'good.txt ' ends in a dot or space, which Windows drops"},
      {"dir.\\c.txt", "component 'dir.' ends in a dot or space, which Windows drops"},
      {"file.txt:stream", "name has a ':' (a drive or stream on Windows)"},
      {"what?.txt", "name has a '?', which Windows does not allow in file names"},
      {"D:drive.txt", "absolute name (drive prefix)"},
      {"Z:\\abs.txt", "absolute name (drive prefix)"},
      {"\\\\server\\share\\unc.txt", "absolute name (UNC or device path)"},
      {"\\\\?\\C:\\device.txt", "absolute name (UNC or device path)"},
      {"\\rooted.txt", "absolute name"},
      {"..\\up.txt", "name has a '..' component"},
      {"a\\..\\..\\twice.txt", "name has a '..' component"},
      {"dir\\", "name ends in a separator (a directory, not a file)"},
  };
  std::vector<RawEntry> entries = {TextEntry("good.txt", "kept")};
  for (const auto& r : refused) entries.push_back(TextEntry(r.first, "bad"));
  WriteFileBytes(dir / "evil.pak", BuildArchive(entries));
  ToolResult result = Run({"extract", "evil.pak", "-o", "out"});
  EXPECT_EQ(result.code, 1);
  for (const auto& r : refused) {
    std::string line = "korvo: evil.pak: entry '" + r.first + "': refused: " + r.second + "\n";
    EXPECT_NE(result.err.find(line), std::string::npos) << line << result.err;
  }
  EXPECT_EQ(ReadText(dir / "out/good.txt"), "kept");
  EXPECT_EQ(Shell("find . -type f -o -type l | LC_ALL=C sort").out, "./evil.pak\n./out/good.txt\n");
}

TEST_F(WindowsTool, ExtractDoesNotPassThroughJunctionsOrLinks) {
  MakeDirectories(dir / "elsewhere");
  MakeDirectories(dir / "out");
  // Wine shows these as reparse points, as Windows shows junctions and symbolic links.
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "out/link");
  WriteFileBytes(dir / "evil.pak", BuildArchive({TextEntry("link\\planted.txt", "bad")}));
  Expect({"extract", "evil.pak", "-o", "out"}, 1, "extracted 0 of 1 entry (0 B) to out\n",
         "korvo: evil.pak: entry 'link\\planted.txt': refused: refusing to pass through the "
         "symbolic link out\\link\n");
  EXPECT_FALSE(FileExists(dir / "elsewhere/planted.txt"));
}

}  // namespace
