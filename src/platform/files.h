// Files opened by descriptor: the archive editor's in-place access, the journal beside it and
// the temporary file that a new archive is written to before it replaces the old one.
//
// The writers make every call that changes something on disk through an Env (env.h), so that
// a caller can put another one in its place.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "common/status.h"

namespace korvo::platform {

// An open file descriptor that closes itself, with the path it was opened by. Move-only.
// Every operation that can fail returns a Status that names that path and carries the system's
// error number.
class File {
 public:
  File() = default;
  explicit File(int descriptor, std::string path = std::string())
      : descriptor_(descriptor), path_(std::move(path)) {}
  ~File() { (void)Close(); }
  File(File&& other) noexcept : descriptor_(other.Release()), path_(std::move(other.path_)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      (void)Close();
      descriptor_ = other.Release();
      path_ = std::move(other.path_);
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return descriptor_ >= 0; }
  int Descriptor() const { return descriptor_; }
  // The path the file was opened by: the file of every Status its operations return.
  const std::string& Path() const { return path_; }
  int Release() {
    int d = descriptor_;
    descriptor_ = -1;
    return d;
  }

  // Reads up to count bytes from the current position; got says how many came. Fewer than
  // count come only at the end of the file.
  Status Read(void* buffer, uint32_t count, uint32_t& got);
  // Reads exactly count bytes: a file that ends first is Corrupt ("unexpected end of file").
  Status ReadExactly(void* buffer, uint32_t count);
  // Writes all count bytes at the current position.
  Status Write(const void* buffer, uint32_t count);
  // Moves to offset bytes from the start of the file.
  Status Seek(int64_t offset);
  Status Length(int64_t& length);
  Status Truncate(int64_t length);
  // Flushes the file's data to the device.
  Status Sync();
  // Starts writing the file's data to the device without waiting for it, so that a later Sync
  // has less left to wait for. Durable only after that Sync. Where the system cannot start the
  // writes alone, this is a Sync.
  Status StartWriteBack();
  // Closes now (a closed file stays Ok); an error is what the system reported on close.
  Status Close();

 private:
  // An IoError naming the file, with the error number error.
  Status Failure(int error) const { return Status::System(StatusCode::IoError, path_, error); }

  int descriptor_ = -1;
  std::string path_;
};

inline Status File::ReadExactly(void* buffer, uint32_t count) {
  uint32_t got = 0;
  Status status = Read(buffer, count, got);
  if (status.ok() && got != count) {
    return Status(StatusCode::Corrupt, path_, 0, "unexpected end of file");
  }
  return status;
}

// Which file a name or descriptor leads to, whatever the spelling of the path: the device and
// file number (POSIX), the volume serial number and file index (Windows). Two names of one file
// (links, ".." detours, other letter case on Windows) give equal identities.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && file == other.file;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
// The identity of an open file.
Status IdentifyFile(File& file, FileIdentity& identity);

// The size and the last modification time of a file (POSIX follows a symbolic link; Windows
// reports what the path names). The time is in
// the system's own units (nanoseconds on POSIX, 100 ns since 1601 on Windows): only compared.
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;
  bool operator==(const FileStamp& other) const {
    return size == other.size && modified == other.modified;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
// NotFound when path leads to nothing, InvalidArgument when to no regular file, IoError when
// the system cannot tell.
Status StampPath(const char* path, FileStamp& stamp);

// Opens an existing file for reading and writing: no create, no truncate. Takes an exclusive
// lock, so it fails (Locked) while any process has the file mounted or open for editing.
Status OpenForEdit(const char* path, File& file);

// What a Locked status of OpenForEdit or MapFileReadOnly says, before the system's own words.
constexpr const char* LockedDetail = "another program is editing it, or a game has it open";

// The cause of a failed open or removal of path with C runtime error number error: NotFound for
// a missing file, IoError otherwise.
inline Status OpenStatus(const char* path, int error) {
  return Status::System(error == ENOENT ? StatusCode::NotFound : StatusCode::IoError, path, error);
}

// The refusal of a path where there is no file: "<path>: no such file".
inline Status MissingFile(const char* path) {
  return Status(StatusCode::NotFound, path, 0, "no such file");
}

// The length in bytes of the file under an open stdio stream, opened by path, 64-bit on every
// platform.
Status StdioFileLength(std::FILE* file, const char* path, int64_t& length);

// Opens an existing file for reading only, without any lock. A directory is refused
// (InvalidArgument, "is a directory").
Status OpenForRead(const char* path, File& file);

// Creates a new file for reading and writing; fails (with EEXIST) when path exists already.
Status CreateNew(const char* path, File& file);

// Deletes a file: NotFound when there is none, IoError when it could not be deleted.
Status RemoveFile(const char* path);

// Renames from over to, replacing a file there in one step: a reader sees either the old file
// or the new one. Windows: MoveFileExW with replace-existing and write-through.
Status ReplaceFile(const char* from, const char* to);

// Flushes the directory that holds path, so that a file created, renamed or removed there
// stays so after a power loss. Windows has no such step: a no-op there.
Status SyncDirectoryOf(const char* path);

// A file about to be replaced by a new one, and how. A regular file, or a path where nothing
// is yet, is replaced whole: the new file is written beside path, flushed and renamed over it.
// A character device, a FIFO or a socket (/dev/null, a pipe, /dev/stdout) is written through:
// opened as it is, written, never renamed over or removed. A symbolic link is followed to its
// final target, and that is what is replaced, so the link stays a link.
struct ReplaceTarget {
  bool exists = false;        // a regular file is there
  bool writeThrough = false;  // a device, FIFO or socket: open it and write, nothing else
  uint32_t mode = 0;          // the permission bits of the file replaced
  std::string path;           // what is written or replaced: path with its links followed
  FileIdentity identity;      // of the regular file replaced, when it exists
};
// Finds what writing a new file to path replaces. Refuses a directory and any other kind of
// file that is neither replaced nor written through (a block device, for one).
Status ResolveReplaceTarget(const char* path, ReplaceTarget& target);
// ResolveReplaceTarget for a file written with seeks (an archive): also refuses, as tar does, a
// read-only file, and anything that would be written through.
Status InspectReplaceTarget(const char* path, ReplaceTarget& target);
// Opens a target that is written through (ReplaceTarget::writeThrough) for writing, without
// creating or truncating anything. Writes go to its end: a regular file reached through a
// descriptor link (/dev/stdout redirected with >>) is added to, not overwritten from the start.
Status OpenForWriteThrough(const char* path, File& file);
// Gives file the permission bits of the target it will replace (POSIX; nothing on Windows).
Status ApplyTargetMode(File& file, const ReplaceTarget& target, const char* path);

}  // namespace korvo::platform
