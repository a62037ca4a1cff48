#include "authoring/pack_cache.h"

#include <zlib.h>

#include <cstring>

#include "common/byte_order.h"
#include "platform/replace.h"

namespace korvo {

namespace {

const uint8_t CacheMagic[8] = {'K', 'V', 'C', 'A', 'C', 'H', 'E', '1'};
// The fixed bytes of an entry besides its name: name length, size, time, CRC.
constexpr size_t EntryFixedSize = 2 + 8 + 8 + 4;

void PutText(std::vector<uint8_t>& out, const std::string& text) {
  AppendLE16(out, static_cast<uint16_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

// Reads the cache's bytes in order; every read fails once one has run past the end.
struct Reader {
  const uint8_t* at;
  const uint8_t* end;
  bool Has(size_t n) const { return static_cast<size_t>(end - at) >= n; }
  bool Take64(uint64_t& v) {
    if (!Has(8)) return false;
    v = LoadLE64(at);
    at += 8;
    return true;
  }
  bool Take32(uint32_t& v) {
    if (!Has(4)) return false;
    v = LoadLE32(at);
    at += 4;
    return true;
  }
  bool TakeText(std::string& text) {
    if (!Has(2)) return false;
    size_t n = LoadLE16(at);
    at += 2;
    if (!Has(n)) return false;
    text.assign(reinterpret_cast<const char*>(at), n);
    at += n;
    return true;
  }
};

}  // namespace

std::string PackCachePath(const std::string& archivePath) {
  return archivePath + ".korvo-cache";
}

std::string PackBlockSettings() {
  return std::string("zlib ") + zlibVersion() + " compress level " +
         std::to_string(Z_DEFAULT_COMPRESSION);
}

bool ReadPackCache(const std::string& path, PackCache& cache) {
  cache = PackCache();
  platform::File file;
  if (!platform::OpenForRead(path.c_str(), file).ok()) return false;
  int64_t length = 0;
  if (!file.Length(length).ok()) return false;
  if (length < static_cast<int64_t>(sizeof(CacheMagic)) + 4 || length > (int64_t{1} << 30)) {
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (!file.ReadExactly(bytes.data(), static_cast<uint32_t>(bytes.size())).ok()) return false;
  size_t body = bytes.size() - 4;
  if (std::memcmp(bytes.data(), CacheMagic, sizeof(CacheMagic)) != 0 ||
      LoadLE32(bytes.data() + body) !=
          static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(body)))) {
    return false;
  }
  Reader in{bytes.data() + sizeof(CacheMagic), bytes.data() + body};
  uint64_t size = 0, modified = 0, device = 0, number = 0, started = 0;
  uint32_t count = 0;
  if (!in.TakeText(cache.settings) || !in.Take64(size) || !in.Take64(modified) ||
      !in.Take64(device) || !in.Take64(number) || !in.Take64(started) || !in.Take32(count)) {
    return false;
  }
  cache.archive.size = size;
  cache.archive.modified = static_cast<int64_t>(modified);
  cache.archiveIdentity.device = device;
  cache.archiveIdentity.file = number;
  cache.started = static_cast<int64_t>(started);
  // The count is only believed as far as the bytes go.
  if (count > (in.end - in.at) / EntryFixedSize) return false;
  cache.entries.resize(count);
  for (PackCacheEntry& entry : cache.entries) {
    uint64_t entryModified = 0;
    if (!in.TakeText(entry.name) || !in.Take64(entry.source.size) || !in.Take64(entryModified) ||
        !in.Take32(entry.crc)) {
      return false;
    }
    entry.source.modified = static_cast<int64_t>(entryModified);
  }
  return in.at == in.end;
}

Status WritePackCache(platform::Env* env, const std::string& path, const PackCache& cache) {
  std::vector<uint8_t> bytes(CacheMagic, CacheMagic + sizeof(CacheMagic));
  PutText(bytes, cache.settings);
  AppendLE64(bytes, cache.archive.size);
  AppendLE64(bytes, static_cast<uint64_t>(cache.archive.modified));
  AppendLE64(bytes, cache.archiveIdentity.device);
  AppendLE64(bytes, cache.archiveIdentity.file);
  AppendLE64(bytes, static_cast<uint64_t>(cache.started));
  AppendLE32(bytes, static_cast<uint32_t>(cache.entries.size()));
  for (const PackCacheEntry& entry : cache.entries) {
    PutText(bytes, entry.name);
    AppendLE64(bytes, entry.source.size);
    AppendLE64(bytes, static_cast<uint64_t>(entry.source.modified));
    AppendLE32(bytes, entry.crc);
  }
  AppendLE32(bytes, static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size()))));

  platform::ReplaceTarget target;
  Status status = platform::ResolveReplaceTarget(path.c_str(), target);
  if (!status.ok()) return status;
  if (target.writeThrough) return Status(StatusCode::InvalidArgument, path, 0, "not a file");
  platform::Replacement replacement;
  platform::File file;
  status = replacement.Begin(env, target, ".tmp-", file);
  if (!status.ok()) return status;
  status = env->Write(file, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (!status.ok()) {
    (void)file.Close();
    replacement.Abandon();
    return status;
  }
  return replacement.Commit(file);
}

}  // namespace korvo
