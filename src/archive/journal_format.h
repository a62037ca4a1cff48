// The rollback journal that an in-place archive edit keeps beside the archive, named
// "<archive>-journal". Before an edit overwrites or cuts any byte of the archive, the journal
// holds what is needed to put it back, flushed to disk. Deleting the journal commits the edit.
// A journal left behind by an edit that did not finish is "hot": rolling it back restores the
// archive exactly.
//
// Journals are written in the second format below; the first is still read, so that a journal
// left by an earlier version is rolled back as before.
//
// First format (ranges only):
//   offset 0   8 bytes   magic "KVJRNL01"
//              u64       the archive's original length
//              u32       CRC-32 of the 16 bytes before it
//   then records, back to back:
//              u64       archive offset of the range
//              u64       length n of the range
//              n bytes   the range's original bytes
//              u32       CRC-32 of the record's 16 + n bytes before it
//
// Second format: the same header with the magic "KVJRNL02", then records that each start with
// a u32 kind and end with the CRC-32 of all their bytes before it:
//   1 range     u64 offset, u64 length n, n bytes: the bytes of the range before it changed
//   2 move      u64 to, u64 shift s, u64 tail t, s bytes: the t bytes at to + s move down to
//               `to`, over the s bytes saved here (a deleted block). The move goes in steps of
//               at most s bytes, from the front, so a step never overwrites its own source.
//   3 moved     u64 p: the first p bytes of the tail have moved and are flushed
//   4 unmoved   u64 q: rolling back, the tail from byte q on is back in its old place, flushed
// At most one move per journal. Ranges written after the move record save bytes as they were
// after the move.
//
// All integers are little-endian. Records are appended and each is flushed before the bytes it
// covers are touched, so a record that is cut short or fails its check covers bytes that were
// never touched: reading stops there. A journal with a valid header and at least one valid range
// or move record is hot; any other journal means the archive was never touched and may be
// discarded.
//
// Rolling back: the ranges after the move, newest first (unless an unmoved record shows that a
// rollback already did so), then the move backwards from the last progress recorded, then the
// saved block, then the ranges before the move, then the original length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"

namespace korvo {

namespace platform {
class File;
}

constexpr uint32_t JournalHeaderSize = 20;
// The first format's range record: offset, length and the CRC around the bytes.
constexpr uint32_t JournalRecordFixedSize = 20;
extern const uint8_t JournalMagic[8];       // the format written
extern const uint8_t JournalMagicFirst[8];  // the first format, still read

enum class JournalRecordKind : uint32_t { Range = 1, Move = 2, Moved = 3, Unmoved = 4 };
// The bytes of a second-format record besides its saved bytes: kind, fields and CRC.
constexpr uint32_t JournalRangeFixedSize = 4 + 16 + 4;
constexpr uint32_t JournalMoveFixedSize = 4 + 24 + 4;
constexpr uint32_t JournalProgressSize = 4 + 8 + 4;

// "<archivePath>-journal".
std::string JournalPath(const std::string& archivePath);

// One saved range: where it goes in the archive and where its bytes lie in the journal.
struct JournalRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t dataPosition = 0;
  bool afterMove = false;  // saved after the move record
};

// A journalled move of an archive's tail down over a deleted block.
struct JournalMove {
  bool present = false;
  uint64_t to = 0;
  uint64_t shift = 0;
  uint64_t tail = 0;
  uint64_t dataPosition = 0;  // the deleted block's bytes in the journal
  uint64_t moved = 0;         // tail bytes moved and flushed
  bool rollingBack = false;   // an unmoved record was read
  uint64_t unmovedFrom = 0;   // with rollingBack: the tail from here on is back in place
};

struct JournalContents {
  uint64_t originalLength = 0;
  std::vector<JournalRange> ranges;  // the valid range records, in file order
  JournalMove move;
  uint64_t validEnd = 0;  // the end of the last valid record: where the next one goes
  bool Hot() const { return !ranges.empty() || move.present; }
};

// Reads and checks a journal of either format: every record up to the first incomplete or
// failing one. Fails only when the journal cannot be read; a damaged header gives no records
// (not hot).
Status ReadJournal(platform::File& journal, const std::string& journalPath,
                   JournalContents& contents);

// What lies at an archive's journal path. Only a regular file can be a journal: anything else
// there (a directory, or a device or other non-file) is a stray name that neither blocks a mount
// nor is rolled back.
enum class JournalKind { None, File, Directory, NotAFile };
JournalKind JournalAt(const char* archivePath);

// True when a hot journal lies beside the archive: an edit of it was interrupted, and until the
// journal is rolled back the archive must not be read. Reads only.
bool HasHotJournal(const char* archivePath);

// Header and record framing of the format written. A record's CRC covers everything before it
// in the record: the head these give, then the saved bytes.
void EncodeJournalHeader(uint64_t originalLength, uint8_t out[JournalHeaderSize]);
void EncodeJournalRangeHead(uint64_t offset, uint64_t length, uint8_t out[20]);
void EncodeJournalMoveHead(uint64_t to, uint64_t shift, uint64_t tail, uint8_t out[28]);
// A whole moved or unmoved record, CRC included.
void EncodeJournalProgress(JournalRecordKind kind, uint64_t value,
                           uint8_t out[JournalProgressSize]);

}  // namespace korvo
