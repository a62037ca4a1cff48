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

// Writes the journal's ranges back into the archive, cuts it to its original length and
// flushes it.
Status ApplyJournal(platform::Env* env, platform::File& journal, const JournalContents& contents,
                    platform::File& archive, const std::string& archivePath) {
  std::unique_ptr<uint8_t[]> buffer = CopyBuffer();
  if (buffer == nullptr) return Status(StatusCode::NoMemory, archivePath);
  for (const JournalRange& range : contents.ranges) {
    uint64_t done = 0;
    while (done < range.length) {
      uint64_t left = range.length - done;
      uint32_t chunk = left < CopyBufferSize ? static_cast<uint32_t>(left) : CopyBufferSize;
      Status status = journal.Seek(static_cast<int64_t>(range.dataPosition + done));
      if (status.ok()) status = journal.ReadExactly(buffer.get(), chunk);
      if (status.ok()) status = WriteAt(env, archive, range.offset + done, buffer.get(), chunk);
      if (!status.ok()) return status;
      done += chunk;
    }
  }
  Status status = env->Truncate(archive, static_cast<int64_t>(contents.originalLength));
  return status.ok() ? env->Sync(archive) : status;
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
}

void CEditJournal::Detach() {
  (void)journal_.Close();
  archive_ = nullptr;
  saved_.clear();
  journalEnd_ = 0;
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

Status CEditJournal::SaveRange(uint64_t offset, uint64_t length) {
  std::unique_ptr<uint8_t[]> buffer = CopyBuffer();
  if (buffer == nullptr) return Status(StatusCode::NoMemory, journalPath_);
  uint8_t head[16];
  EncodeJournalRecordHead(offset, length, head);
  Status status = journal_.Seek(static_cast<int64_t>(journalEnd_));
  if (status.ok()) status = env_->Write(journal_, head, sizeof(head));
  if (!status.ok()) return status;
  uint32_t crc = static_cast<uint32_t>(crc32(0, head, sizeof(head)));
  uint64_t done = 0;
  while (done < length) {
    uint64_t left = length - done;
    uint32_t chunk = left < CopyBufferSize ? static_cast<uint32_t>(left) : CopyBufferSize;
    status = archive_->Seek(static_cast<int64_t>(offset + done));
    if (status.ok()) status = archive_->ReadExactly(buffer.get(), chunk);
    if (status.ok()) status = env_->Write(journal_, buffer.get(), chunk);
    if (!status.ok()) return status;
    crc = static_cast<uint32_t>(crc32(crc, buffer.get(), chunk));
    done += chunk;
  }
  uint8_t tail[4];
  StoreLE32(tail, crc);
  status = env_->Write(journal_, tail, sizeof(tail));
  if (!status.ok()) return status;
  journalEnd_ += JournalRecordFixedSize + length;
  saved_.emplace_back(offset, offset + length);
  std::sort(saved_.begin(), saved_.end());
  return Status::Ok();
}

Status CEditJournal::Protect(uint64_t offset, uint64_t length) {
  if (archive_ == nullptr) return Status(StatusCode::InvalidArgument, archivePath_);
  uint64_t begin = std::min(offset, originalLength_);
  uint64_t end = std::min(offset + length, originalLength_);
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
  if (!journal_.IsOpen()) {
    Status status = Create();
    if (!status.ok()) return status;
    created = true;
    // Every edit rewrites the header when it closes.
    uint64_t headerEnd = std::min<uint64_t>(16, originalLength_);
    if (headerEnd > 0 && gaps.front().first > 0) {
      status = SaveRange(0, std::min(headerEnd, gaps.front().first));
      if (!status.ok()) return status;
    }
  }
  for (const auto& gap : gaps) {
    Status status = SaveRange(gap.first, gap.second - gap.first);
    if (!status.ok()) return status;
  }
  Status synced = env_->Sync(journal_);
  if (!synced.ok()) return synced;
  // The journal's name must survive a power loss as well as its bytes.
  if (created) return env_->SyncDirectoryOf(journalPath_.c_str());
  return Status::Ok();
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
  return RemoveJournal(env_, journalPath_);
}

Status RecoverJournal(const std::string& archivePath, platform::File& archive, bool& rolledBack,
                      platform::Env* env) {
  rolledBack = false;
  std::string journalPath = JournalPath(archivePath);
  platform::File journal;
  Status status = platform::OpenForRead(journalPath.c_str(), journal);
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
