#include "archive/index_reader.h"

#include "common/byte_order.h"

namespace korvo {

bool ReadIndexRecord(ViewCursor& cursor, RecordView& record) {
  // The common case first: the whole record lies within the block.
  const uint32_t left = cursor.Remaining();
  if (left >= IndexRecordFixedSize) {
    const uint8_t* at = cursor.base + cursor.position;
    const int16_t length = static_cast<int16_t>(LoadLE16(at));
    if (length >= 0 && static_cast<uint32_t>(length) <= left - IndexRecordFixedSize) {
      const uint8_t* fields = at + 2 + length;
      record.recordOffset = cursor.position;
      record.name = reinterpret_cast<const char*>(at + 2);
      record.nameLength = static_cast<uint32_t>(length);
      record.flags = LoadLE32(fields);
      record.offset = LoadLE32(fields + 4);
      record.size = LoadLE32(fields + 8);
      record.packedSize = LoadLE32(fields + 12);
      cursor.position += IndexRecordFixedSize + static_cast<uint32_t>(length);
      return true;
    }
  }
  bool complete = true;
  record.recordOffset = cursor.position;
  record.name = nullptr;
  record.nameLength = 0;
  uint8_t lengthBytes[2];
  if (!cursor.ReadBytes(lengthBytes, 2)) {
    complete = false;
  } else {
    int16_t length = static_cast<int16_t>(LoadLE16(lengthBytes));
    uint32_t n = length < 0 ? 0 : static_cast<uint32_t>(length);
    if (length < 0 || n > cursor.Remaining()) {
      complete = false;
    } else {
      record.name = reinterpret_cast<const char*>(cursor.base + cursor.position);
      record.nameLength = n;
      cursor.Skip(n);
    }
  }
  uint32_t* fields[4] = {&record.flags, &record.offset, &record.size, &record.packedSize};
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

bool ReadIndexRecord(ViewCursor& cursor, PackageEntry& entry) {
  RecordView record;
  record.flags = entry.flags;
  record.offset = entry.offset;
  record.size = entry.size;
  record.packedSize = entry.packedSize;
  bool complete = ReadIndexRecord(cursor, record);
  entry.name.assign(record.name != nullptr ? record.name : "", record.nameLength);
  entry.flags = record.flags;
  entry.offset = record.offset;
  entry.size = record.size;
  entry.packedSize = record.packedSize;
  return complete;
}

}  // namespace korvo
