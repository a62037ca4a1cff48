// Writers for the two containers the peer benchmark compares: the package archive (header,
// zlib blocks, index) and a plain zip (local headers, raw deflate bodies, central directory).
// Both take the same compressed bytes, so every reader inflates exactly the same deflate data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/replace.h"

namespace korvo::peer {

// One file compressed once: the zlib stream that compress2 makes at the default level.
struct PackedBlob {
  std::vector<uint8_t> zlib;  // 2-byte header, deflate body, 4-byte Adler-32
  uint32_t size = 0;          // unpacked length
  uint32_t crc = 0;           // CRC-32 of the unpacked bytes, for the zip
};

// Compresses size bytes; false when zlib fails or the result is too large for 32-bit fields.
bool PackBlob(const uint8_t* data, size_t size, PackedBlob& out);

// A file written beside its final name and renamed over it by Commit (the library's atomic
// replacement), so that an interrupted run never leaves a half-written archive that a later
// run would trust. Without Commit, nothing is left behind. Writes are gathered in a buffer.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  bool Create(const std::string& path);
  bool Write(const void* data, size_t length);
  // Overwrites bytes already written, then returns to the end.
  bool WriteAt(uint64_t offset, const void* data, size_t length);
  bool Commit();
  uint64_t Position() const { return position_; }

 private:
  // Writes out the buffered bytes; false (and failed from then on) on an error.
  bool Drain();

  // Declared before the file, so that the file is closed before its temporary name is removed.
  platform::Replacement replacement_;
  platform::File file_;
  std::vector<uint8_t> buffer_;
  uint64_t position_ = 0;
  bool failed_ = true;
};

// Package archive: 16-byte header {tag 100, entry count, index offset, index size}, the zlib
// blocks back to back from offset 16, then one record per entry {u16 name length, name,
// u32 flags, offset, size, packed size}. Little-endian throughout, offsets below 4 GiB.
class PackageWriter {
 public:
  bool Create(const std::string& path);
  // Returns the block's offset in the archive through offset; false on a write failure or
  // when the archive would pass 4 GiB.
  bool Add(const std::string& name, const PackedBlob& blob, uint32_t* offset = nullptr);
  bool Finish();

 private:
  StagedFile out_;
  std::vector<uint8_t> index_;
  uint32_t count_ = 0;
};

// Zip archive with method 8 entries whose data is the deflate body of the zlib stream. Below
// 65535 entries the classic end record suffices; from there on a zip64 end record and its
// locator carry the real count (every offset still fits 32 bits, so entries need no zip64
// extra field).
class ZipWriter {
 public:
  bool Create(const std::string& path);
  bool Add(const std::string& name, const PackedBlob& blob);
  bool Finish();

 private:
  StagedFile out_;
  std::vector<uint8_t> central_;
  uint64_t count_ = 0;
};

}  // namespace korvo::peer
