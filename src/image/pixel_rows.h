// Expanding runs of format 1 pixels into their 32-bit form: the inner loop of image decoding.
// On x86-64 SSE2 (always present there) expands 8 pixels a step; elsewhere a scalar loop.
#pragma once

#include <cstdint>

#include "common/byte_order.h"
#include "image/img_format.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KORVO_IMAGE_SSE2 1
#endif

namespace korvo {

// Expands count format 1 pixels (2 bytes each, little-endian) from in to count 4-byte pixels
// at out, one pixel at a time; neither pointer needs any alignment.
inline void ExpandPixels16Scalar(uint8_t* out, const uint8_t* in, int64_t count) {
  for (int64_t c = 0; c < count; ++c) StoreLE32(out + 4 * c, ExpandFormat16(LoadLE16(in + 2 * c)));
}

// The same, as fast as the machine allows; the bytes written are identical.
inline void ExpandPixels16(uint8_t* out, const uint8_t* in, int64_t count) {
  int64_t c = 0;
#ifdef KORVO_IMAGE_SSE2
  // A pixel's two bytes b0 (components 0, 1) and b1 (components 2, 3) are doubled to
  // b0 b0 b1 b1. In each 16-bit lane (b, b) the low byte must become the low nibble shifted
  // up, (b << 4) & 0xF0, and the high byte the high nibble in place, b & 0xF0.
  const __m128i lowNibble = _mm_set1_epi16(0x00F0);
  const __m128i highNibble = _mm_set1_epi16(static_cast<int16_t>(0xF000));
  for (; c + 8 <= count; c += 8) {
    const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * c));
    const __m128i first = _mm_unpacklo_epi8(packed, packed);
    const __m128i second = _mm_unpackhi_epi8(packed, packed);
    const __m128i a = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(first, 4), lowNibble),
                                   _mm_and_si128(first, highNibble));
    const __m128i b = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(second, 4), lowNibble),
                                   _mm_and_si128(second, highNibble));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * c), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * c + 16), b);
  }
#endif
  ExpandPixels16Scalar(out + 4 * c, in + 2 * c, count - c);
}

}  // namespace korvo
