// CMemStream: a stream over a package entry, inflated whole into a buffer that the stream owns.
// The buffer comes from malloc and is reused from one open to the next; it grows with the
// entries it holds, and one grown beyond KeptBufferLimit is given back when the stream closes.
// A large entry whose zlib stream holds only stored blocks (incompressible data: sound, packed
// media) is not copied at all: it is checked at open as inflating would check it, and then read
// in place from the package's mapped view (StoredView).
#pragma once

#include "archive/inflate.h"
#include "archive/package_format.h"
#include "common/status.h"
#include "stream/res_stream.h"

namespace korvo {

// A pooled stream keeps a buffer up to this size for the next open; a larger one is freed on
// Close, so one huge entry does not hold its memory for the manager's life.
constexpr uint32_t KeptBufferLimit = 16u << 20;
// The same for the table of an entry read in place (one record per stored block).
constexpr size_t KeptTableLimit = 64u << 10;
// Entries of stored blocks from this size on are read in place; below it the copy costs less
// than the call around it, and the entry goes to the buffer like any other.
constexpr uint32_t InPlaceMinimum = 64u << 10;

class CMemStream : public CResStream {
 public:
  CMemStream() = default;
  ~CMemStream() override;

  // Makes the buffer hold at least n bytes (content not kept). False when malloc fails; the
  // old buffer is then gone and capacity is 0.
  bool Reserve(uint32_t n);
  // Inflates the entry into the buffer and opens the stream at position 0. Fails, leaving the
  // stream's mode word as it was, for a zero mode word, a block outside the package, a failed
  // allocation or an entry that does not inflate to exactly its recorded size. An entry of
  // size 0 opens as an empty stream. Nothing is allocated before the block is known to lie
  // inside the package, and memory grows with what inflating produces (InflateBounded). An
  // entry of stored blocks only, of InPlaceMinimum bytes or more, is read in place instead
  // (InPlace), leaving the buffer as it was.
  bool OpenEntry(const EntryInfo& info, uint32_t mode);
  Status OpenEntryWithStatus(const EntryInfo& info, uint32_t mode);

  // Keeps the buffer and its content for the next open, up to KeptBufferLimit bytes.
  void Close() override;
  // Copies from the current position; nothing at or past the end.
  uint32_t Read(void* buffer, uint32_t count) override;
  // Package entries are read-only: always false.
  bool Write(const void* buffer, uint32_t count) override;
  // The from-end origin places the position at size - offset. The position is not clamped.
  int32_t Seek(int32_t offset, int32_t origin) override;
  // True when position >= size, compared as signed numbers.
  bool Eof() override;
  // The next count bytes in place, from the inflated entry; for an entry read in place, only
  // when they lie within one of its stored blocks.
  const uint8_t* Borrow(uint32_t count) override;
  // True while the open entry is read in place from the package rather than from the buffer.
  bool InPlace() const { return !stored_.empty(); }

  uint32_t position = 0;
  unsigned char* buffer = nullptr;
  uint32_t capacity = 0;

 private:
  StoredView stored_;  // the open entry's stored blocks, when it is read in place
};

}  // namespace korvo
