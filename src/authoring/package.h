// CPackage: edits an existing package archive in place. Open loads the whole index, AddFile
// and DelFile change entries, Close writes the index and the header, commits and closes.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/package_format.h"
#include "platform/platform.h"

class CPackage {
 public:
  CPackage() = default;
  ~CPackage();
  CPackage(const CPackage&) = delete;
  CPackage& operator=(const CPackage&) = delete;

  bool Open(const char* path);
  bool FirstEntry(PackageEntry& entry);
  bool NextEntry(PackageEntry& entry);
  bool AddFile(const char* name, const void* data, uint32_t size, uint32_t packedSize,
               uint32_t flags);
  bool DelFile(const char* name);
  bool Close();

  int fd = platform::kNoFile;
  std::vector<PackageEntry> index;
  PackageHeader header;
  int32_t currentIndex = -1;
  uint32_t nextRecordOffset = 0;
};
