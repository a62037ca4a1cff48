#include "archive/journal_format.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

#include "common/byte_order.h"
#include "platform/directories.h"
#include "platform/files.h"

namespace korvo {

const uint8_t JournalMagic[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '1'};

namespace {

constexpr uint32_t CheckBufferSize = 1u << 20;

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t length) {
  return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(length)));
}

}  // namespace

std::string JournalPath(const std::string& archivePath) {
  return archivePath + "-journal";
}

void EncodeJournalHeader(uint64_t originalLength, uint8_t out[JournalHeaderSize]) {
  std::memcpy(out, JournalMagic, sizeof(JournalMagic));
  StoreLE64(out + 8, originalLength);
  StoreLE32(out + 16, Crc(0, out, 16));
}

void EncodeJournalRecordHead(uint64_t offset, uint64_t length, uint8_t out[16]) {
  StoreLE64(out, offset);
  StoreLE64(out + 8, length);
}

Status ReadJournal(platform::File& journal, const std::string& journalPath,
                   JournalContents& contents) {
  contents = JournalContents();
  int64_t size = 0;
  Status status = journal.Length(size);
  if (!status.ok()) return status;
  uint8_t header[JournalHeaderSize];
  if (size < JournalHeaderSize) return Status::Ok();
  status = journal.Seek(0);
  if (status.ok()) status = journal.ReadExactly(header, sizeof(header));
  if (!status.ok()) return status;
  if (std::memcmp(header, JournalMagic, sizeof(JournalMagic)) != 0 ||
      LoadLE32(header + 16) != Crc(0, header, 16)) {
    return Status::Ok();
  }
  const uint64_t originalLength = LoadLE64(header + 8);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[CheckBufferSize]);
  if (buffer == nullptr) return Status(StatusCode::NoMemory, journalPath);

  std::vector<JournalRange> ranges;
  uint64_t position = JournalHeaderSize;
  const uint64_t end = static_cast<uint64_t>(size);
  while (end - position >= JournalRecordFixedSize) {
    uint8_t head[16];
    status = journal.ReadExactly(head, sizeof(head));
    if (!status.ok()) return status;
    JournalRange range;
    range.offset = LoadLE64(head);
    range.length = LoadLE64(head + 8);
    range.dataPosition = position + 16;
    // A range must lie within the original archive, and its record within the journal.
    if (range.length > originalLength || range.offset > originalLength - range.length ||
        range.length > end - position - JournalRecordFixedSize) {
      break;
    }
    uint32_t crc = Crc(0, head, sizeof(head));
    uint64_t left = range.length;
    while (left > 0) {
      uint32_t chunk = left < CheckBufferSize ? static_cast<uint32_t>(left) : CheckBufferSize;
      status = journal.ReadExactly(buffer.get(), chunk);
      if (!status.ok()) return status;
      crc = Crc(crc, buffer.get(), chunk);
      left -= chunk;
    }
    uint8_t stored[4];
    status = journal.ReadExactly(stored, sizeof(stored));
    if (!status.ok()) return status;
    if (LoadLE32(stored) != crc) break;
    ranges.push_back(range);
    position += JournalRecordFixedSize + range.length;
  }
  contents.originalLength = originalLength;
  contents.ranges = std::move(ranges);
  return Status::Ok();
}

JournalKind JournalAt(const char* archivePath) {
  if (archivePath == nullptr) return JournalKind::None;
  const std::string path = JournalPath(archivePath);
  if (platform::IsRegularFile(path.c_str())) return JournalKind::File;
  if (platform::IsDirectory(path.c_str())) return JournalKind::Directory;
  return platform::PathExists(path.c_str()) ? JournalKind::NotAFile : JournalKind::None;
}

bool HasHotJournal(const char* archivePath) {
  if (JournalAt(archivePath) != JournalKind::File) return false;
  std::string path = JournalPath(archivePath);
  platform::File journal;
  if (!platform::OpenForRead(path.c_str(), journal).ok()) return false;
  JournalContents contents;
  // A journal that cannot be read may well be hot: the archive is not to be trusted then.
  if (!ReadJournal(journal, path, contents).ok()) return true;
  return contents.Hot();
}

}  // namespace korvo
