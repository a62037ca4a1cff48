#include "support/image_bytes.h"

#include <cstring>

#include "support/archive_bytes.h"

Bytes ImageHeader(int32_t tileWidth, int32_t tileHeight, int32_t imageWidth, int32_t imageHeight,
                  int32_t frameCount, uint32_t reserved1, uint32_t reserved2) {
  Bytes out = {'K', 'W', 'F', 0x1A, 'I', 'A', 'N', 'I'};
  PutU32(out, reserved1);
  PutU32(out, reserved2);
  PutU32(out, static_cast<uint32_t>(tileWidth));
  PutU32(out, static_cast<uint32_t>(tileHeight));
  PutU32(out, static_cast<uint32_t>(imageWidth));
  PutU32(out, static_cast<uint32_t>(imageHeight));
  PutU32(out, static_cast<uint32_t>(frameCount));
  return out;
}

void PutTile(Bytes& out, int32_t width, int32_t height, int32_t pitch, int32_t format,
             const Bytes& data) {
  PutU32(out, static_cast<uint32_t>(width));
  PutU32(out, static_cast<uint32_t>(height));
  PutU32(out, static_cast<uint32_t>(pitch));
  PutU32(out, static_cast<uint32_t>(format));
  PutBytes(out, data);
}

Bytes Format16Data(const std::vector<uint16_t>& values) {
  Bytes out;
  for (uint16_t v : values) PutU16(out, v);
  return out;
}

Bytes GridImage(int32_t format, int32_t tileWidth, int32_t tileHeight, int32_t imageWidth,
                int32_t imageHeight, int32_t frameCount, const PixelFunction& pixel) {
  Bytes out = ImageHeader(tileWidth, tileHeight, imageWidth, imageHeight, frameCount);
  const int32_t across = imageWidth / tileWidth;
  const int32_t down = imageHeight / tileHeight;
  for (int32_t f = 0; f < frameCount; ++f) {
    for (int32_t ty = 0; ty < down; ++ty) {
      for (int32_t tx = 0; tx < across; ++tx) {
        Bytes data;
        for (int32_t r = 0; r < tileHeight; ++r) {
          for (int32_t c = 0; c < tileWidth; ++c) {
            uint32_t v = pixel(f, tx * tileWidth + c, ty * tileHeight + r);
            if (format == 1) {
              PutU16(data, static_cast<uint16_t>(v));
            } else {
              PutU32(data, v);
            }
          }
        }
        PutTile(out, tileWidth, tileHeight, 4 * tileWidth, format, data);
      }
    }
  }
  return out;
}

uint32_t FramePixel(const ImgFrame* frame, uint32_t x, uint32_t y) {
  const uint8_t* p = KORVO_FRAME_PIXELS(frame) + static_cast<size_t>(y) * frame->stride + 4 * x;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

Bytes FrameBytes(const ImgFrame* frame) {
  const uint8_t* p = KORVO_FRAME_PIXELS(frame);
  return Bytes(p, p + static_cast<size_t>(frame->stride) * frame->height);
}

Bytes PackageOf(const std::vector<std::pair<std::string, Bytes>>& entries) {
  std::vector<RawEntry> raw;
  for (const auto& entry : entries) {
    RawEntry r;
    r.name = entry.first;
    r.stored = Compress(entry.second);
    r.size = static_cast<uint32_t>(entry.second.size());
    raw.push_back(r);
  }
  return BuildArchive(raw);
}

BytesStream::BytesStream(Bytes data) : data_(std::move(data)) {
  mode = ModeRead;
  size = static_cast<uint32_t>(data_.size());
}

uint32_t BytesStream::Read(void* buffer, uint32_t count) {
  ++reads;
  size_t n = position_ < data_.size() ? data_.size() - position_ : 0;
  if (n > count) n = count;
  if (n > 0) std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return static_cast<uint32_t>(n);
}

int32_t BytesStream::Seek(int32_t offset, int32_t origin) {
  if (origin == SeekBegin) {
    position_ = static_cast<size_t>(offset);
  } else if (origin == SeekCurrent) {
    position_ += static_cast<size_t>(offset);
  } else {
    position_ = data_.size() - static_cast<size_t>(offset);
  }
  return static_cast<int32_t>(position_);
}
