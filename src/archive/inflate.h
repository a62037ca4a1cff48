// Inflating whole zlib blocks: the one place that decides between libdeflate and zlib.
#pragma once

#include <cstdint>

#include "common/status.h"

namespace korvo {

enum class InflateResult : uint8_t {
  Ok,       // a complete stream; produced holds its length
  NoRoom,   // the stream inflates to more than the capacity
  Corrupt,  // not a complete zlib stream
};

// Inflates the zlib stream of sourceSize bytes into destination (capacity bytes). Reads
// nothing outside the source and writes nothing outside the destination. Thread-safe.
InflateResult InflateBlock(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                           uint32_t capacity, uint32_t& produced);

// True when the stream inflates to exactly size bytes.
bool InflateExact(const uint8_t* source, uint32_t sourceSize, uint8_t* destination, uint32_t size);

// A malloc'd block that only grows; the owner frees it. extra bytes are allocated beyond what
// the inflated data needs (a terminator, say) and are not counted in capacity.
struct InflateBuffer {
  unsigned char*& data;
  uint32_t& capacity;
  uint32_t extra = 0;
};

// Up to this size an entry's recorded size is believed and allocated at once; a larger claim
// is believed only as far as the block actually inflates (see InflateBounded).
constexpr uint32_t TrustedInflateSize = 1u << 20;

// Inflates a block that must give exactly size bytes into buffer (replacing a block that is
// too small; content not kept). The memory taken grows with what inflating produces, not with
// the claim: a claim beyond TrustedInflateSize and 8 times the block is approached by
// doubling, so a lying size costs at most about twice the real output. Corrupt when the block
// does not inflate to exactly size bytes, NoMemory when an allocation fails.
Status InflateBounded(const uint8_t* source, uint32_t sourceSize, uint32_t size,
                      InflateBuffer buffer);

// Inflates the stream without keeping its output, to judge it against the size its record
// gives. Ok for a complete stream of exactly size bytes; otherwise Corrupt, with what is wrong
// as the detail: "zlib data is corrupt (<zlib's reason>)", "inflates to more than its recorded
// size of <size> bytes", "zlib data is cut short after <n> bytes" or "inflates to <n> bytes,
// index records <size>". Work stops soon after the output passes size. Thread-safe.
Status CheckInflate(const uint8_t* source, uint32_t sourceSize, uint32_t size);

// "libdeflate" or "zlib": what InflateBlock uses.
const char* InflateBackend();

}  // namespace korvo
