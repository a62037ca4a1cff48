#include "image/img_loader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/img_format.h"
#include "image/tile_grid.h"
#include "manager/package_manager.h"
#include "stream/res_stream.h"

namespace korvo {

namespace {

// Reads that are dropped (clipped tile bytes) and format 1 tiles go through a scratch buffer of
// this size: a format 1 row is at most 4096 bytes, so at least 16 rows fit in one read.
constexpr uint32_t ScratchBytes = 64 * 1024;

// Expands count format 1 pixels from in to out (neither needs any alignment).
void ExpandRow16(uint8_t* __restrict out, const uint8_t* __restrict in, int64_t count) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Whole words through memcpy: the compiler turns this loop into vector code.
  for (int64_t c = 0; c < count; ++c) {
    uint16_t v;
    std::memcpy(&v, in + 2 * c, 2);
    const uint32_t pixel = ExpandFormat16(v);
    std::memcpy(out + 4 * c, &pixel, 4);
  }
#else
  for (int64_t c = 0; c < count; ++c) StoreLE32(out + 4 * c, ExpandFormat16(LoadLE16(in + 2 * c)));
#endif
}

// Floor and ceiling of a / b for b > 0, whatever the sign of a.
int64_t FloorDiv(int64_t a, int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
int64_t CeilDiv(int64_t a, int64_t b) {
  return -FloorDiv(-a, b);
}

// What a load will allocate, worked out from an accepted header.
struct LoadPlan {
  uint32_t stride = 0;      // 4 * imageWidth
  uint32_t frameBytes = 0;  // 16 + stride * imageHeight
  int64_t tilesAcross = 0;
  int64_t tilesDown = 0;
  uint64_t records = 0;  // tile records of all frames
};

uint64_t Counted(uint64_t bytes) {
  return bytes + ImgAllocationOverhead;
}

// Accepts the header values and computes the plan, or rejects them. Nothing is allocated here:
// every limit is checked on the numbers alone.
bool PlanLoad(const ImgFileHeader& header, LoadPlan& plan) {
  if (header.tileWidth < 1 || header.tileHeight < 1) return false;
  if (header.imageWidth < 0 || header.imageHeight < 0 || header.frameCount < 0) return false;
  const uint64_t width = static_cast<uint64_t>(header.imageWidth);
  const uint64_t height = static_cast<uint64_t>(header.imageHeight);
  const uint64_t frames = static_cast<uint64_t>(header.frameCount);

  const uint64_t stride = 4 * width;
  if (stride > UINT32_MAX) return false;
  const uint64_t frameBytes = sizeof(ImgFrame) + stride * height;  // both below 2^33
  if (frameBytes > UINT32_MAX) return false;
  const uint64_t frameArrayBytes = frames * sizeof(ImgFrame*);
  const uint64_t valueArrayBytes = frames > 1 ? frames * sizeof(uint32_t) : 0;
  if (frameArrayBytes > UINT32_MAX || valueArrayBytes > UINT32_MAX) return false;
  const uint64_t gridBytes = TileGridBytes(header.tileWidth, header.tileHeight, header.imageWidth,
                                           header.imageHeight, header.frameCount);
  if (gridBytes == 0) return false;

  // Every term is below 2^33, so the sum cannot overflow; frames * Counted(frameBytes) is
  // below 2^31 * 2^33.
  uint64_t total = frames * Counted(frameBytes) + Counted(frameArrayBytes) + Counted(gridBytes) +
                   Counted(ScratchBytes);
  if (frames > 1) total += Counted(valueArrayBytes);
  if (total > ImgMaxLoadBytes) return false;

  plan.stride = static_cast<uint32_t>(stride);
  plan.frameBytes = static_cast<uint32_t>(frameBytes);
  plan.tilesAcross = ImgCellsToCover(header.imageWidth, header.tileWidth);
  plan.tilesDown = ImgCellsToCover(header.imageHeight, header.tileHeight);
  // The grid fitted in 32 bits with 8 bytes a record, so this cannot overflow.
  plan.records =
      static_cast<uint64_t>(plan.tilesAcross) * static_cast<uint64_t>(plan.tilesDown) * frames;
  return true;
}

// Global allocation for what is handed to the caller; null when it fails.
void* Allocate(size_t bytes) {
  try {
    return ::operator new(bytes);
  } catch (...) {
    return nullptr;
  }
}

// Decodes the tile records of the frames, one frame at a time.
class TileDecoder {
 public:
  TileDecoder(CResStream& stream, const ImgFileHeader& header, const LoadPlan& plan)
      : stream_(stream), header_(header), plan_(plan) {}

  // Reads every tile record of one frame into frame (whose header is already written).
  bool DecodeFrame(ImgFrame* frame) {
    pixels_ = reinterpret_cast<uint8_t*>(frame) + sizeof(ImgFrame);
    for (int64_t ty = 0; ty < plan_.tilesDown; ++ty) {
      for (int64_t tx = 0; tx < plan_.tilesAcross; ++tx) {
        uint8_t raw[ImgTileHeaderSize];
        if (!ReadExact(raw, ImgTileHeaderSize)) return false;
        const ImgTileHeader tile = DecodeImgTileHeader(raw);
        if (tile.width < 1 || tile.width > ImgMaxTileSide) return false;
        if (tile.height < 1 || tile.height > ImgMaxTileSide) return false;
        bool ok;
        if (tile.format == ImgFormat32) {
          ok = DecodeTile32(tile, tx, ty);
        } else if (tile.format == ImgFormat16) {
          ok = DecodeTile16(tile, tx, ty);
        } else {
          return false;
        }
        if (!ok) return false;
      }
    }
    return true;
  }

 private:
  bool ReadExact(void* destination, uint32_t count) {
    return count == 0 || stream_.Read(destination, count) == count;
  }

  uint8_t* Scratch() {
    if (!scratch_) scratch_.reset(new (std::nothrow) uint8_t[ScratchBytes]);
    return scratch_.get();
  }

  // Reads count bytes and drops them.
  bool Skip(uint64_t count) {
    if (count == 0) return true;
    uint8_t* scratch = Scratch();
    if (scratch == nullptr) return false;
    while (count > 0) {
      uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(count, ScratchBytes));
      if (!ReadExact(scratch, chunk)) return false;
      count -= chunk;
    }
    return true;
  }

  // Format 3: each row of pitch bytes is read straight into its place; the part of a row that
  // lies outside the frame, and rows below it, are read and dropped.
  bool DecodeTile32(const ImgTileHeader& tile, int64_t tx, int64_t ty) {
    if (tile.pitch < 0) return false;  // a stored row cannot have a negative length
    const uint64_t pitch = static_cast<uint64_t>(tile.pitch);
    const uint64_t stride = plan_.stride;
    const int64_t imageHeight = header_.imageHeight;
    const int64_t rows = tile.height;
    const int64_t firstRow = ty * rows;
    const uint64_t x0 = static_cast<uint64_t>(tx) * pitch;
    const uint64_t visible = x0 < stride ? std::min(pitch, stride - x0) : 0;

    // Rows inside the frame: [firstRow, firstRow + inside).
    const int64_t inside = std::max<int64_t>(0, std::min(rows, imageHeight - firstRow));
    if (x0 == 0 && pitch == stride && inside == rows) {
      // The tile's rows follow one another in the frame: one read for the whole tile.
      return ReadExact(pixels_ + static_cast<uint64_t>(firstRow) * stride,
                       static_cast<uint32_t>(pitch * static_cast<uint64_t>(rows)));
    }
    for (int64_t r = 0; r < inside; ++r) {
      uint8_t* row = pixels_ + static_cast<uint64_t>(firstRow + r) * stride;
      if (visible > 0 && !ReadExact(row + x0, static_cast<uint32_t>(visible))) return false;
      if (!Skip(pitch - visible)) return false;
    }
    return Skip(static_cast<uint64_t>(rows - inside) * pitch);
  }

  // Format 1: as many whole rows as fit in the scratch buffer are read at once, then expanded.
  // Pixel c of a row lands at byte tx * pitch + 4c; only the bytes inside the row are written.
  bool DecodeTile16(const ImgTileHeader& tile, int64_t tx, int64_t ty) {
    uint8_t* scratch = Scratch();
    if (scratch == nullptr) return false;
    const int64_t width = tile.width;
    const int64_t rows = tile.height;
    const int64_t stride = plan_.stride;
    const int64_t imageHeight = header_.imageHeight;
    const int64_t firstRow = ty * rows;
    const int64_t x0 = tx * static_cast<int64_t>(tile.pitch);  // may be negative
    const uint32_t rowBytes = static_cast<uint32_t>(width) * 2;
    const int64_t rowsPerRead = ScratchBytes / rowBytes;

    // Pixels wholly inside the row: [full0, full1). Pixels touching it: [part0, part1).
    const int64_t full0 = std::clamp<int64_t>(CeilDiv(-x0, 4), 0, width);
    const int64_t full1 = std::clamp<int64_t>(FloorDiv(stride - x0, 4), full0, width);
    const int64_t part0 = std::clamp<int64_t>(FloorDiv(-x0 - 4, 4) + 1, 0, full0);
    const int64_t part1 = std::clamp<int64_t>(CeilDiv(stride - x0, 4), full1, width);

    for (int64_t r = 0; r < rows;) {
      const int64_t count = std::min(rowsPerRead, rows - r);
      if (!ReadExact(scratch, static_cast<uint32_t>(count) * rowBytes)) return false;
      for (int64_t i = 0; i < count; ++i) {
        const int64_t y = firstRow + r + i;
        if (y >= imageHeight) continue;
        const uint8_t* source = scratch + i * rowBytes;
        uint8_t* row = pixels_ + y * stride;
        if (full1 > full0) {
          uint8_t* out = row + (x0 + 4 * full0);
          const uint8_t* in = source + 2 * full0;
          ExpandRow16(out, in, full1 - full0);
        }
        for (int64_t c = part0; c < full0; ++c) StorePartial(row, stride, x0, c, source);
        for (int64_t c = full1; c < part1; ++c) StorePartial(row, stride, x0, c, source);
      }
      r += count;
    }
    return true;
  }

  // Writes the bytes of format 1 pixel c that fall inside a row of stride bytes.
  static void StorePartial(uint8_t* row, int64_t stride, int64_t x0, int64_t c,
                           const uint8_t* source) {
    uint8_t bytes[4];
    StoreLE32(bytes, ExpandFormat16(LoadLE16(source + 2 * c)));
    for (int64_t k = 0; k < 4; ++k) {
      const int64_t at = x0 + 4 * c + k;
      if (at >= 0 && at < stride) row[at] = bytes[k];
    }
  }

  CResStream& stream_;
  const ImgFileHeader& header_;
  const LoadPlan& plan_;
  uint8_t* pixels_ = nullptr;
  std::unique_ptr<uint8_t[]> scratch_;
};

}  // namespace

bool DecodeImageStream(CResStream& stream, uint32_t* frameCount, uint32_t** frameValues,
                       ImgFrame*** frames) {
  if (frameCount == nullptr || frameValues == nullptr || frames == nullptr) return false;
  uint8_t raw[ImgFileHeaderSize];
  if (stream.Read(raw, ImgFileHeaderSize) != ImgFileHeaderSize) return false;
  if (!HasImgMagic(raw)) return false;
  const ImgFileHeader header = DecodeImgFileHeader(raw);
  LoadPlan plan;
  if (!PlanLoad(header, plan)) return false;
  // Every tile record takes at least its 16-byte header: a stream that cannot hold them all is
  // truncated, and is rejected before the frames are allocated.
  const uint64_t available = stream.size > ImgFileHeaderSize ? stream.size - ImgFileHeaderSize : 0;
  if (plan.records > available / ImgTileHeaderSize) return false;
  ImgTileGrid* grid = CreateTileGrid(header.tileWidth, header.tileHeight, header.imageWidth,
                                     header.imageHeight, header.frameCount);
  if (grid == nullptr) return false;

  const uint32_t count = static_cast<uint32_t>(header.frameCount);
  uint32_t* values = nullptr;
  if (count > 1) {
    values = static_cast<uint32_t*>(Allocate(count * sizeof(uint32_t)));
    if (values == nullptr) {
      ReleaseTileGrid(&grid);
      return false;
    }
  }
  ImgFrame** array = static_cast<ImgFrame**>(Allocate(count * sizeof(ImgFrame*)));
  if (array == nullptr) {
    ::operator delete(values);
    ReleaseTileGrid(&grid);
    return false;
  }
  // The header is accepted: the out parameters are written from here on.
  *frameCount = count;
  if (count > 1) *frameValues = values;
  *frames = array;

  TileDecoder decoder(stream, header, plan);
  bool ok = true;
  uint32_t allocated = 0;
  for (uint32_t f = 0; f < count && ok; ++f) {
    if (values != nullptr) values[f] = ImgFrameValue;
    ImgFrame* frame = static_cast<ImgFrame*>(Allocate(plan.frameBytes));
    if (frame == nullptr) {
      ok = false;
      break;
    }
    array[f] = frame;
    allocated = f + 1;
    frame->width = static_cast<uint32_t>(header.imageWidth);
    frame->height = static_cast<uint32_t>(header.imageHeight);
    frame->stride = plan.stride;
    frame->format = ImgFormat32;
    ok = decoder.DecodeFrame(frame);
  }
  ReleaseTileGrid(&grid);
  if (ok) return true;

  FreeImageFrames(allocated, values, array);
  *frameCount = 0;
  *frames = nullptr;
  if (count > 1) *frameValues = nullptr;
  return false;
}

bool ImageHeaderWithinLimits(const ImgFileHeader& header) {
  LoadPlan plan;
  return PlanLoad(header, plan);
}

bool LoadImageFrames(CPackageManager& manager, const char* name, uint32_t* frameCount,
                     uint32_t** frameValues, ImgFrame*** frames) {
  if (name == nullptr || frameCount == nullptr || frameValues == nullptr || frames == nullptr)
    return false;
  // A lease: when every pooled stream is lent to other threads, the load gets one of its own.
  StreamLease stream;
  if (!manager.Open(name, ModeRead, true, stream).ok()) return false;
  return DecodeImageStream(*stream.get(), frameCount, frameValues, frames);
}

void FreeImageFrames(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames) {
  if (frames != nullptr) {
    for (uint32_t i = 0; i < frameCount; ++i) ::operator delete(frames[i]);
    ::operator delete(frames);
  }
  ::operator delete(frameValues);
}

}  // namespace korvo
