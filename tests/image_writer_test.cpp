// The image writer: its files are gapless, well formed and decode back to the pixels given.
#include <gtest/gtest.h>

#include "image/img_writer.h"
#include "support/image_bytes.h"

using namespace korvo;

TEST(ImageWriter, FilesAreGaplessAndDecodeToThePixelsGiven) {
  // Width, height, frames, tile width and height (0: the writer's choice), format (0: both).
  const std::array<int32_t, 6> cases[] = {
      {1, 1, 1, 0, 0, 0},          {64, 64, 3, 0, 0, 0},       {97, 61, 2, 0, 0, 0},
      {3, 129, 1, 0, 0, 0},        {2049, 2, 1, 0, 0, 0},      {1, 4099, 1, 0, 0, 0},
      {0, 5, 3, 0, 0, 0},          {5, 0, 1, 0, 0, 0},         {16, 16, 0, 0, 0, 0},
      {128, 64, 2, 32, 16, 0},     {100, 100, 1, 64, 64, 0},   {5, 1, 1, 2, 1, 1},
      {1000, 7, 1, 3000, 3000, 0}, {7, 1000, 1, 3000, 3000, 0}};
  for (int32_t format : {1, 3})
    for (const auto& c : cases) {
      if (c[5] != 0 && c[5] != format) continue;
      SCOPED_TRACE(testing::Message() << "case " << &c - cases << ", format " << format);
      std::vector<Bytes> pixels(size_t(c[2]), Bytes(4 * size_t(c[0]) * size_t(c[1])));
      std::vector<const uint8_t*> frames;
      for (Bytes& p : pixels) {
        for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 131 + i / 977 + frames.size());
        frames.push_back(p.data());
      }
      Bytes file;
      const Status encoded = EncodeImage(frames, c[0], c[1], {c[3], c[4], format}, file);
      ASSERT_TRUE(encoded.ok()) << encoded.detail();
      Loaded r;
      ASSERT_TRUE(r.Decode(file));
      ASSERT_EQ(r.count, pixels.size());
      for (size_t f = 0; f < pixels.size(); ++f) {
        for (auto& b : pixels[f]) b &= format == 1 ? 0xF0 : 0xFF;
        EXPECT_TRUE(FrameBytes(r.frames[f]) == pixels[f]) << "frame " << f;
      }
      // Zero reserved words, then for each frame one tile header a cell and each pixel once.
      const size_t across = (c[0] + GetU32(file, 16) - 1) / GetU32(file, 16);
      const size_t down = (c[1] + GetU32(file, 20) - 1) / GetU32(file, 20);
      EXPECT_EQ(GetU32(file, 8) | GetU32(file, 12), 0u);
      EXPECT_EQ(file.size(),
                36 + c[2] * (16 * across * down + (format == 3 ? 4 : 2) * c[0] * c[1]));
    }
}

TEST(ImageWriter, RejectsWhatCannotBeEncodedWithOneLine) {
  static const uint8_t pixel[4] = {};  // never read: every error is found first
  auto error = [](int32_t width, int32_t height, size_t frames, ImgWriteOptions options) {
    Bytes file = {1, 2, 3};
    const Status encoded =
        EncodeImage(std::vector<const uint8_t*>(frames, width == 3 ? nullptr : pixel), width,
                    height, options, file);
    EXPECT_EQ(encoded.code(), StatusCode::InvalidArgument);
    EXPECT_TRUE(file.empty());
    return encoded.detail();
  };
  EXPECT_EQ(error(-1, 4, 1, {}), "image width and height must not be negative");
  EXPECT_EQ(error(4, 4, 1, {0, 0, 2}), "tile format 2 is not supported: use 1 or 3");
  EXPECT_EQ(error(4, 4, 1, {-2, 0, 3}), "tile width and height must not be negative");
  EXPECT_EQ(error(3, 3, 2, {}), "frame 0 has no pixels");
  EXPECT_EQ(error(97, 97, 1, {64, 64, 3}),
            "tile height 64 cannot cover 97 rows: tile rows are placed by their own height, so "
            "the number of tile rows must divide the image height into tiles of 1 to 2048 rows "
            "(tile height 97 does)");
  EXPECT_EQ(error(5000, 1, 1, {3000, 1, 1}),
            "tile width 3000 cannot cover 5000 pixels: tiles are at most 2048 pixels wide (tile "
            "width 64 does)");
  EXPECT_EQ(error(8192, 8192, 4, {}),  // before any pixel is read
            "tiled image too large: 4 frames of 8192 x 8192 pixels need more than 1 GiB");
  EXPECT_EQ(error(0, 5, 4097, {}),
            "tiled image too large: 4097 frames without pixels (at most 4096)");
}
