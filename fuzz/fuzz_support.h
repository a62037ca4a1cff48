// Helpers shared by the fuzz targets: a private scratch directory, files written from the
// input, and packages built in memory.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "archive/package_format.h"
#include "common/byte_order.h"

namespace korvo::fuzz {

using Bytes = std::vector<uint8_t>;

// A directory of this process's own below the system's temporary directory, made on first use
// and removed when the process ends.
inline const std::filesystem::path& ScratchDir() {
  struct Dir {
    std::filesystem::path path;
    Dir() {
      std::error_code error;
      path = std::filesystem::temp_directory_path(error);
      if (error) path = ".";
      path /= "korvo-fuzz-" + std::to_string(static_cast<unsigned long long>(
                                  std::hash<std::string>{}(std::to_string(std::rand())) ^
                                  reinterpret_cast<uintptr_t>(this)));
      std::filesystem::create_directories(path, error);
    }
    ~Dir() {
      std::error_code error;
      std::filesystem::remove_all(path, error);
    }
  };
  static Dir dir;
  return dir.path;
}

inline std::string ScratchPath(const std::string& name) {
  return (ScratchDir() / name).string();
}

// Replaces the file at path with size bytes of data; false when it cannot be written.
inline bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

inline Bytes ReadFileBytes(const std::string& path) {
  Bytes out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return out;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    out.insert(out.end(), buffer, buffer + n);
  std::fclose(file);
  return out;
}

inline Bytes Compress(const uint8_t* data, size_t size) {
  uLongf length = compressBound(static_cast<uLong>(size));
  Bytes out(length);
  if (compress(out.data(), &length, data, static_cast<uLong>(size)) != Z_OK) return {};
  out.resize(length);
  return out;
}

// A package archive holding the named files, each stored as zlib's compress gives it.
inline Bytes BuildPackage(const std::vector<std::pair<std::string, Bytes>>& files) {
  Bytes out(PackageHeaderSize, 0), index;
  for (const auto& file : files) {
    const Bytes packed = Compress(file.second.data(), file.second.size());
    const uint32_t offset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), packed.begin(), packed.end());
    index.push_back(static_cast<uint8_t>(file.first.size()));
    index.push_back(static_cast<uint8_t>(file.first.size() >> 8));
    index.insert(index.end(), file.first.begin(), file.first.end());
    AppendLE32(index, 0);
    AppendLE32(index, offset);
    AppendLE32(index, static_cast<uint32_t>(file.second.size()));
    AppendLE32(index, static_cast<uint32_t>(packed.size()));
  }
  PackageHeader header;
  header.tag = PackageTag;
  header.entryCount = static_cast<uint32_t>(files.size());
  header.indexOffset = static_cast<uint32_t>(out.size());
  header.indexSize = static_cast<uint32_t>(index.size());
  EncodeHeader(header, out.data());
  out.insert(out.end(), index.begin(), index.end());
  return out;
}

// Stops the process in a way that libFuzzer reports as a crash, with the broken property.
[[noreturn]] inline void PropertyFailed(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace korvo::fuzz

#define KORVO_FUZZ_CHECK(condition) \
  ((condition) ? void() : ::korvo::fuzz::PropertyFailed(#condition " (" __FILE__ ")"))
