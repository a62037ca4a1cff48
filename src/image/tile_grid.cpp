#include "image/tile_grid.h"

#include <cstdint>

#include "image/img_format.h"

namespace korvo {

namespace {

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
  if (static_cast<uint64_t>(slots) > (UINT32_MAX - TileGridRecordBytes) / sizeof(void*)) return 0;
  return TileGridRecordBytes + static_cast<uint64_t>(slots) * sizeof(void*);
}

}  // namespace korvo
