// PNG files through libspng, and the pixel order of decoded frames.
//
// A decoded frame stores each pixel as the bytes B, G, R, A (the little-endian 32-bit value
// 0xAARRGGBB), the order of 32-bit pixels on the host's platform. PNG rows hold R, G, B, A.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KorvoLoader.h"

namespace korvo::tool {

struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;  // height rows of 4 * width bytes
};

// Frames larger than this in either direction are refused.
constexpr uint32_t MaxPngSide = 16384;

// Reads any PNG as 8-bit RGBA (palette, grey, 16-bit and transparency chunks converted).
bool ReadPng(const std::string& path, RgbaImage& image, std::string& cause);
// Encodes an 8-bit RGBA PNG into png.
bool EncodePng(const RgbaImage& image, std::string& png, std::string& cause);
// Writes an 8-bit RGBA PNG: the bytes of EncodePng.
bool WritePng(const std::string& path, const RgbaImage& image, std::string& cause);

// A decoded frame's pixels as PNG rows.
RgbaImage FrameToRgba(const ImgFrame* frame);
// count frames (at least one, all of the first one's size) side by side in one image. False,
// with a cause, when the sheet would be too wide.
bool FrameSheet(const ImgFrame* const* frames, uint32_t count, RgbaImage& sheet,
                std::string& cause);

// Swaps between R, G, B, A and B, G, R, A for count pixels; in and out may be the same.
void SwapRedBlue(const uint8_t* in, uint8_t* out, size_t count);

}  // namespace korvo::tool
