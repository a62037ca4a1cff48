#include "authoring/package_builder.h"

#include <climits>

#include "authoring/index_writer.h"
#include "platform/platform.h"

namespace korvo {

namespace {

// One whole item written: the stream accepted all length bytes. An empty write is done.
bool WriteWhole(FILE* file, const void* data, size_t length) {
  if (length == 0) return true;
  return std::fwrite(data, length, 1, file) == 1;
}

}  // namespace

CPackageBuilder::~CPackageBuilder() {
  // An archive that never reached Finish keeps the empty-archive header and the data
  // appended so far.
  if (file != nullptr) std::fclose(file);
}

bool CPackageBuilder::SeekTo(uint64_t offset) {
  if (position == static_cast<int64_t>(offset)) return true;
  position = -1;
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  uint64_t done = 0;
  // Relative steps keep offsets beyond the range of long reachable where long is 32 bits.
  while (done < offset) {
    uint64_t step = offset - done;
    if (step > static_cast<uint64_t>(LONG_MAX)) step = static_cast<uint64_t>(LONG_MAX);
    if (std::fseek(file, static_cast<long>(step), SEEK_CUR) != 0) return false;
    done += step;
  }
  position = static_cast<int64_t>(offset);
  return true;
}

bool CPackageBuilder::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (!SeekTo(offset)) return false;
  if (!WriteWhole(file, data, length)) {
    position = -1;
    return false;
  }
  position = static_cast<int64_t>(offset + length);
  return true;
}

bool CPackageBuilder::Create(const char* path) {
  if (path == nullptr) return false;
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
  index.clear();
  position = -1;

  if (FILE* existing = std::fopen(path, "rb")) {
    std::fclose(existing);
    platform::RemoveFile(path);
  }
  FILE* created = std::fopen(path, "wb");
  if (created == nullptr) return false;

  header.tag = PackageTag;
  header.entryCount = 0;
  header.indexOffset = PackageHeaderSize;
  header.indexSize = 0;
  uint8_t bytes[PackageHeaderSize];
  EncodeHeader(header, bytes);
  bool written = WriteWhole(created, bytes, sizeof(bytes));
  // Closing flushes the header: a failure there is a failed write too.
  if (std::fclose(created) != 0 || !written) return false;

  file = std::fopen(path, "r+b");
  position = 0;
  return file != nullptr;
}

bool CPackageBuilder::AddFile(const char* name, const void* data, uint32_t size,
                              uint32_t packedSize, uint32_t flags) {
  if (file == nullptr || !CanAppendEntry(header, name, data, packedSize)) return false;
  // The record changes only once its data is in the file, so a failed write leaves the index
  // as it was.
  if (!WriteAt(header.indexOffset, data, packedSize)) return false;
  RecordAppendedEntry(index, header, name, size, packedSize, flags);
  return true;
}

bool CPackageBuilder::Finish() {
  if (file == nullptr) return false;
  bool ok = true;
  if (header.entryCount > 0) {
    std::vector<uint8_t> records;
    SerializeIndex(index, header, records);
    ok = IndexFits(header, records.size()) &&
         WriteAt(header.indexOffset, records.data(), records.size());
    if (ok) header.indexSize = static_cast<uint32_t>(records.size());
  }
  if (ok) {
    uint8_t bytes[PackageHeaderSize];
    EncodeHeader(header, bytes);
    ok = WriteAt(0, bytes, sizeof(bytes));
  }
  // Buffered bytes reach the file only here, so a failed close fails the whole Finish.
  if (std::fclose(file) != 0) ok = false;
  file = nullptr;
  position = -1;
  return ok;
}

}  // namespace korvo
