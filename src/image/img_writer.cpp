#include "image/img_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "common/byte_order.h"
#include "image/img_format.h"
#include "image/img_loader.h"

namespace korvo {

namespace {

// The tile size the writer aims at when it chooses one.
constexpr int64_t PreferredTileSide = 64;

// How one axis of a frame is cut into tiles. A tile row (or column) i lands at i * step and is
// `length` long, except the last one, which is `lastLength` long.
struct AxisLayout {
  int32_t cell = 1;  // the header's tileWidth or tileHeight: decides the number of tiles
  int64_t count = 0;
  int64_t step = 0;  // rows (height axis) or bytes (width axis) from one tile to the next
  int64_t length = 0;
  int64_t lastLength = 0;
};

// The divisor of extent (>= 1) no greater than limit that is closest to the preferred size, by
// ratio. Ties go to the larger divisor.
int64_t DivisorNearPreferred(int64_t extent, int64_t limit) {
  int64_t best = 1;
  double bestDistance = INFINITY;
  for (int64_t d = 1; d <= limit && d <= extent; ++d) {
    if (extent % d != 0) continue;
    double distance = std::fabs(std::log(static_cast<double>(d) / PreferredTileSide));
    if (distance <= bestDistance) {
      best = d;
      bestDistance = distance;
    }
  }
  return best;
}

std::string Text(int64_t v) {
  return std::to_string(v);
}

constexpr const char* RowsReason =
    "rows: tile rows are placed by their own height, so the number of tile rows must divide the "
    "image height into tiles of 1 to 2048 rows";
constexpr const char* ColumnsReason =
    "pixels in format 3: the number of tile columns must divide the row into equal tiles of at "
    "most 2048 pixels";

// Tiles that are placed by their own length must split the axis evenly: tile row i lands at
// i * height, and a format 3 tile column at byte i * pitch, the stored row length. `unit` is the
// size of one pixel along the axis: 1 row for the height, 4 bytes for a format 3 row. A
// requested cell that does not divide the axis is kept as the header's cell (it fixes the
// number of tiles) when that number of tiles divides the axis.
bool LayoutEvenly(int64_t extent, int64_t unit, int32_t requested, const char* what,
                  const char* reason, AxisLayout& axis, std::string& error) {
  if (extent == 0) {
    axis.cell = requested > 0 ? requested : static_cast<int32_t>(PreferredTileSide);
    return true;
  }
  int64_t cell = requested > 0 ? requested : DivisorNearPreferred(extent, ImgMaxTileSide);
  int64_t count = ImgCellsToCover(extent, cell);
  int64_t step = (unit * extent) % count == 0 ? unit * extent / count : 0;
  if (step == 0 || (step + unit - 1) / unit > ImgMaxTileSide) {
    // The cell the writer chooses always divides the axis into tiles it can place.
    error = std::string("tile ") + what + " " + Text(cell) + " cannot cover " + Text(extent) + " " +
            reason + " (tile " + what + " " + Text(DivisorNearPreferred(extent, ImgMaxTileSide)) +
            " does)";
    return false;
  }
  axis.cell = static_cast<int32_t>(cell);
  axis.count = count;
  axis.step = step;
  axis.length = step;
  axis.lastLength = step;
  return true;
}

// Format 1 columns are placed by pitch too, but a tile's width may be less than pitch / 4: the
// last column is narrowed to end at the frame's right edge.
bool LayoutColumns16(int64_t width, int32_t requested, AxisLayout& axis, std::string& error) {
  int64_t cell = requested > 0 ? requested : PreferredTileSide;
  if (width == 0) {
    axis.cell = static_cast<int32_t>(cell);
    return true;
  }
  if (cell > width) cell = width;  // one column, as wide as the frame
  int64_t count = ImgCellsToCover(width, cell);
  if (cell > ImgMaxTileSide) {
    error = "tile width " + Text(cell) + " cannot cover " + Text(width) +
            " pixels: tiles are at most 2048 pixels wide (tile width " + Text(PreferredTileSide) +
            " does)";
    return false;
  }
  axis.cell = requested > 0 ? requested : static_cast<int32_t>(cell);
  axis.count = count;
  axis.step = 4 * cell;
  axis.length = cell;
  axis.lastLength = width - (count - 1) * cell;
  return true;
}

void PutLE32(std::vector<uint8_t>& out, int64_t value) {
  uint8_t bytes[4];
  StoreLE32(bytes, static_cast<uint32_t>(value));
  out.insert(out.end(), bytes, bytes + 4);
}

// Step 1: the request itself, before any layout is worked out.
bool ValidateRequest(const std::vector<const uint8_t*>& frames, int32_t width, int32_t height,
                     const ImgWriteOptions& options, std::string& error) {
  if (width < 0 || height < 0) {
    error = "image width and height must not be negative";
    return false;
  }
  if (options.format != ImgFormat16 && options.format != ImgFormat32) {
    error = "tile format " + Text(options.format) + " is not supported: use 1 or 3";
    return false;
  }
  if (options.tileWidth < 0 || options.tileHeight < 0) {
    error = "tile width and height must not be negative";
    return false;
  }
  if (frames.size() > static_cast<size_t>(INT32_MAX)) {
    error = "too many frames";
    return false;
  }
  if (width > 0 && height > 0) {
    for (size_t f = 0; f < frames.size(); ++f) {
      if (frames[f] == nullptr) {
        error = "frame " + Text(static_cast<int64_t>(f)) + " has no pixels";
        return false;
      }
    }
  }
  return true;
}

// What the emitter writes: the file header and how each axis is cut into tiles.
struct EncodePlan {
  ImgFileHeader header{};
  AxisLayout columns, rows;
  int32_t format = ImgFormat32;
  int64_t stride = 0;  // bytes per row of the given pixels
};

// Step 2: the tile layout, and a header that every loader accepts.
bool PlanLayout(size_t frameCount, int32_t width, int32_t height, const ImgWriteOptions& options,
                EncodePlan& plan, std::string& error) {
  if (!LayoutEvenly(height, 1, options.tileHeight, "height", RowsReason, plan.rows, error))
    return false;
  if (options.format == ImgFormat32
          ? !LayoutEvenly(width, 4, options.tileWidth, "width", ColumnsReason, plan.columns, error)
          : !LayoutColumns16(width, options.tileWidth, plan.columns, error))
    return false;
  plan.format = options.format;
  plan.stride = 4 * static_cast<int64_t>(width);
  ImgFileHeader& header = plan.header;
  std::memcpy(header.magic, ImgMagic, sizeof(ImgMagic));
  header.tileWidth = plan.columns.cell;
  header.tileHeight = plan.rows.cell;
  header.imageWidth = width;
  header.imageHeight = height;
  header.frameCount = static_cast<int32_t>(frameCount);
  const Status accepted = CheckImageHeader(header);
  if (!accepted.ok()) {
    error = accepted.detail();
    return false;
  }
  return true;
}

// Step 3: the bytes. Format 3 stores every byte of a tile row, format 1 two bytes a pixel.
void Emit(const std::vector<const uint8_t*>& frames, const EncodePlan& plan,
          std::vector<uint8_t>& out) {
  const AxisLayout& columns = plan.columns;
  const AxisLayout& rows = plan.rows;
  const uint64_t dataPerFrame = static_cast<uint64_t>(plan.stride) *
                                static_cast<uint64_t>(plan.header.imageHeight) /
                                (plan.format == ImgFormat32 ? 1 : 2);
  const uint64_t tilesPerFrame =
      static_cast<uint64_t>(columns.count) * static_cast<uint64_t>(rows.count);
  out.reserve(ImgFileHeaderSize +
              frames.size() * (dataPerFrame + tilesPerFrame * ImgTileHeaderSize));

  out.insert(out.end(), plan.header.magic, plan.header.magic + sizeof(plan.header.magic));
  for (int32_t v : {0, 0, plan.header.tileWidth, plan.header.tileHeight, plan.header.imageWidth,
                    plan.header.imageHeight, plan.header.frameCount})
    PutLE32(out, v);

  for (const uint8_t* pixels : frames) {
    for (int64_t ty = 0; ty < rows.count; ++ty) {
      for (int64_t tx = 0; tx < columns.count; ++tx) {
        const int64_t tileWidth = tx + 1 == columns.count ? columns.lastLength : columns.length;
        const int64_t x0 = tx * columns.step;
        PutLE32(out, plan.format == ImgFormat32 ? (columns.step + 3) / 4 : tileWidth);
        PutLE32(out, rows.step);
        PutLE32(out, columns.step);
        PutLE32(out, plan.format);
        for (int64_t r = 0; r < rows.step; ++r) {
          const uint8_t* row = pixels + (ty * rows.step + r) * plan.stride + x0;
          if (plan.format == ImgFormat32) {
            out.insert(out.end(), row, row + columns.step);
            continue;
          }
          for (int64_t c = 0; c < tileWidth; ++c) {
            const uint8_t* p = row + 4 * c;
            uint8_t packed[2] = {static_cast<uint8_t>((p[0] >> 4) | (p[1] & 0xF0)),
                                 static_cast<uint8_t>((p[2] >> 4) | (p[3] & 0xF0))};
            out.insert(out.end(), packed, packed + 2);
          }
        }
      }
    }
  }
}

bool Encode(const std::vector<const uint8_t*>& frames, int32_t width, int32_t height,
            const ImgWriteOptions& options, std::vector<uint8_t>& out, std::string& error) {
  EncodePlan plan;
  if (!ValidateRequest(frames, width, height, options, error)) return false;
  if (!PlanLayout(frames.size(), width, height, options, plan, error)) return false;
  Emit(frames, plan, out);
  return true;
}

}  // namespace

void ChooseTileSize(int32_t width, int32_t height, const ImgWriteOptions& options,
                    int32_t& tileWidth, int32_t& tileHeight) {
  std::string ignored;
  AxisLayout rows, columns;
  const int32_t requestedWidth = std::max(options.tileWidth, 0);
  const int32_t requestedHeight = std::max(options.tileHeight, 0);
  if (!LayoutEvenly(std::max(height, 0), 1, requestedHeight, "height", RowsReason, rows, ignored))
    LayoutEvenly(std::max(height, 0), 1, 0, "height", RowsReason, rows, ignored);
  auto layoutColumns = [&](int32_t requested) {
    return options.format == ImgFormat16
               ? LayoutColumns16(std::max(width, 0), requested, columns, ignored)
               : LayoutEvenly(std::max(width, 0), 4, requested, "width", ColumnsReason, columns,
                              ignored);
  };
  if (!layoutColumns(requestedWidth)) layoutColumns(0);
  tileWidth = columns.cell;
  tileHeight = rows.cell;
}

Status EncodeImage(const std::vector<const uint8_t*>& frames, int32_t width, int32_t height,
                   const ImgWriteOptions& options, std::vector<uint8_t>& out) {
  out.clear();
  std::string error;
  StatusCode code = StatusCode::InvalidArgument;
  try {
    if (Encode(frames, width, height, options, out, error)) return Status::Ok();
  } catch (const std::bad_alloc&) {
    code = StatusCode::NoMemory;
    error = "not enough memory for the image file";
  }
  out.clear();
  return Status(code, std::string(), 0, error);
}

}  // namespace korvo
