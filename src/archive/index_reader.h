// Reading index records from a block of bytes, shared by the mapped reader and the editor.
#pragma once

#include "archive/package_format.h"
#include "archive/view_cursor.h"

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

}  // namespace korvo
