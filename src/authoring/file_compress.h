// Reading a whole source file and compressing it into the form an archive entry stores: one
// zlib stream made by compress at the default level.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/status.h"
#include "platform/files.h"

namespace korvo {

struct CompressedFile {
  std::unique_ptr<uint8_t[]> packed;  // the zlib stream
  uint32_t packedSize = 0;
  uint32_t size = 0;  // the source's length
  uint32_t crc = 0;   // CRC-32 of the source's bytes
  // Given an expected CRC: the source's bytes had it, and nothing was compressed.
  bool unchanged = false;
};

// A zlib deflate state kept for many files: compressing with it gives exactly the bytes that
// compress gives (same level, window and memory settings), without setting up and tearing down
// its buffers (about 256 KiB) for every file. One per thread; move-only.
class Deflater {
 public:
  Deflater();
  ~Deflater();
  Deflater(Deflater&& other) noexcept;
  Deflater& operator=(Deflater&& other) noexcept;
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses length bytes into out, which holds capacity bytes; packedLength is what was
  // written. False when zlib fails or the stream does not fit.
  bool Compress(const uint8_t* data, uint32_t length, uint8_t* out, uint32_t capacity,
                uint32_t& packedLength);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reads the file at path whole and compresses it in one call. An empty file gives the 8-byte
// stream of no input. A failure names path, with the cause "no such file", "not a regular
// file" (nothing but a regular file is opened), "cannot open" with the system's error, or
// CompressOpenFile's.
Status CompressFile(const char* path, CompressedFile& out);
// Reads a file just opened (at its start) whole and compresses it; path names it in the cause of a
// failure ("cannot be read" with the system's error, too large for an entry, out of memory,
// compression failed). The file is too large when its compressed bound does not stay below
// 4 GiB.
// With expectedCrc, a source whose bytes have that CRC-32 and expectedSize bytes is not
// compressed: out.unchanged is set instead.
Status CompressOpenFile(platform::File& file, const char* path, CompressedFile& out,
                        Deflater& deflater, const uint32_t* expectedCrc = nullptr,
                        uint32_t expectedSize = 0);

// A source file that cannot be read, as the pack and add operations report it: path, "cannot be
// read" and the system's error of cause.
inline Status CannotRead(const std::string& path, const Status& cause) {
  return Status::System(cause.code(), path, cause.systemError(), "cannot be read");
}

}  // namespace korvo
