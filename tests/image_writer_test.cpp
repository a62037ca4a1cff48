// The image writer: its files are well formed and decode back to the pixels given.
#include <gtest/gtest.h>

#include <cstring>

#include "image/img_loader.h"
#include "image/img_writer.h"
#include "support/image_bytes.h"

namespace {

// Walks a file as the format lays it out and checks that every tile lies inside its frame and
// that together the tiles cover every byte of it. Returns an empty string when all is well.
std::string CheckWellFormed(const Bytes& file, int32_t format) {
  if (file.size() < 36) return "short header";
  const int64_t tileWidth = static_cast<int32_t>(GetU32(file, 16));
  const int64_t tileHeight = static_cast<int32_t>(GetU32(file, 20));
  const int64_t width = static_cast<int32_t>(GetU32(file, 24));
  const int64_t height = static_cast<int32_t>(GetU32(file, 28));
  const int64_t frames = static_cast<int32_t>(GetU32(file, 32));
  if (tileWidth < 1 || tileHeight < 1) return "bad cell size";
  const int64_t across = (width + tileWidth - 1) / tileWidth;
  const int64_t down = (height + tileHeight - 1) / tileHeight;
  size_t at = 36;
  for (int64_t f = 0; f < frames; ++f) {
    std::vector<bool> covered(static_cast<size_t>(4 * width * height), false);
    for (int64_t ty = 0; ty < down; ++ty) {
      for (int64_t tx = 0; tx < across; ++tx) {
        if (at + 16 > file.size()) return "short tile header";
        const int64_t w = static_cast<int32_t>(GetU32(file, at));
        const int64_t h = static_cast<int32_t>(GetU32(file, at + 4));
        const int64_t pitch = static_cast<int32_t>(GetU32(file, at + 8));
        const int64_t fmt = static_cast<int32_t>(GetU32(file, at + 12));
        at += 16;
        if (w < 1 || w > 2048 || h < 1 || h > 2048) return "tile side out of range";
        if (fmt != format) return "unexpected format";
        const int64_t rowBytes = fmt == 3 ? pitch : 4 * w;
        if (tx * pitch < 0 || tx * pitch + rowBytes > 4 * width || ty * h + h > height)
          return "tile outside its frame";
        for (int64_t r = 0; r < h; ++r)
          for (int64_t b = 0; b < rowBytes; ++b)
            covered[static_cast<size_t>((ty * h + r) * 4 * width + tx * pitch + b)] = true;
        at += static_cast<size_t>(fmt == 3 ? pitch * h : 2 * w * h);
      }
    }
    for (bool c : covered)
      if (!c) return "a byte of the frame is not covered";
  }
  if (at != file.size()) return "bytes after the last tile";
  return "";
}

Bytes Noise(size_t size, uint32_t seed) {
  Bytes out(size);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

// Encodes frames of noise, checks the file, decodes it and compares the pixels.
void RoundTrip(int32_t width, int32_t height, int32_t frameCount, ImgWriteOptions options) {
  SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " format " +
               std::to_string(options.format) + " tile " + std::to_string(options.tileWidth) + "x" +
               std::to_string(options.tileHeight));
  std::vector<Bytes> pixels;
  std::vector<const uint8_t*> frames;
  for (int32_t f = 0; f < frameCount; ++f)
    pixels.push_back(Noise(4 * static_cast<size_t>(width) * static_cast<size_t>(height),
                           static_cast<uint32_t>(f * 77 + width)));
  for (const Bytes& p : pixels) frames.push_back(p.data());
  Bytes file;
  std::string error;
  ASSERT_TRUE(EncodeImage(frames, width, height, options, file, error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(CheckWellFormed(file, options.format), "");
  EXPECT_EQ(GetU32(file, 8), 0u);
  EXPECT_EQ(GetU32(file, 12), 0u);

  BytesStream stream(file);
  uint32_t count = 0;
  uint32_t* values = nullptr;
  ImgFrame** decoded = nullptr;
  ASSERT_TRUE(DecodeImageStream(stream, &count, &values, &decoded));
  ASSERT_EQ(count, static_cast<uint32_t>(frameCount));
  for (int32_t f = 0; f < frameCount; ++f) {
    Bytes expected = pixels[static_cast<size_t>(f)];
    if (options.format == 1)
      for (auto& b : expected) b &= 0xF0;
    EXPECT_EQ(decoded[f]->width, static_cast<uint32_t>(width));
    EXPECT_EQ(decoded[f]->height, static_cast<uint32_t>(height));
    EXPECT_TRUE(FrameBytes(decoded[f]) == expected) << "frame " << f;
  }
  FreeImageFrames(count, values, decoded);
}

std::string EncodeError(int32_t width, int32_t height, size_t frameCount, ImgWriteOptions options,
                        const uint8_t* pixels) {
  std::vector<const uint8_t*> frames(frameCount, pixels);
  Bytes file = {1, 2, 3};
  std::string error;
  EXPECT_FALSE(EncodeImage(frames, width, height, options, file, error));
  EXPECT_TRUE(file.empty());
  return error;
}

ImgWriteOptions Options(int32_t format, int32_t tileWidth = 0, int32_t tileHeight = 0) {
  ImgWriteOptions options;
  options.format = format;
  options.tileWidth = tileWidth;
  options.tileHeight = tileHeight;
  return options;
}

}  // namespace

TEST(ImageWriter, ChosenTileSizesFitEveryFrameSize) {
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1},    {64, 64}, {100, 100}, {97, 61},
                                               {129, 3},  {3, 129}, {2049, 2},  {4099, 1},
                                               {1, 4099}, {0, 5},   {5, 0}};
  for (int32_t format : {1, 3})
    for (auto size : sizes)
      for (int32_t frames : {1, 3}) RoundTrip(size.first, size.second, frames, Options(format));
}

TEST(ImageWriter, GivenTileSizesAreKeptOrSplitEvenly) {
  RoundTrip(128, 64, 2, Options(3, 32, 16));
  RoundTrip(128, 64, 1, Options(1, 32, 16));
  // 100 rows in cells of 64: two tile rows of 50 each; the columns of format 1 end narrower.
  RoundTrip(100, 100, 1, Options(1, 64, 64));
  RoundTrip(100, 100, 1, Options(3, 64, 64));
  // A cell larger than the frame: one tile.
  RoundTrip(1000, 7, 1, Options(1, 3000, 3000));
  RoundTrip(7, 1000, 1, Options(3, 3000, 3000));
}

TEST(ImageWriter, AFourByFourImageOfOneTileIsLaidOutExactly) {
  Bytes pixels(64);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 4 + 0x0F);
  Bytes file;
  std::string error;
  ASSERT_TRUE(EncodeImage({pixels.data()}, 4, 4, Options(1), file, error));
  Bytes expected = ImageHeader(4, 4, 4, 4, 1);
  PutTile(expected, 4, 4, 16, 1, {});
  for (size_t p = 0; p < 16; ++p) {
    const uint8_t* b = &pixels[4 * p];
    expected.push_back(static_cast<uint8_t>((b[0] >> 4) | (b[1] & 0xF0)));
    expected.push_back(static_cast<uint8_t>((b[2] >> 4) | (b[3] & 0xF0)));
  }
  EXPECT_EQ(file, expected);
}

TEST(ImageWriter, NoFramesGiveTheBareHeader) {
  Bytes file;
  std::string error;
  ASSERT_TRUE(EncodeImage({}, 16, 16, Options(3), file, error));
  EXPECT_EQ(file.size(), 36u);
  EXPECT_EQ(GetU32(file, 32), 0u);
}

TEST(ImageWriter, RejectsWhatCannotBeEncodedWithOneLine) {
  uint8_t pixel[4] = {};
  EXPECT_EQ(EncodeError(-1, 4, 1, Options(3), pixel),
            "image width and height must not be negative");
  EXPECT_EQ(EncodeError(4, 4, 1, Options(2), pixel), "tile format 2 is not supported: use 1 or 3");
  EXPECT_EQ(EncodeError(4, 4, 1, Options(3, -2, 0), pixel),
            "tile width and height must not be negative");
  EXPECT_EQ(EncodeError(4, 4, 2, Options(3), nullptr), "frame 0 has no pixels");
  EXPECT_EQ(EncodeError(97, 97, 1, Options(3, 64, 64), pixel),
            "tile height 64 cannot cover 97 rows: tile rows are placed by their own height, so "
            "the number of tile rows must divide the image height into tiles of 1 to 2048 rows "
            "(or give tile height 0)");
  EXPECT_EQ(EncodeError(5, 1, 1, Options(3, 2, 1), pixel),
            "tile width 2 cannot cover 5 pixels in format 3: the number of tile columns must "
            "divide the row into equal tiles of at most 2048 pixels (or give tile width 0)");
  EXPECT_EQ(EncodeError(5000, 1, 1, Options(1, 3000, 1), pixel),
            "tile width 3000 cannot cover 5000 pixels: tiles are at most 2048 pixels wide");
  // Checked before any pixel is read.
  EXPECT_EQ(EncodeError(8192, 8192, 4, Options(3), pixel),
            "4 frames of 8192 x 8192 pixels are more than a loader accepts (1 GiB in all)");
  for (const std::string& e :
       {EncodeError(97, 97, 1, Options(3, 64, 64), pixel), EncodeError(4, 4, 1, Options(0), pixel)})
    EXPECT_EQ(e.find('\n'), std::string::npos);
}

TEST(ImageWriter, AGivenFormat1TileSplitsColumnsButNotRows) {
  // Format 1 may narrow its last column, so 5 pixels in cells of 2 are fine.
  RoundTrip(5, 1, 1, Options(1, 2, 1));
}
