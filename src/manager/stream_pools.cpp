// The manager's two stream pools and the opening of a resource by name.
#include <new>

#include "manager/package_manager.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

namespace {

// The first stream of the pool that this call claims, or null when every one is lent.
template <class Stream>
Stream* ClaimFree(StreamPool<Stream>& pool) {
  for (Stream* stream : pool) {
    if (stream != nullptr && stream->TryClaim()) return stream;
  }
  return nullptr;
}

// Gives a claimed stream back unless the open went through to the end.
struct ClaimGuard {
  CResStream* stream;
  ~ClaimGuard() {
    if (stream != nullptr) stream->Close();
  }
};

}  // namespace

void CPackageManager::FillStreamPools() {
  // The pools are filled once; a second call would lose the streams already made.
  if (!diskPool.empty() || !memPool.empty()) return;
  diskPool.assign(StreamPoolSize, nullptr);
  for (CDiskStream*& slot : diskPool) slot = new (std::nothrow) CDiskStream();
  memPool.assign(StreamPoolSize, nullptr);
  for (CMemStream*& slot : memPool) slot = new (std::nothrow) CMemStream();
}

CResStream* CPackageManager::OpenFrom(bool package, const char* name, uint32_t mode,
                                      std::unique_ptr<CResStream>* overflow, Status& status) {
  if (name == nullptr || mode == 0) {
    status = Status(StatusCode::InvalidArgument, std::string(), 0, "no name or mode");
    return nullptr;
  }
  if (package) {
    if (mode & ModeWrite) {
      status = Status(StatusCode::NotFound, name, 0, "package entries are read-only");
      return nullptr;
    }
    FoldedName key(name);
    IndexedEntry found;
    if (!Lookup(key, found)) {
      status = Status(StatusCode::NotFound, name, 0, "not in any mounted package");
      return nullptr;
    }
    CMemStream* stream = ClaimFree(memPool);
    if (stream == nullptr && overflow != nullptr) {
      *overflow = std::make_unique<CMemStream>();
      stream = static_cast<CMemStream*>(overflow->get());
      stream->TryClaim();
    }
    if (stream == nullptr) {
      status = Status(StatusCode::Locked, name, 0, "every package stream is lent");
      return nullptr;
    }
    ClaimGuard guard{stream};
    status = stream->OpenEntryWithStatus(found.info, mode);
    if (!status.ok()) return nullptr;
    stream->name.assign(key.View());
    guard.stream = nullptr;
    return stream;
  }
  CDiskStream* stream = ClaimFree(diskPool);
  if (stream == nullptr && overflow != nullptr) {
    *overflow = std::make_unique<CDiskStream>();
    stream = static_cast<CDiskStream*>(overflow->get());
    stream->TryClaim();
  }
  if (stream == nullptr) {
    status = Status(StatusCode::Locked, name, 0, "every disk stream is lent");
    return nullptr;
  }
  ClaimGuard guard{stream};
  status = stream->OpenWithStatus(name, mode);
  if (!status.ok()) return nullptr;
  stream->name = name;
  guard.stream = nullptr;
  return stream;
}

Status CPackageManager::Open(const char* name, uint32_t mode, bool preferPackage,
                             StreamLease& lease) {
  lease.Reset();
  CResStream* stream = nullptr;
  Status status = FromEitherSource(preferPackage, [&](bool package) {
    Status tried;
    stream = OpenFrom(package, name, mode, &lease.own_, tried);
    return tried;
  });
  if (stream == nullptr) {
    lease.own_.reset();
    return status;
  }
  lease.stream_ = stream;
  return Status::Ok();
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
  Status status;
  return static_cast<CDiskStream*>(OpenFrom(false, name, mode, nullptr, status));
}

CMemStream* CPackageManager::OpenPackageStream(const char* name, uint32_t mode) {
  Status status;
  return static_cast<CMemStream*>(OpenFrom(true, name, mode, nullptr, status));
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
    IndexedEntry found;
    if (Lookup(name, found)) return true;
  }
  if (where & LookOnDisk) return platform::PathExists(name);
  return false;
}

}  // namespace korvo
