// Builds package archives byte by byte, independent of the library's writers.
#pragma once

#include <string>
#include <vector>

#include "support/test_files.h"

struct RawEntry {
  std::string name;
  Bytes stored;  // the data block as it lies in the file
  uint32_t size = 0;
  uint32_t flags = 0;
};

// Lays out the header, the data blocks back to back from offset 16 and the index at the end,
// as the writers do. Offsets of the blocks are computed.
Bytes BuildArchive(const std::vector<RawEntry>& entries);

// An entry holding text, stored as zlib's compress gives it.
RawEntry TextEntry(const std::string& name, const std::string& text);
