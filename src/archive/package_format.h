// The package archive file format.
//
//   offset 0            PackageHeader, 16 bytes
//   offset 16           entry data: one zlib stream per entry, back to back
//   indexOffset         entryCount index records, indexSize bytes in all
//
// An index record is a u16 name length n (read as signed: names are at most 32767 bytes), the
// n name bytes with no terminator, then flags, offset, size and packedSize as u32. All integers
// are little-endian.
#pragma once

#include <cstdint>
#include <string>

#include "common/status.h"

namespace korvo {

class CMappedPackage;

constexpr uint32_t PackageTag = 100;
constexpr uint32_t PackageHeaderSize = 16;
// Fixed part of an index record: the name length and the four u32 fields.
constexpr uint32_t IndexRecordFixedSize = 2 + 16;

struct PackageHeader {
  uint32_t tag = 0;
  uint32_t entryCount = 0;
  uint32_t indexOffset = 0;
  uint32_t indexSize = 0;
};

// One index record in memory.
struct PackageEntry {
  std::string name;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t packedSize = 0;
};

// A located entry: what is needed to inflate it without its name.
struct EntryInfo {
  CMappedPackage* package = nullptr;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t packedSize = 0;
};

// The most bytes that a zlib block of packedSize bytes can inflate to: deflate expands at most a
// little over 1032:1. A recorded size beyond this is a damaged record.
inline uint64_t MaxInflatedSize(uint32_t packedSize) {
  return static_cast<uint64_t>(packedSize) * 1032u + 64u;
}

// Encodes the header as its 16 file bytes, and decodes them.
void EncodeHeader(const PackageHeader& header, uint8_t out[PackageHeaderSize]);
PackageHeader DecodeHeader(const uint8_t in[PackageHeaderSize]);
// The number of index records a reader walks: entryCount read as a signed number.
inline int32_t SignedEntryCount(const PackageHeader& header) {
  return static_cast<int32_t>(header.entryCount);
}

// The checks that every reader of an archive makes, each naming path in its status (Corrupt,
// with a one-line cause as the detail). Ok when the header fields fit a file of fileSize bytes:
// at least the header, an entry count that is not negative, an index offset inside the file and
// behind the header.
Status CheckHeaderFields(const PackageHeader& header, uint64_t fileSize, const std::string& path);
// Ok when the header carries the package tag. Readers take any tag; writers refuse to change a
// file that does not carry it.
Status CheckHeaderTag(const PackageHeader& header, const std::string& path);
// Ok when the entry's data block lies within the data region, from the header to indexOffset:
// a block elsewhere would be lost, or would overwrite other bytes, when an edit moves data.
Status CheckPlacement(const PackageEntry& entry, uint32_t indexOffset, const std::string& path);

}  // namespace korvo
