// Little-endian encoding of the integers stored in package, image and journal files.
#pragma once

#include <cstdint>
#include <vector>

namespace korvo {

inline uint16_t LoadLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint64_t LoadLE64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLE32(p)) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}

inline void StoreLE64(uint8_t* p, uint64_t v) {
  StoreLE32(p, static_cast<uint32_t>(v));
  StoreLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Appends v to out as little-endian bytes.
inline void AppendLE16(std::vector<uint8_t>& out, uint16_t v) {
  uint8_t b[2];
  StoreLE16(b, v);
  out.insert(out.end(), b, b + 2);
}

inline void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  StoreLE32(b, v);
  out.insert(out.end(), b, b + 4);
}

inline void AppendLE64(std::vector<uint8_t>& out, uint64_t v) {
  uint8_t b[8];
  StoreLE64(b, v);
  out.insert(out.end(), b, b + 8);
}

}  // namespace korvo
