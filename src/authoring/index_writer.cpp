#include "authoring/index_writer.h"

#include <cstring>

#include "archive/names.h"
#include "common/byte_order.h"

namespace korvo {

namespace {

size_t RecordsInUse(const std::vector<PackageEntry>& index, const PackageHeader& header) {
  return header.entryCount < index.size() ? header.entryCount : index.size();
}

}  // namespace

int32_t FindRecord(const std::vector<PackageEntry>& index, const PackageHeader& header,
                   const char* name) {
  if (name == nullptr) return -1;
  size_t length = std::strlen(name);
  size_t count = RecordsInUse(index, header);
  for (size_t i = 0; i < count; ++i) {
    const std::string& candidate = index[i].name;
    if (candidate.size() == length && std::memcmp(candidate.data(), name, length) == 0) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

bool CanAppendEntry(const PackageHeader& header, const char* name, const void* data,
                    uint32_t packedSize) {
  return AppendEntryProblem(header, name, data, packedSize) == nullptr;
}

const char* AppendEntryProblem(const PackageHeader& header, const char* name, const void* data,
                               uint32_t packedSize) {
  if (name == nullptr) return "entry has no name";
  if (std::strlen(name) > MaxEntryNameLength) return EntryNameTooLong;
  if (data == nullptr && packedSize > 0) return "entry has no data";
  if (header.indexOffset < PackageHeaderSize ||
      static_cast<uint64_t>(header.indexOffset) + packedSize > UINT32_MAX) {
    return "entry does not fit the archive";
  }
  return nullptr;
}

void RecordAppendedEntry(std::vector<PackageEntry>& index, PackageHeader& header, const char* name,
                         uint32_t size, uint32_t packedSize, uint32_t flags) {
  RecordAppendedEntry(index, header, name, size, packedSize, flags,
                      FindRecord(index, header, name));
}

void RecordAppendedEntry(std::vector<PackageEntry>& index, PackageHeader& header, const char* name,
                         uint32_t size, uint32_t packedSize, uint32_t flags, int32_t found) {
  PackageEntry* record;
  if (found >= 0) {
    record = &index[static_cast<size_t>(found)];
  } else {
    index.resize(RecordsInUse(index, header));
    index.emplace_back();
    record = &index.back();
    record->name = name;
    header.entryCount = static_cast<uint32_t>(index.size());
  }
  record->flags = flags;
  record->offset = header.indexOffset;
  record->size = size;
  record->packedSize = packedSize;
  header.indexOffset += packedSize;
}

void SerializeIndex(const std::vector<PackageEntry>& index, const PackageHeader& header,
                    std::vector<uint8_t>& out) {
  size_t count = RecordsInUse(index, header);
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += IndexRecordFixedSize + index[i].name.size();
  out.resize(total);
  uint8_t* p = out.data();
  for (size_t i = 0; i < count; ++i) {
    const PackageEntry& record = index[i];
    StoreLE16(p, static_cast<uint16_t>(record.name.size()));
    p += 2;
    if (!record.name.empty()) std::memcpy(p, record.name.data(), record.name.size());
    p += record.name.size();
    StoreLE32(p, record.flags);
    StoreLE32(p + 4, record.offset);
    StoreLE32(p + 8, record.size);
    StoreLE32(p + 12, record.packedSize);
    p += 16;
  }
}

bool IndexFits(const PackageHeader& header, size_t indexLength) {
  return static_cast<uint64_t>(header.indexOffset) + indexLength <= UINT32_MAX;
}

Status WriteIndexAndHeader(const std::vector<PackageEntry>& index, PackageHeader& header,
                           const std::string& path, const ArchiveWrite& write) {
  if (header.entryCount > 0) {
    std::vector<uint8_t> records;
    SerializeIndex(index, header, records);
    if (!IndexFits(header, records.size()))
      return Status(StatusCode::TooLarge, path, 0, "index does not fit the archive");
    Status written = write(header.indexOffset, records.data(), records.size());
    if (!written.ok()) return written;
    header.indexSize = static_cast<uint32_t>(records.size());
  }
  uint8_t bytes[PackageHeaderSize];
  EncodeHeader(header, bytes);
  return write(0, bytes, sizeof(bytes));
}

}  // namespace korvo
