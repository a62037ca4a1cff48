// File helpers for the suites: a temporary directory per test and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with its content when the
// object goes away. Path() has no trailing separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() joined with a relative name by '/'.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
void WriteFileText(const std::string& path, const std::string& text);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
void MakeDirectories(const std::string& path);
// A file of size bytes that reads as zeros and takes almost no disk space (a hole).
void MakeSparseFile(const std::string& path, uint64_t size);

Bytes ToBytes(const std::string& text);
// zlib's compress at the default level, as the writers store an entry.
Bytes Compress(const Bytes& data);

// Little-endian appends for building files byte by byte.
void PutU16(Bytes& out, uint16_t v);
void PutU32(Bytes& out, uint32_t v);
void PutBytes(Bytes& out, const Bytes& bytes);
void PutText(Bytes& out, const std::string& text);
uint32_t GetU32(const Bytes& in, size_t offset);
