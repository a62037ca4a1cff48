// Builds tiled image files byte by byte for the image suites, independent of the library's
// image writer, and small helpers to look at decoded frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KorvoLoader.h"
#include "stream/res_stream.h"
#include "support/test_files.h"

// The 36-byte file header: "KWF" 0x1A "IANI", the two reserved words, then the five values.
Bytes ImageHeader(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth, int32_t imageHeight,
                  int32_t frameCount, uint32_t reserved1 = 0, uint32_t reserved2 = 0);

// Appends a tile record: the 16-byte tile header, then data as given.
void PutTile(Bytes& out, int32_t width, int32_t height, int32_t pitch, int32_t format,
             const Bytes& data);

// Format 1 pixel data: the values as little-endian 16-bit words.
Bytes Format16Data(const std::vector<uint16_t>& values);

// A gapless image whose every tile is tileWidth x tileHeight with pitch 4 * tileWidth (the frame
// size must be a multiple of the tile size). pixel(frame, x, y) gives each pixel: its 32-bit
// value stored little-endian (format 3) or its low 16 bits (format 1).
using PixelFunction = std::function<uint32_t(int32_t frame, int32_t x, int32_t y)>;
Bytes GridImage(int32_t format, int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                int32_t imageHeight, int32_t frameCount, const PixelFunction& pixel);

// The 32-bit value of a decoded pixel, read little-endian from the frame.
uint32_t FramePixel(const ImgFrame* frame, uint32_t x, uint32_t y);
// A decoded frame's pixel bytes (stride * height).
Bytes FrameBytes(const ImgFrame* frame);

// A package of one or more entries, each stored as zlib's compress gives it.
Bytes PackageOf(const std::vector<std::pair<std::string, Bytes>>& entries);

// A read-only stream over bytes held in memory, for decoding without a manager.
class BytesStream : public CResStream {
 public:
  explicit BytesStream(Bytes data);
  uint32_t Read(void* buffer, uint32_t count) override;
  bool Write(const void*, uint32_t) override { return false; }
  int32_t Seek(int32_t offset, int32_t origin) override;
  bool Eof() override { return position_ >= data_.size(); }
  // Number of Read calls so far.
  uint32_t reads = 0;

 private:
  Bytes data_;
  size_t position_ = 0;
};
