// Building and releasing the tile grid's layout record (image/tile_grid.h). The loader needs
// neither; they are kept for callers that hold such a record.
#pragma once

#include <cstdint>

#include "image/tile_grid.h"

namespace korvo {

// A new zeroed grid for the header values, or null when they are out of range (see
// TileGridBytes) or the allocation fails.
ImgTileGrid* CreateTileGrid(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                            int32_t imageHeight, int32_t frameCount);

// Frees every non-null slot, then the grid, and sets *grid to null. A null address or a null
// grid does nothing.
void ReleaseTileGrid(ImgTileGrid** grid);

}  // namespace korvo
