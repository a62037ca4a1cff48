// A bounded reading position over a block of memory. Every operation either completes or
// changes nothing, so no read ever leaves the block.
#pragma once

#include <cstdint>

namespace korvo {

struct ViewCursor {
  const uint8_t* base = nullptr;
  uint32_t limit = 0;     // bytes that may be read
  uint32_t position = 0;  // offset of the next byte to read

  uint32_t Remaining() const { return position <= limit ? limit - position : 0; }
  // position = p when p <= limit.
  bool SeekTo(uint32_t p);
  // position += n when that stays within limit.
  bool Skip(uint32_t n);
  // Copies n bytes and advances when they all lie within limit; otherwise copies nothing.
  bool ReadBytes(void* destination, uint32_t n);
};

}  // namespace korvo
