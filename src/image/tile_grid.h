// ImgTileGrid: the layout record of an image file's tile grid. One block holds the seven counts
// and a table of one pointer slot per tile record of the file (tilesAcross * tilesDown *
// frameCount slots). The loader does not build it (it reads no slot); its size is one of the
// bounds a header must meet. compat/tile_grid_record.h builds and releases it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvo {

struct ImgTileGrid {
  int32_t tileWidth;
  int32_t tileHeight;
  int32_t imageWidth;
  int32_t imageHeight;
  int32_t tilesAcross;  // (imageWidth + tileWidth - 1) / tileWidth
  int32_t tilesDown;    // (imageHeight + tileHeight - 1) / tileHeight
  int32_t frameCount;
  void** tiles;  // the slot table, in the same block right after this record
};

// The record rounded up so that the slot table that follows it is aligned for pointers.
constexpr size_t TileGridRecordBytes =
    (sizeof(ImgTileGrid) + alignof(void*) - 1) / alignof(void*) * alignof(void*);

// Bytes of the block a grid of the given counts takes, or 0 when the counts are out of range
// (a cell size below 1, a negative size or count) or the block would not fit in 32 bits.
uint64_t TileGridBytes(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                       int32_t imageHeight, int32_t frameCount);

}  // namespace korvo
