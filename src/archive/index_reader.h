// Reading index records from a block of bytes, shared by the mapped reader and the editor.
#pragma once

#include <string>
#include <vector>

#include "archive/package_format.h"
#include "archive/view_cursor.h"
#include "platform/files.h"

namespace korvo {

// One index record as it lies in the block: the name is not copied.
struct RecordView {
  const char* name = nullptr;  // nameLength bytes inside the block, no terminator
  uint32_t nameLength = 0;
  uint32_t recordOffset = 0;  // cursor position of the record's name length field
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t packedSize = 0;
};

// Reads one index record at the cursor into record.
//
// Each part follows the cursor rule on its own: a u32 field that does not fit keeps the value
// that record already held. A name length that cannot be read or is negative as a signed 16-bit
// number, or a name that would run past the end, gives the record an empty name and leaves the
// cursor after the length field. Returns true when the whole record lay within the block.
bool ReadIndexRecord(ViewCursor& cursor, RecordView& record);
// The same, copying the name into entry.
bool ReadIndexRecord(ViewCursor& cursor, PackageEntry& entry);

// Why the record at block[at] (blockSize bytes in all) cannot be read whole: "has a name length
// of 40000, over the limit of 32767" or "runs past the end of the file".
std::string IndexRecordFault(const uint8_t* block, uint64_t blockSize, uint64_t at);
// The refusal of an index that breaks at the record of the given index (counting from 0) of
// count, which starts at file offset `offset`: "damaged index: record 3 of 3 at offset 102 runs
// past the end of the file". block holds blockSize bytes, the record at block[at].
Status DamagedIndex(const std::string& path, uint32_t recordIndex, uint32_t count, uint32_t offset,
                    const uint8_t* block, uint64_t blockSize, uint64_t at);

// An archive's header and whole index as read from its file, for a writer that changes or
// copies the archive.
struct LoadedIndex {
  PackageHeader header;
  uint8_t headerBytes[PackageHeaderSize] = {};
  std::vector<uint8_t> bytes;  // the file from header.indexOffset to its end
  std::vector<PackageEntry> entries;
};

// Reads the header and the index of the archive open in file (path names it in a failure).
// A writer must never act on a damaged archive, so the archive is refused (Corrupt, the cause
// as the detail) when the header does not fit the file, when the index breaks before its last
// record, or when an entry's data lies outside the data region: moving or copying the data
// would lose bytes ("refusing to edit a damaged archive: entry 'c.txt': data at offset ...").
// A refused file that does not carry the package tag is called no archive at all. Memory is
// bounded by the file's length.
Status LoadIndexFromFile(platform::File& file, const std::string& path, LoadedIndex& out);

}  // namespace korvo
