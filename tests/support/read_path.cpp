#include "support/read_path.h"

#include "archive/mapped_package.h"
#include "stream/res_stream.h"

Bytes HeaderBytes(uint32_t entryCount, uint32_t indexOffset, uint32_t indexSize, uint32_t tag) {
  Bytes out;
  PutU32(out, tag);
  PutU32(out, entryCount);
  PutU32(out, indexOffset);
  PutU32(out, indexSize);
  return out;
}

void PutRecord(Bytes& out, const std::string& name, uint32_t flags, uint32_t offset, uint32_t size,
               uint32_t packedSize) {
  PutU16(out, static_cast<uint16_t>(name.size()));
  PutText(out, name);
  PutU32(out, flags);
  PutU32(out, offset);
  PutU32(out, size);
  PutU32(out, packedSize);
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

RawEntry DataEntry(const std::string& name, const Bytes& data) {
  RawEntry entry;
  entry.name = name;
  entry.stored = Compress(data);
  entry.size = static_cast<uint32_t>(data.size());
  return entry;
}

std::string WriteArchive(const std::string& path, const std::vector<RawEntry>& entries) {
  WriteFileBytes(path, BuildArchive(entries));
  return path;
}

std::vector<PackageEntry> WalkIndex(CMappedPackage& package, size_t limit) {
  std::vector<PackageEntry> seen;
  PackageEntry entry;
  if (!package.FirstEntry(entry)) return seen;
  do {
    seen.push_back(entry);
  } while (seen.size() < limit && package.NextEntry(entry));
  return seen;
}

Bytes ReadAll(CResStream& stream) {
  Bytes out;
  uint8_t chunk[7];
  for (;;) {
    uint32_t n = stream.Read(chunk, sizeof(chunk));
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  return out;
}
