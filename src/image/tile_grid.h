// ImgTileGrid: the layout record the image loader builds from a file header and releases
// before it returns. One block holds the seven counts and a table of one pointer slot per tile
// record of the file (tilesAcross * tilesDown * frameCount slots, all null when created).
#pragma once

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

// Bytes of the block a grid of the given counts takes, or 0 when the counts are out of range
// (a cell size below 1, a negative size or count) or the block would not fit in 32 bits.
uint64_t TileGridBytes(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                       int32_t imageHeight, int32_t frameCount);

// A new zeroed grid for the header values, or null when they are out of range (see
// TileGridBytes) or the allocation fails.
ImgTileGrid* CreateTileGrid(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                            int32_t imageHeight, int32_t frameCount);

// Frees every non-null slot, then the grid, and sets *grid to null. A null address or a null
// grid does nothing.
void ReleaseTileGrid(ImgTileGrid** grid);

}  // namespace korvo
