#include "authoring/journal.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "archive/journal_format.h"
#include "common/byte_order.h"

namespace korvo {

namespace {

constexpr uint32_t CopyBufferSize = 1u << 20;

std::unique_ptr<uint8_t[]> CopyBuffer() {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[CopyBufferSize]);
}

Status WriteAt(platform::Env* env, platform::File& file, uint64_t offset, const void* data,
               uint32_t length) {
  Status status = file.Seek(static_cast<int64_t>(offset));
  return status.ok() ? env->Write(file, data, length) : status;
}

Status ReadAt(platform::File& file, uint64_t offset, void* data, uint32_t length) {
  Status status = file.Seek(static_cast<int64_t>(offset));
  return status.ok() ? file.ReadExactly(data, length) : status;
}

uint32_t Chunk(uint64_t left) {
  return left < CopyBufferSize ? static_cast<uint32_t>(left) : CopyBufferSize;
}

// Rolls an archive back from its journal's contents.
class Rollback {
 public:
  Rollback(platform::Env* env, platform::File& journal, platform::File& archive,
           const std::string& archivePath)
      : env_(env), journal_(journal), archive_(archive), archivePath_(archivePath) {}

  Status Run(const JournalContents& contents) {
    buffer_ = CopyBuffer();
    if (buffer_ == nullptr) return Status(StatusCode::NoMemory, archivePath_);
    const JournalMove& move = contents.move;
    Status status;
    if (move.present) {
      // The bytes as they were after the move; a rollback that has begun moving the tail back
      // has put them back already.
      if (!move.rollingBack) status = Ranges(contents, true);
      if (status.ok()) status = MoveBack(contents);
      if (status.ok()) status = CopyFromJournal(move.dataPosition, move.to, move.shift);
    }
    if (status.ok()) status = Ranges(contents, false);
    if (status.ok()) {
      status = env_->Truncate(archive_, static_cast<int64_t>(contents.originalLength));
    }
    return status.ok() ? env_->Sync(archive_) : status;
  }

 private:
  Status Ranges(const JournalContents& contents, bool afterMove) {
    for (const JournalRange& range : contents.ranges) {
      if (range.afterMove != afterMove) continue;
      Status status = CopyFromJournal(range.dataPosition, range.offset, range.length);
      if (!status.ok()) return status;
    }
    return Status::Ok();
  }

  Status CopyFromJournal(uint64_t from, uint64_t to, uint64_t length) {
    for (uint64_t done = 0; done < length;) {
      uint32_t chunk = Chunk(length - done);
      Status status = ReadAt(journal_, from + done, buffer_.get(), chunk);
      if (status.ok()) status = WriteAt(env_, archive_, to + done, buffer_.get(), chunk);
      if (!status.ok()) return status;
      done += chunk;
    }
    return Status::Ok();
  }

  // Moves the moved part of the tail back up, from its end, in steps of at most the shift (so
  // a step never overwrites its own source), recording each step once it is flushed: a step
  // overwrites the source of the step below it, so a rollback that stops must not redo it.
  Status MoveBack(const JournalContents& contents) {
    const JournalMove& move = contents.move;
    uint64_t back = move.rollingBack ? move.unmovedFrom : move.moved;
    uint64_t journalEnd = contents.validEnd;
    while (back > 0) {
      uint64_t start = back > move.shift ? back - move.shift : 0;
      for (uint64_t at = start; at < back;) {
        uint32_t chunk = Chunk(back - at);
        Status status = ReadAt(archive_, move.to + at, buffer_.get(), chunk);
        if (status.ok()) {
          status = WriteAt(env_, archive_, move.to + move.shift + at, buffer_.get(), chunk);
        }
        if (!status.ok()) return status;
        at += chunk;
      }
      Status status = env_->Sync(archive_);
      if (!status.ok()) return status;
      uint8_t record[JournalProgressSize];
      EncodeJournalProgress(JournalRecordKind::Unmoved, start, record);
      status = WriteAt(env_, journal_, journalEnd, record, sizeof(record));
      if (status.ok()) status = env_->Sync(journal_);
      if (!status.ok()) return status;
      journalEnd += sizeof(record);
      back = start;
    }
    return Status::Ok();
  }

  platform::Env* env_;
  platform::File& journal_;
  platform::File& archive_;
  const std::string& archivePath_;
  std::unique_ptr<uint8_t[]> buffer_;
};

// Writes the journal back into the archive, cuts it to its original length and flushes it.
Status ApplyJournal(platform::Env* env, platform::File& journal, const JournalContents& contents,
                    platform::File& archive, const std::string& archivePath) {
  return Rollback(env, journal, archive, archivePath).Run(contents);
}

// Deletes the journal and flushes its directory. A journal that is already gone is fine.
Status RemoveJournal(platform::Env* env, const std::string& journalPath) {
  Status removed = env->RemoveFile(journalPath.c_str());
  if (!removed.ok() && removed.code() != StatusCode::NotFound) return removed;
  return env->SyncDirectoryOf(journalPath.c_str());
}

}  // namespace

void CEditJournal::Attach(platform::Env* env, const std::string& archivePath,
                          platform::File* archive, uint64_t originalLength) {
  Detach();
  env_ = env;
  archivePath_ = archivePath;
  journalPath_ = JournalPath(archivePath);
  archive_ = archive;
  originalLength_ = originalLength;
  limit_ = originalLength;
}

void CEditJournal::Detach() {
  (void)journal_.Close();
  archive_ = nullptr;
  saved_.clear();
  journalEnd_ = 0;
  moveBegun_ = false;
}

Status CEditJournal::Create() {
  // Whatever lies there was recovered or found cold when the archive was opened.
  (void)env_->RemoveFile(journalPath_.c_str());
  Status status = env_->CreateNew(journalPath_.c_str(), journal_);
  if (!status.ok()) return status;
  uint8_t header[JournalHeaderSize];
  EncodeJournalHeader(originalLength_, header);
  status = env_->Write(journal_, header, sizeof(header));
  if (!status.ok()) return status;
  journalEnd_ = JournalHeaderSize;
  return Status::Ok();
}

Status CEditJournal::AppendRecord(const uint8_t* head, uint32_t headLength, uint64_t offset,
                                  uint64_t length) {
  std::unique_ptr<uint8_t[]> buffer = CopyBuffer();
  if (buffer == nullptr) return Status(StatusCode::NoMemory, journalPath_);
  Status status = WriteAt(env_, journal_, journalEnd_, head, headLength);
  if (!status.ok()) return status;
  uint32_t crc = static_cast<uint32_t>(crc32(0, head, headLength));
  for (uint64_t done = 0; done < length;) {
    uint32_t chunk = Chunk(length - done);
    status = ReadAt(*archive_, offset + done, buffer.get(), chunk);
    if (status.ok()) status = env_->Write(journal_, buffer.get(), chunk);
    if (!status.ok()) return status;
    crc = static_cast<uint32_t>(crc32(crc, buffer.get(), chunk));
    done += chunk;
  }
  uint8_t tail[4];
  StoreLE32(tail, crc);
  status = env_->Write(journal_, tail, sizeof(tail));
  if (!status.ok()) return status;
  journalEnd_ += headLength + length + sizeof(tail);
  return Status::Ok();
}

Status CEditJournal::SaveRange(uint64_t offset, uint64_t length) {
  uint8_t head[20];
  EncodeJournalRangeHead(offset, length, head);
  Status status = AppendRecord(head, sizeof(head), offset, length);
  if (!status.ok()) return status;
  saved_.emplace_back(offset, offset + length);
  std::sort(saved_.begin(), saved_.end());
  return Status::Ok();
}

Status CEditJournal::Open(uint64_t firstOffset, bool& created) {
  created = false;
  if (journal_.IsOpen()) return Status::Ok();
  Status status = Create();
  if (!status.ok()) return status;
  created = true;
  // Every edit rewrites the header when it closes.
  uint64_t headerEnd = std::min<uint64_t>(16, originalLength_);
  if (headerEnd > 0 && firstOffset > 0) return SaveRange(0, std::min(headerEnd, firstOffset));
  return Status::Ok();
}

Status CEditJournal::Flushed(bool created) {
  Status synced = env_->Sync(journal_);
  if (!synced.ok()) return synced;
  // The journal's name must survive a power loss as well as its bytes.
  if (created) return env_->SyncDirectoryOf(journalPath_.c_str());
  return Status::Ok();
}

Status CEditJournal::Protect(uint64_t offset, uint64_t length) {
  if (archive_ == nullptr) return Status(StatusCode::InvalidArgument, archivePath_);
  uint64_t begin = std::min(offset, limit_);
  uint64_t end = std::min(offset + length, limit_);
  if (begin >= end) return Status::Ok();

  // The gaps of [begin, end) that no saved range covers yet.
  std::vector<std::pair<uint64_t, uint64_t>> gaps;
  uint64_t at = begin;
  for (const auto& range : saved_) {
    if (range.second <= at) continue;
    if (range.first >= end) break;
    if (range.first > at) gaps.emplace_back(at, range.first);
    at = std::max(at, range.second);
    if (at >= end) break;
  }
  if (at < end) gaps.emplace_back(at, end);
  if (gaps.empty()) return Status::Ok();

  bool created = false;
  Status status = Open(gaps.front().first, created);
  if (!status.ok()) return status;
  for (const auto& gap : gaps) {
    status = SaveRange(gap.first, gap.second - gap.first);
    if (!status.ok()) return status;
  }
  return Flushed(created);
}

Status CEditJournal::BeginMove(uint64_t to, uint64_t shift, uint64_t tail) {
  if (archive_ == nullptr || moveBegun_ || shift == 0 || to + shift + tail > limit_) {
    return Status(StatusCode::InvalidArgument, archivePath_);
  }
  bool created = false;
  Status status = Open(to, created);
  if (!status.ok()) return status;
  uint8_t head[28];
  EncodeJournalMoveHead(to, shift, tail, head);
  status = AppendRecord(head, sizeof(head), to, shift);
  if (!status.ok()) return status;
  moveBegun_ = true;
  moveTo_ = to;
  moveEnd_ = to + tail;
  return Flushed(created);
}

Status CEditJournal::Moved(uint64_t done) {
  if (!moveBegun_) return Status(StatusCode::InvalidArgument, archivePath_);
  Status status = env_->Sync(*archive_);
  if (!status.ok()) return status;
  uint8_t record[JournalProgressSize];
  EncodeJournalProgress(JournalRecordKind::Moved, done, record);
  status = WriteAt(env_, journal_, journalEnd_, record, sizeof(record));
  if (!status.ok()) return status;
  journalEnd_ += sizeof(record);
  status = env_->Sync(journal_);
  if (!status.ok()) return status;
  return Status::Ok();
}

void CEditJournal::EndMove() {
  // Below the move nothing changed: what was saved there is still the original. From the move
  // on, the rollback moves the tail back from where it lies now, so what is written there must
  // be saved as it is now, up to where the moved tail ends.
  std::vector<std::pair<uint64_t, uint64_t>> kept;
  for (const auto& range : saved_) {
    if (range.first < moveTo_) kept.emplace_back(range.first, std::min(range.second, moveTo_));
  }
  saved_ = std::move(kept);
  limit_ = moveEnd_;
}

Status CEditJournal::Commit() {
  if (!journal_.IsOpen()) return Status::Ok();
  (void)journal_.Close();
  saved_.clear();
  return RemoveJournal(env_, journalPath_);
}

Status CEditJournal::RollBack() {
  if (!journal_.IsOpen() || archive_ == nullptr) return Status::Ok();
  JournalContents contents;
  Status status = ReadJournal(journal_, journalPath_, contents);
  // A journal with no complete record saved nothing, and nothing was touched yet.
  if (status.ok() && contents.Hot()) {
    status = ApplyJournal(env_, journal_, contents, *archive_, archivePath_);
  }
  if (!status.ok()) return status;  // the journal stays for the next open to finish the work
  (void)journal_.Close();
  saved_.clear();
  moveBegun_ = false;
  return RemoveJournal(env_, journalPath_);
}

Status RecoverJournal(const std::string& archivePath, platform::File& archive, bool& rolledBack,
                      platform::Env* env) {
  rolledBack = false;
  std::string journalPath = JournalPath(archivePath);
  platform::File journal;
  // Moving a tail back records its progress in the journal.
  Status status = platform::OpenForEdit(journalPath.c_str(), journal);
  if (status.code() == StatusCode::NotFound) return Status::Ok();
  if (!status.ok()) status = platform::OpenForRead(journalPath.c_str(), journal);
  if (status.code() == StatusCode::NotFound) return Status::Ok();
  if (!status.ok()) return status;
  JournalContents contents;
  status = ReadJournal(journal, journalPath, contents);
  if (!status.ok()) return status;
  if (contents.Hot()) {
    status = ApplyJournal(env, journal, contents, archive, archivePath);
    if (!status.ok()) return status;
    rolledBack = true;
  }
  (void)journal.Close();
  return RemoveJournal(env, journalPath);
}

Status RecoverArchive(const std::string& archivePath, bool& rolledBack, platform::Env* env) {
  rolledBack = false;
  platform::File archive;
  Status status = env->OpenForEdit(archivePath.c_str(), archive);
  if (!status.ok()) return status;
  return RecoverJournal(archivePath, archive, rolledBack, env);
}

}  // namespace korvo
