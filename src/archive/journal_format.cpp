#include "archive/journal_format.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

#include "common/byte_order.h"
#include "platform/directories.h"
#include "platform/files.h"

namespace korvo {

const uint8_t JournalMagic[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '2'};
const uint8_t JournalMagicFirst[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '1'};

namespace {

constexpr uint32_t CheckBufferSize = 1u << 20;

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t length) {
  return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(length)));
}

// Reads a journal's records one after another, checking each one's CRC.
class RecordReader {
 public:
  RecordReader(platform::File& journal, const std::string& path, uint64_t size)
      : journal_(journal), path_(path), size_(size) {}

  Status Prepare() {
    buffer_.reset(new (std::nothrow) uint8_t[CheckBufferSize]);
    if (buffer_ == nullptr) return Status(StatusCode::NoMemory, path_);
    return Status::Ok();
  }
  uint64_t Left(uint64_t position) const { return size_ - position; }
  // Reads length bytes at the current position into out, adding them to crc.
  Status Head(uint8_t* out, uint32_t length, uint32_t& crc) {
    Status status = journal_.ReadExactly(out, length);
    if (!status.ok()) return status;
    crc = Crc(crc, out, length);
    return Status::Ok();
  }
  // Reads length bytes, adding them to crc, then the stored CRC; matches tells whether it holds.
  Status Rest(uint64_t length, uint32_t crc, bool& matches) {
    while (length > 0) {
      uint32_t chunk = length < CheckBufferSize ? static_cast<uint32_t>(length) : CheckBufferSize;
      Status status = journal_.ReadExactly(buffer_.get(), chunk);
      if (!status.ok()) return status;
      crc = Crc(crc, buffer_.get(), chunk);
      length -= chunk;
    }
    uint8_t stored[4];
    Status status = journal_.ReadExactly(stored, sizeof(stored));
    if (!status.ok()) return status;
    matches = LoadLE32(stored) == crc;
    return Status::Ok();
  }

 private:
  platform::File& journal_;
  const std::string& path_;
  uint64_t size_;
  std::unique_ptr<uint8_t[]> buffer_;
};

// The first format: range records only.
Status ReadFirstFormat(RecordReader& reader, JournalContents& contents) {
  const uint64_t originalLength = contents.originalLength;
  uint64_t position = JournalHeaderSize;
  while (reader.Left(position) >= JournalRecordFixedSize) {
    uint8_t head[16];
    uint32_t crc = 0;
    Status status = reader.Head(head, sizeof(head), crc);
    if (!status.ok()) return status;
    JournalRange range;
    range.offset = LoadLE64(head);
    range.length = LoadLE64(head + 8);
    range.dataPosition = position + 16;
    // A range must lie within the original archive, and its record within the journal.
    if (range.length > originalLength || range.offset > originalLength - range.length ||
        range.length > reader.Left(position) - JournalRecordFixedSize) {
      break;
    }
    bool matches = false;
    status = reader.Rest(range.length, crc, matches);
    if (!status.ok()) return status;
    if (!matches) break;
    contents.ranges.push_back(range);
    position += JournalRecordFixedSize + range.length;
    contents.validEnd = position;
  }
  return Status::Ok();
}

// The second format: typed records.
Status ReadSecondFormat(RecordReader& reader, JournalContents& contents) {
  const uint64_t originalLength = contents.originalLength;
  JournalMove& move = contents.move;
  uint64_t position = JournalHeaderSize;
  while (reader.Left(position) >= JournalProgressSize) {
    uint8_t head[28];
    uint32_t crc = 0;
    Status status = reader.Head(head, 4, crc);
    if (!status.ok()) return status;
    const uint32_t kind = LoadLE32(head);
    uint64_t saved = 0;  // bytes of the archive the record carries
    uint32_t fields = 0;
    if (kind == static_cast<uint32_t>(JournalRecordKind::Range)) {
      fields = 16;
    } else if (kind == static_cast<uint32_t>(JournalRecordKind::Move)) {
      if (move.present) break;  // one move per journal
      fields = 24;
    } else if (kind == static_cast<uint32_t>(JournalRecordKind::Moved) ||
               kind == static_cast<uint32_t>(JournalRecordKind::Unmoved)) {
      if (!move.present) break;
      fields = 8;
    } else {
      break;
    }
    if (reader.Left(position) < 4 + fields + 4) break;
    status = reader.Head(head + 4, fields, crc);
    if (!status.ok()) return status;
    const uint64_t first = LoadLE64(head + 4);
    const uint64_t second = fields >= 16 ? LoadLE64(head + 12) : 0;
    const uint64_t third = fields >= 24 ? LoadLE64(head + 20) : 0;
    bool sound = true;
    if (kind == static_cast<uint32_t>(JournalRecordKind::Range)) {
      saved = second;
      sound = second <= originalLength && first <= originalLength - second;
    } else if (kind == static_cast<uint32_t>(JournalRecordKind::Move)) {
      saved = second;
      // The block and the tail lie within the original archive; a move shifts by something.
      sound = second > 0 && second <= originalLength && first <= originalLength - second &&
              third <= originalLength - second - first;
    } else if (kind == static_cast<uint32_t>(JournalRecordKind::Moved)) {
      sound = first <= move.tail && first >= move.moved && !move.rollingBack;
    } else {
      sound = first <= move.moved && (!move.rollingBack || first <= move.unmovedFrom);
    }
    if (!sound || saved > reader.Left(position) - (4 + fields + 4)) break;
    bool matches = false;
    status = reader.Rest(saved, crc, matches);
    if (!status.ok()) return status;
    if (!matches) break;
    const uint64_t data = position + 4 + fields;
    if (kind == static_cast<uint32_t>(JournalRecordKind::Range)) {
      JournalRange range;
      range.offset = first;
      range.length = second;
      range.dataPosition = data;
      range.afterMove = move.present;
      contents.ranges.push_back(range);
    } else if (kind == static_cast<uint32_t>(JournalRecordKind::Move)) {
      move.present = true;
      move.to = first;
      move.shift = second;
      move.tail = third;
      move.dataPosition = data;
    } else if (kind == static_cast<uint32_t>(JournalRecordKind::Moved)) {
      move.moved = first;
    } else {
      move.rollingBack = true;
      move.unmovedFrom = first;
    }
    position = data + saved + 4;
    contents.validEnd = position;
  }
  return Status::Ok();
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

void EncodeJournalRangeHead(uint64_t offset, uint64_t length, uint8_t out[20]) {
  StoreLE32(out, static_cast<uint32_t>(JournalRecordKind::Range));
  StoreLE64(out + 4, offset);
  StoreLE64(out + 12, length);
}

void EncodeJournalMoveHead(uint64_t to, uint64_t shift, uint64_t tail, uint8_t out[28]) {
  StoreLE32(out, static_cast<uint32_t>(JournalRecordKind::Move));
  StoreLE64(out + 4, to);
  StoreLE64(out + 12, shift);
  StoreLE64(out + 20, tail);
}

void EncodeJournalProgress(JournalRecordKind kind, uint64_t value,
                           uint8_t out[JournalProgressSize]) {
  StoreLE32(out, static_cast<uint32_t>(kind));
  StoreLE64(out + 4, value);
  StoreLE32(out + 12, Crc(0, out, 12));
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
  const bool second = std::memcmp(header, JournalMagic, sizeof(JournalMagic)) == 0;
  const bool first = std::memcmp(header, JournalMagicFirst, sizeof(JournalMagicFirst)) == 0;
  if ((!first && !second) || LoadLE32(header + 16) != Crc(0, header, 16)) return Status::Ok();
  contents.originalLength = LoadLE64(header + 8);
  contents.validEnd = JournalHeaderSize;
  RecordReader reader(journal, journalPath, static_cast<uint64_t>(size));
  status = reader.Prepare();
  if (!status.ok()) return status;
  return second ? ReadSecondFormat(reader, contents) : ReadFirstFormat(reader, contents);
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
