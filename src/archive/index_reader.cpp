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

std::string IndexRecordFault(const uint8_t* block, uint64_t blockSize, uint64_t at) {
  if (at <= blockSize && blockSize - at >= 2) {
    const int16_t length = static_cast<int16_t>(LoadLE16(block + at));
    if (length < 0) {
      return "has a name length of " + std::to_string(static_cast<uint16_t>(length)) +
             ", over the limit of 32767";
    }
  }
  return "runs past the end of the file";
}

Status DamagedIndex(const std::string& path, uint32_t recordIndex, uint32_t count, uint32_t offset,
                    const uint8_t* block, uint64_t blockSize, uint64_t at) {
  return Status(StatusCode::Corrupt, path, 0,
                "damaged index: record " + std::to_string(recordIndex + 1) + " of " +
                    std::to_string(count) + " at offset " + std::to_string(offset) + " " +
                    IndexRecordFault(block, blockSize, at));
}

namespace {

Status ReadIndexFromFile(platform::File& file, const std::string& path, LoadedIndex& out,
                         bool& headerRead) {
  headerRead = false;
  int64_t length = 0;
  Status status = file.Length(length);
  if (!status.ok()) return status;
  if (length > static_cast<int64_t>(UINT32_MAX)) {
    return Status(StatusCode::TooLarge, path, 0, "4 GiB or more, not a package archive");
  }
  if (length >= static_cast<int64_t>(PackageHeaderSize)) {
    status = file.Seek(0);
    if (status.ok()) status = file.ReadExactly(out.headerBytes, PackageHeaderSize);
    if (!status.ok()) return status;
    headerRead = true;
  }
  out.header = DecodeHeader(out.headerBytes);
  status = CheckHeaderFields(out.header, static_cast<uint64_t>(length), path);
  if (!status.ok()) return status;

  const PackageHeader& header = out.header;
  out.bytes.resize(static_cast<size_t>(length - header.indexOffset));
  if (!out.bytes.empty()) {
    status = file.Seek(header.indexOffset);
    if (status.ok()) {
      status = file.ReadExactly(out.bytes.data(), static_cast<uint32_t>(out.bytes.size()));
    }
    if (!status.ok()) return status;
  }
  // Every record takes at least IndexRecordFixedSize bytes.
  const uint64_t room = out.bytes.size() / IndexRecordFixedSize;
  out.entries.reserve(static_cast<size_t>(header.entryCount < room ? header.entryCount : room));
  ViewCursor cursor;
  cursor.base = out.bytes.data();
  cursor.limit = static_cast<uint32_t>(out.bytes.size());
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const uint32_t at = cursor.position;
    PackageEntry entry;
    if (!ReadIndexRecord(cursor, entry)) {
      return DamagedIndex(path, i, header.entryCount, header.indexOffset + at, out.bytes.data(),
                          out.bytes.size(), at);
    }
    out.entries.push_back(std::move(entry));
  }
  for (const PackageEntry& entry : out.entries) {
    Status placed = CheckPlacement(entry, header.indexOffset, path);
    if (!placed.ok()) {
      return Status(
          StatusCode::Corrupt, path, 0,
          "refusing to edit a damaged archive: entry '" + entry.name + "': " + placed.detail());
    }
  }
  return Status::Ok();
}

}  // namespace

Status LoadIndexFromFile(platform::File& file, const std::string& path, LoadedIndex& out) {
  out.entries.clear();
  bool headerRead = false;
  Status status = ReadIndexFromFile(file, path, out, headerRead);
  if (status.ok() || status.code() != StatusCode::Corrupt || !headerRead) return status;
  out.entries.clear();
  Status tag = CheckHeaderTag(out.header, path);
  return tag.ok() ? status : tag;
}

}  // namespace korvo
