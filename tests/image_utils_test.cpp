// Image type sniffing and the path and string helpers.
#include "image/image_utils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "manager/package_list.h"
#include "platform/platform.h"

TEST(SniffImageType, NamesGifBmpAndJpegByTheirFirstTwoBytes) {
  char out[8];
  std::memset(out, '#', sizeof(out));
  SniffImageType(out, 8, "GIF89a", 6);
  EXPECT_EQ(std::string(out, 5), std::string("gif\0#", 5));

  std::memset(out, '#', sizeof(out));
  SniffImageType(out, 8, "BMxx", 4);
  EXPECT_STREQ(out, "bmp");

  const unsigned char jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
  std::memset(out, '#', sizeof(out));
  SniffImageType(out, 4, jpeg, 4);
  EXPECT_STREQ(out, "jpg");

  // Only two bytes count: "GI" and anything after it is a GIF.
  std::memset(out, '#', sizeof(out));
  SniffImageType(out, 8, "GIX", 3);
  EXPECT_STREQ(out, "gif");
}

TEST(SniffImageType, SmallDestinationsGetThatManyLettersAndNoTerminator) {
  const unsigned char jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
  for (int32_t size = 1; size <= 3; ++size) {
    char out[8];
    std::memset(out, '#', sizeof(out));
    SniffImageType(out, size, jpeg, 4);
    std::string expected = std::string("jpg").substr(0, static_cast<size_t>(size)) +
                           std::string(8 - static_cast<size_t>(size), '#');
    EXPECT_EQ(std::string(out, 8), expected) << size;
  }
}

TEST(SniffImageType, WritesNothingForOtherDataOrBadArguments) {
  char out[8];
  std::memset(out, '#', sizeof(out));
  SniffImageType(out, 8, "PK\3\4", 4);  // a zip file
  SniffImageType(out, 8, "BM", 2);      // too short: at least 3 bytes
  SniffImageType(out, 0, "GIF", 3);
  SniffImageType(out, -1, "GIF", 3);
  SniffImageType(out, 8, nullptr, 3);
  SniffImageType(nullptr, 8, "GIF", 3);
  EXPECT_EQ(std::string(out, 8), std::string(8, '#'));
}

TEST(GetFileNameOffset, IsJustAfterTheLastSeparator) {
  EXPECT_EQ(GetFileNameOffset("abc"), 0);
  EXPECT_EQ(GetFileNameOffset("dir/abc"), 4);
  EXPECT_EQ(GetFileNameOffset("dir\\abc"), 4);
  EXPECT_EQ(GetFileNameOffset("dir/"), 4);
  EXPECT_EQ(GetFileNameOffset(""), 0);
  EXPECT_EQ(GetFileNameOffset("a\\b/c\\d.txt"), 6);
  EXPECT_EQ(GetFileNameOffset(nullptr), 0);
}

TEST(GetFileExtension, CopiesWhatFollowsTheLastDot) {
  char out[64];
  GetFileExtension(out, "a/b.c/d.png");
  EXPECT_STREQ(out, "png");
  GetFileExtension(out, "a/b");
  EXPECT_STREQ(out, "");
  GetFileExtension(out, "a/b.c/d");
  EXPECT_STREQ(out, "c/d");
  GetFileExtension(out, "archive.tar.gz");
  EXPECT_STREQ(out, "gz");
  GetFileExtension(out, "ends.");
  EXPECT_STREQ(out, "");
}

TEST(GetFileExtension, TheBoundedFormCutsAndReports) {
  char out[8];
  std::memset(out, '#', sizeof(out));
  EXPECT_TRUE(GetFileExtension(out, sizeof(out), "a/b.c/d.png"));
  EXPECT_STREQ(out, "png");
  EXPECT_TRUE(GetFileExtension(out, 4, "x.png"));
  EXPECT_STREQ(out, "png");
  std::memset(out, '#', sizeof(out));
  EXPECT_FALSE(GetFileExtension(out, 3, "x.png"));
  EXPECT_EQ(std::string(out, 4), std::string("pn\0#", 4));
  EXPECT_TRUE(GetFileExtension(out, 1, "none"));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(GetFileExtension(out, 1, "x.p"));
  EXPECT_STREQ(out, "");
  std::memset(out, '#', sizeof(out));
  EXPECT_FALSE(GetFileExtension(out, 0, "x.p"));
  EXPECT_FALSE(GetFileExtension(nullptr, 8, "x.p"));
  EXPECT_EQ(out[0], '#');
}

TEST(CharOffsets, StepOneByteInASingleByteText) {
  const char* text = "ab";
  EXPECT_EQ(CharNextOffset(text, 0), 1);
  EXPECT_EQ(CharNextOffset(text, 1), 2);
  EXPECT_EQ(CharNextOffset(text, 2), 2);  // no move at the terminator
  EXPECT_EQ(CharPrevOffset(text, 2), 1);
  EXPECT_EQ(CharPrevOffset(text, 1), 0);
  EXPECT_EQ(CharPrevOffset(text, 0), 0);
  EXPECT_EQ(CharNextOffset("", 0), 0);
}

#ifndef _WIN32
TEST(CharOffsets, FollowTheMultiByteCharactersOfTheLocale) {
  std::string saved = std::setlocale(LC_CTYPE, nullptr);
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr &&
      std::setlocale(LC_CTYPE, "en_US.UTF-8") == nullptr) {
    GTEST_SKIP() << "no UTF-8 locale";
  }
  const char* text = "a\xC3\xA9z";  // a, e with acute (two bytes), z
  EXPECT_EQ(CharNextOffset(text, 0), 1);
  EXPECT_EQ(CharNextOffset(text, 1), 3);
  EXPECT_EQ(CharNextOffset(text, 3), 4);
  EXPECT_EQ(CharNextOffset(text, 4), 4);
  EXPECT_EQ(CharPrevOffset(text, 4), 3);
  EXPECT_EQ(CharPrevOffset(text, 3), 1);
  EXPECT_EQ(CharPrevOffset(text, 1), 0);
  std::setlocale(LC_CTYPE, saved.c_str());
}
#endif

TEST(GetExeDirectoryCached, FillsOnceAndReturnsTheSameBuffer) {
  char* first = GetExeDirectoryCached();
  char expected[260];
  GetExeDirectory(expected);
  EXPECT_STREQ(first, expected);
  ASSERT_NE(first[0], '\0');
  EXPECT_EQ(first[std::strlen(first) - 1], platform::kPathSeparator);

  // A later call hands back the buffer as it is, without asking the platform again: a mark
  // left in it survives.
  std::string saved = first;
  std::strcpy(first, "marked");
  char* second = GetExeDirectoryCached();
  EXPECT_EQ(second, first);
  EXPECT_STREQ(second, "marked");
  std::strcpy(first, saved.c_str());
}
