#include "manager/package_manager.h"

#include <cstring>
#include <new>

#include "archive/mapped_package.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

CPackageManager* g_packageManager = nullptr;

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

CPackageManager::CPackageManager() {
  try {
    LoadPackageList(nullptr, nullptr);
  } catch (...) {
    ReleaseOwned();  // the destructor does not run for a constructor that throws
    throw;
  }
}

CPackageManager::CPackageManager(const char* rootDirectory, const char* listFile) {
  try {
    LoadPackageList(rootDirectory, listFile);
  } catch (...) {
    ReleaseOwned();
    throw;
  }
}

CPackageManager::CPackageManager(const char* packagePath, int32_t /*unused*/) {
  if (packagePath == nullptr) return;
  try {
    if (platform::PathExists(packagePath)) MountPackage(packagePath);
    FillStreamPools();
  } catch (...) {
    ReleaseOwned();
    throw;
  }
}

CPackageManager::~CPackageManager() {
  ReleaseOwned();
}

void CPackageManager::ReleaseOwned() {
  for (CDiskStream* stream : diskPool) delete stream;
  diskPool.clear();
  for (CMemStream* stream : memPool) delete stream;
  memPool.clear();
  for (PackageRecord& record : packages) {
    record.package->Close();
    delete record.package;
  }
  packages.clear();
}

CPackageManager* GetPackageManager() {
  if (g_packageManager != nullptr) return g_packageManager;
  CPackageManager* manager = new (std::nothrow) CPackageManager();
  if (manager == nullptr) g_packageManager = nullptr;
  return manager;
}

}  // namespace korvo
