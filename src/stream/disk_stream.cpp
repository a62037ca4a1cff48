#include "stream/disk_stream.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace korvo {

void CDiskStream::ModeString(uint32_t mode, char out[3]) {
  out[0] = (mode & ModeWrite) ? 'w' : 'r';
  out[1] = (mode & ModeText) ? 't' : 'b';
  out[2] = '\0';
}

bool CDiskStream::Open(const char* path, uint32_t openMode) {
  return OpenWithStatus(path, openMode).ok();
}

Status CDiskStream::OpenWithStatus(const char* path, uint32_t openMode) {
  if (path == nullptr || openMode == 0) {
    return Status(StatusCode::InvalidArgument, path != nullptr ? path : "", 0, "no path or mode");
  }
  // Some C libraries open a directory for reading; it is not a resource.
  if (platform::IsDirectory(path)) {
    return Status(StatusCode::InvalidArgument, path, 0, "is a directory, not a file");
  }
  char modeString[3];
  ModeString(openMode, modeString);
  errno = 0;
  StdioFile opened(std::fopen(path, modeString));
  if (opened == nullptr) return platform::OpenStatus(path, errno);
  // Measured on the file itself, in 64 bits: ftell's long is 32-bit on some platforms, and a
  // length cut to 32 bits would read a 4 GiB + 10 byte file as 10 bytes.
  int64_t length = 0;
  Status measured = platform::StdioFileLength(opened.get(), path, length);
  if (!measured.ok()) return measured;
  if (static_cast<uint64_t>(length) > UINT32_MAX) {
    return Status(StatusCode::TooLarge, path, 0,
                  "file of " + std::to_string(length) +
                      " bytes; a resource holds at most 4294967295 bytes (4 GiB - 1)");
  }
  size = static_cast<uint32_t>(length);
  file = std::move(opened);
  mode = openMode;  // last: from here on the stream is in use
  return Status::Ok();
}

void CDiskStream::Close() {
  file.reset();
  CResStream::Close();
}

uint32_t CDiskStream::Read(void* buffer, uint32_t count) {
  if (file == nullptr) return 0;
  return static_cast<uint32_t>(std::fread(buffer, 1, count, file.get()));
}

bool CDiskStream::Write(const void* buffer, uint32_t count) {
  if (file == nullptr || count == 0) return false;
  if (std::fwrite(buffer, count, 1, file.get()) != 1) return false;
  std::fflush(file.get());
  return true;
}

int32_t CDiskStream::Seek(int32_t offset, int32_t origin) {
  if (file == nullptr) return -1;
  int whence = origin == SeekBegin ? SEEK_SET : origin == SeekCurrent ? SEEK_CUR : SEEK_END;
  std::fseek(file.get(), offset, whence);
  return static_cast<int32_t>(std::ftell(file.get()));
}

bool CDiskStream::Eof() {
  return file != nullptr && std::feof(file.get()) != 0;
}

}  // namespace korvo
