// Image type sniffing and the path and multi-byte string helpers.
#include "image/image_utils.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace korvo;

// What write(buffer) leaves in 8 bytes preset to '#', a terminator shown as '|'.
template <typename Write>
static std::string Written(Write write) {
  std::string out(8, '#');
  write(&out[0]);
  for (char& c : out) c = c != '\0' ? c : '|';
  return out;
}

TEST(ImageUtils, SniffImageTypeWritesAsABoundedPrintWould) {
  auto sniff = [](const char* data, int32_t dataSize, int32_t size) {
    return Written([&](char* out) { SniffImageType(out, size, data, dataSize); });
  };
  // Two bytes decide, of at least three; sizes of 1 to 3 get that many letters and no terminator.
  EXPECT_EQ(sniff("GIF89a", 6, 8) + sniff("GIX", 3, 4) + sniff("BMxx", 4, 8) +
                sniff("\xFF\xD8\xFF", 3, 8),
            "gif|####gif|####bmp|####jpg|####");
  EXPECT_EQ(sniff("\xFF\xD8\xFF", 3, 3) + sniff("BMx", 3, 2) + sniff("GIF", 3, 1),
            "jpg#####bm######g#######");
  for (const std::string& nothing : {sniff("PK\3\4", 4, 8), sniff("BM", 2, 8), sniff("GIF", 3, 0),
                                     sniff("GIF", 3, -1), sniff(nullptr, 3, 8)})
    EXPECT_EQ(nothing, "########");
  SniffImageType(nullptr, 8, "GIF", 3);
}

TEST(ImageUtils, PathPartsFollowTheLastSeparatorAndTheLastDot) {
  EXPECT_EQ(GetFileNameOffset("a\\b/c\\d.txt"), 6);
  EXPECT_EQ(GetFileNameOffset("dir/"), 4);
  EXPECT_EQ(GetFileNameOffset("abc") | GetFileNameOffset("") | GetFileNameOffset(nullptr), 0);
  // The bounded form cuts to size - 1 bytes and says so; a size of 0 writes nothing.
  auto extension = [](const char* path, size_t size) {
    bool whole = false;
    const std::string out = Written([&](char* out) { whole = GetFileExtension(out, size, path); });
    char unbounded[64];
    GetFileExtension(unbounded, path);
    return (whole ? "whole " : "cut ") + out + " " + unbounded;
  };
  EXPECT_EQ(extension("a/b.c/d.png", 4), "whole png|#### png");
  EXPECT_EQ(extension("archive.tar.gz", 3), "whole gz|##### gz");
  EXPECT_EQ(extension("a/b.c/d", 3), "cut c/|##### c/d");
  EXPECT_EQ(extension("ends.", 1) + extension("a/b", 1), "whole |####### whole |####### ");
  EXPECT_EQ(extension("x.p", 1) + extension("x.p", 0), "cut |####### pcut ######## p");
  EXPECT_FALSE(GetFileExtension(nullptr, 8, "x.p"));
}

TEST(ImageUtils, CharOffsetsStepByTheCharactersOfTheLocale) {
  // No move at the terminator or before the start.
  EXPECT_EQ(std::vector<int32_t>({CharNextOffset("ab", 1), CharNextOffset("ab", 2),
                                  CharPrevOffset("ab", 1), CharPrevOffset("ab", 0)}),
            std::vector<int32_t>({2, 2, 0, 0}));
#ifndef _WIN32
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  if (!std::setlocale(LC_CTYPE, "C.UTF-8") && !std::setlocale(LC_CTYPE, "en_US.UTF-8"))
    GTEST_SKIP() << "no UTF-8 locale";
  const char* text = "a\xC3\xA9z";  // a, e with acute (two bytes), z
  EXPECT_EQ(std::vector<int32_t>({CharNextOffset(text, 1), CharNextOffset(text, 3),
                                  CharPrevOffset(text, 4), CharPrevOffset(text, 3)}),
            std::vector<int32_t>({3, 4, 3, 1}));
  std::setlocale(LC_CTYPE, saved.c_str());
#endif
}
