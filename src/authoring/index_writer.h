// Index and record logic shared by the two archive writers, CPackageBuilder and CPackage.
//
// Both keep the whole index in memory with header.entryCount equal to the number of records,
// append entry data at header.indexOffset (the end of the data region) and write the index
// there when they finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "common/status.h"

namespace korvo {

// The first of the first header.entryCount records whose name equals name exactly (same
// length, same bytes, letter case counts), or -1.
int32_t FindRecord(const std::vector<PackageEntry>& index, const PackageHeader& header,
                   const char* name);

// True when an entry of packedSize bytes named name may be appended: the name is at most
// MaxEntryNameLength bytes, data is present for a non-empty block, and the data region
// still ends below 4 GiB afterwards.
bool CanAppendEntry(const PackageHeader& header, const char* name, const void* data,
                    uint32_t packedSize);
// Why such an entry may not be appended, as a short phrase; null when it may.
const char* AppendEntryProblem(const PackageHeader& header, const char* name, const void* data,
                               uint32_t packedSize);

// Records an entry whose packedSize bytes have just been written at header.indexOffset. A
// name already in the index keeps its record's place and gets the new location; a new name
// is appended at the end. The data region then ends behind the new bytes.
void RecordAppendedEntry(std::vector<PackageEntry>& index, PackageHeader& header, const char* name,
                         uint32_t size, uint32_t packedSize, uint32_t flags);
// The same for a caller that has looked the name up itself: found is its record, or -1.
void RecordAppendedEntry(std::vector<PackageEntry>& index, PackageHeader& header, const char* name,
                         uint32_t size, uint32_t packedSize, uint32_t flags, int32_t found);

// The file bytes of the first header.entryCount records, in index order: for each, the name
// length as 2 bytes, the name, then flags, offset, size and packedSize as 4 bytes each.
void SerializeIndex(const std::vector<PackageEntry>& index, const PackageHeader& header,
                    std::vector<uint8_t>& out);

// True when an index of indexLength bytes written at header.indexOffset ends below 4 GiB.
bool IndexFits(const PackageHeader& header, size_t indexLength);

// Writes a byte range of the archive at a file offset; the writers differ in how (straight, or
// under the edit journal).
using ArchiveWrite = std::function<Status(uint64_t offset, const void* data, size_t length)>;

// How both writers finish: the index (when there are entries) at header.indexOffset, which
// sets header.indexSize, then the 16-byte header at offset 0. path names the archive in causes.
Status WriteIndexAndHeader(const std::vector<PackageEntry>& index, PackageHeader& header,
                           const std::string& path, const ArchiveWrite& write);

}  // namespace korvo
