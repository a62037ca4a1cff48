// Image type sniffing, the path and multi-byte string helpers, and the tile grid record.
#include "compat/image_utils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "compat/tile_grid_record.h"

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
  // Data, its size, the destination size, and the 8 bytes it leaves. Two bytes decide, of at
  // least three; sizes of 1 to 3 get that many letters and no terminator.
  const std::tuple<const char*, int32_t, int32_t, std::string> cases[] = {
      {"GIF89a", 6, 8, "gif|####"},       {"GIX", 3, 4, "gif|####"},
      {"BMxx", 4, 8, "bmp|####"},         {"\xFF\xD8\xFF", 3, 8, "jpg|####"},
      {"\xFF\xD8\xFF", 3, 3, "jpg#####"}, {"BMx", 3, 2, "bm######"},
      {"GIF", 3, 1, "g#######"},          {"PK\3\4", 4, 8, "########"},  // unknown
      {"BM", 2, 8, "########"},           {"GIF", 3, 0, "########"},     // too short; no room
      {"GIF", 3, -1, "########"},         {nullptr, 3, 8, "########"}};
  for (const auto& [data, dataSize, size, expected] : cases)
    EXPECT_EQ(sniff(data, dataSize, size), expected) << (data ? data : "null") << " " << size;
}

TEST(ImageUtils, PathPartsFollowTheLastSeparatorAndTheLastDot) {
  EXPECT_EQ(GetFileNameOffset("a\\b/c\\d.txt"), 6);
  EXPECT_EQ(GetFileNameOffset("dir/"), 4);
  EXPECT_EQ(GetFileNameOffset("abc"), 0);
  EXPECT_EQ(GetFileNameOffset(""), 0);
  EXPECT_EQ(GetFileNameOffset(nullptr), 0);
  // The bounded form cuts to size - 1 bytes and says so; a size of 0 writes nothing.
  struct Case {
    const char* path;
    size_t size;
    bool whole;
    std::string bounded, unbounded;
  };
  const Case cases[] = {{"a/b.c/d.png", 4, true, "png|####", "png"},
                        {"archive.tar.gz", 3, true, "gz|#####", "gz"},
                        {"a/b.c/d", 3, false, "c/|#####", "c/d"},
                        {"ends.", 1, true, "|#######", ""},
                        {"a/b", 1, true, "|#######", ""},
                        {"x.p", 1, false, "|#######", "p"},
                        {"x.p", 0, false, "########", "p"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.path << " into " << c.size);
    bool whole = false;
    EXPECT_EQ(Written([&](char* out) { whole = GetFileExtension(out, c.size, c.path); }),
              c.bounded);
    EXPECT_EQ(whole, c.whole);
    char unbounded[64];
    GetFileExtension(unbounded, c.path);
    EXPECT_STREQ(unbounded, c.unbounded.c_str());
  }
  EXPECT_FALSE(GetFileExtension(nullptr, 8, "x.p"));
}

TEST(ImageUtils, CharOffsetsStepByTheCharactersOfTheLocale) {
  // No move at the terminator or before the start.
  EXPECT_EQ(CharNextOffset("ab", 1), 2);
  EXPECT_EQ(CharNextOffset("ab", 2), 2);  // at the terminator
  EXPECT_EQ(CharPrevOffset("ab", 1), 0);
  EXPECT_EQ(CharPrevOffset("ab", 0), 0);  // at the start
#ifndef _WIN32
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  if (!std::setlocale(LC_CTYPE, "C.UTF-8") && !std::setlocale(LC_CTYPE, "en_US.UTF-8"))
    GTEST_SKIP() << "no UTF-8 locale";
  const char* text = "a\xC3\xA9z";        // a, e with acute (two bytes), z
  EXPECT_EQ(CharNextOffset(text, 1), 3);  // over both bytes of the e
  EXPECT_EQ(CharNextOffset(text, 3), 4);
  EXPECT_EQ(CharPrevOffset(text, 4), 3);
  EXPECT_EQ(CharPrevOffset(text, 3), 1);  // back over both bytes
  std::setlocale(LC_CTYPE, saved.c_str());
#endif
}

TEST(ImageUtils, TileGridRecordsHoldTheCountsAndOneNullSlotPerTileRecord) {
  ImgTileGrid* grid = CreateTileGrid(4, 3, 10, 7, 2);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(
      std::vector<int32_t>({grid->tileWidth, grid->tileHeight, grid->imageWidth, grid->imageHeight,
                            grid->tilesAcross, grid->tilesDown, grid->frameCount}),
      std::vector<int32_t>({4, 3, 10, 7, 3, 3, 2}));
  EXPECT_EQ(reinterpret_cast<char*>(grid->tiles) - reinterpret_cast<char*>(grid),
            ptrdiff_t(TileGridRecordBytes));
  for (int i = 0; i < 3 * 3 * 2; ++i) EXPECT_EQ(grid->tiles[i], nullptr) << i;
  grid->tiles[17] = std::malloc(5);  // a filled slot is freed with the record
  ReleaseTileGrid(&grid);
  EXPECT_EQ(grid, nullptr);
  ReleaseTileGrid(&grid);                                     // a null grid stays null
  ReleaseTileGrid(nullptr);                                   // a null address does nothing
  EXPECT_EQ(CreateTileGrid(0, 3, 10, 7, 2), nullptr);         // a cell below one pixel
  EXPECT_EQ(CreateTileGrid(1, 1, 65536, 65536, 1), nullptr);  // beyond 32 bits
}
