#include "stream/disk_stream.h"

#include <utility>

#include "platform/platform.h"

namespace korvo {

void CDiskStream::ModeString(uint32_t mode, char out[3]) {
  out[0] = (mode & ModeWrite) ? 'w' : 'r';
  out[1] = (mode & ModeText) ? 't' : 'b';
  out[2] = '\0';
}

bool CDiskStream::Open(const char* path, uint32_t openMode) {
  if (path == nullptr || openMode == 0) return false;
  // Some C libraries open a directory for reading; it is not a resource.
  if (platform::IsDirectory(path)) return false;
  char modeString[3];
  ModeString(openMode, modeString);
  StdioFile opened(std::fopen(path, modeString));
  if (opened == nullptr) return false;
  std::fseek(opened.get(), 0, SEEK_END);
  size = static_cast<uint32_t>(std::ftell(opened.get()));
  std::fseek(opened.get(), 0, SEEK_SET);
  file = std::move(opened);
  mode = openMode;  // last: from here on the stream is in use
  return true;
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
