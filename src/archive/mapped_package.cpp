#include "archive/mapped_package.h"

#include <zlib.h>

#include "archive/index_reader.h"

namespace korvo {

bool CMappedPackage::Open(const char* path) {
  if (!platform::MapFileReadOnly(path, mapping).ok()) return false;
  fileSize = mapping.Size();
  cursor.base = mapping.View();
  cursor.limit = fileSize;
  cursor.position = 0;
  header = PackageHeader();  // a file too short for a header has no entries
  uint8_t bytes[PackageHeaderSize];
  if (cursor.ReadBytes(bytes, PackageHeaderSize)) header = DecodeHeader(bytes);
  return true;
}

void CMappedPackage::Close() {
  mapping.Reset();
}

bool CMappedPackage::FirstEntry(PackageEntry& entry) {
  if (header.entryCount == 0) return false;
  currentIndex = -1;
  nextRecordOffset = header.indexOffset;
  return NextEntry(entry);
}

bool CMappedPackage::NextEntry(PackageEntry& entry) {
  ++currentIndex;
  if (currentIndex >= SignedEntryCount(header)) return false;
  cursor.SeekTo(nextRecordOffset);
  if (cursor.Remaining() < 2) return false;
  ReadIndexRecord(cursor, entry);
  nextRecordOffset = cursor.position;
  return true;
}

bool CMappedPackage::Extract(void* destination, uint32_t destinationSize, uint32_t offset,
                             uint32_t packedSize) {
  if (static_cast<uint64_t>(offset) + packedSize > fileSize) return false;
  if (!cursor.SeekTo(offset)) return false;
  uLongf produced = destinationSize;
  int result =
      uncompress(static_cast<Bytef*>(destination), &produced, cursor.base + offset, packedSize);
  return result == Z_OK && produced == destinationSize;
}

}  // namespace korvo
