#include "archive/mapped_package.h"

#include <string>

namespace korvo {

bool CMappedPackage::Open(const char* path) {
  return OpenWithStatus(path).ok();
}

Status CMappedPackage::OpenWithStatus(const char* path) {
  Status status = platform::MapFileReadOnly(path, mapping);
  // An empty file, or one of 4 GiB or more, cannot be an archive at all.
  if (status.code() == StatusCode::Corrupt || status.code() == StatusCode::TooLarge) {
    return Status(status.code(), status.file(), 0, status.detail() + ", not a package archive");
  }
  if (!status.ok()) return status;
  path_ = path;
  fileSize = mapping.Size();
  cursor.base = mapping.View();
  cursor.limit = fileSize;
  cursor.position = 0;
  header = PackageHeader();  // a file too short for a header has no entries
  uint8_t bytes[PackageHeaderSize];
  if (cursor.ReadBytes(bytes, PackageHeaderSize)) header = DecodeHeader(bytes);
  return Status::Ok();
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

bool CMappedPackage::FirstRecord(RecordView& record) {
  walkDamage_ = Status::Ok();
  if (header.entryCount == 0) return false;
  currentIndex = -1;
  nextRecordOffset = header.indexOffset;
  return NextRecord(record);
}

bool CMappedPackage::NextRecord(RecordView& record) {
  ++currentIndex;
  if (currentIndex >= SignedEntryCount(header)) return false;
  ViewCursor reader = cursor;
  if (reader.SeekTo(nextRecordOffset) && ReadIndexRecord(reader, record)) {
    cursor = reader;
    nextRecordOffset = cursor.position;
    return true;
  }
  walkDamage_ = DamagedIndex(path_, static_cast<uint32_t>(currentIndex), header.entryCount,
                             nextRecordOffset, mapping.View(), fileSize, nextRecordOffset);
  return false;
}

Status CMappedPackage::CheckHeaderFields() const {
  return korvo::CheckHeaderFields(header, fileSize, path_);
}

Status CMappedPackage::FirstRecordRefusal() const {
  return Status(StatusCode::Corrupt, path_, 0,
                "not a package archive or damaged: index record 1 of " +
                    std::to_string(header.entryCount) + " at offset " +
                    std::to_string(header.indexOffset) + " " +
                    IndexRecordFault(mapping.View(), fileSize, header.indexOffset));
}

Status CMappedPackage::CheckHeader() const {
  Status fields = CheckHeaderFields();
  if (!fields.ok() || header.entryCount == 0) return fields;
  ViewCursor reader;
  reader.base = mapping.View();
  reader.limit = fileSize;
  RecordView first;
  if (!reader.SeekTo(header.indexOffset) || !ReadIndexRecord(reader, first)) {
    return FirstRecordRefusal();
  }
  return Status::Ok();
}

const uint8_t* CMappedPackage::Block(uint32_t offset, uint32_t packedSize) const {
  if (mapping.View() == nullptr || packedSize == 0) return nullptr;
  if (static_cast<uint64_t>(offset) + packedSize > fileSize) return nullptr;
  return mapping.View() + offset;
}

bool CMappedPackage::Extract(void* destination, uint32_t destinationSize, uint32_t offset,
                             uint32_t packedSize) const {
  const uint8_t* block = Block(offset, packedSize);
  if (block == nullptr) return false;
  return InflateExact(block, packedSize, static_cast<uint8_t*>(destination), destinationSize);
}

Status CMappedPackage::ExtractBounded(const EntryInfo& info, InflateBuffer buffer) const {
  const uint8_t* block = Block(info.offset, info.packedSize);
  if (block == nullptr) {
    return Status(StatusCode::Corrupt, path_, 0,
                  "the entry's data block does not lie inside the file");
  }
  // Deflate expands at most a little over 1032:1: a larger claim is a damaged record.
  if (info.size > MaxInflatedSize(info.packedSize)) {
    return Status(StatusCode::Corrupt, path_, 0,
                  "the entry claims more bytes than its block can inflate to");
  }
  Status status = InflateBounded(block, info.packedSize, info.size, buffer);
  if (!status.ok()) return Status(status.code(), path_, 0, status.detail());
  return status;
}

std::string_view CMappedPackage::StoredName(uint32_t recordOffset) const {
  ViewCursor reader;
  reader.base = mapping.View();
  reader.limit = fileSize;
  if (!reader.SeekTo(recordOffset)) return std::string_view();
  RecordView record;
  ReadIndexRecord(reader, record);
  if (record.name == nullptr) return std::string_view();
  return std::string_view(record.name, record.nameLength);
}

}  // namespace korvo
