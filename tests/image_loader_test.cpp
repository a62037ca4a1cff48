// The tiled image loader: decoding, placement, clipping, limits and the out-parameter rules.
#include <gtest/gtest.h>

#include <cstring>

#include "image/img_loader.h"
#include "image/tile_grid.h"
#include "manager/package_manager.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "support/image_bytes.h"

namespace {

uint32_t gValueSentinel[1];
ImgFrame* gFrameSentinel[1];
constexpr uint32_t kCountSentinel = 0xC0FFEE;

// The caller's three variables, preset to values a load must not touch before it accepts the
// header. Whatever a successful load hands over is freed at the end.
struct Result {
  Result() = default;
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() {
    if (ok) FreeImageFrames(count, count > 1 ? values : nullptr, frames);
  }
  bool Untouched() const {
    return count == kCountSentinel && values == gValueSentinel && frames == gFrameSentinel;
  }
  // After a failure once the header was accepted: count 0, frames null, and values null when
  // there was more than one frame (else untouched).
  bool ResetFor(uint32_t frameCount) const {
    return count == 0 && frames == nullptr && values == (frameCount > 1 ? nullptr : gValueSentinel);
  }

  bool ok = false;
  uint32_t count = kCountSentinel;
  uint32_t* values = gValueSentinel;
  ImgFrame** frames = gFrameSentinel;
};

bool AllStreamsFree(const CPackageManager& manager) {
  if (manager.diskPool.size() != kStreamPoolSize || manager.memPool.size() != kStreamPoolSize)
    return false;
  for (const CDiskStream* s : manager.diskPool)
    if (s == nullptr || !s->IsFree()) return false;
  for (const CMemStream* s : manager.memPool)
    if (s == nullptr || !s->IsFree()) return false;
  return true;
}

// Mounts a package holding file as "Images\Test.img" and loads it by a name written with other
// capitals and slashes.
void LoadFromPackage(const Bytes& file, Result& result) {
  TempDir dir;
  WriteFileBytes(dir / "images.pak", PackageOf({{"Images\\Test.img", file}}));
  CPackageManager manager((dir / "images.pak").c_str(), 0);
  ASSERT_EQ(manager.packages.size(), 1u);
  result.ok =
      LoadImageFrames(manager, "images/TEST.img", &result.count, &result.values, &result.frames);
  EXPECT_TRUE(AllStreamsFree(manager));
}

// Decodes file from memory, without a manager.
void DecodeBytes(const Bytes& file, Result& result) {
  BytesStream stream(file);
  result.ok = DecodeImageStream(stream, &result.count, &result.values, &result.frames);
}

// The decoded form of a format 1 pixel, worked out byte by byte.
Bytes Expand16(uint16_t v) {
  return {static_cast<uint8_t>((v & 0xF) << 4), static_cast<uint8_t>(((v >> 4) & 0xF) << 4),
          static_cast<uint8_t>(((v >> 8) & 0xF) << 4),
          static_cast<uint8_t>(((v >> 12) & 0xF) << 4)};
}

uint32_t Expand16Value(uint16_t v) {
  Bytes b = Expand16(v);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// A one-frame image of a single tile.
Bytes OneTileImage(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth, int32_t imageHeight,
                   int32_t width, int32_t height, int32_t pitch, int32_t format,
                   const Bytes& data) {
  Bytes file = ImageHeader(tileWidth, tileHeight, imageWidth, imageHeight, 1);
  PutTile(file, width, height, pitch, format, data);
  return file;
}

uint32_t Pattern(int32_t frame, int32_t x, int32_t y) {
  return 0x01000000u * static_cast<uint32_t>(frame + 1) + 0x10000u * static_cast<uint32_t>(y) +
         0x100u * static_cast<uint32_t>(x) + static_cast<uint32_t>((x * 7 + y * 13) & 0xFF);
}

}  // namespace

TEST(ImageFormat1, ExpandsEachComponentIntoTheUpperHalfOfItsByte) {
  Bytes file =
      OneTileImage(4, 1, 4, 1, 4, 1, 16, 1, Format16Data({0x1234, 0xFFFF, 0x000F, 0x8421}));
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.count, 1u);
  const ImgFrame* frame = r.frames[0];
  EXPECT_EQ(frame->width, 4u);
  EXPECT_EQ(frame->height, 1u);
  EXPECT_EQ(frame->stride, 16u);
  EXPECT_EQ(frame->format, 3u);
  EXPECT_EQ(FrameBytes(frame), (Bytes{0x40, 0x30, 0x20, 0x10, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0x00,
                                      0x00, 0x00, 0x10, 0x20, 0x40, 0x80}));
  EXPECT_EQ(FramePixel(frame, 0, 0), 0x10203040u);
  EXPECT_EQ(FramePixel(frame, 1, 0), 0xF0F0F0F0u);
  EXPECT_EQ(FramePixel(frame, 2, 0), 0x000000F0u);
  EXPECT_EQ(FramePixel(frame, 3, 0), 0x80402010u);
}

TEST(ImageFormat1, EverySixteenBitValueExpandsAsTheFormulaGives) {
  std::vector<uint16_t> values(65536);
  for (uint32_t v = 0; v < 65536; ++v) values[v] = static_cast<uint16_t>(v);
  Bytes file = OneTileImage(256, 256, 256, 256, 256, 256, 1024, 1, Format16Data(values));
  Result r;
  DecodeBytes(file, r);
  ASSERT_TRUE(r.ok);
  for (uint32_t v = 0; v < 65536; ++v)
    ASSERT_EQ(FramePixel(r.frames[0], v % 256, v / 256), Expand16Value(static_cast<uint16_t>(v)))
        << v;
}

TEST(ImagePlacement, FourFormat3TilesOf32Fill64By64) {
  Bytes file = GridImage(3, 32, 32, 64, 64, 1, Pattern);
  ASSERT_EQ(file.size(), 36u + 4 * (16 + 32 * 128));
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  const ImgFrame* frame = r.frames[0];
  ASSERT_EQ(frame->stride, 256u);
  const uint8_t* base = reinterpret_cast<const uint8_t*>(frame);
  // Tile (1, 0): the 128 bytes of its row 0 are bytes 128..255 of frame row 0.
  const size_t tile10Row0 = 36 + (16 + 32 * 128) + 16;
  EXPECT_EQ(0, std::memcmp(base + 16 + 128, file.data() + tile10Row0, 128));
  // Tile (0, 1): its row 0 is bytes 0..127 of frame row 32.
  const size_t tile01Row0 = 36 + 2 * (16 + 32 * 128) + 16;
  EXPECT_EQ(0, std::memcmp(base + 16 + 32 * 256, file.data() + tile01Row0, 128));
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x) ASSERT_EQ(FramePixel(frame, x, y), Pattern(0, x, y));
}

TEST(ImagePlacement, FourFormat1TilesOf32Fill64By64) {
  auto pixel = [](int32_t, int32_t x, int32_t y) -> uint32_t {
    return x == 32 && y == 32 ? 0x1234u : static_cast<uint32_t>((x * 131 + y * 17) & 0xFFFF);
  };
  Bytes file = GridImage(1, 32, 32, 64, 64, 1, pixel);
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  const uint8_t* base = reinterpret_cast<const uint8_t*>(r.frames[0]);
  EXPECT_EQ(Bytes(base + 16 + 32 * 256 + 128, base + 16 + 32 * 256 + 132),
            (Bytes{0x40, 0x30, 0x20, 0x10}));
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x)
      ASSERT_EQ(FramePixel(r.frames[0], x, y),
                Expand16Value(static_cast<uint16_t>(pixel(0, x, y))));
}

TEST(ImagePlacement, TileRowsArePlacedByTheTilesOwnHeight) {
  // The header's cell is 3 rows, so a 4-row frame has two tile rows; each tile is 2 rows high
  // and tile row 1 lands at row 1 * 2.
  Bytes file = ImageHeader(2, 3, 2, 4, 1);
  PutTile(file, 2, 2, 8, 3, Bytes{1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4});
  PutTile(file, 2, 2, 8, 1, Format16Data({0x5555, 0x6666, 0x7777, 0x8888}));
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(FramePixel(r.frames[0], 0, 1), 0x03030303u);
  EXPECT_EQ(FramePixel(r.frames[0], 0, 2), 0x50505050u);
  EXPECT_EQ(FramePixel(r.frames[0], 1, 3), 0x80808080u);
}

TEST(ImagePlacement, LaterTilesOverwriteEarlierOnes) {
  // Pitch 0 puts both tile columns at byte 0 (a format 1 tile's width does not move it).
  Bytes file = ImageHeader(1, 1, 2, 1, 1);
  PutTile(file, 2, 1, 0, 1, Format16Data({0x1111, 0x2222}));
  PutTile(file, 1, 1, 0, 1, Format16Data({0x3333}));
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(FramePixel(r.frames[0], 0, 0), 0x30303030u);
  EXPECT_EQ(FramePixel(r.frames[0], 1, 0), 0x20202020u);
}

TEST(ImageFrames, ZeroFramesGiveAZeroLengthArrayAndNoValues) {
  Bytes file = ImageHeader(8, 8, 16, 16, 0);
  ASSERT_EQ(file.size(), 36u);
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_NE(r.frames, nullptr);
  EXPECT_NE(r.frames, gFrameSentinel);
  EXPECT_EQ(r.values, gValueSentinel);
}

TEST(ImageFrames, OneFrameLeavesTheValueVariableAlone) {
  Result r;
  LoadFromPackage(GridImage(3, 2, 2, 4, 2, 1, Pattern), r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.count, 1u);
  EXPECT_EQ(r.values, gValueSentinel);
  EXPECT_EQ(FramePixel(r.frames[0], 3, 1), Pattern(0, 3, 1));
}

TEST(ImageFrames, TwoFramesGetTheValue100EachAndTheirOwnPixels) {
  Result r;
  LoadFromPackage(GridImage(3, 2, 2, 4, 2, 2, Pattern), r);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.count, 2u);
  ASSERT_NE(r.values, gValueSentinel);
  EXPECT_EQ(r.values[0], 100u);
  EXPECT_EQ(r.values[1], 100u);
  for (uint32_t f = 0; f < 2; ++f)
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 4; ++x)
        EXPECT_EQ(FramePixel(r.frames[f], x, y), Pattern(static_cast<int32_t>(f), x, y));
}

TEST(ImageFrames, AZeroWidthOrHeightGivesHeaderOnlyFramesAndReadsNoTile) {
  for (auto size : {std::pair<int32_t, int32_t>{0, 5}, {5, 0}, {0, 0}}) {
    Bytes file = ImageHeader(8, 8, size.first, size.second, 3);
    Result r;
    LoadFromPackage(file, r);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.count, 3u);
    for (uint32_t f = 0; f < 3; ++f) {
      EXPECT_EQ(r.frames[f]->width, static_cast<uint32_t>(size.first));
      EXPECT_EQ(r.frames[f]->height, static_cast<uint32_t>(size.second));
      EXPECT_EQ(r.frames[f]->stride, 4u * static_cast<uint32_t>(size.first));
      EXPECT_EQ(r.frames[f]->format, 3u);
      EXPECT_EQ(r.values[f], 100u);
    }
  }
}

TEST(ImageFrames, ManyEmptyFramesLoad) {
  Result r;
  DecodeBytes(ImageHeader(1, 1, 0, 0, 1000), r);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.count, 1000u);
  for (uint32_t f = 0; f < 1000; ++f) ASSERT_EQ(r.values[f], 100u);
}

TEST(ImageGrid, TheHeaderDecidesHowManyTileRecordsAFrameHolds) {
  struct Case {
    int32_t tileWidth, tileHeight, imageWidth, imageHeight, records;
  };
  for (const Case& c :
       {Case{64, 64, 10, 10, 1}, Case{64, 64, 100, 1, 2}, Case{64, 64, 128, 1, 2},
        Case{64, 64, 129, 1, 3}, Case{64, 64, 1, 129, 3}, Case{64, 64, 100, 100, 4}}) {
    // Tiles of one pixel, at byte tx * 4 of row ty.
    Bytes file = ImageHeader(c.tileWidth, c.tileHeight, c.imageWidth, c.imageHeight, 1);
    for (int32_t i = 0; i < c.records; ++i) PutTile(file, 1, 1, 4, 3, Bytes{1, 2, 3, 4});
    Result whole;
    DecodeBytes(file, whole);
    EXPECT_TRUE(whole.ok) << c.imageWidth << "x" << c.imageHeight;
    // One record fewer is a truncated file.
    file.resize(file.size() - 20);
    Result shorter;
    DecodeBytes(file, shorter);
    EXPECT_FALSE(shorter.ok) << c.imageWidth << "x" << c.imageHeight;
  }
}

TEST(ImageLimits, TileSidesOf2048AreAccepted) {
  Bytes wide = OneTileImage(2048, 1, 2048, 1, 2048, 1, 8192, 3, Bytes(8192, 0x5A));
  Result a;
  LoadFromPackage(wide, a);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(FramePixel(a.frames[0], 2047, 0), 0x5A5A5A5Au);

  Bytes tall = OneTileImage(1, 2048, 1, 2048, 1, 2048, 4, 1, Bytes(4096, 0x21));
  Result b;
  LoadFromPackage(tall, b);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(FramePixel(b.frames[0], 0, 2047), 0x20102010u);
}

TEST(ImageLimits, TileSidesOutside1To2048FailAndFreeEverything) {
  for (int32_t bad : {2049, 0, -1, INT32_MIN}) {
    Result w;
    LoadFromPackage(OneTileImage(4, 1, 4, 1, bad, 1, 16, 3, Bytes(16, 1)), w);
    EXPECT_FALSE(w.ok) << bad;
    EXPECT_TRUE(w.ResetFor(1)) << bad;

    Result h;
    LoadFromPackage(OneTileImage(1, 4, 1, 4, 1, bad, 4, 3, Bytes(16, 1)), h);
    EXPECT_FALSE(h.ok) << bad;
    EXPECT_TRUE(h.ResetFor(1)) << bad;
  }
}

TEST(ImageLimits, OnlyFormats1And3AreDecoded) {
  for (int32_t format : {0, 2, 4, -1, 0x103}) {
    Result r;
    LoadFromPackage(OneTileImage(1, 1, 1, 1, 1, 1, 4, format, Bytes{1, 2, 3, 4}), r);
    EXPECT_FALSE(r.ok) << format;
    EXPECT_TRUE(r.ResetFor(1)) << format;
  }
}

TEST(ImageMagic, AnyChangeInTheFirstEightBytesIsNotAnImage) {
  const Bytes good = GridImage(3, 2, 2, 2, 2, 2, Pattern);
  for (size_t i = 0; i < 8; ++i) {
    Bytes file = good;
    file[i] ^= 0x20;
    Result r;
    LoadFromPackage(file, r);
    EXPECT_FALSE(r.ok) << i;
    EXPECT_TRUE(r.Untouched()) << i;
  }
}

TEST(ImageMagic, FailedLoadsGiveTheirStreamsBack) {
  TempDir dir;
  Bytes bad = GridImage(3, 2, 2, 2, 2, 1, Pattern);
  bad[3] = 0x1B;
  WriteFileBytes(dir / "bad.img", bad);
  WriteFileBytes(dir / "good.img", GridImage(3, 2, 2, 2, 2, 1, Pattern));
  WriteFileBytes(dir / "p.pak", PackageOf({{"bad.img", bad}}));
  CPackageManager manager((dir / "p.pak").c_str(), 0);
  // Twelve failures from the package pool and twelve from the disk pool, each of ten streams.
  for (int i = 0; i < 12; ++i) {
    Result fromPackage, fromDisk;
    EXPECT_FALSE(LoadImageFrames(manager, "BAD.IMG", &fromPackage.count, &fromPackage.values,
                                 &fromPackage.frames));
    EXPECT_TRUE(fromPackage.Untouched());
    EXPECT_FALSE(LoadImageFrames(manager, (dir / "bad.img").c_str(), &fromDisk.count,
                                 &fromDisk.values, &fromDisk.frames));
    EXPECT_TRUE(fromDisk.Untouched());
  }
  EXPECT_TRUE(AllStreamsFree(manager));
  Result r;
  r.ok = LoadImageFrames(manager, (dir / "good.img").c_str(), &r.count, &r.values, &r.frames);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(AllStreamsFree(manager));
}

TEST(ImageMagic, ReservedWordsAndTrailingBytesChangeNothing) {
  const Bytes good = GridImage(1, 4, 4, 8, 8, 2, Pattern);
  Result reference;
  LoadFromPackage(good, reference);
  ASSERT_TRUE(reference.ok);

  Bytes reserved = good;
  for (size_t i = 8; i < 16; ++i) reserved[i] = static_cast<uint8_t>(0xA0 + i);
  Bytes trailing = good;
  PutBytes(trailing, Bytes(100, 0xEE));
  PutBytes(trailing, ImageHeader(1, 1, 1, 1, 1));
  for (const Bytes* file : {&reserved, &trailing}) {
    Result r;
    LoadFromPackage(*file, r);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.count, 2u);
    for (uint32_t f = 0; f < 2; ++f)
      EXPECT_EQ(FrameBytes(r.frames[f]), FrameBytes(reference.frames[f]));
  }
}

TEST(ImageFailures, ABadTileInTheSecondFrameFreesTheFirst) {
  for (int32_t frames : {2, 3}) {
    Bytes file = ImageHeader(2, 2, 2, 2, frames);
    PutTile(file, 2, 2, 8, 3, Bytes(16, 7));
    PutTile(file, 2, 2, 8, 2, Bytes(16, 7));
    if (frames == 3) PutTile(file, 2, 2, 8, 3, Bytes(16, 7));
    Result r;
    LoadFromPackage(file, r);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.ResetFor(static_cast<uint32_t>(frames)));
  }
}

TEST(ImageFailures, EveryTruncationFails) {
  // Two frames mixing both formats, a clipped tile and rows below the frame.
  Bytes file = ImageHeader(2, 2, 3, 3, 2);
  for (int f = 0; f < 2; ++f) {
    PutTile(file, 2, 2, 8, 3, Bytes(16, 1));
    PutTile(file, 2, 2, 8, 1, Format16Data({1, 2, 3, 4}));
    PutTile(file, 2, 2, 8, 1, Format16Data({5, 6, 7, 8}));
    PutTile(file, 2, 2, 8, 3, Bytes(16, 2));
  }
  Result whole;
  DecodeBytes(file, whole);
  ASSERT_TRUE(whole.ok);
  for (size_t length = 0; length < file.size(); ++length) {
    Result r;
    DecodeBytes(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), r);
    ASSERT_FALSE(r.ok) << length;
    ASSERT_TRUE(r.Untouched() || r.ResetFor(2)) << length;
    if (length < 36) {
      ASSERT_TRUE(r.Untouched()) << length;
    }
  }
}

TEST(ImageFailures, TruncatedFilesFailFromPackageAndDisk) {
  Bytes file = GridImage(3, 4, 4, 8, 8, 1, Pattern);
  file.resize(file.size() - 1);
  Result fromPackage;
  LoadFromPackage(file, fromPackage);
  EXPECT_FALSE(fromPackage.ok);
  EXPECT_TRUE(fromPackage.ResetFor(1));

  TempDir dir;
  WriteFileBytes(dir / "cut.img", file);
  CPackageManager manager((dir / "none.pak").c_str(), 0);
  Result fromDisk;
  fromDisk.ok = LoadImageFrames(manager, (dir / "cut.img").c_str(), &fromDisk.count,
                                &fromDisk.values, &fromDisk.frames);
  EXPECT_FALSE(fromDisk.ok);
  EXPECT_TRUE(fromDisk.ResetFor(1));
  EXPECT_TRUE(AllStreamsFree(manager));
}

TEST(ImageFailures, MissingNamesAndNullArgumentsFailWithoutWriting) {
  TempDir dir;
  CPackageManager manager((dir / "none.pak").c_str(), 0);
  Result r;
  EXPECT_FALSE(
      LoadImageFrames(manager, (dir / "missing.img").c_str(), &r.count, &r.values, &r.frames));
  EXPECT_TRUE(r.Untouched());
  EXPECT_FALSE(LoadImageFrames(manager, nullptr, &r.count, &r.values, &r.frames));
  EXPECT_FALSE(LoadImageFrames(manager, "x", nullptr, &r.values, &r.frames));
  EXPECT_FALSE(LoadImageFrames(manager, "x", &r.count, nullptr, &r.frames));
  EXPECT_FALSE(LoadImageFrames(manager, "x", &r.count, &r.values, nullptr));
  EXPECT_TRUE(r.Untouched());
  EXPECT_TRUE(AllStreamsFree(manager));
}

TEST(ImageClipping, Format3TilesReachingPastTheFrameAreCut) {
  // A 40 x 40 frame with 32 x 32 cells: the second column and row reach 24 pixels past it.
  auto virtualPixel = [](int32_t, int32_t x, int32_t y) { return Pattern(0, x, y); };
  Bytes grid = GridImage(3, 32, 32, 64, 64, 1, virtualPixel);
  Bytes file = ImageHeader(32, 32, 40, 40, 1);
  file.insert(file.end(), grid.begin() + 36, grid.end());
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.frames[0]->stride, 160u);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(FramePixel(r.frames[0], x, y), Pattern(0, x, y));
}

TEST(ImageClipping, Format1TilesReachingPastTheFrameAreCut) {
  auto virtualPixel = [](int32_t, int32_t x, int32_t y) {
    return static_cast<uint32_t>((x * 257 + y * 31) & 0xFFFF);
  };
  Bytes grid = GridImage(1, 32, 32, 64, 64, 1, virtualPixel);
  Bytes file = ImageHeader(32, 32, 33, 63, 1);
  file.insert(file.end(), grid.begin() + 36, grid.end());
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  for (int32_t y = 0; y < 63; ++y)
    for (int32_t x = 0; x < 33; ++x)
      ASSERT_EQ(FramePixel(r.frames[0], x, y),
                Expand16Value(static_cast<uint16_t>(virtualPixel(0, x, y))));
}

TEST(ImageClipping, Format1PixelsCrossingTheEdgeKeepTheirBytesInside) {
  // Pitch 6: tile column 1 starts at byte 6 of a 12-byte row; its second pixel has only its two
  // low bytes inside.
  Bytes right = ImageHeader(2, 1, 3, 1, 1);
  PutTile(right, 2, 1, 6, 1, Format16Data({0x1111, 0x2222}));
  PutTile(right, 2, 1, 6, 1, Format16Data({0xABCD, 0x4321}));
  Result a;
  LoadFromPackage(right, a);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(FrameBytes(a.frames[0]),
            (Bytes{0x10, 0x10, 0x10, 0x10, 0x20, 0x20, 0xD0, 0xC0, 0xB0, 0xA0, 0x10, 0x20}));

  // Pitch -2: tile column 1 starts two bytes before the row; its first pixel has only its two
  // high bytes inside.
  Bytes left = ImageHeader(1, 1, 2, 1, 1);
  PutTile(left, 1, 1, -8, 1, Format16Data({0x1111}));
  PutTile(left, 3, 1, -2, 1, Format16Data({0xABCD, 0x4321, 0x5555}));
  Result b;
  LoadFromPackage(left, b);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(FrameBytes(b.frames[0]), (Bytes{0xB0, 0xA0, 0x10, 0x20, 0x30, 0x40, 0x50, 0x50}));
}

TEST(ImageClipping, RowsBelowTheFrameAreReadAndDropped) {
  for (int32_t format : {1, 3}) {
    Bytes file = ImageHeader(4, 2, 4, 3, 1);
    Bytes data = format == 3 ? Bytes(32, 0x11) : Bytes(16, 0x11);
    PutTile(file, 4, 2, 16, format, data);
    for (auto& b : data) b = 0x22;
    PutTile(file, 4, 2, 16, format, data);
    PutBytes(file, Bytes(32, 0x33));  // trailing bytes: not read
    Result r;
    LoadFromPackage(file, r);
    ASSERT_TRUE(r.ok) << format;
    Bytes expected(48, format == 3 ? 0x11 : 0x10);
    for (size_t i = 32; i < 48; ++i) expected[i] = format == 3 ? 0x22 : 0x20;
    EXPECT_EQ(FrameBytes(r.frames[0]), expected) << format;
  }
}

TEST(ImageClipping, ColumnsWhollyPastTheFrameAreDropped) {
  Bytes file = ImageHeader(1, 1, 2, 1, 1);
  PutTile(file, 2, 1, 8, 3, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  PutTile(file, 1, 1, 70000, 3, Bytes(70000, 0x99));  // lands at byte 70000
  Result r;
  LoadFromPackage(file, r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(FrameBytes(r.frames[0]), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(ImageClipping, AFormat3TileWithANegativePitchFails) {
  Result r;
  LoadFromPackage(OneTileImage(1, 1, 1, 1, 1, 1, -4, 3, Bytes(4, 0)), r);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.ResetFor(1));
}

TEST(ImageHostileHeaders, AreRejectedBeforeAnythingIsAllocated) {
  struct Case {
    const char* what;
    int32_t tileWidth, tileHeight, imageWidth, imageHeight, frameCount;
  };
  const Case cases[] = {
      {"tile width 0", 0, 8, 8, 8, 1},
      {"tile width -1", -1, 8, 8, 8, 1},
      {"tile height 0", 8, 0, 8, 8, 1},
      {"tile height min", 8, INT32_MIN, 8, 8, 1},
      {"negative width", 8, 8, -1, 8, 1},
      {"negative height", 8, 8, 8, -5, 1},
      {"negative frame count", 8, 8, 8, 8, -1},
      {"frame count with top bit", 8, 8, 8, 8, INT32_MIN},
      {"frame over 4 GiB", 64, 64, 65536, 16384, 1},
      {"stride over 32 bits", INT32_MAX, 1, INT32_MAX, 0, 1},
      {"width near the top", 2, 2, INT32_MAX, 1, 1},
      {"one frame over 1 GiB", 64, 64, 16384, 16384, 1},
      {"frames over 1 GiB", 64, 64, 8192, 8192, 5},
      {"empty frames over 1 GiB", 1, 1, 0, 0, INT32_MAX},
      {"grid of 100 million cells", 1, 1, 10000, 10000, 1},
      {"64 MiB frame in a 36-byte file", 64, 64, 4096, 4096, 1},
      {"many frames in a 36-byte file", 64, 64, 64, 64, 10000},
  };
  TempDir dir;
  std::vector<std::pair<std::string, Bytes>> entries;
  for (const Case& c : cases)
    entries.push_back({c.what, ImageHeader(c.tileWidth, c.tileHeight, c.imageWidth, c.imageHeight,
                                           c.frameCount)});
  WriteFileBytes(dir / "hostile.pak", PackageOf(entries));
  CPackageManager manager((dir / "hostile.pak").c_str(), 0);
  for (const Case& c : cases) {
    Result r;
    r.ok = LoadImageFrames(manager, c.what, &r.count, &r.values, &r.frames);
    EXPECT_FALSE(r.ok) << c.what;
    // Untouched: the header was refused, so not even the frame array was allocated.
    EXPECT_TRUE(r.Untouched()) << c.what;
  }
  EXPECT_TRUE(AllStreamsFree(manager));
}

TEST(ImageHostileHeaders, TheLoadLimitIsOneGibibyteInAll) {
  auto header = [](int32_t w, int32_t h, int32_t frames, int32_t tile = 64) {
    ImgFileHeader hd{};
    hd.tileWidth = tile;
    hd.tileHeight = tile;
    hd.imageWidth = w;
    hd.imageHeight = h;
    hd.frameCount = frames;
    return hd;
  };
  EXPECT_TRUE(ImageHeaderWithinLimits(header(8192, 8192, 3)));
  EXPECT_FALSE(ImageHeaderWithinLimits(header(8192, 8192, 4)));
  EXPECT_TRUE(ImageHeaderWithinLimits(header(0, 0, 1000000)));
  EXPECT_FALSE(ImageHeaderWithinLimits(header(0, 0, 40000000)));
  EXPECT_TRUE(ImageHeaderWithinLimits(header(2048, 2048, 1, 1)));
  EXPECT_FALSE(ImageHeaderWithinLimits(header(16384, 16384, 1, 1)));
}

TEST(ImageStreams, APackageEntryWinsOverADiskFileOfTheSameName) {
  TempDir dir;
  const std::string path = dir / "same.img";
  WriteFileBytes(path, OneTileImage(1, 1, 1, 1, 1, 1, 4, 3, Bytes{1, 1, 1, 1}));
  WriteFileBytes(dir / "p.pak",
                 PackageOf({{path, OneTileImage(1, 1, 1, 1, 1, 1, 4, 3, Bytes{2, 2, 2, 2})}}));
  CPackageManager manager((dir / "p.pak").c_str(), 0);
  Result fromPackage;
  fromPackage.ok = LoadImageFrames(manager, path.c_str(), &fromPackage.count, &fromPackage.values,
                                   &fromPackage.frames);
  ASSERT_TRUE(fromPackage.ok);
  EXPECT_EQ(FramePixel(fromPackage.frames[0], 0, 0), 0x02020202u);

  CPackageManager diskOnly((dir / "none.pak").c_str(), 0);
  Result fromDisk;
  fromDisk.ok =
      LoadImageFrames(diskOnly, path.c_str(), &fromDisk.count, &fromDisk.values, &fromDisk.frames);
  ASSERT_TRUE(fromDisk.ok);
  EXPECT_EQ(FramePixel(fromDisk.frames[0], 0, 0), 0x01010101u);
}

TEST(ImageStreams, Format1TilesAreReadInFewCalls) {
  // 64 rows of 64 pixels: the tile header and the whole tile in two reads.
  std::vector<uint16_t> values(64 * 64, 0x1234);
  BytesStream stream(OneTileImage(64, 64, 64, 64, 64, 64, 256, 1, Format16Data(values)));
  Result r;
  r.ok = DecodeImageStream(stream, &r.count, &r.values, &r.frames);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(stream.reads, 3u);  // file header, tile header, pixels
}

TEST(ImageStreams, DecodesFromADiskStreamDirectly) {
  TempDir dir;
  WriteFileBytes(dir / "a.img", GridImage(3, 4, 4, 8, 4, 2, Pattern));
  CDiskStream stream;
  ASSERT_TRUE(stream.Open((dir / "a.img").c_str(), ModeRead));
  Result r;
  r.ok = DecodeImageStream(stream, &r.count, &r.values, &r.frames);
  stream.Close();
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.count, 2u);
  EXPECT_EQ(FramePixel(r.frames[1], 7, 3), Pattern(1, 7, 3));
}

TEST(ImageTileGrid, CountsCellsAndStartsWithNullSlots) {
  ImgTileGrid* grid = CreateTileGrid(64, 64, 100, 129, 2);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->tileWidth, 64);
  EXPECT_EQ(grid->tileHeight, 64);
  EXPECT_EQ(grid->imageWidth, 100);
  EXPECT_EQ(grid->imageHeight, 129);
  EXPECT_EQ(grid->tilesAcross, 2);
  EXPECT_EQ(grid->tilesDown, 3);
  EXPECT_EQ(grid->frameCount, 2);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(grid->tiles[i], nullptr);
  ReleaseTileGrid(&grid);
  EXPECT_EQ(grid, nullptr);
  ReleaseTileGrid(&grid);  // a null grid stays null
  EXPECT_EQ(grid, nullptr);
  ReleaseTileGrid(nullptr);

  ImgTileGrid* one = CreateTileGrid(64, 64, 10, 128, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->tilesAcross, 1);
  EXPECT_EQ(one->tilesDown, 2);
  ReleaseTileGrid(&one);

  EXPECT_EQ(CreateTileGrid(0, 64, 10, 10, 1), nullptr);
  EXPECT_EQ(CreateTileGrid(64, 64, -1, 10, 1), nullptr);
  EXPECT_EQ(CreateTileGrid(64, 64, 10, 10, -1), nullptr);
  EXPECT_EQ(CreateTileGrid(1, 1, INT32_MAX, INT32_MAX, INT32_MAX), nullptr);
}
