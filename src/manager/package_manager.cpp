#include "manager/package_manager.h"

#include <new>

#include "manager/package_watcher.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

std::atomic<CPackageManager*> g_packageManager{nullptr};

namespace {

// Held while the accessor builds a manager, so that only one is built.
std::mutex creationLock;

// The current manager once its constructor has finished; null before, and from the start of
// its destructor. Kept apart from the manager: a reader must not look into an object that may
// still be under construction.
std::atomic<CPackageManager*> readyManager{nullptr};

// Gives a claimed stream back unless the open went through to the end.
struct ClaimGuard {
  CResStream* stream;
  ~ClaimGuard() {
    if (stream != nullptr) stream->Close();
  }
};

// A stream made for one open when its pool has none free; claimed like a pooled one.
template <class Stream>
Stream* Overflow(std::unique_ptr<CResStream>* overflow) {
  if (overflow == nullptr) return nullptr;
  Stream* stream = new (std::nothrow) Stream();
  if (stream == nullptr) return nullptr;
  overflow->reset(stream);
  stream->TryClaim();
  return stream;
}

}  // namespace

CSingleton::CSingleton() {
  g_packageManager = static_cast<CPackageManager*>(this);
}

CSingleton::~CSingleton() {
  g_packageManager = nullptr;
}

CPackageManager::CPackageManager() {
  LoadPackageList(nullptr, nullptr);
  readyManager.store(this, std::memory_order_release);
}

CPackageManager::CPackageManager(const char* rootDirectory, const char* listFile) {
  LoadPackageList(rootDirectory, listFile);
  readyManager.store(this, std::memory_order_release);
}

CPackageManager::CPackageManager(const char* packagePath, int32_t /*unused*/, size_t mostIndexBytes)
    : mounts_(mostIndexBytes) {
  if (packagePath != nullptr) {
    if (platform::PathExists(packagePath)) MountPackage(packagePath);
    FillStreamPools();
  }
  readyManager.store(this, std::memory_order_release);
}

CPackageManager::~CPackageManager() {
  readyManager.store(nullptr, std::memory_order_release);
}

void CPackageManager::FillStreamPools() {
  pools_.Fill();
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
    // The entry's package lives at least until the inflation below is done.
    Mounts::Pin pin = mounts_.Read();
    if (!mounts_.Lookup(pin, key, found)) {
      status = Status(StatusCode::NotFound, name, 0, "not in any mounted package");
      return nullptr;
    }
    CMemStream* stream = pools_.ClaimMemory();
    if (stream == nullptr) stream = Overflow<CMemStream>(overflow);
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
  CDiskStream* stream = pools_.ClaimDisk();
  if (stream == nullptr) stream = Overflow<CDiskStream>(overflow);
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

CPackageManager* GetPackageManager() {
  CPackageManager* current = readyManager.load(std::memory_order_acquire);
  if (current != nullptr) return current;
  std::lock_guard<std::mutex> lock(creationLock);
  // Built meanwhile by another caller, or being built directly by a constructor.
  current = g_packageManager.load(std::memory_order_acquire);
  if (current != nullptr) return current;
  return new (std::nothrow) CPackageManager();
}

}  // namespace korvo
