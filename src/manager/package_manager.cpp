#include "manager/package_manager.h"

#include <cstring>
#include <new>
#include <utility>

#include "archive/mapped_package.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

std::atomic<CPackageManager*> g_packageManager{nullptr};

namespace {
// Held while the accessor builds a manager, so that only one is built.
std::mutex creationLock;
}  // namespace

CSingleton::CSingleton() {
  g_packageManager = static_cast<CPackageManager*>(this);
}

CSingleton::~CSingleton() {
  g_packageManager = nullptr;
}

DirNodeList::DirNodeList() {
  nodes.reserve(512);
}

DirNodeList::~DirNodeList() = default;

void SetDirNodeName(DirNode& node, const char* text) {
  std::memset(node.name, 0, sizeof(node.name));
  if (text == nullptr) return;
  size_t length = std::strlen(text);
  if (length > sizeof(node.name) - 1) length = sizeof(node.name) - 1;
  std::memcpy(node.name, text, length);
}

PackageRecord::~PackageRecord() {
  delete package;  // unmaps the view and closes the file
}

PackageRecord::PackageRecord(PackageRecord&& other) noexcept
    : package(std::exchange(other.package, nullptr)) {
  std::memcpy(path, other.path, sizeof(path));
}

PackageRecord& PackageRecord::operator=(PackageRecord&& other) noexcept {
  if (this != &other) {
    delete package;
    package = std::exchange(other.package, nullptr);
    std::memcpy(path, other.path, sizeof(path));
  }
  return *this;
}

void StreamLease::Reset() {
  if (stream_ != nullptr) stream_->Close();
  stream_ = nullptr;
  own_.reset();
}

CPackageManager::CPackageManager() {
  LoadPackageList(nullptr, nullptr);
  ready_ = true;
}

CPackageManager::CPackageManager(const char* rootDirectory, const char* listFile) {
  LoadPackageList(rootDirectory, listFile);
  ready_ = true;
}

CPackageManager::CPackageManager(const char* packagePath, int32_t /*unused*/, size_t mostIndexBytes)
    : entries(mostIndexBytes) {
  if (packagePath != nullptr) {
    if (platform::PathExists(packagePath)) MountPackage(packagePath);
    FillStreamPools();
  }
  ready_ = true;
}

CPackageManager::~CPackageManager() = default;

CPackageManager* GetPackageManager() {
  CPackageManager* current = g_packageManager.load(std::memory_order_acquire);
  if (current != nullptr && current->ready_.load(std::memory_order_acquire)) return current;
  std::lock_guard<std::mutex> lock(creationLock);
  // Built meanwhile by another caller, or being built directly by a constructor.
  current = g_packageManager.load(std::memory_order_acquire);
  if (current != nullptr) return current;
  return new (std::nothrow) CPackageManager();
}

}  // namespace korvo
