#include "authoring/file_compress.h"

#include <zlib.h>

#include <cstdio>
#include <new>

namespace korvo {

namespace {

// Reads length bytes from the start of file into a new buffer.
bool ReadWhole(std::FILE* file, std::unique_ptr<uint8_t[]>& data, uint32_t& length) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  long end = std::ftell(file);
  if (end < 0 || static_cast<unsigned long>(end) > UINT32_MAX) return false;
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  length = static_cast<uint32_t>(end);
  // One byte at least, so that an empty file still has a buffer to hand to compress.
  data.reset(new (std::nothrow) uint8_t[length > 0 ? length : 1]);
  if (data == nullptr) return false;
  if (length > 0 && std::fread(data.get(), 1, length, file) != length) return false;
  return std::ferror(file) == 0;
}

}  // namespace

bool CompressFile(const char* path, CompressedFile& out) {
  out = CompressedFile();
  if (path == nullptr) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
  if (file == nullptr) return false;
  std::unique_ptr<uint8_t[]> data;
  uint32_t length = 0;
  if (!ReadWhole(file.get(), data, length)) return false;

  uLong bound = compressBound(static_cast<uLong>(length));
  // A bound below the length means it wrapped where uLong is 32 bits.
  if (bound < length || bound > UINT32_MAX) return false;
  std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[bound]);
  if (packed == nullptr) return false;
  uLongf packedLength = bound;
  if (compress(packed.get(), &packedLength, data.get(), static_cast<uLong>(length)) != Z_OK) {
    return false;
  }
  out.packed = std::move(packed);
  out.packedSize = static_cast<uint32_t>(packedLength);
  out.size = length;
  return true;
}

}  // namespace korvo
