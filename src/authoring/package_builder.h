// CPackageBuilder: writes a new package archive. Create starts an empty archive, AddFile
// appends one entry's stored bytes, Finish writes the index and the header and closes.
//
// CreateReplacing writes the archive to a temporary file beside the target instead; Finish
// flushes it and renames it over the target, so the target is either the old archive or the
// whole new one. A builder that does not finish removes its temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/package_format.h"
#include "common/status.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/replace.h"

namespace korvo {

class CPackageBuilder {
 public:
  // Every change on disk goes through env.
  explicit CPackageBuilder(platform::Env* env = platform::Env::Default()) : env_(env) {}
  ~CPackageBuilder();
  CPackageBuilder(const CPackageBuilder&) = delete;
  CPackageBuilder& operator=(const CPackageBuilder&) = delete;

  // Deletes an existing file at path and starts the new archive there.
  Status Start(const char* path);
  bool Create(const char* path) { return Start(path).ok(); }
  // Starts a new archive that replaces path only when Finish succeeds. Refuses a read-only
  // target; an interrupted edit of the target is rolled back first.
  Status CreateReplacing(const char* path);
  // Appends one entry's stored bytes; fails, with the index unchanged, when the write fails or
  // the name cannot be stored.
  Status Append(const char* name, const void* data, uint32_t size, uint32_t packedSize,
                uint32_t flags);
  bool AddFile(const char* name, const void* data, uint32_t size, uint32_t packedSize,
               uint32_t flags) {
    return Append(name, data, size, packedSize, flags).ok();
  }
  // Writes the index and the header and closes; for CreateReplacing, then flushes the new
  // archive and renames it over the target.
  Status Commit();
  bool Finish() { return Commit().ok(); }
  // Starts writing the data written so far to the disk without waiting for it (a long pack
  // does so as it goes, so that the flush of Finish has little left to wait for).
  Status Flush();
  // Stops without finishing: a temporary file is removed, the target stays as it was.
  void Abandon();

  // The files this builder writes: the new archive's file and, for CreateReplacing, the target
  // it will replace when that exists. A tree packed into an archive within it leaves them out.
  const std::vector<platform::FileIdentity>& OwnFiles() const { return ownFiles_; }

  // The archive's path (for CreateReplacing, with its links followed), and the file being
  // written now (for CreateReplacing, the temporary file until Finish).
  const std::string& TargetPath() const { return target_; }
  const std::string& WritingPath() const {
    return replacement_.TemporaryPath().empty() ? target_ : replacement_.TemporaryPath();
  }

  platform::File file;
  std::vector<PackageEntry> index;
  PackageHeader header;

 private:
  Status WriteHeader();
  // Records the identity of the file just created.
  Status IdentifyOwnFile();
  // Writes length bytes at offset, seeking only when the file is not there already.
  Status WriteAt(uint64_t offset, const void* data, size_t length);

  platform::Env* env_;
  std::string target_;                 // the archive's path
  platform::Replacement replacement_;  // for CreateReplacing: the file written, till Finish
  platform::ReplaceTarget targetInfo_;
  // The file position after the last write; UnknownPosition after a failure or a reopening.
  static constexpr uint64_t UnknownPosition = UINT64_MAX;
  uint64_t position_ = UnknownPosition;
  // Where each name's record lies in index, so that a repeated name is found at once.
  std::unordered_map<std::string, size_t> positions_;
  std::vector<platform::FileIdentity> ownFiles_;
};

}  // namespace korvo
