#include "image/tile_grid.h"

#include <cstdint>
#include <cstdlib>

#include "image/img_format.h"

namespace korvo {

namespace {

// The record rounded up so that the slot table that follows it is aligned for pointers.
constexpr size_t RecordBytes =
    (sizeof(ImgTileGrid) + alignof(void*) - 1) / alignof(void*) * alignof(void*);

// Slots of a grid: tile records over all frames; -1 when out of range.
int64_t SlotCount(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth, int32_t imageHeight,
                  int32_t frameCount) {
  if (tileWidth < 1 || tileHeight < 1 || imageWidth < 0 || imageHeight < 0 || frameCount < 0)
    return -1;
  int64_t across = ImgCellsToCover(imageWidth, tileWidth);
  int64_t down = ImgCellsToCover(imageHeight, tileHeight);
  // Each factor is below 2^31, so the product of the first two fits; the third is checked.
  int64_t perFrame = across * down;
  if (frameCount > 0 && perFrame > (INT64_MAX / frameCount)) return -1;
  return perFrame * frameCount;
}

}  // namespace

uint64_t TileGridBytes(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                       int32_t imageHeight, int32_t frameCount) {
  int64_t slots = SlotCount(tileWidth, tileHeight, imageWidth, imageHeight, frameCount);
  if (slots < 0) return 0;
  if (static_cast<uint64_t>(slots) > (UINT32_MAX - RecordBytes) / sizeof(void*)) return 0;
  return RecordBytes + static_cast<uint64_t>(slots) * sizeof(void*);
}

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
  grid->tiles = reinterpret_cast<void**>(static_cast<unsigned char*>(block) + RecordBytes);
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
