// Expanding runs of format 1 pixels into their 32-bit form: the inner loop of image decoding.
// On x86-64 SSE2 (always present there) expands 16 pixels a step; elsewhere a scalar loop.
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

#ifdef KORVO_IMAGE_SSE2
// Eight pixels: a pixel's bytes b0 (components 0 and 1) and b1 (components 2 and 3) become
// the four bytes lo(b0) hi(b0) lo(b1) hi(b1), where lo is the low nibble moved up and hi the
// high nibble in place. Both are taken for all 16 bytes at once, then interleaved.
inline void ExpandEightPixels16(uint8_t* out, const uint8_t* in) {
  const __m128i nibbles = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  // A 16-bit shift carries the even byte's high nibble into the odd byte's low half, which
  // the mask clears again.
  const __m128i low = _mm_and_si128(_mm_slli_epi16(packed, 4), nibbles);
  const __m128i high = _mm_and_si128(packed, nibbles);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(low, high));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(low, high));
}
#endif

// The same, as fast as the machine allows; the bytes written are identical. The two ranges
// must not overlap.
inline void ExpandPixels16(uint8_t* out, const uint8_t* in, int64_t count) {
#ifdef KORVO_IMAGE_SSE2
  if (count >= 8) {
    int64_t c = 0;
    for (; c + 16 <= count; c += 16) {
      ExpandEightPixels16(out + 4 * c, in + 2 * c);
      ExpandEightPixels16(out + 4 * c + 32, in + 2 * c + 16);
    }
    if (c + 8 <= count) {
      ExpandEightPixels16(out + 4 * c, in + 2 * c);
      c += 8;
    }
    // The last few pixels: the final eight again, rewriting some with the same bytes.
    if (c < count) ExpandEightPixels16(out + 4 * (count - 8), in + 2 * (count - 8));
    return;
  }
#endif
  ExpandPixels16Scalar(out, in, count);
}

// Asks for the cache lines of [p, p + bytes) ahead of their use; only a hint.
inline void PrefetchLines(const uint8_t* p, uint32_t bytes) {
#if defined(__GNUC__)
  for (uint32_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace korvo
