// Command-line usage: help on every subcommand, usage errors and their exit status.
#include <gtest/gtest.h>

#include "tool/tool_runner.h"

namespace {

const char* const kSubcommands[] = {"pack", "add",    "del",     "list",   "extract",
                                    "cat",  "verify", "img2png", "png2img"};

TEST(ToolUsage, HelpOnEverySubcommandExitsZero) {
  TempDir dir;
  ToolResult top = RunKorvo({"--help"}, dir.Path());
  EXPECT_EQ(top.code, 0);
  EXPECT_EQ(top.err, "");
  for (const char* name : kSubcommands) {
    EXPECT_NE(top.out.find(std::string("  ") + name), std::string::npos) << name;
    ToolResult help = RunKorvo({name, "--help"}, dir.Path());
    EXPECT_EQ(help.code, 0) << name;
    EXPECT_EQ(help.err, "") << name;
    EXPECT_NE(help.out.find(std::string("Usage: korvo ") + name), std::string::npos) << name << "\n"
                                                                                     << help.out;
    ToolResult shortHelp = RunKorvo({name, "-h"}, dir.Path());
    EXPECT_EQ(shortHelp.code, 0) << name;
    EXPECT_EQ(shortHelp.out, help.out) << name;
  }
}

TEST(ToolUsage, UsageErrorsExitTwoWithAHint) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string firstLine;
  } cases[] = {
      {{}, "korvo: usage error: A subcommand is required"},
      {{"frobnicate"}, "korvo: usage error: unknown subcommand 'frobnicate'"},
      {{"list"}, "korvo list: usage error: archive is required"},
      {{"list", "a.pak", "b.pak"},
       "korvo list: usage error: The following argument was not expected: b.pak"},
      {{"extract", "a.pak"}, "korvo extract: usage error: --output is required"},
      {{"pack", "a.pak"}, "korvo pack: usage error: dir is required"},
      {{"add", "a.pak", "file"}, "korvo add: usage error: entry-name is required"},
      {{"list", "--bogus", "a.pak"},
       "korvo list: usage error: The following argument was not expected: --bogus"},
  };
  for (const Case& c : cases) {
    ToolResult result = RunKorvo(c.args, dir.Path());
    EXPECT_EQ(result.code, 2) << c.firstLine;
    EXPECT_EQ(result.out, "") << c.firstLine;
    std::vector<std::string> lines = Lines(result.err);
    ASSERT_EQ(lines.size(), 2u) << result.err;
    EXPECT_EQ(lines[0], c.firstLine);
    EXPECT_EQ(lines[1].rfind("Run 'korvo", 0), 0u) << lines[1];
  }
}

TEST(ToolUsage, BadOptionValuesAreUsageErrors) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {"png2img", "a.png", "-o", "a.img", "--format", "2"},
      {"png2img", "a.png", "-o", "a.img", "--tile", "0x8"},
      {"png2img", "a.png", "-o", "a.img", "--tile", "2049x8"},
      {"png2img", "a.png", "-o", "a.img", "--tile", "8"},
      {"png2img", "-o", "a.img"},
      {"add", "a.pak", "file", ""},
      {"add", "a.pak", "file", std::string(260, 'n')},
  };
  for (const std::vector<std::string>& args : cases) {
    ToolResult result = RunKorvo(args, dir.Path());
    EXPECT_EQ(result.code, 2) << args[0] << " " << result.err;
    EXPECT_NE(result.err.find("usage error"), std::string::npos) << result.err;
  }
  // 259 bytes is the longest name; the run then fails on the missing archive instead.
  ToolResult longest = RunKorvo({"add", "a.pak", "file", std::string(259, 'n')}, dir.Path());
  EXPECT_EQ(longest.code, 1);
}

TEST(ToolUsage, FailuresExitOneWithOneLineNamingTheFile) {
  TempDir dir;
  WriteFileText(dir / "text.txt", "not an archive at all");
  WriteFileBytes(dir / "empty.pak", Bytes());
  MakeDirectories(dir / "folder");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"list", "missing.pak"}, "korvo: missing.pak: no such file\n"},
      {{"list", "empty.pak"}, "korvo: empty.pak: empty file, not a package archive\n"},
      {{"list", "folder"}, "korvo: folder: is a directory\n"},
      {{"verify", "text.txt"},
       "korvo: text.txt: not a package archive: header tag is 544501614, not 100\n"},
      {{"cat", "missing.pak", "x"}, "korvo: missing.pak: no such file\n"},
      {{"pack", "a.pak", "nodir"}, "korvo: nodir: no such directory\n"},
      {{"pack", "a.pak", "text.txt"}, "korvo: text.txt: not a directory\n"},
      {{"img2png", "missing.img", "-o", "x.png"}, "korvo: missing.img: no such file\n"},
      {{"png2img", "missing.png", "-o", "x.img"}, "korvo: missing.png: no such file\n"},
  };
  for (const Case& c : cases) {
    ToolResult result = RunKorvo(c.args, dir.Path(), dir.Path());
    EXPECT_EQ(result.code, 1) << c.err;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
