// What a pack remembers about the sources of the archive it wrote, so that the next pack of the
// same tree can copy the packed block of every unchanged file instead of compressing it again.
//
// It lies beside the archive as "<archive>.korvo-cache", never inside it: the game lists every
// entry of an archive, and a file of its own would show up there. It is only a hint: it names
// the archive it belongs to (size, modification time, identity) and the settings the blocks
// were made with, and a cache that does not match the archive beside it, or is damaged, is
// ignored.
//
//   offset 0   8 bytes   magic "KVCACHE1"
//              u16 n, n bytes   the settings the blocks were made with
//              u64, i64, u64, u64   the archive's size, modification time, device, file number
//              i64       when the pack began, on the file system's clock: a stamp at or after
//                        it may belong to a file changed during that pack, and is not trusted
//              u32       entry count, then for each entry:
//                u16 n, n bytes   the entry name
//                u64, i64, u32    its source's size, modification time and CRC-32
//              u32       CRC-32 of everything before it
// All integers are little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "platform/env.h"
#include "platform/files.h"

namespace korvo {

struct PackCacheEntry {
  std::string name;
  platform::FileStamp source;
  uint32_t crc = 0;
};

struct PackCache {
  std::string settings;
  platform::FileStamp archive;
  platform::FileIdentity archiveIdentity;
  int64_t started = 0;
  std::vector<PackCacheEntry> entries;
};

// "<archivePath>.korvo-cache".
std::string PackCachePath(const std::string& archivePath);

// The settings every pack makes its blocks with (the compressor and its level).
std::string PackBlockSettings();

// Reads the cache at path; false when it is missing, cannot be read or is damaged.
bool ReadPackCache(const std::string& path, PackCache& cache);

// Replaces the cache at path atomically (a temporary file beside it, flushed, renamed).
Status WritePackCache(platform::Env* env, const std::string& path, const PackCache& cache);

}  // namespace korvo
