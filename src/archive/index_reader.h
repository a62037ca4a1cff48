// Reading index records from a block of bytes, shared by the mapped reader and the editor.
#pragma once

#include "archive/package_format.h"
#include "archive/view_cursor.h"

namespace korvo {

// Reads one index record at the cursor into entry.
//
// Each part follows the cursor rule on its own: a u32 field that does not fit keeps the value
// that entry already held. A name length that cannot be read or is negative as a signed 16-bit
// number, or a name that would run past the end, gives the record an empty name and leaves the
// cursor after the length field. Returns true when the whole record lay within the block.
bool ReadIndexRecord(ViewCursor& cursor, PackageEntry& entry);

}  // namespace korvo
