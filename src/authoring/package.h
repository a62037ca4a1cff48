// CPackage: edits an existing package archive in place. Open loads the whole index, AddFile
// and DelFile change entries, Close writes the index and the header, commits and closes.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/package_format.h"
#include "platform/platform.h"

namespace korvo {

class CPackage {
 public:
  // Opens an existing file for reading and writing without creating it.
  using OpenFunction = Status (*)(const char* path, platform::File& file);

  CPackage() = default;
  // Closes a file that Close did not close, without writing anything.
  ~CPackage();
  CPackage(const CPackage&) = delete;
  CPackage& operator=(const CPackage&) = delete;

  // Opens the archive (two attempts) and loads its whole index. Fails, with the message
  // "CPackage::Open Failed!", when the file cannot be opened (for instance while it is
  // mounted), is shorter than 16 bytes, or its index or a data block it names does not lie
  // wholly inside the file: a damaged archive is never rewritten.
  bool Open(const char* path);
  // The walk over the index as Open read it from the file.
  bool FirstEntry(PackageEntry& entry);
  bool NextEntry(PackageEntry& entry);
  // Writes the packedSize bytes at the end of the data region and records them under name.
  // False, with the index unchanged, when the write fails or the name is too long.
  bool AddFile(const char* name, const void* data, uint32_t size, uint32_t packedSize,
               uint32_t flags);
  // Removes the first entry called name and moves everything behind its data down. True also
  // when no entry has that name (nothing changes then).
  bool DelFile(const char* name);
  // Writes the index and the header, commits and closes.
  bool Close();
  // Closes the file without writing anything: what is on disk stays as it is.
  void CloseUnchanged();

  platform::File file;
  std::vector<PackageEntry> index;
  PackageHeader header;
  int32_t currentIndex = -1;
  uint32_t nextRecordOffset = 0;

  // How Open opens a file; tests replace it to watch the attempts.
  static OpenFunction openFunction;

 private:
  bool LoadIndex();
  bool MoveDown(uint64_t from, uint64_t to);

  std::vector<uint8_t> indexBytes;  // the index as Open read it
  uint32_t indexBytesOffset = 0;    // file offset of indexBytes[0]
};

}  // namespace korvo
