#include "image/img_loader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "image/pixel_rows.h"
#include "image/tile_grid.h"
#include "manager/package_manager.h"
#include "stream/res_stream.h"

namespace korvo {

namespace {

// A stream that holds its bytes in memory (a package entry) lends them in place, and tiles are
// decoded straight from there. Any other stream is read into a scratch buffer of this size for
// format 1 tiles and for bytes that are dropped (clipped tile bytes): a format 1 row is at most
// 4096 bytes, so at least 16 rows fit in one read.
constexpr uint32_t ScratchBytes = 64 * 1024;

// Floor and ceiling of a / b for b > 0, whatever the sign of a.
int64_t FloorDiv(int64_t a, int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
int64_t CeilDiv(int64_t a, int64_t b) {
  return -FloorDiv(-a, b);
}

Status Damaged(std::string detail) {
  return Status(StatusCode::Corrupt, std::string(), 0, "damaged tiled image: " + detail);
}
Status TooLarge(std::string detail) {
  return Status(StatusCode::TooLarge, std::string(), 0, "tiled image too large: " + detail);
}
std::string Text(int64_t v) {
  return std::to_string(v);
}

// What a load will allocate and read, worked out from an accepted header.
struct LoadPlan {
  uint32_t stride = 0;      // 4 * imageWidth
  uint32_t frameBytes = 0;  // 16 + stride * imageHeight
  int64_t tilesAcross = 0;
  int64_t tilesDown = 0;
  uint64_t recordsPerFrame = 0;
  uint64_t minimumBytes = 0;  // the fewest bytes after the header that the load accepts
};

uint64_t Counted(uint64_t bytes) {
  return bytes + ImgAllocationOverhead;
}

// Accepts the header values and computes the plan, or says why not. Nothing is allocated here:
// every limit is checked on the numbers alone.
Status PlanLoad(const ImgFileHeader& header, LoadPlan& plan) {
  if (header.tileWidth < 1 || header.tileHeight < 1)
    return Damaged("tile grid cell " + Text(header.tileWidth) + " x " + Text(header.tileHeight) +
                   " is smaller than one pixel");
  if (header.imageWidth < 0 || header.imageHeight < 0 || header.frameCount < 0)
    return Damaged("negative image size or frame count");
  const uint64_t width = static_cast<uint64_t>(header.imageWidth);
  const uint64_t height = static_cast<uint64_t>(header.imageHeight);
  const uint64_t frames = static_cast<uint64_t>(header.frameCount);

  const uint64_t stride = 4 * width;
  if (stride > UINT32_MAX) return TooLarge("a row of " + Text(header.imageWidth) + " pixels");
  const uint64_t frameBytes = sizeof(ImgFrame) + stride * height;  // below 2^33 + 16
  if (frameBytes > UINT32_MAX)
    return TooLarge("a frame of " + Text(header.imageWidth) + " x " + Text(header.imageHeight) +
                    " pixels does not fit in 32 bits");
  const uint64_t frameArrayBytes = frames * sizeof(ImgFrame*);
  const uint64_t valueArrayBytes = frames > 1 ? frames * sizeof(uint32_t) : 0;
  if (frameArrayBytes > UINT32_MAX) return TooLarge(Text(header.frameCount) + " frames");
  // The tile grid's layout record (image/tile_grid.h) is not built, since nothing reads it; its
  // size is still a bound that a header must meet and a part of the budget below.
  const uint64_t gridBytes = TileGridBytes(header.tileWidth, header.tileHeight, header.imageWidth,
                                           header.imageHeight, header.frameCount);
  if (gridBytes == 0) return TooLarge("the tile grid does not fit in 32 bits");

  const int64_t across = ImgCellsToCover(header.imageWidth, header.tileWidth);
  const int64_t down = ImgCellsToCover(header.imageHeight, header.tileHeight);
  // The grid fitted in 32 bits with 8 bytes a slot, so these cannot overflow.
  const uint64_t recordsPerFrame = static_cast<uint64_t>(across) * static_cast<uint64_t>(down);
  if (recordsPerFrame == 0 && header.frameCount > ImgMaxEmptyFrames)
    return TooLarge(Text(header.frameCount) + " frames without pixels (at most " +
                    Text(ImgMaxEmptyFrames) + ")");

  // Every term is below 2^33, so the sum cannot overflow; frames * Counted(frameBytes) is
  // below 2^31 * 2^33.
  uint64_t total = frames * Counted(frameBytes) + Counted(frameArrayBytes) + Counted(gridBytes) +
                   Counted(ScratchBytes);
  if (frames > 1) total += Counted(valueArrayBytes);
  if (total > ImgMaxLoadBytes)
    return TooLarge(Text(header.frameCount) + " frames of " + Text(header.imageWidth) + " x " +
                    Text(header.imageHeight) + " pixels need more than 1 GiB");

  plan.stride = static_cast<uint32_t>(stride);
  plan.frameBytes = static_cast<uint32_t>(frameBytes);
  plan.tilesAcross = across;
  plan.tilesDown = down;
  plan.recordsPerFrame = recordsPerFrame;
  // Every tile record takes its header, however little its tile stores. Only a load above the
  // free budget must also be fillable, by the densest encoding. Below 2^31 * (2^32 + 2^33): no
  // overflow.
  uint64_t perFrame = recordsPerFrame * ImgTileHeaderSize;
  if (total > ImgFreeLoadBytes) perFrame += stride * height / ImgMaxFillRatio;
  plan.minimumBytes = frames * perFrame;
  return Status::Ok();
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
//
// Tiles whose bytes the stream lends in place are not written one after another: a run of
// neighbouring tiles of one tile row, all of the same height, is written frame row by frame row
// (each frame row once, left to right), which keeps the stores sequential however narrow the
// tiles are. Within a frame row the tiles go in file order, so where they overlap the later
// record still wins. Other tiles are written as they are read.
class TileDecoder {
 public:
  TileDecoder(CResStream& stream, const ImgFileHeader& header, const LoadPlan& plan)
      : stream_(stream), header_(header), plan_(plan) {}

  // Reads every tile record of one frame into frame (whose header is already written).
  Status DecodeFrame(ImgFrame* frame) {
    if (plan_.recordsPerFrame == 0) return Status::Ok();
    pixels_ = reinterpret_cast<uint8_t*>(frame) + sizeof(ImgFrame);
    for (int64_t ty = 0; ty < plan_.tilesDown; ++ty) {
      for (int64_t tx = 0; tx < plan_.tilesAcross; ++tx, ++record_) {
        uint8_t copy[ImgTileHeaderSize];
        const uint8_t* raw = Take(ImgTileHeaderSize, copy);
        if (raw == nullptr) return CutShort();
        const ImgTileHeader tile = DecodeImgTileHeader(raw);
        if (tile.width < 1 || tile.width > ImgMaxTileSide || tile.height < 1 ||
            tile.height > ImgMaxTileSide)
          return Damaged("tile record " + Text(record_) + " is " + Text(tile.width) + " x " +
                         Text(tile.height) + " pixels (1 to 2048 each)");
        if (tile.format == ImgFormat32) {
          if (tile.pitch < 0)
            return Damaged("tile record " + Text(record_) + " has a negative pitch");
        } else if (tile.format != ImgFormat16) {
          return Damaged("tile record " + Text(record_) + " has format " + Text(tile.format) +
                         " (1 or 3)");
        }
        if (Lend(tile, tx, ty)) continue;
        WriteRun();
        const bool ok =
            tile.format == ImgFormat32 ? DecodeTile32(tile, tx, ty) : DecodeTile16(tile, tx, ty);
        if (!ok) return CutShort();
      }
      WriteRun();
    }
    return Status::Ok();
  }

 private:
  // Where the pixels of a tile row land in their frame row. Format 1: pixel c at byte x0 + 4c;
  // pixels wholly inside the row are [full0, full1), pixels touching it [part0, part1).
  // Format 3: the first `visible` bytes of the row at byte x0.
  struct RowSpan {
    int64_t x0 = 0;
    int64_t full0 = 0, full1 = 0, part0 = 0, part1 = 0;
    uint64_t visible = 0;
  };

  // A tile whose bytes the stream lent, waiting in the run to be written.
  struct LentTile {
    const uint8_t* data;
    uint32_t rowBytes;  // bytes a tile row takes in data
    bool expand;        // format 1
    RowSpan span;
  };

  // The most tiles a run holds before it is written.
  static constexpr size_t MaxRun = 64;
  // While a row of the run is written, the rows this far below it are fetched into the cache:
  // the run reads as many separate places as it holds tiles, too many for the hardware to
  // follow on its own.
  static constexpr int64_t PrefetchRows = 2;

  Status CutShort() const { return Damaged("cut short in tile record " + Text(record_)); }

  static RowSpan Format16Span(const ImgTileHeader& tile, int64_t tx, int64_t stride) {
    RowSpan span;
    const int64_t width = tile.width;
    const int64_t x0 = tx * static_cast<int64_t>(tile.pitch);  // may be negative
    span.x0 = x0;
    span.full0 = std::clamp<int64_t>(CeilDiv(-x0, 4), 0, width);
    span.full1 = std::clamp<int64_t>(FloorDiv(stride - x0, 4), span.full0, width);
    span.part0 = std::clamp<int64_t>(FloorDiv(-x0 - 4, 4) + 1, 0, span.full0);
    span.part1 = std::clamp<int64_t>(CeilDiv(stride - x0, 4), span.full1, width);
    return span;
  }

  // Takes the tile's bytes in place into the run, or returns false when the stream does not
  // lend them (the tile is then read and written on its own). A tile that stores nothing (a
  // format 3 tile of pitch 0 or wholly right of the frame) is passed over.
  bool Lend(const ImgTileHeader& tile, int64_t tx, int64_t ty) {
    const bool expand = tile.format == ImgFormat16;
    const uint64_t rowBytes =
        expand ? 2 * static_cast<uint64_t>(tile.width) : static_cast<uint64_t>(tile.pitch);
    const uint64_t bytes = rowBytes * static_cast<uint64_t>(tile.height);
    if (bytes > UINT32_MAX) return false;
    const uint8_t* data = stream_.Borrow(static_cast<uint32_t>(bytes));
    if (data == nullptr) return false;
    RowSpan span;
    if (expand) {
      span = Format16Span(tile, tx, plan_.stride);
    } else {
      const uint64_t x0 = static_cast<uint64_t>(tx) * rowBytes;  // below 2^62
      span.x0 = static_cast<int64_t>(x0);
      span.visible = x0 < plan_.stride ? std::min<uint64_t>(rowBytes, plan_.stride - x0) : 0;
      if (span.visible == 0) return true;
    }
    if (runCount_ > 0 && (tile.height != runHeight_ || runCount_ == MaxRun)) WriteRun();
    runHeight_ = tile.height;
    runFirstRow_ = ty * tile.height;
    run_[runCount_++] = LentTile{data, static_cast<uint32_t>(rowBytes), expand, span};
    return true;
  }

  // Writes the tiles of the run frame row by frame row; rows below the frame are dropped.
  void WriteRun() {
    if (runCount_ == 0) return;
    const int64_t stride = plan_.stride;
    const int64_t rows = std::min<int64_t>(runHeight_, header_.imageHeight - runFirstRow_);
    uint8_t* row = pixels_ + (rows > 0 ? runFirstRow_ * stride : 0);
    for (int64_t r = 0; r < rows; ++r, row += stride) {
      for (size_t i = 0; i < runCount_; ++i) {
        const LentTile& tile = run_[i];
        const uint8_t* source = tile.data + static_cast<uint64_t>(r) * tile.rowBytes;
        if (r + PrefetchRows < rows)
          PrefetchLines(source + PrefetchRows * tile.rowBytes, tile.rowBytes);
        if (tile.expand)
          ExpandRow(tile.span, source, row);
        else if (tile.span.visible > 0)
          std::memcpy(row + tile.span.x0, source, tile.span.visible);
      }
    }
    runCount_ = 0;
  }

  bool ReadExact(void* destination, uint32_t count) {
    return count == 0 || stream_.Read(destination, count) == count;
  }

  uint8_t* Scratch() {
    if (!scratch_) scratch_.reset(new (std::nothrow) uint8_t[ScratchBytes]);
    return scratch_.get();
  }

  // The next count bytes: lent by the stream in place, or else read into copy (which holds
  // count bytes). Null when the stream ends first.
  const uint8_t* Take(uint32_t count, uint8_t* copy) {
    if (const uint8_t* lent = stream_.Borrow(count)) return lent;
    return ReadExact(copy, count) ? copy : nullptr;
  }

  // The next count bytes (at most ScratchBytes), lent or read into the scratch buffer.
  const uint8_t* TakeChunk(uint32_t count) {
    if (const uint8_t* lent = stream_.Borrow(count)) return lent;
    uint8_t* scratch = Scratch();
    return scratch != nullptr && ReadExact(scratch, count) ? scratch : nullptr;
  }

  // Reads count bytes and drops them.
  bool Skip(uint64_t count) {
    while (count > 0) {
      const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(count, ScratchBytes));
      if (TakeChunk(chunk) == nullptr) return false;
      count -= chunk;
    }
    return true;
  }

  // Format 3: each row of pitch bytes is read straight into its place; the part of a row that
  // lies outside the frame, and rows below it, are read and dropped. A pitch of 0 stores
  // nothing.
  bool DecodeTile32(const ImgTileHeader& tile, int64_t tx, int64_t ty) {
    const uint64_t pitch = static_cast<uint64_t>(tile.pitch);
    if (pitch == 0) return true;
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
    if (visible == 0) return Skip(static_cast<uint64_t>(rows) * pitch);
    for (int64_t r = 0; r < inside; ++r) {
      uint8_t* row = pixels_ + static_cast<uint64_t>(firstRow + r) * stride;
      if (!ReadExact(row + x0, static_cast<uint32_t>(visible))) return false;
      if (!Skip(pitch - visible)) return false;
    }
    return Skip(static_cast<uint64_t>(rows - inside) * pitch);
  }

  // Format 1: as many whole rows as fit in the scratch buffer are read at once, then expanded.
  bool DecodeTile16(const ImgTileHeader& tile, int64_t tx, int64_t ty) {
    const RowSpan span = Format16Span(tile, tx, plan_.stride);
    const int64_t rows = tile.height;
    const int64_t stride = plan_.stride;
    const int64_t firstRow = ty * rows;
    const uint32_t rowBytes = static_cast<uint32_t>(tile.width) * 2;
    const int64_t rowsPerRead = ScratchBytes / rowBytes;
    for (int64_t r = 0; r < rows;) {
      const int64_t count = std::min(rowsPerRead, rows - r);
      const uint8_t* source = TakeChunk(static_cast<uint32_t>(count) * rowBytes);
      if (source == nullptr) return false;
      const int64_t last = std::min(count, header_.imageHeight - firstRow - r);  // inside
      for (int64_t i = 0; i < last; ++i)
        ExpandRow(span, source + i * rowBytes, pixels_ + (firstRow + r + i) * stride);
      r += count;
    }
    return true;
  }

  // Expands one format 1 tile row into its frame row; only the bytes inside the row are
  // written.
  void ExpandRow(const RowSpan& span, const uint8_t* source, uint8_t* row) const {
    const int64_t stride = plan_.stride;
    if (span.full1 > span.full0)
      ExpandPixels16(row + (span.x0 + 4 * span.full0), source + 2 * span.full0,
                     span.full1 - span.full0);
    for (int64_t c = span.part0; c < span.full0; ++c) StorePartial(row, stride, span.x0, c, source);
    for (int64_t c = span.full1; c < span.part1; ++c) StorePartial(row, stride, span.x0, c, source);
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
  int64_t record_ = 0;  // tile records read so far, over all frames
  std::unique_ptr<uint8_t[]> scratch_;
  // The run of lent tiles not yet written: all of one tile row and of height runHeight_, their
  // rows starting at frame row runFirstRow_.
  LentTile run_[MaxRun];
  size_t runCount_ = 0;
  int64_t runHeight_ = 0;
  int64_t runFirstRow_ = 0;
};

}  // namespace

Status CheckImageHeader(const ImgFileHeader& header) {
  LoadPlan plan;
  return PlanLoad(header, plan);
}

uint64_t ImageMinimumDataBytes(const ImgFileHeader& header) {
  LoadPlan plan;
  return PlanLoad(header, plan).ok() ? plan.minimumBytes : 0;
}

Status DecodeImageStream(CResStream& stream, uint32_t* frameCount, uint32_t** frameValues,
                         ImgFrame*** frames) {
  if (frameCount == nullptr || frameValues == nullptr || frames == nullptr)
    return Status(StatusCode::InvalidArgument);
  uint8_t raw[ImgFileHeaderSize];
  const uint32_t got = stream.Read(raw, ImgFileHeaderSize);
  if (got >= sizeof(ImgMagic) && !HasImgMagic(raw))
    return Status(StatusCode::Unsupported, std::string(), 0,
                  "not a tiled image file (no KWF/IANI signature)");
  if (got != ImgFileHeaderSize) return Damaged("cut short in the file header");
  const ImgFileHeader header = DecodeImgFileHeader(raw);
  LoadPlan plan;
  if (Status status = PlanLoad(header, plan); !status.ok()) return status;
  // The frames are allocated before their tiles are read: a stream that cannot hold their tile
  // records (or, above the free budget, fill them) is truncated or lying and is rejected first.
  const uint64_t available = stream.size > ImgFileHeaderSize ? stream.size - ImgFileHeaderSize : 0;
  if (plan.minimumBytes > available)
    return Damaged("cut short (its frames need " + Text(int64_t(plan.minimumBytes)) +
                   " bytes of tile records or more, " + Text(int64_t(available)) + " follow)");
  const uint32_t count = static_cast<uint32_t>(header.frameCount);
  uint32_t* values = nullptr;
  if (count > 1) {
    values = static_cast<uint32_t*>(Allocate(count * sizeof(uint32_t)));
    if (values == nullptr) return Status(StatusCode::NoMemory);
  }
  ImgFrame** array = static_cast<ImgFrame**>(Allocate(count * sizeof(ImgFrame*)));
  if (array == nullptr) {
    ::operator delete(values);
    return Status(StatusCode::NoMemory);
  }
  // The header is accepted: the out parameters are written from here on.
  *frameCount = count;
  if (count > 1) *frameValues = values;
  *frames = array;

  TileDecoder decoder(stream, header, plan);
  Status status;
  uint32_t allocated = 0;
  for (uint32_t f = 0; f < count && status.ok(); ++f) {
    if (values != nullptr) values[f] = ImgFrameValue;
    ImgFrame* frame = static_cast<ImgFrame*>(Allocate(plan.frameBytes));
    if (frame == nullptr) {
      status = Status(StatusCode::NoMemory);
      break;
    }
    array[f] = frame;
    allocated = f + 1;
    frame->width = static_cast<uint32_t>(header.imageWidth);
    frame->height = static_cast<uint32_t>(header.imageHeight);
    frame->stride = plan.stride;
    frame->format = ImgFormat32;
    status = decoder.DecodeFrame(frame);
  }
  if (status.ok()) return status;

  FreeImageFrames(allocated, values, array);
  *frameCount = 0;
  *frames = nullptr;
  if (count > 1) *frameValues = nullptr;
  return status;
}

Status LoadImageFrames(CPackageManager& manager, const char* name, uint32_t* frameCount,
                       uint32_t** frameValues, ImgFrame*** frames) {
  if (name == nullptr || frameCount == nullptr || frameValues == nullptr || frames == nullptr)
    return Status(StatusCode::InvalidArgument);
  // A lease: when every pooled stream is lent to other threads, the load gets one of its own.
  StreamLease stream;
  if (Status opened = manager.Open(name, ModeRead, true, stream); !opened.ok()) return opened;
  Status status = DecodeImageStream(*stream.get(), frameCount, frameValues, frames);
  if (!status.ok()) return Status(status.code(), name, status.systemError(), status.detail());
  return status;
}

void FreeImageFrames(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames) {
  if (frames != nullptr) {
    for (uint32_t i = 0; i < frameCount; ++i) ::operator delete(frames[i]);
    ::operator delete(frames);
  }
  ::operator delete(frameValues);
}

}  // namespace korvo
