#include "compat/image_utils.h"

#include <cstring>
#include <string>

#include "manager/package_list.h"
#include "platform/platform.h"

namespace korvo {

void SniffImageType(char* destination, int32_t destinationSize, const void* data,
                    int32_t dataSize) {
  if (destination == nullptr || data == nullptr || destinationSize <= 0 || dataSize <= 2) return;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const char* name = nullptr;
  if (bytes[0] == 0x47 && bytes[1] == 0x49) {
    name = "gif";
  } else if (bytes[0] == 0x42 && bytes[1] == 0x4D) {
    name = "bmp";
  } else if (bytes[0] == 0xFF && bytes[1] == 0xD8) {
    name = "jpg";
  } else {
    return;
  }
  const int32_t letters = destinationSize < 3 ? destinationSize : 3;
  std::memcpy(destination, name, static_cast<size_t>(letters));
  if (destinationSize >= 4) destination[3] = '\0';
}

int32_t GetFileNameOffset(const char* path) {
  if (path == nullptr) return 0;
  for (size_t i = std::strlen(path); i > 0; --i) {
    if (path[i - 1] == '/' || path[i - 1] == '\\') return static_cast<int32_t>(i);
  }
  return 0;
}

void GetFileExtension(char* destination, const char* path) {
  if (destination == nullptr) return;
  const char* dot = path != nullptr ? std::strrchr(path, '.') : nullptr;
  if (dot == nullptr) {
    destination[0] = '\0';
    return;
  }
  std::strcpy(destination, dot + 1);
}

bool GetFileExtension(char* destination, size_t destinationSize, const char* path) {
  if (destination == nullptr || destinationSize == 0) return false;
  const char* dot = path != nullptr ? std::strrchr(path, '.') : nullptr;
  const char* extension = dot != nullptr ? dot + 1 : "";
  const size_t length = std::strlen(extension);
  const size_t copied = length < destinationSize ? length : destinationSize - 1;
  std::memcpy(destination, extension, copied);
  destination[copied] = '\0';
  return copied == length;
}

int32_t CharNextOffset(const char* start, int32_t offset) {
  if (start == nullptr || offset < 0) return offset;
  const char* at = start + offset;
  return static_cast<int32_t>(platform::CharNext(at) - start);
}

int32_t CharPrevOffset(const char* start, int32_t offset) {
  if (start == nullptr || offset <= 0) return 0;
  return static_cast<int32_t>(platform::CharPrev(start, start + offset) - start);
}

char* GetExeDirectoryCached() {
  static char directory[platform::MaxPath];
  static bool filled = false;
  if (!filled) {
    GetExeDirectory(directory);
    filled = true;
  }
  return directory;
}

}  // namespace korvo
