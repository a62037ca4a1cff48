// CMappedPackage: the read-only reader of one package archive. The whole file is mapped once;
// the index walk and every extraction read straight from the mapped view.
#pragma once

#include <cstdint>

#include "archive/package_format.h"
#include "archive/view_cursor.h"
#include "platform/platform.h"

namespace korvo {

class CMappedPackage {
 public:
  CMappedPackage() = default;
  CMappedPackage(const CMappedPackage&) = delete;
  CMappedPackage& operator=(const CMappedPackage&) = delete;

  // Maps the file read-only and reads the header. Fails for a missing, empty or unmappable
  // file and for a directory. A file shorter than 16 bytes opens but has no entries.
  bool Open(const char* path);
  // Unmaps the view and closes the file (the destructor does the same).
  void Close();

  // The index walk. FirstEntry starts at indexOffset; NextEntry returns the next record. The
  // walk yields entryCount records (read as a signed count) but ends early when a record would
  // begin with fewer than 2 bytes left in the file. A record cut short by the end of the file
  // is still returned, with the fields that did not fit left as they were in entry.
  bool FirstEntry(PackageEntry& entry);
  bool NextEntry(PackageEntry& entry);

  // Inflates the packedSize bytes at offset into destination. True only when the block lies
  // wholly inside the file and inflates to exactly destinationSize bytes.
  bool Extract(void* destination, uint32_t destinationSize, uint32_t offset, uint32_t packedSize);

  const PackageHeader& Header() const { return header; }
  uint32_t FileSize() const { return fileSize; }
  const uint8_t* View() const { return mapping.View(); }

 private:
  platform::Mapping mapping;  // file handle, mapping handle and view
  uint32_t fileSize = 0;
  ViewCursor cursor;
  PackageHeader header;
  int32_t currentIndex = -1;
  uint32_t nextRecordOffset = 0;
};

}  // namespace korvo
