// CEditJournal: the rollback journal of one in-place edit of an archive (format and hot-journal
// rule in archive/journal_format.h).
//
// The editor calls Protect before every write or cut of the archive. The first call creates the
// journal (flushing it and its directory); each call saves the original bytes of the range that
// are not saved yet, and flushes the journal before returning. Once the edited archive is
// flushed, Commit deletes the journal: that is the moment the edit takes effect. RollBack
// writes the saved bytes back, restores the original length and deletes the journal.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"
#include "platform/env.h"
#include "platform/files.h"

namespace korvo {

class CEditJournal {
 public:
  CEditJournal() = default;
  CEditJournal(const CEditJournal&) = delete;
  CEditJournal& operator=(const CEditJournal&) = delete;

  // Starts watching the archive open as archive at archivePath, originalLength bytes long. No
  // file is created until the first Protect. Every change on disk goes through env.
  void Attach(platform::Env* env, const std::string& archivePath, platform::File* archive,
              uint64_t originalLength);
  // True while a journal file exists for the current edit.
  bool Active() const { return journal_.IsOpen(); }
  // Saves the original bytes of [offset, offset + length) before they change. Bytes beyond the
  // original length need no saving: rolling back cuts them off. The header (the first 16
  // bytes) is saved with the first range.
  Status Protect(uint64_t offset, uint64_t length);
  // Whether a move of tail bytes from to + shift down to `to` can be journalled as a move: one
  // per journal, and only over bytes the archive had when the edit began. Otherwise the caller
  // protects everything the move overwrites (bytes the edit appended need no saving).
  bool CanJournalMove(uint64_t to, uint64_t shift, uint64_t tail) const {
    return !moveBegun_ && to + shift + tail <= limit_;
  }
  // Before the tail bytes at to + shift move down to `to` (over a deleted block of shift bytes):
  // saves the block and the move. The move must go in steps of at most shift bytes, from the
  // front, each followed by Moved.
  Status BeginMove(uint64_t to, uint64_t shift, uint64_t tail);
  // The first done bytes of the tail have moved: flushes the archive, then records that.
  Status Moved(uint64_t done);
  // The whole tail has moved. From now on, Protect saves the moved bytes it is asked about (the
  // old index, before the file is cut): the rollback needs them to move the tail back.
  void EndMove();
  // The edited archive is flushed: deleting the journal makes the edit final.
  Status Commit();
  // Restores the archive from the journal and deletes it. Nothing to do without a journal.
  Status RollBack();
  // Forgets the edit without touching the disk (the archive is no longer ours).
  void Detach();

 private:
  Status Create();
  Status SaveRange(uint64_t offset, uint64_t length);
  // Appends a record: its head, the archive's bytes [offset, offset + length), the CRC.
  Status AppendRecord(const uint8_t* head, uint32_t headLength, uint64_t offset, uint64_t length);
  // Creates the journal when there is none yet, saving the header first.
  Status Open(uint64_t firstOffset, bool& created);
  Status Flushed(bool created);

  platform::Env* env_ = platform::Env::Default();
  std::string archivePath_;
  std::string journalPath_;
  platform::File* archive_ = nullptr;
  platform::File journal_;
  uint64_t originalLength_ = 0;
  uint64_t limit_ = 0;  // bytes at or beyond this need no saving: the rollback cuts them
  bool moveBegun_ = false;
  uint64_t moveTo_ = 0;   // with a move: where the tail moves to
  uint64_t moveEnd_ = 0;  // and where the moved tail ends
  uint64_t journalEnd_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> saved_;  // disjoint [begin, end), sorted
};

// Rolls a journal beside the archive back into the archive, which the caller holds open for
// editing; then deletes the journal. A journal that is not hot is only deleted. rolledBack tells
// whether the archive was restored. Every change on disk goes through env.
Status RecoverJournal(const std::string& archivePath, platform::File& archive, bool& rolledBack,
                      platform::Env* env);

// Opens the archive for editing just to recover a journal beside it (see RecoverJournal).
Status RecoverArchive(const std::string& archivePath, bool& rolledBack,
                      platform::Env* env = platform::Env::Default());

}  // namespace korvo
