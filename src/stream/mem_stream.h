// CMemStream: a stream over a package entry, inflated whole into a buffer that the stream owns.
// The buffer comes from malloc, only grows, and is reused from one open to the next.
#pragma once

#include "archive/package_format.h"
#include "stream/res_stream.h"

namespace korvo {

class CMemStream : public CResStream {
 public:
  CMemStream() = default;
  ~CMemStream() override;

  // Makes the buffer hold at least n bytes (content not kept). False when malloc fails; the
  // old buffer is then gone and capacity is 0.
  bool Reserve(uint32_t n);
  // Inflates the entry into the buffer and opens the stream at position 0. Fails, leaving the
  // stream free, for a zero mode word, a failed allocation or an entry that does not inflate to
  // exactly its recorded size. An entry of size 0 opens as an empty stream.
  bool OpenEntry(const EntryInfo& info, uint32_t mode);

  // Keeps the buffer and its content for the next open.
  void Close() override;
  // Copies from the current position; nothing at or past the end.
  uint32_t Read(void* buffer, uint32_t count) override;
  // Package entries are read-only: always false.
  bool Write(const void* buffer, uint32_t count) override;
  // The from-end origin places the position at size - offset. The position is not clamped.
  int32_t Seek(int32_t offset, int32_t origin) override;
  // True when position >= size, compared as signed numbers.
  bool Eof() override;

  uint32_t position = 0;
  unsigned char* buffer = nullptr;
  uint32_t capacity = 0;
};

}  // namespace korvo
