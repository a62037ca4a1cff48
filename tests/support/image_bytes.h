// Tiled image files and packages built byte by byte for the image suites, and what loads give.
#pragma once

#include <algorithm>

#include "image/img_loader.h"
#include "manager/package_manager.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "support/archive_bytes.h"

using namespace korvo;  // NOLINT: test support

// The 36-byte file header: "KWF" 0x1A "IANI", two zero reserved words, then the five values.
inline Bytes ImageHeader(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                         int32_t imageHeight, int32_t frameCount) {
  Bytes out = {'K', 'W', 'F', 0x1A, 'I', 'A', 'N', 'I', 0, 0, 0, 0, 0, 0, 0, 0};
  for (int32_t v : {tileWidth, tileHeight, imageWidth, imageHeight, frameCount}) PutU32(out, v);
  return out;
}

struct TileRecord {
  int32_t width, height, pitch, format;
  Bytes data;
};
inline void PutTile(Bytes& out, const TileRecord& tile) {
  for (int32_t v : {tile.width, tile.height, tile.pitch, tile.format}) PutU32(out, v);
  PutBytes(out, tile.data);
}

// Gapless tiles of pitch 4 * tileWidth; pixel(frame, x, y) kept whole (format 3) or its low half.
inline Bytes GridImage(int32_t format, int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                       int32_t imageHeight, int32_t frameCount,
                       uint32_t (*pixel)(int frame, int x, int y)) {
  Bytes out = ImageHeader(tileWidth, tileHeight, imageWidth, imageHeight, frameCount);
  for (int32_t f = 0; f < frameCount; ++f)
    for (int32_t ty = 0; ty < imageHeight / tileHeight; ++ty)
      for (int32_t tx = 0; tx < imageWidth / tileWidth; ++tx) {
        TileRecord tile{tileWidth, tileHeight, 4 * tileWidth, format, {}};
        for (int32_t y = ty * tileHeight; y < (ty + 1) * tileHeight; ++y)
          for (int32_t x = tx * tileWidth; x < (tx + 1) * tileWidth; ++x)
            format == 1 ? PutU16(tile.data, pixel(f, x, y)) : PutU32(tile.data, pixel(f, x, y));
        PutTile(out, tile);
      }
  return out;
}

// A package of the named files, each stored as zlib's compress gives it, written to path.
inline std::string WritePackage(const std::string& path,
                                const std::vector<std::pair<std::string, Bytes>>& files) {
  std::vector<RawEntry> entries;
  for (const auto& f : files)
    entries.push_back({f.first, Compress(f.second), uint32_t(f.second.size())});
  WriteFileBytes(path, BuildArchive(entries));
  return path;
}

// True when both pools hold all their streams and every one is free.
inline bool StreamPoolsFree(const CPackageManager& manager) {
  size_t free = 0;
  for (const CDiskStream* s : manager.DiskPool()) free += s != nullptr && s->IsFree();
  for (const CMemStream* s : manager.MemPool()) free += s != nullptr && s->IsFree();
  return free == 2 * StreamPoolSize;
}

inline Bytes FrameBytes(const ImgFrame* frame) {
  const uint8_t* p = KORVO_FRAME_PIXELS(frame);
  return Bytes(p, p + frame->stride * frame->height);
}
inline uint32_t FramePixel(const ImgFrame* frame, uint32_t x, uint32_t y) {
  const uint8_t* p = KORVO_FRAME_PIXELS(frame) + size_t(y) * frame->stride + 4 * x;
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// A stream over bytes in memory that only copies them out, as a disk file's stream does: it
// lends nothing, so a decoder reads it through Read alone.
class CopyingStream : public CResStream {
 public:
  explicit CopyingStream(const Bytes& bytes) : bytes_(bytes) {
    mode = ModeRead;
    size = static_cast<uint32_t>(bytes.size());
  }
  uint32_t Read(void* destination, uint32_t count) override {
    const uint32_t n = std::min<uint32_t>(count, size - position_);
    std::copy_n(bytes_.begin() + position_, n, static_cast<uint8_t*>(destination));
    position_ += n;
    return n;
  }
  bool Write(const void*, uint32_t) override { return false; }
  int32_t Seek(int32_t, int32_t) override { return -1; }  // the decoder never seeks
  bool Eof() override { return position_ >= size; }

 private:
  const Bytes& bytes_;
  uint32_t position_ = 0;
};

// A caller's three variables, preset to marks that a load must not touch before it accepts the
// header; what a successful load hands over is freed at the end.
inline uint32_t gValues[1];
inline ImgFrame* gFrames[1];
struct Loaded {
  ~Loaded() { ok ? FreeImageFrames(count, count > 1 ? values : nullptr, frames) : void(); }
  bool From(CPackageManager& manager, const std::string& name) {
    code = LoadImageFrames(manager, name.c_str(), &count, &values, &frames).code();
    return ok = code == StatusCode::Ok;
  }
  // Without a manager: through a memory stream, which lends its bytes in place, or (lend
  // false) through a stream that only copies them out.
  bool Decode(const Bytes& file, bool lend = true) {
    CMemStream memory;
    memory.Reserve(memory.size = uint32_t(file.size()));
    std::copy(file.begin(), file.end(), memory.buffer);
    memory.mode = ModeRead;
    CopyingStream copying(file);
    CResStream& stream = lend ? static_cast<CResStream&>(memory) : copying;
    code = DecodeImageStream(stream, &count, &values, &frames).code();
    return ok = code == StatusCode::Ok;
  }
  bool Untouched() const { return !ok && count == 7 && values == gValues && frames == gFrames; }
  // Failed once the header was accepted: count 0, frames null and values null if written.
  bool ResetFor(uint32_t frameCount) const {
    return !ok && !count && !frames && values == (frameCount > 1 ? nullptr : gValues);
  }
  bool ok = false;
  StatusCode code = StatusCode::Ok;  // the cause the load gave
  uint32_t count = 7;
  uint32_t* values = gValues;
  ImgFrame** frames = gFrames;
};
