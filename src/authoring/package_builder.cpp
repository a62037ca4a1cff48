#include "authoring/package_builder.h"

#include "archive/journal_format.h"
#include "authoring/index_writer.h"
#include "authoring/journal.h"
#include "platform/platform.h"

namespace korvo {

CPackageBuilder::~CPackageBuilder() {
  // An archive that never reached Finish keeps the empty-archive header and the data appended
  // so far, unless it was to replace another one: then it is removed.
  if (!replacement_.TemporaryPath().empty()) Abandon();
}

Status CPackageBuilder::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (position_ != offset) {
    position_ = UnknownPosition;
    Status moved = file.Seek(static_cast<int64_t>(offset));
    if (!moved.ok()) return moved;
    position_ = offset;
  }
  if (length == 0) return Status::Ok();
  Status written = env_->Write(file, data, static_cast<uint32_t>(length));
  if (!written.ok()) {
    position_ = UnknownPosition;
    return written;
  }
  position_ = offset + length;
  return Status::Ok();
}

Status CPackageBuilder::Flush() {
  if (!file.IsOpen()) return Status(StatusCode::InvalidArgument, target_);
  return env_->StartWriteBack(file);
}

void CPackageBuilder::Abandon() {
  (void)file.Close();
  ownFiles_.clear();
  position_ = UnknownPosition;
  replacement_.Abandon();
}

Status CPackageBuilder::IdentifyOwnFile() {
  platform::FileIdentity identity;
  Status identified = platform::IdentifyFile(file, identity);
  if (!identified.ok()) return identified;
  ownFiles_.push_back(identity);
  return Status::Ok();
}

Status CPackageBuilder::WriteHeader() {
  header.tag = PackageTag;
  header.entryCount = 0;
  header.indexOffset = PackageHeaderSize;
  header.indexSize = 0;
  uint8_t bytes[PackageHeaderSize];
  EncodeHeader(header, bytes);
  position_ = UnknownPosition;  // a new file
  return WriteAt(0, bytes, sizeof(bytes));
}

Status CPackageBuilder::Start(const char* path) {
  Abandon();
  index.clear();
  positions_.clear();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  target_ = path;
  platform::File existing;
  if (platform::OpenForRead(path, existing).ok()) {
    (void)existing.Close();
    (void)env_->RemoveFile(path);
  }
  Status created = env_->CreateNew(path, file);
  if (created.ok()) created = IdentifyOwnFile();
  if (created.ok()) created = WriteHeader();
  if (!created.ok()) (void)file.Close();
  return created;
}

Status CPackageBuilder::CreateReplacing(const char* path) {
  Abandon();
  index.clear();
  positions_.clear();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  target_ = path;
  Status status = platform::InspectReplaceTarget(path, targetInfo_);
  if (!status.ok()) return status;
  // Through a symbolic link, its target is replaced and the link stays.
  target_ = targetInfo_.path;
  if (targetInfo_.exists) {
    // A journal beside the old archive belongs to it: undone now, so that it cannot later be
    // applied to the new one.
    bool rolledBack = false;
    if (platform::PathExists(JournalPath(target_).c_str())) {
      status = RecoverArchive(target_, rolledBack, env_);
      if (!status.ok()) return status;
    }
  }
  status = replacement_.Begin(env_, targetInfo_, ".tmp-", file);
  if (!status.ok()) return status;
  if (targetInfo_.exists) ownFiles_.push_back(targetInfo_.identity);
  status = IdentifyOwnFile();
  if (status.ok()) status = WriteHeader();
  if (!status.ok()) Abandon();
  return status;
}

Status CPackageBuilder::Append(const char* name, const void* data, uint32_t size,
                               uint32_t packedSize, uint32_t flags) {
  if (!file.IsOpen()) return Status(StatusCode::InvalidArgument, target_);
  if (const char* problem = AppendEntryProblem(header, name, data, packedSize)) {
    return Status(StatusCode::TooLarge, target_, 0, problem);
  }
  // The record changes only once its data is in the file, so a failed write leaves the index
  // as it was.
  Status written = WriteAt(header.indexOffset, data, packedSize);
  if (!written.ok()) return written;
  auto found = positions_.find(name);
  size_t before = index.size();
  RecordAppendedEntry(index, header, name, size, packedSize, flags,
                      found != positions_.end() ? static_cast<int32_t>(found->second) : -1);
  if (index.size() > before) positions_.emplace(name, index.size() - 1);
  return Status::Ok();
}

Status CPackageBuilder::Commit() {
  if (!file.IsOpen()) return Status(StatusCode::InvalidArgument, target_);
  Status status = WriteIndexAndHeader(index, header, target_,
                                      [&](uint64_t offset, const void* data, size_t length) {
                                        return WriteAt(offset, data, length);
                                      });
  if (replacement_.TemporaryPath().empty()) {
    Status closed = file.Close();
    return status.ok() ? closed : status;
  }
  // The new archive replaces the old one only once all of it is on the disk.
  if (status.ok()) status = replacement_.Commit(file);
  if (!status.ok()) Abandon();
  return status;
}

}  // namespace korvo
