// The manager's two stream pools and the opening of a resource by name.
#include <new>

#include "manager/mounting.h"
#include "manager/package_manager.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

void CPackageManager::FillStreamPools() {
  // The pools are filled once; a second call would lose the streams already made.
  if (!diskPool.empty() || !memPool.empty()) return;
  diskPool.assign(StreamPoolSize, nullptr);
  for (CDiskStream*& slot : diskPool) slot = new (std::nothrow) CDiskStream();
  memPool.assign(StreamPoolSize, nullptr);
  for (CMemStream*& slot : memPool) slot = new (std::nothrow) CMemStream();
}

CResStream* CPackageManager::OpenStream(const char* name, uint32_t mode, bool preferPackage) {
  if (preferPackage) {
    if (CResStream* stream = OpenPackageStream(name, mode)) return stream;
    return OpenDiskStream(name, mode);
  }
  if (CResStream* stream = OpenDiskStream(name, mode)) return stream;
  return OpenPackageStream(name, mode);
}

CDiskStream* CPackageManager::OpenDiskStream(const char* name, uint32_t mode) {
  if (name == nullptr || mode == 0) return nullptr;
  auto* stream = static_cast<CDiskStream*>(FindFreeStream(false));
  if (stream == nullptr || !stream->Open(name, mode)) return nullptr;
  stream->name = name;
  return stream;
}

CMemStream* CPackageManager::OpenPackageStream(const char* name, uint32_t mode) {
  if (name == nullptr || mode == 0 || (mode & ModeWrite) != 0) return nullptr;
  std::string key;
  NormalizeName(key, name);
  auto found = entries.find(key);
  if (found == entries.end()) return nullptr;
  auto* stream = static_cast<CMemStream*>(FindFreeStream(true));
  if (stream == nullptr || !stream->OpenEntry(found->second, mode)) return nullptr;
  stream->name = key;
  return stream;
}

CResStream* CPackageManager::FindFreeStream(bool memoryPool) {
  if (memoryPool) {
    for (CMemStream* stream : memPool) {
      if (stream != nullptr && stream->IsFree()) return stream;
    }
  } else {
    for (CDiskStream* stream : diskPool) {
      if (stream != nullptr && stream->IsFree()) return stream;
    }
  }
  return nullptr;
}

bool CPackageManager::Exists(const char* name, uint32_t where) {
  if (name == nullptr) return false;
  if (where & LookInPackages) {
    std::string key;
    NormalizeName(key, name);
    if (entries.count(key) != 0) return true;
  }
  if (where & LookOnDisk) return PathExists(name);
  return false;
}

}  // namespace korvo
