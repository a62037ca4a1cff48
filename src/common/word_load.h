// Loading the bytes of a name as 64-bit words, for the code that folds and hashes names a word
// at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvo {

// The 8 bytes at p, in the machine's byte order.
inline uint64_t Load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The 0 < n < 8 bytes at p as the low bytes of a word (little-endian order), the rest zero,
// read without a loop: two overlapping 4-byte loads, or the first, middle and last byte.
inline uint64_t LoadPart(const char* p, size_t n) {
  if (n >= 4) {
    uint32_t low;
    uint32_t high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    return low | (static_cast<uint64_t>(high) << (8 * (n - 4)));
  }
  const auto byte = [p](size_t k) { return static_cast<uint64_t>(static_cast<uint8_t>(p[k])); };
  return byte(0) | (byte(n / 2) << (8 * (n / 2))) | (byte(n - 1) << (8 * (n - 1)));
}

}  // namespace korvo
