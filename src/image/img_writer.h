// Writing tiled image files: the authoring side of the image format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"

namespace korvo {

struct ImgWriteOptions {
  int32_t tileWidth = 0;   // 0: chosen by the writer
  int32_t tileHeight = 0;  // 0: chosen by the writer
  int32_t format = 3;      // 1 (4 bits a component) or 3 (32-bit pixels as given)
};

// Encodes frames of width x height pixels, each given as 4 bytes a pixel, row after row, in
// the byte order of a decoded frame. Every frame has the same size. The file written always
// decodes back to the same pixels (format 1: the top four bits of each byte). InvalidArgument,
// with a one-line reason as the detail, when the frames or the options cannot make a
// well-formed file; NoMemory when the file cannot be held. out is empty after a failure.
Status EncodeImage(const std::vector<const uint8_t*>& frames, int32_t width, int32_t height,
                   const ImgWriteOptions& options, std::vector<uint8_t>& out);

// The tile size EncodeImage uses for frames of width x height with these options: each side
// of the requested size that the frames allow is kept, and any other side (0 included) is the
// one the writer chooses, which can always be placed: what to ask for instead of a refused size.
void ChooseTileSize(int32_t width, int32_t height, const ImgWriteOptions& options,
                    int32_t& tileWidth, int32_t& tileHeight);

}  // namespace korvo
