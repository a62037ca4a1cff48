// CPackageBuilder: writes a new package archive. Create starts an empty archive, AddFile
// appends one entry's stored bytes, Finish writes the index and the header and closes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "archive/package_format.h"

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
};
