// The manager's fixed opening variants and queries that nothing in the library calls: each a
// thin layer over the single-source open step and the pools that Open uses.
#include "manager/package_manager.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

CResStream* CPackageManager::OpenStream(const char* name, uint32_t mode, bool preferPackage) {
  if (preferPackage) {
    if (CResStream* stream = OpenPackageStream(name, mode)) return stream;
    return OpenDiskStream(name, mode);
  }
  if (CResStream* stream = OpenDiskStream(name, mode)) return stream;
  return OpenPackageStream(name, mode);
}

CDiskStream* CPackageManager::OpenDiskStream(const char* name, uint32_t mode) {
  Status status;
  return static_cast<CDiskStream*>(OpenFrom(false, name, mode, nullptr, status));
}

CMemStream* CPackageManager::OpenPackageStream(const char* name, uint32_t mode) {
  Status status;
  return static_cast<CMemStream*>(OpenFrom(true, name, mode, nullptr, status));
}

CResStream* CPackageManager::FindFreeStream(bool memoryPool) {
  return pools_.FindFree(memoryPool);
}

bool CPackageManager::Exists(const char* name, uint32_t where) {
  if (name == nullptr) return false;
  if (where & LookInPackages) {
    IndexedEntry found;
    if (Lookup(name, found)) return true;
  }
  if (where & LookOnDisk) return platform::PathExists(name);
  return false;
}

}  // namespace korvo
