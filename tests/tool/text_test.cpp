// The tool's text layout: names made printable, help wrapped at word boundaries, the progress
// line fitted to the terminal.
#include <gtest/gtest.h>

#include "progress.h"
#include "tool.h"

namespace {

using korvo::tool::Printable;

TEST(Printable, EscapesBytesThatAreNotPrintableText) {
  const std::tuple<bool, std::string, std::string> cases[] = {
      {false, "plain\\name.txt", "plain\\name.txt"},
      {false, "\xE6\x97\xA5.txt", "\\xE6\\x97\\xA5.txt"},
      {true, "\xE6\x97\xA5.txt", "\xE6\x97\xA5.txt"},
      {true, "caf\xC3\xA9", "caf\xC3\xA9"},
      {true, "tab\there", "tab\\x09here"},
      {true, "bad\xFF", "bad\\xFF"},
      {true, "cut\xE6\x97", "cut\\xE6\\x97"},           // a sequence cut short
      {true, "over\xC0\xAF", "over\\xC0\\xAF"},         // an overlong '/'
      {true, "sur\xED\xA0\x80", "sur\\xED\\xA0\\x80"},  // a surrogate half
      {true, "c1\xC2\x85", "c1\\xC2\\x85"},             // a C1 control (next line)
      {true, "rlo\xE2\x80\xAE", "rlo\\xE2\\x80\\xAE"},  // right-to-left override
      {true, "ls\xE2\x80\xA8", "ls\\xE2\\x80\\xA8"},    // line separator
  };
  for (const auto& c : cases) {
    korvo::tool::SetUtf8Output(std::get<0>(c));
    EXPECT_EQ(Printable(std::get<1>(c)), std::get<2>(c)) << std::get<2>(c);
  }
  korvo::tool::SetUtf8Output(false);
}

TEST(WrapText, BreaksAtSpacesOnlyAndKeepsIndentsAndShortLines) {
  using korvo::tool::WrapText;
  EXPECT_EQ(WrapText("one two three four", 9), "one two\nthree\nfour");
  EXPECT_EQ(WrapText("a unbreakablewordhere b", 8), "a\nunbreakablewordhere\nb");
  EXPECT_EQ(WrapText("  indented text here", 12), "  indented\n  text here");
  EXPECT_EQ(WrapText("short  spaced\n\nnext", 20), "short  spaced\n\nnext");
  EXPECT_EQ(WrapText("\xE6\x97\xA5\xE6\x97\xA5 ab", 5), "\xE6\x97\xA5\xE6\x97\xA5 ab");
}

TEST(ProgressLine, FitsTheTerminalAndLeavesTheLastColumnFree) {
  using korvo::tool::ProgressLine;
  const std::pair<int, std::string> cases[] = {
      {100, "[################........................]  42%  3/7 files  1.5 KiB/3.5 KiB"},
      {80, "[################........................]  42%  3/7 files  1.5 KiB/3.5 KiB"},
      {40, "[#############...................]  42%"},
      {20, "[#####.......]  42%"},
      {12, "  42%"},
      {3, ""},
      {0, ""},
  };
  for (const auto& c : cases) {
    std::string line = ProgressLine(0.42, 3, 7, 1536, 3584, c.first);
    EXPECT_EQ(line, c.second) << c.first;
    EXPECT_LT(line.size(), static_cast<size_t>(std::max(c.first, 1))) << c.first;
  }
}

}  // namespace
