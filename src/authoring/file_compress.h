// Reading a whole source file and compressing it into the form an archive entry stores: one
// zlib stream made by compress at the default level.
#pragma once

#include <cstdint>
#include <memory>

namespace korvo {

struct CompressedFile {
  std::unique_ptr<uint8_t[]> packed;  // the zlib stream
  uint32_t packedSize = 0;
  uint32_t size = 0;  // the source's length
};

// Reads the file at path whole and compresses it in one call. False when the file cannot be
// opened or read, is too large for an entry (its compressed bound must stay below 4 GiB), or
// compression fails. An empty file gives the 8-byte stream of no input.
bool CompressFile(const char* path, CompressedFile& out);

}  // namespace korvo
