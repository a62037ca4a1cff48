// The tiled image file format.
//
//   offset 0    ImgFileHeader, 36 bytes: "KWF" 0x1A "IANI", two reserved words, the grid cell
//               size, the frame size and the frame count, each a signed 32-bit integer
//   offset 36   the tile records of frame 0, then of frame 1, and so on; within a frame tile
//               row 0 first, and within a tile row column 0 first
//
// A tile record is an ImgTileHeader (width, height, pitch, format: 16 bytes) followed at once
// by its pixels: format 1 stores height rows of width 16-bit pixels (4 bits a component),
// format 3 stores height rows of pitch bytes copied unchanged into the frame. Tile (tx, ty)
// lands at frame row ty * height and frame byte tx * pitch, by the tile's own height and pitch.
// Bytes after the last record are ignored. All integers are little-endian.
#pragma once

#include <cstdint>

#include "common/byte_order.h"

namespace korvo {

constexpr uint32_t ImgFileHeaderSize = 36;
constexpr uint32_t ImgTileHeaderSize = 16;
constexpr uint8_t ImgMagic[8] = {'K', 'W', 'F', 0x1A, 'I', 'A', 'N', 'I'};

// Tile width and height lie in 1..ImgMaxTileSide.
constexpr int32_t ImgMaxTileSide = 2048;

// Tile pixel formats. Decoded frames always carry ImgFormat32.
constexpr int32_t ImgFormat16 = 1;  // 16-bit pixels, four 4-bit components
constexpr int32_t ImgFormat32 = 3;  // 32-bit pixels as they lie in memory

// Each frame array entry holds this value: the file carries no per-frame value.
constexpr uint32_t ImgFrameValue = 100;

// The most a single load may allocate for the frames, the arrays and the tile grid together
// (1 GiB), each allocation counted with ImgAllocationOverhead bytes of bookkeeping. Headers
// asking for more are rejected before anything is allocated.
constexpr uint64_t ImgMaxLoadBytes = uint64_t{1} << 30;
constexpr uint64_t ImgAllocationOverhead = 16;

// Frames of zero width or height hold no tile record and so cost no input at all: a file may
// announce at most this many of them.
constexpr int32_t ImgMaxEmptyFrames = 4096;

// A load whose frames, arrays and tile grid together need at most this much (256 MiB, counted
// as for ImgMaxLoadBytes) allocates them whatever the file's length: a stored image may be
// sparse, its tiles covering little of its frames. Above it, the file must be able to fill the
// frames before they are allocated, by the densest tile encoding: a format 1 pixel takes 2 bytes
// of the file and fills 4 bytes of its frame, so a file carries at least frameBytes /
// ImgMaxFillRatio bytes of pixels for each frame (plus its tile headers).
constexpr uint64_t ImgFreeLoadBytes = uint64_t{256} << 20;
constexpr uint64_t ImgMaxFillRatio = 2;

struct ImgFileHeader {
  uint8_t magic[8];    // ImgMagic
  int32_t reserved1;   // not interpreted
  int32_t reserved2;   // not interpreted
  int32_t tileWidth;   // grid cell width in pixels, at least 1
  int32_t tileHeight;  // grid cell height in rows, at least 1
  int32_t imageWidth;  // frame width in pixels, 0 or more
  int32_t imageHeight;
  int32_t frameCount;
};

struct ImgTileHeader {
  int32_t width;   // pixels per tile row, 1..2048
  int32_t height;  // rows, 1..2048
  int32_t pitch;   // format 3: bytes per stored row; both: bytes from one tile column to the next
  int32_t format;  // ImgFormat16 or ImgFormat32
};

inline int32_t LoadLE32Signed(const uint8_t* p) {
  return static_cast<int32_t>(LoadLE32(p));
}

inline ImgFileHeader DecodeImgFileHeader(const uint8_t in[ImgFileHeaderSize]) {
  ImgFileHeader header;
  for (int i = 0; i < 8; ++i) header.magic[i] = in[i];
  header.reserved1 = LoadLE32Signed(in + 8);
  header.reserved2 = LoadLE32Signed(in + 12);
  header.tileWidth = LoadLE32Signed(in + 16);
  header.tileHeight = LoadLE32Signed(in + 20);
  header.imageWidth = LoadLE32Signed(in + 24);
  header.imageHeight = LoadLE32Signed(in + 28);
  header.frameCount = LoadLE32Signed(in + 32);
  return header;
}

inline ImgTileHeader DecodeImgTileHeader(const uint8_t in[ImgTileHeaderSize]) {
  ImgTileHeader tile;
  tile.width = LoadLE32Signed(in);
  tile.height = LoadLE32Signed(in + 4);
  tile.pitch = LoadLE32Signed(in + 8);
  tile.format = LoadLE32Signed(in + 12);
  return tile;
}

// True when the first eight bytes are the image magic.
inline bool HasImgMagic(const uint8_t* p) {
  for (int i = 0; i < 8; ++i)
    if (p[i] != ImgMagic[i]) return false;
  return true;
}

// A format 1 pixel as the 32-bit value of its decoded form: component k (bits 4k..4k+3) moves
// to the upper half of byte k; the lower halves are 0.
inline uint32_t ExpandFormat16(uint32_t v) {
  return ((v & 0x000Fu) << 4) | ((v & 0x00F0u) << 8) | ((v & 0x0F00u) << 12) |
         ((v & 0xF000u) << 16);
}

// Grid cells needed to cover size pixels with cells of cell pixels (cell >= 1, size >= 0),
// computed in 64 bits so that no value of the file can overflow it.
inline int64_t ImgCellsToCover(int64_t size, int64_t cell) {
  return (size + cell - 1) / cell;
}

}  // namespace korvo
