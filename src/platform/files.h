// Files opened by descriptor: the archive editor's in-place access, the journal beside it and
// the temporary file that a new archive is written to before it replaces the old one.
//
// Every call that changes something on disk (create, write, truncate, sync, rename, remove,
// directory sync) first asks the fault hook, which only tests set (see fault_hook.h).
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "common/status.h"

namespace korvo::platform {

// An open file descriptor that closes itself. Move-only.
class File {
 public:
  File() = default;
  explicit File(int descriptor) : descriptor_(descriptor) {}
  ~File() { Close(); }
  File(File&& other) noexcept : descriptor_(other.Release()) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      descriptor_ = other.Release();
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return descriptor_ >= 0; }
  int Descriptor() const { return descriptor_; }
  int Release() {
    int d = descriptor_;
    descriptor_ = -1;
    return d;
  }

  // Byte counts, or -1 on error (LastError tells why). Read stops early only at the end.
  int64_t Read(void* buffer, uint32_t count);
  int64_t Write(const void* buffer, uint32_t count);
  // whence: 0 from the start, 1 from the current position, 2 from the end. New position or -1.
  int64_t Seek(int64_t offset, int whence);
  int64_t Length();
  bool Truncate(int64_t length);
  // Flushes the file's data to the device.
  bool Sync();
  // Closes now; false when the system reported an error on close.
  bool Close();

 private:
  int descriptor_ = -1;
};

// Opens an existing file for reading and writing: no create, no truncate. Takes an exclusive
// lock, so it fails (Locked) while any process has the file mounted or open for editing.
Status OpenForEdit(const char* path, File& file);

// The cause of a failed open of path with C runtime error number error: NotFound for a missing
// file, IoError otherwise.
inline Status OpenStatus(const char* path, int error) {
  return Status::System(error == ENOENT ? StatusCode::NotFound : StatusCode::IoError, path, error);
}

// The length of the file under an open stdio stream in bytes, 64-bit on every platform; -1 when
// the system cannot tell (LastError tells why).
int64_t StdioFileLength(std::FILE* file);

// Opens an existing file for reading only, without any lock.
Status OpenForRead(const char* path, File& file);

// Creates a new file for reading and writing; fails (with EEXIST) when path exists already.
Status CreateNew(const char* path, File& file);

// Deletes a file; false when it could not be deleted (LastError tells why).
bool RemoveFile(const char* path);

// Renames from over to, replacing a file there in one step: a reader sees either the old file
// or the new one. Windows: MoveFileExW with replace-existing and write-through.
Status ReplaceFile(const char* from, const char* to);

// Flushes the directory that holds path, so that a file created, renamed or removed there
// stays so after a power loss. Windows has no such step: a no-op there.
Status SyncDirectoryOf(const char* path);

// What an archive about to be replaced allows: whether it exists, and its permission bits.
struct ReplaceTarget {
  bool exists = false;
  uint32_t mode = 0;
};
// Looks at the file about to be replaced. Refuses (Permission denied) a read-only file, as tar
// does, and anything but a regular file.
Status InspectReplaceTarget(const char* path, ReplaceTarget& target);
// Gives file the permission bits of the target it will replace (POSIX; nothing on Windows).
Status ApplyTargetMode(File& file, const ReplaceTarget& target, const char* path);

}  // namespace korvo::platform
