// The rollback journal that an in-place archive edit keeps beside the archive, named
// "<archive>-journal". Before an edit overwrites or cuts any byte of the archive, the journal
// holds the original bytes of that range and the archive's original length, flushed to disk.
// Deleting the journal commits the edit. A journal left behind by an edit that did not finish is
// "hot": writing its ranges back and cutting the archive to its original length restores the
// archive exactly.
//
//   offset 0   8 bytes   magic "KVJRNL01"
//              u64       the archive's original length
//              u32       CRC-32 of the 16 bytes before it
//   then records, back to back:
//              u64       archive offset of the range
//              u64       length n of the range
//              n bytes   the range's original bytes
//              u32       CRC-32 of the record's 16 + n bytes before it
//
// All integers are little-endian. Records are appended and each is flushed before the range it
// saves is touched, so a record that is cut short or fails its check saves a range that was
// never touched: reading stops there. A journal with a valid header and at least one valid
// record is hot; any other journal means the archive was never touched and may be discarded.
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
constexpr uint32_t JournalRecordFixedSize = 20;  // offset, length and the CRC around the bytes
extern const uint8_t JournalMagic[8];

// "<archivePath>-journal".
std::string JournalPath(const std::string& archivePath);

// One saved range: where it goes in the archive and where its bytes lie in the journal.
struct JournalRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t dataPosition = 0;
};

struct JournalContents {
  uint64_t originalLength = 0;
  std::vector<JournalRange> ranges;  // the valid records, in file order
  bool Hot() const { return !ranges.empty(); }
};

// Reads and checks a journal: every record up to the first incomplete or failing one. Fails
// only when the journal cannot be read; a damaged header gives no ranges (not hot).
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

// Header and record framing.
void EncodeJournalHeader(uint64_t originalLength, uint8_t out[JournalHeaderSize]);
void EncodeJournalRecordHead(uint64_t offset, uint64_t length, uint8_t out[16]);

}  // namespace korvo
