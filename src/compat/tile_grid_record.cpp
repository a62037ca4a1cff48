#include "compat/tile_grid_record.h"

#include <cstdint>
#include <cstdlib>

#include "image/img_format.h"

namespace korvo {

ImgTileGrid* CreateTileGrid(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                            int32_t imageHeight, int32_t frameCount) {
  uint64_t bytes = TileGridBytes(tileWidth, tileHeight, imageWidth, imageHeight, frameCount);
  if (bytes == 0) return nullptr;
  void* block = std::calloc(1, static_cast<size_t>(bytes));
  if (block == nullptr) return nullptr;
  ImgTileGrid* grid = static_cast<ImgTileGrid*>(block);
  grid->tileWidth = tileWidth;
  grid->tileHeight = tileHeight;
  grid->imageWidth = imageWidth;
  grid->imageHeight = imageHeight;
  grid->tilesAcross = static_cast<int32_t>(ImgCellsToCover(imageWidth, tileWidth));
  grid->tilesDown = static_cast<int32_t>(ImgCellsToCover(imageHeight, tileHeight));
  grid->frameCount = frameCount;
  grid->tiles = reinterpret_cast<void**>(static_cast<unsigned char*>(block) + TileGridRecordBytes);
  return grid;
}

void ReleaseTileGrid(ImgTileGrid** grid) {
  if (grid == nullptr || *grid == nullptr) return;
  ImgTileGrid* record = *grid;
  int64_t slots =
      static_cast<int64_t>(record->tilesAcross) * record->tilesDown * record->frameCount;
  for (int64_t i = 0; i < slots; ++i) {
    if (record->tiles[i] == nullptr) continue;
    std::free(record->tiles[i]);
    record->tiles[i] = nullptr;
  }
  std::free(record);
  *grid = nullptr;
}

}  // namespace korvo
