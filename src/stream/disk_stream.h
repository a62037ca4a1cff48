// CDiskStream: a stream over a disk file opened through standard I/O.
#pragma once

#include <cstdio>
#include <memory>

#include "common/status.h"
#include "common/stdio_file.h"
#include "stream/res_stream.h"

namespace korvo {

class CDiskStream : public CResStream {
 public:
  CDiskStream() = default;
  ~CDiskStream() override = default;  // an open file closes with `file`

  // Opens path unchanged with the stdio mode that the mode word selects: "rb", with 'w' first
  // for ModeWrite and 't' second for ModeText. A zero mode word is refused: such a stream would
  // look free while it holds a file. A directory is refused, and so is a file whose length
  // does not fit the 32-bit size (4 GiB or more): it is never read as a shorter one. On failure
  // the stream stays free.
  bool Open(const char* path, uint32_t mode);
  // The same, with the cause of a failure: NotFound for a missing file, TooLarge for a file of
  // 4 GiB or more, IoError (with the system's error) for any other refusal.
  Status OpenWithStatus(const char* path, uint32_t mode);

  void Close() override;
  uint32_t Read(void* buffer, uint32_t count) override;
  // Writes one item of count bytes and flushes; a count of 0 writes no item and fails.
  bool Write(const void* buffer, uint32_t count) override;
  // The from-end origin places the position at size + offset.
  int32_t Seek(int32_t offset, int32_t origin) override;
  // The stdio end-of-file indicator: set only after a read tried to pass the end.
  bool Eof() override;

  // Builds the stdio mode string for a mode word (three bytes with the terminator).
  static void ModeString(uint32_t mode, char out[3]);

  StdioFile file;  // null while the stream is free
};

}  // namespace korvo
