#include "archive/index_reader.h"

#include "common/byte_order.h"

namespace korvo {

bool ReadIndexRecord(ViewCursor& cursor, PackageEntry& entry) {
  bool complete = true;
  uint8_t lengthBytes[2];
  if (!cursor.ReadBytes(lengthBytes, 2)) {
    entry.name.clear();
    complete = false;
  } else {
    int16_t length = static_cast<int16_t>(LoadLE16(lengthBytes));
    uint32_t n = length < 0 ? 0 : static_cast<uint32_t>(length);
    if (length < 0 || n > cursor.Remaining()) {
      entry.name.clear();
      complete = false;
    } else {
      entry.name.assign(reinterpret_cast<const char*>(cursor.base + cursor.position), n);
      cursor.Skip(n);
    }
  }
  uint32_t* fields[4] = {&entry.flags, &entry.offset, &entry.size, &entry.packedSize};
  for (uint32_t* field : fields) {
    uint8_t bytes[4];
    if (cursor.ReadBytes(bytes, 4)) {
      *field = LoadLE32(bytes);
    } else {
      complete = false;
    }
  }
  return complete;
}

}  // namespace korvo
