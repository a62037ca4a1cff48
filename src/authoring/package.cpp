#include "authoring/package.h"

#include <algorithm>
#include <memory>
#include <new>

#include "archive/index_reader.h"
#include "archive/view_cursor.h"
#include "authoring/index_writer.h"

namespace korvo {

namespace {

constexpr const char* OpenFailed = "CPackage::Open Failed!";
// DelFile moves the bytes behind a removed entry through a buffer of this size.
constexpr uint32_t MoveBufferSize = 1u << 20;
// A journalled move of the tail takes steps of the removed block's size, each costing two
// flushes (about as much as saving a MiB of tail). It is used when it takes at most this many
// steps, or when the block is at least MinMoveStep bytes.
constexpr uint64_t MaxMoveSteps = 64;
constexpr uint64_t MinMoveStep = uint64_t{1} << 20;

Status WriteAll(platform::Env* env, platform::File& file, int64_t offset, const void* data,
                size_t length) {
  Status status = file.Seek(offset);
  if (!status.ok() || length == 0) return status;
  return env->Write(file, data, static_cast<uint32_t>(length));
}

Status ReadAll(platform::File& file, int64_t offset, void* data, size_t length) {
  Status status = file.Seek(offset);
  if (!status.ok() || length == 0) return status;
  return file.ReadExactly(data, static_cast<uint32_t>(length));
}

}  // namespace

CPackage::~CPackage() {
  CloseUnchanged();
}

void CPackage::CloseUnchanged() {
  if (journal.Active()) {
    // Should the rollback fail, the journal stays hot and the next open finishes it.
    (void)journal.RollBack();
  }
  journal.Detach();
  (void)file.Close();
  indexBytes.clear();
  indexBytes.shrink_to_fit();
}

Status CPackage::Fail(Status cause) {
  Status status = std::move(cause);
  if (journal.Active()) {
    Status rolledBack = journal.RollBack();
    // The archive could not be restored now: its journal stays for the next open.
    if (!rolledBack.ok()) status = rolledBack;
  }
  journal.Detach();
  CloseUnchanged();
  return status;
}

Status CPackage::Load(const char* path) {
  index.clear();
  recoveredJournal = false;
  Status status;
  int64_t length = 0;
  bool reuse = file.IsOpen() && file.Length(length).ok() && length > 0;
  if (!reuse) {
    CloseUnchanged();
    // One more attempt with the same mode when the first fails.
    status = env_->OpenForEdit(path, file);
    if (!status.ok()) status = env_->OpenForEdit(path, file);
    if (status.ok()) this->path = path;
  }
  // An edit that was interrupted is undone before anything is read.
  if (status.ok() && file.IsOpen()) {
    status = RecoverJournal(this->path, file, recoveredJournal, env_);
  }
  if (status.ok() && file.IsOpen()) status = LoadIndex();
  if (status.ok() && file.IsOpen()) status = file.Length(length);
  if (!status.ok() || !file.IsOpen()) {
    if (status.ok()) status = Status(StatusCode::InvalidArgument, path != nullptr ? path : "");
    CloseUnchanged();
    index.clear();
    env_->DebugMessage(OpenFailed);
    return status;
  }
  journal.Attach(env_, this->path, &file, static_cast<uint64_t>(length));
  return Status::Ok();
}

Status CPackage::LoadIndex() {
  LoadedIndex loaded;
  Status status = LoadIndexFromFile(file, path, loaded);
  header = loaded.header;
  if (!status.ok()) return status;
  indexBytes = std::move(loaded.bytes);
  indexBytesOffset = header.indexOffset;
  index = std::move(loaded.entries);
  return Status::Ok();
}

bool CPackage::FirstEntry(PackageEntry& entry) {
  if (header.entryCount == 0) return false;
  currentIndex = -1;
  nextRecordOffset = indexBytesOffset;
  return NextEntry(entry);
}

bool CPackage::NextEntry(PackageEntry& entry) {
  ++currentIndex;
  if (currentIndex >= SignedEntryCount(header)) return false;
  if (nextRecordOffset < indexBytesOffset) return false;
  ViewCursor cursor;
  cursor.base = indexBytes.data();
  cursor.limit = static_cast<uint32_t>(indexBytes.size());
  if (!cursor.SeekTo(nextRecordOffset - indexBytesOffset)) return false;
  // A record that runs past the end of the file is not an entry.
  if (!ReadIndexRecord(cursor, entry)) return false;
  nextRecordOffset = indexBytesOffset + cursor.position;
  return true;
}

Status CPackage::Append(const char* name, const void* data, uint32_t size, uint32_t packedSize,
                        uint32_t flags) {
  if (!file.IsOpen()) return Status(StatusCode::InvalidArgument, path, 0, "archive is not open");
  if (const char* problem = AppendEntryProblem(header, name, data, packedSize)) {
    return Status(StatusCode::TooLarge, path, 0, problem);
  }
  // The record changes only once its data is in the file, so a failed write leaves the index
  // as it was (and the archive is rolled back).
  Status written = WriteProtected(header.indexOffset, data, packedSize);
  if (!written.ok()) return Fail(written);
  RecordAppendedEntry(index, header, name, size, packedSize, flags);
  return Status::Ok();
}

Status CPackage::WriteProtected(uint64_t offset, const void* data, size_t length) {
  Status saved = journal.Protect(offset, length);
  if (!saved.ok()) return saved;
  return WriteAll(env_, file, static_cast<int64_t>(offset), data, length);
}

Status CPackage::MoveDown(uint64_t from, uint64_t to, uint64_t length, bool protect,
                          const std::atomic<bool>* cancel) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[MoveBufferSize]);
  if (buffer == nullptr) return Status(StatusCode::NoMemory, path);
  for (uint64_t done = 0; done < length;) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
      return Status(StatusCode::Interrupted, path);
    }
    uint64_t left = length - done;
    uint32_t chunk = left < MoveBufferSize ? static_cast<uint32_t>(left) : MoveBufferSize;
    Status status = ReadAll(file, static_cast<int64_t>(from + done), buffer.get(), chunk);
    if (status.ok()) {
      status = protect ? WriteProtected(to + done, buffer.get(), chunk)
                       : WriteAll(env_, file, static_cast<int64_t>(to + done), buffer.get(), chunk);
    }
    if (!status.ok()) return status;
    done += chunk;
  }
  return Status::Ok();
}

Status CPackage::MoveTail(uint64_t to, uint64_t shift, uint64_t tail,
                          const std::atomic<bool>* cancel) {
  // Journalling the move itself saves only the removed block and the progress, one step of
  // the block's size at a time. A small block before a long tail would take too many steps:
  // then everything the move overwrites is saved first instead.
  if (shift == 0) return Status::Ok();
  if (!journal.CanJournalMove(to, shift, tail) ||
      (tail / shift > MaxMoveSteps && shift < MinMoveStep)) {
    Status saved = journal.Protect(to, shift + tail);
    if (!saved.ok()) return saved;
    return MoveDown(to + shift, to, tail, true, cancel);
  }
  Status status = journal.BeginMove(to, shift, tail);
  for (uint64_t done = 0; status.ok() && done < tail;) {
    uint64_t step = std::min(shift, tail - done);
    status = MoveDown(to + shift + done, to + done, step, false, cancel);
    done += step;
    if (status.ok()) status = journal.Moved(done);
  }
  if (status.ok()) journal.EndMove();
  return status;
}

Status CPackage::Remove(const char* name, const std::atomic<bool>* cancel) {
  if (!file.IsOpen()) return Status(StatusCode::InvalidArgument, path, 0, "archive is not open");
  int32_t found = FindRecord(index, header, name);
  if (found < 0) return Status::Ok();
  const uint32_t removedOffset = index[static_cast<size_t>(found)].offset;
  const uint32_t removedSize = index[static_cast<size_t>(found)].packedSize;
  const uint64_t removedEnd = static_cast<uint64_t>(removedOffset) + removedSize;
  const Status overlapping(StatusCode::Corrupt, path, 0, "entry data overlaps another entry");
  if (removedEnd > header.indexOffset) return overlapping;

  // Another entry whose data shares bytes with the removed block would lose them.
  for (size_t i = 0; i < index.size(); ++i) {
    if (i == static_cast<size_t>(found)) continue;
    uint64_t begin = index[i].offset;
    uint64_t end = begin + index[i].packedSize;
    if (begin < removedEnd && end > removedOffset) return overlapping;
  }

  // Everything behind the block, later entries' data and the old index alike, moves down;
  // then the file ends where the data region now ends. All of it is saved in one go first.
  const uint32_t newIndexOffset = header.indexOffset - removedSize;
  int64_t length = 0;
  Status measured = file.Length(length);
  if (!measured.ok()) return Fail(measured);
  if (static_cast<uint64_t>(length) < removedEnd) return Fail(Status(StatusCode::Corrupt, path));
  const uint64_t tail = static_cast<uint64_t>(length) - removedEnd;
  Status moved = MoveTail(removedOffset, removedSize, tail, cancel);
  // What the cut drops (the moved old index) is saved first.
  if (moved.ok()) moved = journal.Protect(newIndexOffset, removedOffset + tail - newIndexOffset);
  if (!moved.ok()) return Fail(moved);
  Status truncated = env_->Truncate(file, newIndexOffset);
  if (!truncated.ok()) return Fail(truncated);

  // Data offsets follow the data, whatever the index order: every block behind the removed
  // one moved down by its size.
  for (PackageEntry& record : index) {
    if (record.offset >= removedEnd) record.offset -= removedSize;
  }
  index.erase(index.begin() + found);
  header.entryCount = static_cast<uint32_t>(index.size());
  header.indexOffset = newIndexOffset;
  return Status::Ok();
}

Status CPackage::Commit() {
  if (!file.IsOpen()) return Status(StatusCode::InvalidArgument, path, 0, "archive is not open");
  Status written = WriteIndexAndHeader(index, header, path,
                                       [this](uint64_t offset, const void* data, size_t length) {
                                         return WriteProtected(offset, data, length);
                                       });
  if (!written.ok()) return Fail(written);
  Status synced = env_->Sync(file);
  if (!synced.ok()) return Fail(synced);
  // The edited archive is on disk: deleting the journal makes it final.
  Status committed = journal.Commit();
  if (!committed.ok()) return Fail(committed);
  journal.Detach();
  CloseUnchanged();
  return Status::Ok();
}

}  // namespace korvo
