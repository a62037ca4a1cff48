// CPackageBuilder: writes a new package archive. Create starts an empty archive, AddFile
// appends one entry's stored bytes, Finish writes the index and the header and closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "archive/package_format.h"

namespace korvo {

class CPackageBuilder {
 public:
  CPackageBuilder() = default;
  ~CPackageBuilder();
  CPackageBuilder(const CPackageBuilder&) = delete;
  CPackageBuilder& operator=(const CPackageBuilder&) = delete;

  bool Create(const char* path);
  bool AddFile(const char* name, const void* data, uint32_t size, uint32_t packedSize,
               uint32_t flags);
  bool Finish();

  FILE* file = nullptr;
  std::vector<PackageEntry> index;
  PackageHeader header;

 private:
  // Positions the stream at offset, seeking only when it is elsewhere.
  bool SeekTo(uint64_t offset);
  // Writes length bytes at offset as one item; false unless all were accepted.
  bool WriteAt(uint64_t offset, const void* data, size_t length);

  int64_t position = -1;  // the stream's position when known, -1 after a failure
};

}  // namespace korvo
