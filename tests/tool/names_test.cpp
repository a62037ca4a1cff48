// The name rules the tool relies on: entry names to output paths, typed names to selected
// entries, paths to the entry names that packing stores. Case by case with the exact causes.
#include "archive/names.h"

#include <gtest/gtest.h>

#include "entry_path.h"
#include "select.h"

namespace {

using korvo::EntryOutputPath;
using korvo::PackageEntry;

TEST(EntryPath, SafeNamesMapBelowTheOutputDirectory) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.txt", "a.txt"},
      {"data\\ui\\button.img", "data/ui/button.img"},
      {".\\data\\\\.\\x", "data/x"},
      {"data/./ui//b.img", "data/ui/b.img"},
      {"console/con_.txt", "console/con_.txt"},
      {"COM10", "COM10"},
      {"com", "com"},
      {"conin", "conin"},
      {"LPT\xC2\xB4", "LPT\xC2\xB4"},
      {"a/.", "a"},
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt"},
  };
  for (const auto& c : cases) {
    std::string relative, cause;
    EXPECT_TRUE(EntryOutputPath(c.first, relative, cause)) << c.first << ": " << cause;
    EXPECT_EQ(relative, c.second) << c.first;
  }
}

TEST(EntryPath, UnsafeNamesAreRefusedWithTheirCauseOnEverySystem) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "empty name"},
      {std::string("a\0b", 3), "name holds a zero byte"},
      {"/etc/passwd", "absolute name"},
      {"\\rooted.txt", "absolute name"},
      {"\\\\server\\share\\x", "absolute name (UNC or device path)"},
      {"\\\\?\\C:\\x", "absolute name (UNC or device path)"},
      {"//server/share", "absolute name (UNC or device path)"},
      {"C:\\evil.txt", "absolute name (drive prefix)"},
      {"c:evil.txt", "absolute name (drive prefix)"},
      {"./Z:", "absolute name (drive prefix)"},
      {".\\C:\\evil.txt", "absolute name (drive prefix)"},
      {"\\.\\C:", "absolute name"},
      {"a/b:stream", "name has a ':' (a drive or stream on Windows)"},
      {"../up.txt", "name has a '..' component"},
      {"a\\..\\..\\x", "name has a '..' component"},
      {".", "name has no file component"},
      {"dir\\", "name ends in a separator (a directory, not a file)"},
      {"CON", "name has the reserved device name 'CON'"},
      {"x/nul.txt", "name has the reserved device name 'nul.txt'"},
      {"aux.tar.gz", "name has the reserved device name 'aux.tar.gz'"},
      {"con.d/x", "name has the reserved device name 'con.d'"},
      {"Com1", "name has the reserved device name 'Com1'"},
      {"LPT9.log", "name has the reserved device name 'LPT9.log'"},
      {"COM0", "name has the reserved device name 'COM0'"},
      {"lpt0.txt", "name has the reserved device name 'lpt0.txt'"},
      {"CONIN$", "name has the reserved device name 'CONIN$'"},
      {"x/conout$.log", "name has the reserved device name 'conout$.log'"},
      {"COM\xC2\xB9", "name has the reserved device name 'COM\xC2\xB9'"},
      {"prn .txt", "name has the reserved device name 'prn .txt'"},
      {"a.", "component 'a.' ends in a dot or space, which Windows drops"},
      {"dir /x", "component 'dir ' ends in a dot or space, which Windows drops"},
      {"...", "component '...' ends in a dot or space, which Windows drops"},
      {"what?.txt", "name has a '?', which Windows does not allow in file names"},
      {"a*b", "name has a '*', which Windows does not allow in file names"},
      {"a|b", "name has a '|', which Windows does not allow in file names"},
      {"a<b>", "name has a '<', which Windows does not allow in file names"},
      {"say\"hi\"", "name has a '\"', which Windows does not allow in file names"},
      {"two\nlines", "name has a control character (\\x0A)"},
  };
  for (const auto& c : cases) {
    std::string relative = "unchanged", cause;
    EXPECT_FALSE(EntryOutputPath(c.first, relative, cause)) << c.first;
    EXPECT_EQ(cause, c.second) << c.first;
  }
}

TEST(EntryPath, OutputPathKeysFoldAsciiCaseOnly) {
  EXPECT_EQ(korvo::OutputPathKey("Data/UI/\xC3\x84.IMG"), "data/ui/\xC3\x84.img");
}

TEST(Selection, GlobsFoldedLikeLookups) {
  using korvo::tool::GlobMatches;
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"*.img", "a.img", true},
      {"*.img", "ui\\a.img", false},  // '*' stays within one folder
      {"**.img", "ui\\a.img", true},
      {"ui\\**\\*.img", "ui\\x\\y\\a.img", true},
      {"ui\\*", "ui\\a.img", true},
      {"?.img", "a.img", true},
      {"?.img", "\\.img", false},
      {"[a-c].txt", "b.txt", true},
      {"[!a-c].txt", "b.txt", false},
      {"[!a-c].txt", "d.txt", true},
      {"[x", "[x", true},  // no closing bracket: a literal
      {"a*b*c*d*e*f", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GlobMatches(std::get<0>(c), std::get<1>(c)), std::get<2>(c))
        << std::get<0>(c) << " on " << std::get<1>(c);
  }
}

TEST(Selection, NamesFoldersAndGlobsSelectInArchiveOrder) {
  std::vector<PackageEntry> entries(7);
  const char* names[] = {"data\\ui\\Button.img", "Data/UI/button.img", "data\\ui\\x\\deep.img",
                         "data\\uix.txt",        "readme.txt",         "Data\\ui\\b.txt",
                         "r[e]adme.txt"};
  for (size_t i = 0; i < 7; ++i) entries[i].name = names[i];
  const std::pair<std::vector<std::string>, std::vector<size_t>> cases[] = {
      {{"Data/UI/button.img"}, {1}},  // an exact name alone
      {{"DATA/ui/BUTTON.IMG"}, {0, 1}},
      {{"./data/ui/../ui/button.img"}, {0, 1}},
      {{"data/ui"}, {0, 1, 2, 5}},
      {{"data/ui/"}, {0, 1, 2, 5}},
      {{"data/ui/*.img"}, {0, 1}},
      {{"data/**.img"}, {0, 1, 2}},
      {{"d*"}, {0, 1, 2, 3, 5}},  // a glob matching a folder selects what it holds
      {{"readme.txt", "data/uix.txt"}, {3, 4}},
      {{"r[e]adme.txt"}, {6}},  // an exact name before its glob reading
      {{"R[E]ADME.TXT"}, {4}},
      {{"."}, {0, 1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> unmatched;
    EXPECT_EQ(korvo::tool::SelectEntries(entries, c.first, unmatched), c.second) << c.first[0];
    EXPECT_TRUE(unmatched.empty()) << c.first[0];
  }
  std::vector<std::string> unmatched;
  EXPECT_EQ(korvo::tool::SelectEntries(entries, {"data/u", "*.png", "readme.txt"}, unmatched),
            std::vector<size_t>{4});
  EXPECT_EQ(unmatched, (std::vector<std::string>{"data/u", "*.png"}));
}

TEST(PackNames, DirectoriesNameEntriesAsTheLoaderFindsThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"data", "data"},
      {"./data", "data"},
      {"data/", "data"},
      {"data//ui/./", "data\\ui"},
      {"small/../small/data", "small\\data"},
      {"a\\b", "a\\b"},
      {".", ""},
      {"a/..", ""},
  };
  for (const auto& c : cases) {
    std::string name = "unchanged";
    EXPECT_TRUE(korvo::PackEntryName(c.first, name)) << c.first;
    EXPECT_EQ(name, c.second) << c.first;
  }
  for (const char* refused : {"..", "../x", "a/../../x", "/abs", "\\abs", "C:\\x", "C:x", "./C:"}) {
    std::string name = "unchanged";
    EXPECT_FALSE(korvo::PackEntryName(refused, name)) << refused;
    EXPECT_EQ(name, "unchanged") << refused;
  }
}

}  // namespace
