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

// The output of a zlib stream made only of stored blocks: the blocks' bytes, one after another,
// read in place from the stream instead of inflated into a copy. One owner at a time; the
// source must outlive the view. Move-only; its table is freed with it.
class StoredView {
 public:
  StoredView() = default;
  ~StoredView() { Release(); }
  StoredView(StoredView&& other) noexcept;
  StoredView& operator=(StoredView&& other) noexcept;
  StoredView(const StoredView&) = delete;
  StoredView& operator=(const StoredView&) = delete;

  // True, with the view over source, when source is a complete zlib stream of stored blocks
  // only that gives exactly size (> 0) bytes with a matching check value: exactly the streams
  // that inflate to size bytes without a compressed block. False, with the view empty, for any
  // other stream, damaged or not (the inflater judges those), or when the table cannot be
  // allocated. Reads every block once, as inflating would.
  bool Open(const uint8_t* source, uint32_t sourceSize, uint32_t size);
  bool empty() const { return count_ == 0; }
  // The output's length; 0 when empty.
  uint32_t size() const { return size_; }
  // Copies output bytes [at, at + n), which must lie within size().
  void Copy(uint32_t at, void* destination, uint32_t n);
  // Output bytes [at, at + n) in place when they lie within one block (or n is 0 and at is at
  // most size()), else null.
  const uint8_t* Span(uint32_t at, uint32_t n);
  // Empties the view and keeps its table for the next Open.
  void Clear();
  // Empties the view and frees its table.
  void Release();
  // Bytes the table holds on to.
  size_t TableBytes() const { return static_cast<size_t>(capacity_) * sizeof(Piece); }

 private:
  struct Piece {
    uint32_t output;      // where the block's bytes begin in the output
    const uint8_t* data;  // and where they lie in the source
  };
  bool Scan(const uint8_t* source, uint32_t sourceSize, uint32_t size);
  // The piece holding output byte at (< size_).
  uint32_t Find(uint32_t at);
  bool Append(uint32_t output, const uint8_t* data);

  Piece* pieces_ = nullptr;  // the non-empty blocks in order, from malloc
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  uint32_t size_ = 0;
  uint32_t hint_ = 0;  // the piece found last: reads mostly go forward
};

// "libdeflate" or "zlib": what InflateBlock uses.
const char* InflateBackend();

}  // namespace korvo
