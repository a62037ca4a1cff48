// Reading any resource by name: lookups, stat, whole reads and enumeration of the index.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "archive/mapped_package.h"
#include "manager/package_manager.h"
#include "stream/disk_stream.h"

namespace korvo {

bool CPackageManager::Lookup(const char* name, IndexedEntry& found) const {
  if (name == nullptr) return false;
  return Lookup(FoldedName(name), found);
}

void CopyIntoField(std::string_view text, char* field, size_t fieldSize) {
  const size_t length = std::min(text.size(), fieldSize - 1);
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, fieldSize - length);
}

std::string_view ResourceStat::StoredName() const {
  if (!inPackage || entry.package == nullptr) return std::string_view();
  return entry.package->StoredName(recordOffset);
}

ResourceStat CPackageManager::Stat(const char* name) const {
  ResourceStat stat;
  if (name == nullptr) {
    stat.status = Status(StatusCode::InvalidArgument, std::string(), 0, "no name");
    return stat;
  }
  IndexedEntry found;
  Mounts::Pin pin = mounts_.Read();
  if (mounts_.Lookup(pin, FoldedName(name), found)) {
    stat.pin.emplace(std::move(pin));
    stat.found = true;
    stat.inPackage = true;
    stat.size = found.info.size;
    stat.packedSize = found.info.packedSize;
    stat.packagePath = found.info.package->Path();
    stat.entry = found.info;
    stat.recordOffset = found.recordOffset;
    return stat;
  }
  CDiskStream probe;
  stat.status = probe.OpenWithStatus(name, ModeRead);
  if (stat.status.ok()) {
    stat.found = true;
    stat.size = probe.size;
    stat.packedSize = probe.size;
    stat.diskPath = name;
    probe.Close();
  }
  return stat;
}

namespace {

// The entry inflated straight into the block handed out, with room for the terminator.
Status ReadEntry(const char* name, const EntryInfo& info, unsigned char*& data) {
  unsigned char* block = nullptr;
  uint32_t capacity = 0;
  Status status = info.size == 0
                      ? Status::Ok()
                      : info.package->ExtractBounded(info, InflateBuffer{block, capacity, 1});
  if (status.ok() && block == nullptr) {
    block = static_cast<unsigned char*>(std::malloc(1));
    if (block == nullptr) status = Status(StatusCode::NoMemory, name);
  }
  if (!status.ok()) {
    std::free(block);
    return status;
  }
  block[info.size] = 0;
  data = block;
  return Status::Ok();
}

Status ReadDiskFile(const char* name, unsigned char*& data, uint32_t& size) {
  CDiskStream file;
  Status status = file.OpenWithStatus(name, ModeRead);
  if (!status.ok()) return status;
  const uint32_t length = file.size;
  if (length == UINT32_MAX) {
    return Status(StatusCode::TooLarge, name, 0,
                  "file of 4 GiB - 1 bytes, no room for the end mark");
  }
  unsigned char* block = static_cast<unsigned char*>(std::malloc(length + 1u));
  if (block == nullptr) return Status(StatusCode::NoMemory, name);
  if (file.Read(block, length) != length) {
    std::free(block);
    return Status(StatusCode::IoError, name, 0, "the file ended early");
  }
  file.Close();
  block[length] = 0;
  data = block;
  size = length;
  return Status::Ok();
}

}  // namespace

Status CPackageManager::ReadResource(const char* name, unsigned char*& data, uint32_t& size) const {
  data = nullptr;
  size = 0;
  if (name == nullptr) return Status(StatusCode::InvalidArgument, std::string(), 0, "no name");
  return FromEitherSource(true, [&](bool package) {
    if (!package) return ReadDiskFile(name, data, size);
    IndexedEntry found;
    Mounts::Pin pin = mounts_.Read();
    if (!mounts_.Lookup(pin, FoldedName(name), found)) {
      return Status(StatusCode::NotFound, name, 0, "not in any mounted package");
    }
    Status status = ReadEntry(name, found.info, data);
    if (status.ok()) size = found.info.size;
    return status;
  });
}

size_t CPackageManager::EnumerateNames(const char* prefix, NameVisitor visit) const {
  FoldedName folded(prefix != nullptr ? prefix : "");
  // The entries handed to visit stay valid until the last call.
  Mounts::Pin pin = mounts_.Read();
  Mounts::KeyWalk walk;
  NameBuffer key;
  IndexedEntry entry;
  size_t calls = 0;
  while (mounts_.NextKey(pin, folded.View(), walk, key, entry)) {
    ++calls;
    if (!visit(key.View(), entry.info)) break;
  }
  return calls;
}

}  // namespace korvo
