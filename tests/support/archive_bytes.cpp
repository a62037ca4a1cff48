#include "support/archive_bytes.h"

Bytes BuildArchive(const std::vector<RawEntry>& entries) {
  Bytes data;
  std::vector<uint32_t> offsets;
  for (const RawEntry& entry : entries) {
    offsets.push_back(16 + static_cast<uint32_t>(data.size()));
    PutBytes(data, entry.stored);
  }
  Bytes index;
  for (size_t i = 0; i < entries.size(); ++i) {
    PutU16(index, static_cast<uint16_t>(entries[i].name.size()));
    PutText(index, entries[i].name);
    PutU32(index, entries[i].flags);
    PutU32(index, offsets[i]);
    PutU32(index, entries[i].size);
    PutU32(index, static_cast<uint32_t>(entries[i].stored.size()));
  }
  Bytes file;
  PutU32(file, 100);
  PutU32(file, static_cast<uint32_t>(entries.size()));
  PutU32(file, 16 + static_cast<uint32_t>(data.size()));
  PutU32(file, static_cast<uint32_t>(index.size()));
  PutBytes(file, data);
  PutBytes(file, index);
  return file;
}

RawEntry TextEntry(const std::string& name, const std::string& text) {
  RawEntry entry;
  entry.name = name;
  entry.stored = Compress(ToBytes(text));
  entry.size = static_cast<uint32_t>(text.size());
  return entry;
}
