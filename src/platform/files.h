// Files opened by descriptor: the archive editor's in-place access.
#pragma once

#include <cstdint>

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

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const char* path);

}  // namespace korvo::platform
