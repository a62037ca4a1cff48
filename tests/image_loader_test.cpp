// The tiled image loader: decoding, placement, clipping, limits and the out-parameter rules,
// and LoadImgFile through the real shared library from a host program of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "image/pixel_rows.h"
#include "support/image_bytes.h"

using namespace korvo;

namespace {

// Bytes written as pairs of hexadecimal digits; spaces are for reading.
Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += text[i] == ' ' ? 1 : 2)
    if (text[i] != ' ') out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), 0, 16)));
  return out;
}

// Distinct in every frame, and in the low 16 bits at every (x, y) below 64, using all of them.
uint32_t Pattern(int frame, int x, int y) {
  return static_cast<uint32_t>((frame + 1) << 24 | (x ^ y) << 16 | x << 10 | y << 4 | (x + y) % 16);
}

// A format 1 word as a decoded pixel: each 4-bit component in the upper half of its byte.
uint32_t Expand(uint32_t v) {
  return (v & 0xF) << 4 | (v & 0xF0) << 8 | (v & 0xF00) << 12 | (v & 0xF000) << 16;
}

// The 32-bit pixel at index i of a buffer of decoded pixels.
uint32_t FramePixelBytes(const Bytes& pixels, size_t i) {
  return LoadLE32(&pixels[4 * i]);
}

}  // namespace

TEST(ImagePlacement, FramesHoldExactlyTheBytesTheirTilesPlace) {
  auto check = [](const char* what, std::array<int32_t, 4> cellAndFrameSize,
                  const std::vector<TileRecord>& tiles, const char* expected) {
    const auto& h = cellAndFrameSize;
    Bytes file = ImageHeader(h[0], h[1], h[2], h[3], 1);
    for (const TileRecord& t : tiles) PutTile(file, t);
    for (bool lend : {true, false}) {
      Loaded r;
      ASSERT_TRUE(r.Decode(file, lend)) << what;
      EXPECT_EQ(r.frames[0]->format, 3u) << what;  // nothing written before the first row
      EXPECT_EQ(FrameBytes(r.frames[0]), Hex(expected)) << what << (lend ? ", lent" : ", copied");
    }
  };
  check("format 1: little-endian words, each component to the top of its byte", {4, 1, 4, 1},
        {{4, 1, 16, 1, Hex("3412 FFFF 0F00 2184")}}, "40302010 F0F0F0F0 F0000000 10204080");
  check("cells of 3 rows, tiles of 2: tile row 1 starts at row 2", {2, 3, 2, 4},
        {{2, 2, 8, 3, Hex("01010101 02020202 03030303 04040404")},
         {2, 2, 8, 1, Hex("5555 6666 7777 8888")}},
        "01010101 02020202 03030303 04040404 50505050 60606060 70707070 80808080");
  check("pitch 0: the later tile overwrites", {1, 1, 2, 1},
        {{2, 1, 0, 1, Hex("1111 2222")}, {1, 1, 0, 1, Hex("3333")}}, "30303030 20202020");
  check("column 1 at byte 6 of 12 keeps 2 bytes of its pixel 1", {2, 1, 3, 1},
        {{2, 1, 6, 1, Hex("1111 2222")}, {2, 1, 6, 1, Hex("CDAB 2143")}},
        "10101010 2020D0C0 B0A01020");
  check("column 1 at byte -2 keeps 2 bytes of its pixel 0", {1, 1, 2, 1},
        {{1, 1, -8, 1, Hex("1111")}, {3, 1, -2, 1, Hex("CDAB 2143 5555")}}, "B0A01020 30405050");
  check("column 1 at byte 70000 is read and dropped", {1, 1, 2, 1},
        {{2, 1, 8, 3, Hex("01020304 05060708")}, {1, 1, 70000, 3, Bytes(70000, 0x99)}},
        "01020304 05060708");
  check("a shorter tile in the same tile row still overwrites", {1, 2, 2, 2},
        {{2, 2, 0, 1, Hex("1111 2222 3333 4444")}, {1, 1, 4, 3, Hex("AAAAAAAA")}},
        "10101010 AAAAAAAA 30303030 40404040");
}

TEST(ImagePlacement, LongTileRowsOfBothFormatsLandAsTheirRecordsSay) {
  // 70 tiles a tile row, formats mixed, the second tile row reaching below the frame.
  const int32_t across = 70;
  Bytes file = ImageHeader(1, 2, across, 3, 1);
  for (int32_t ty = 0; ty < 2; ++ty)
    for (int32_t tx = 0; tx < across; ++tx) {
      const int32_t format = tx % 3 == 0 ? 1 : 3;
      TileRecord tile{1, 2, 4, format, {}};
      for (int32_t y = 2 * ty; y < 2 * ty + 2; ++y)
        format == 1 ? PutU16(tile.data, Pattern(0, tx, y)) : PutU32(tile.data, Pattern(0, tx, y));
      PutTile(file, tile);
    }
  for (bool lend : {true, false}) {
    Loaded r;
    ASSERT_TRUE(r.Decode(file, lend));
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < across; ++x)
        ASSERT_EQ(FramePixel(r.frames[0], x, y),
                  x % 3 ? Pattern(0, x, y) : Expand(Pattern(0, x, y) & 0xFFFF))
            << x << ", " << y << (lend ? ", lent" : ", copied");
  }
}

TEST(ImagePlacement, GridsFillAndAreClippedToTheirFrameInBothFormats) {
  // Format, cell and frame width and height; cells of 32 reach past frames of 40 and 33 x 63.
  const std::array<int32_t, 5> cases[] = {
      {3, 32, 32, 64, 64},   {1, 32, 32, 64, 64},   {3, 32, 32, 40, 40}, {1, 32, 32, 33, 63},
      {3, 2048, 1, 2048, 1}, {1, 1, 2048, 1, 2048}, {1, 3, 2, 5, 3},     {3, 3, 2, 5, 3}};
  auto cover = [](int32_t size, int32_t cell) { return (size + cell - 1) / cell * cell; };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c[0] << ", " << c[3] << "x" << c[4]);
    const Bytes grid =
        GridImage(c[0], c[1], c[2], cover(c[3], c[1]), cover(c[4], c[2]), 1, Pattern);
    Bytes file = ImageHeader(c[1], c[2], c[3], c[4], 1);
    file.insert(file.end(), grid.begin() + 36, grid.end());
    for (bool lend : {true, false}) {
      Loaded r;
      ASSERT_TRUE(r.Decode(file, lend));
      for (int32_t y = 0; y < c[4]; ++y)
        for (int32_t x = 0; x < c[3]; ++x)
          ASSERT_EQ(FramePixel(r.frames[0], x, y),
                    c[0] == 3 ? Pattern(0, x, y) : Expand(Pattern(0, x, y) & 0xFFFF))
              << (lend ? "lent" : "copied");
    }
  }
}

TEST(ImageFrames, FrameCountsAndSizesGiveTheirOutParameters) {
  // 0 frames: a zero-length array; empty frames: no tile read; values (100) for 2 frames or more.
  for (auto c : {std::array<int32_t, 3>{4, 2, 0}, {4, 2, 1}, {4, 2, 2}, {0, 5, 3}, {5, 0, 3}}) {
    SCOPED_TRACE(testing::Message() << c[0] << "x" << c[1] << ", " << c[2] << " frames");
    Loaded r;
    ASSERT_TRUE(r.Decode(GridImage(3, 2, 2, c[0], c[1], c[2], Pattern)));
    ASSERT_EQ(r.count, uint32_t(c[2]));
    EXPECT_NE(r.frames, nullptr);
    EXPECT_NE(r.frames, gFrames);
    EXPECT_EQ(r.values == gValues, c[2] <= 1);  // the value array is written for 2 frames or more
    for (int32_t f = 0; f < c[2]; ++f) {
      const ImgFrame* frame = r.frames[f];
      EXPECT_EQ((std::array<uint32_t, 5>{frame->width, frame->height, frame->stride, frame->format,
                                         c[2] > 1 ? r.values[f] : 100}),
                (std::array<uint32_t, 5>{uint32_t(c[0]), uint32_t(c[1]), 4u * c[0], 3, 100}));
      for (int32_t y = 0; y < c[1]; ++y)
        for (int32_t x = 0; x < c[0]; ++x) EXPECT_EQ(FramePixel(frame, x, y), Pattern(f, x, y));
    }
  }
}

TEST(ImageTiles, SidesOutside1To2048AndFormatsOtherThan1And3FailAndFreeEverything) {
  // A bad tile in the second of three frames: the first is freed, the third never allocated.
  const std::array<int32_t, 4> bad[] = {
      {2049, 1, 16, 3}, {0, 1, 16, 3}, {-1, 1, 16, 3},       {INT32_MIN, 1, 16, 3}, {1, 2049, 4, 3},
      {1, 0, 4, 3},     {1, -1, 4, 1}, {1, INT32_MIN, 4, 1}, {1, 1, 4, 0},          {1, 1, 4, 2},
      {1, 1, 4, 4},     {1, 1, 4, -1}, {1, 1, 4, 0x103},     {1, 1, -4, 3}};
  const TileRecord good{1, 1, 4, 3, {1, 2, 3, 4}};
  for (const auto& c : bad) {
    Bytes file = ImageHeader(1, 1, 1, 1, 3);
    for (const TileRecord& t : {good, TileRecord{c[0], c[1], c[2], c[3], Bytes(16, 1)}, good})
      PutTile(file, t);
    Loaded r;
    EXPECT_FALSE(r.Decode(file)) << "case " << &c - bad;
    EXPECT_TRUE(r.ResetFor(3)) << "case " << &c - bad;
  }
}

TEST(ImageFailures, EveryTruncationFailsAndLeavesNothingBehind) {
  // Two frames mixing both formats, a clipped tile and rows below the frame.
  Bytes file = ImageHeader(2, 2, 3, 3, 2);
  for (int i = 0; i < 8; ++i) PutTile(file, {2, 2, 8, i % 2 ? 1 : 3, Bytes(i % 2 ? 8 : 16, i)});
  ASSERT_TRUE(Loaded().Decode(file));
  for (size_t length = 0; length < file.size(); ++length)
    for (bool lend : {true, false}) {
      Loaded r;
      r.Decode(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), lend);
      ASSERT_TRUE(r.Untouched() || (length >= 36 && r.ResetFor(2))) << length << " " << lend;
    }
}

TEST(ImageFailures, FailedLoadsFromPackagesAndDiskGiveTheirStreamsBack) {
  TempDir dir;
  Bytes bad = GridImage(3, 2, 2, 2, 2, 1, Pattern), cut = bad;
  cut.pop_back();
  for (size_t i = 0; i < 8; ++i) {  // any change in the magic, and the header is refused
    Bytes file = bad;
    file[i] ^= 0x20;
    Loaded r;
    EXPECT_FALSE(r.Decode(file)) << i;
    EXPECT_TRUE(r.Untouched()) << i;
  }
  bad[3] = 0x1B;
  WriteFileBytes(dir / "bad.img", bad);
  WriteFileBytes(dir / "cut.img", cut);
  const std::string package = WritePackage(dir / "p.pak", {{"bad.img", bad}, {"cut.img", cut}});
  CPackageManager manager(package.c_str(), 0);
  for (int i = 0; i < 12; ++i) {  // against pools of ten streams each
    Loaded fromPackage, fromDisk, cutInPackage, cutOnDisk;
    SCOPED_TRACE(i);
    EXPECT_FALSE(fromPackage.From(manager, "BAD.IMG"));
    EXPECT_TRUE(fromPackage.Untouched());
    EXPECT_FALSE(fromDisk.From(manager, dir / "bad.img"));
    EXPECT_TRUE(fromDisk.Untouched());
    EXPECT_FALSE(cutInPackage.From(manager, "cut.img"));
    EXPECT_TRUE(cutInPackage.ResetFor(1));
    EXPECT_FALSE(cutOnDisk.From(manager, dir / "cut.img"));
    EXPECT_TRUE(cutOnDisk.ResetFor(1));
  }
  Loaded r;
  // A null name or out-parameter is refused.
  EXPECT_FALSE(LoadImageFrames(manager, nullptr, &r.count, &r.values, &r.frames).ok());
  EXPECT_FALSE(LoadImageFrames(manager, "bad.img", nullptr, &r.values, &r.frames).ok());
  EXPECT_FALSE(LoadImageFrames(manager, "bad.img", &r.count, nullptr, &r.frames).ok());
  EXPECT_FALSE(LoadImageFrames(manager, "bad.img", &r.count, &r.values, nullptr).ok());
  EXPECT_TRUE(r.Untouched());
  EXPECT_TRUE(StreamPoolsFree(manager));
}

TEST(ImageHostileHeaders, AreRejectedBeforeAnythingIsAllocated) {
  // Cell sides below 1; negative sizes and counts; a stride or frame beyond 32 bits; more than
  // 1 GiB in all (frames, or a grid of 10^8 cells); more tile records than a 36-byte file holds.
  const std::array<int32_t, 5> headers[] = {
      {0, 8, 8, 8, 1},         {-1, 8, 8, 8, 1},          {8, 0, 8, 8, 1},
      {8, INT32_MIN, 8, 8, 1}, {8, 8, -1, 8, 1},          {8, 8, 8, -5, 1},
      {8, 8, 8, 8, -1},        {8, 8, 8, 8, INT32_MIN},   {INT32_MAX, 1, INT32_MAX, 0, 1},
      {2, 2, INT32_MAX, 1, 1}, {64, 64, 65536, 16384, 1}, {64, 64, 16384, 16384, 1},
      {64, 64, 8192, 8192, 5}, {1, 1, 0, 0, INT32_MAX},   {1, 1, 10000, 10000, 1},
      {64, 64, 4096, 4096, 1}, {64, 64, 64, 64, 10000}};
  for (const auto& h : headers) {
    Loaded r;
    SCOPED_TRACE(testing::Message()
                 << h[0] << " " << h[1] << " " << h[2] << " " << h[3] << " " << h[4]);
    EXPECT_FALSE(r.Decode(ImageHeader(h[0], h[1], h[2], h[3], h[4])));
    EXPECT_TRUE(r.Untouched());
  }
  // The limit is 1 GiB in all: three frames of 8192 x 8192 fit, four do not.
  EXPECT_TRUE(CheckImageHeader({{}, 0, 0, 64, 64, 8192, 8192, 3}).ok());
  EXPECT_FALSE(CheckImageHeader({{}, 0, 0, 64, 64, 8192, 8192, 4}).ok());
}

TEST(ImageBounds, FramesWithoutTileRecordsAreCappedAndWalkNoRows) {
  // 36 bytes announcing 2^31 - 1 frames of zero width and 2^31 - 1 rows: refused at once.
  const Bytes many = ImageHeader(1, 1, 0, INT32_MAX, INT32_MAX);
  ASSERT_EQ(many.size(), 36u);
  Loaded refused;
  EXPECT_FALSE(refused.Decode(many));
  EXPECT_TRUE(refused.Untouched());
  EXPECT_EQ(refused.code, StatusCode::TooLarge);
  EXPECT_FALSE(Loaded().Decode(ImageHeader(1, 1, 0, 1, ImgMaxEmptyFrames + 1)));

  // 115 bytes: the most frames without records, 2^31 - 1 rows each, and a tile record that no
  // frame reads. It loads without walking the rows.
  Bytes spin = ImageHeader(1, 1, 0, INT32_MAX, ImgMaxEmptyFrames);
  PutTile(spin, {1, 2048, 0, 3, Bytes(63, 0)});
  ASSERT_EQ(spin.size(), 115u);
  Loaded r;
  ASSERT_TRUE(r.Decode(spin));
  ASSERT_EQ(r.count, uint32_t(ImgMaxEmptyFrames));
  EXPECT_EQ(r.frames[ImgMaxEmptyFrames - 1]->height, uint32_t(INT32_MAX));
  EXPECT_EQ(r.frames[ImgMaxEmptyFrames - 1]->stride, 0u);
}

TEST(ImageBounds, SparseFramesLoadWhateverFollowsTheirLastRecord) {
  // One 1 x 1 tile in a 64 x 64 frame, then the same with 8,200 bytes after its last record.
  Bytes sparse = ImageHeader(64, 64, 64, 64, 1);
  PutTile(sparse, {1, 1, 4, 3, Hex("01020304")});
  // A 4 x 4 frame whose second tile row has tiles of 1 row: it lands at row 1, not row 2.
  Bytes shorter = ImageHeader(4, 2, 4, 4, 1);
  PutTile(shorter, {4, 2, 16, 1, Hex("3412 3412 3412 3412 FFFF FFFF FFFF FFFF")});
  PutTile(shorter, {4, 1, 16, 1, Hex("CDAB CDAB CDAB CDAB")});
  for (const Bytes* file : {&sparse, &shorter})
    for (size_t trailing : {0, 8200}) {
      Bytes bytes = *file;
      bytes.resize(bytes.size() + trailing);
      for (bool lend : {true, false}) {
        SCOPED_TRACE(testing::Message() << (file == &sparse ? "sparse" : "shorter") << " + "
                                        << trailing << (lend ? ", lent" : ", copied"));
        Loaded r;
        ASSERT_TRUE(r.Decode(bytes, lend));
        ASSERT_EQ(r.count, 1u);
        if (file == &sparse) {
          EXPECT_EQ(r.frames[0]->stride, 256u);
          EXPECT_EQ(FramePixel(r.frames[0], 0, 0), 0x04030201u);
        } else {
          for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(FramePixel(r.frames[0], x, 0), 0x10203040u);
            EXPECT_EQ(FramePixel(r.frames[0], x, 1), 0xA0B0C0D0u);
          }
        }
      }
    }
}

TEST(ImageBounds, AboveTheBudgetFramesAreAllocatedOnlyWhenTheInputCanFillThem) {
  // Frames of 2048 x 2048 (16 MiB): 15 fit the 256 MiB budget and need only their records;
  // 16 do not, and need 2 bytes of tile data for every 4 bytes of frame pixels as well.
  const uint64_t frame = uint64_t{2048} * 2048 * 4;
  EXPECT_EQ(ImageMinimumDataBytes({{}, 0, 0, 2048, 2048, 2048, 2048, 15}), 15u * 16);
  EXPECT_EQ(ImageMinimumDataBytes({{}, 0, 0, 2048, 2048, 2048, 2048, 16}), 16 * (16 + frame / 2));
  EXPECT_EQ(ImageMinimumDataBytes({{}, 0, 0, 1, 1, 4, 4, 2}), 2u * 16 * 16);

  // Sixteen such frames announced with one 1 x 1 tile each: refused before anything is
  // allocated.
  Bytes lying = ImageHeader(2048, 2048, 2048, 2048, 16);
  for (int f = 0; f < 16; ++f) PutTile(lying, {1, 1, 4, 1, {1, 2}});
  Loaded refused;
  EXPECT_FALSE(refused.Decode(lying));
  EXPECT_TRUE(refused.Untouched());
  EXPECT_EQ(refused.code, StatusCode::Corrupt);

  // Below the budget a file too short for its tile records is refused just as early.
  const Bytes file = GridImage(1, 4, 4, 8, 8, 2, Pattern);
  EXPECT_TRUE(Loaded().Decode(file));
  Loaded cut;
  EXPECT_FALSE(cut.Decode(Bytes(file.begin(), file.begin() + 36 + 7 * 16)));
  EXPECT_TRUE(cut.Untouched());
}

TEST(ImageCauses, MissingForeignDamagedAndOversizedImagesGiveTheirOwnCauseAndEntriesComeFirst) {
  TempDir dir;
  const Bytes good = GridImage(3, 2, 2, 2, 2, 1, Pattern);
  WriteFileText(dir / "text.img", "plain text, not an image");
  WriteFileBytes(dir / "cut.img", Bytes(good.begin(), good.end() - 1));
  WriteFileBytes(dir / "huge.img", ImageHeader(64, 64, 65536, 16384, 1));
  const std::string package = dir / "p.pak";
  // both.img is a package entry and a disk file of the same name: the entry is loaded.
  WriteFileText(dir / "both.img", "plain text on the disk");
  WriteFileBytes(package,
                 BuildArchive({{"broken.img", Bytes(12, 0xAB), 40},
                               {dir / "both.img", Compress(good), uint32_t(good.size())}}));
  CPackageManager manager(package.c_str(), 0);
  const std::pair<std::string, StatusCode> cases[] = {
      {dir / "missing.img", StatusCode::NotFound}, {dir / "text.img", StatusCode::Unsupported},
      {dir / "cut.img", StatusCode::Corrupt},      {dir / "huge.img", StatusCode::TooLarge},
      {"BROKEN.IMG", StatusCode::Corrupt},         {dir / "both.img", StatusCode::Ok}};
  for (const auto& c : cases) {
    Loaded r;
    EXPECT_EQ(r.From(manager, c.first), c.second == StatusCode::Ok) << c.first;
    EXPECT_EQ(r.code, c.second) << c.first;
  }
  EXPECT_TRUE(StreamPoolsFree(manager));
}

TEST(ImagePixels, FastExpansionWritesWhatThePixelByPixelOneWrites) {
  // Every 16-bit value, then every run length up to 72 (each step and tail of the fast loop)
  // at every alignment of both buffers.
  Bytes in(2 * 65536 + 64), fast(4 * 65536 + 64), slow(fast.size());
  for (uint32_t v = 0; v < 65536; ++v) StoreLE16(&in[2 * v], static_cast<uint16_t>(v));
  ExpandPixels16(fast.data(), in.data(), 65536);
  ExpandPixels16Scalar(slow.data(), in.data(), 65536);
  EXPECT_EQ(fast, slow);
  EXPECT_EQ(FramePixelBytes(fast, 0x1234), 0x10203040u);
  for (int64_t count = 0; count <= 72; ++count)
    for (size_t a = 0; a < 4; ++a) {
      std::fill(fast.begin(), fast.end(), 0xEE);
      std::fill(slow.begin(), slow.end(), 0xEE);
      ExpandPixels16(fast.data() + a, in.data() + 1 + a, count);
      ExpandPixels16Scalar(slow.data() + a, in.data() + 1 + a, count);
      EXPECT_EQ(fast, slow) << count << " pixels at offset " << a;
    }
}

TEST(ImageHost, AHostBesideItsPackageListLoadsFromThePackagesListedAndFromTheDisk) {
  TempDir dir;
  const bool windows = std::filesystem::path(KORVO_LIBRARY_PATH).extension() == ".dll";
  const std::string name = windows ? "/image_host.exe" : "/image_host", bin = dir / "bin";
  const std::string host = bin + name, disk = dir / "a.img";
  MakeDirectories(bin);
  std::filesystem::copy_file(KORVO_TEST_PROGRAM_DIR + name, host);
  WriteFileText(bin + "/package.cfg", "missing.pak\nimages.pak\n");
  auto pixel = [](int f, int x, int y) { return 0x11000000u * (f + 1) + 0x100u * y + x; };
  WritePackage(bin + "/images.pak", {{"Sprites\\Hero.img", GridImage(3, 2, 2, 4, 2, 2, pixel)},
                                     {"ui/Button.img", GridImage(1, 4, 4, 8, 4, 1, pixel)}});
  WriteFileBytes(disk, GridImage(3, 1, 1, 1, 1, 1, pixel));
  std::string command = "\"" + host +
                        "\" \"" KORVO_LIBRARY_PATH "\" sprites/HERO.img \"UI\\button.IMG\" \"" +
                        disk + "\" missing.img > \"" + (dir / "out.txt") + "\"";
  if (windows) command = "\"" + command + "\"";  // as cmd.exe takes a quoted command
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const Bytes bytes = ReadFileBytes(dir / "out.txt");
  std::string text(bytes.begin(), bytes.end());
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // Windows text mode
  EXPECT_EQ(text,
            "sprites/HERO.img: 2 frames"
            " [4x2 stride 16 format 3 value 100 first 11000000 last 11000103]"
            " [4x2 stride 16 format 3 value 100 first 22000000 last 22000103]\n"
            "UI\\button.IMG: 1 frames"
            " [8x4 stride 32 format 3 value 0 first 00000000 last 00300070]\n" +
                disk +
                ": 1 frames [1x1 stride 4 format 3 value 0 first 11000000 last 11000000]\n"
                "missing.img: failed\n");
}
