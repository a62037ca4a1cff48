#include "authoring/entry_tools.h"

#include "authoring/file_compress.h"
#include "authoring/package.h"
#include "manager/package_manager.h"

namespace korvo {

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

}  // namespace

Status AddPkgFile(const char* packagePath, const char* sourcePath, const char* entryName,
                  CPackageManager* manager, bool* rolledBack, const std::atomic<bool>* cancel,
                  platform::Env* env) {
  CPackage package(env);
  Status opened = package.Load(packagePath);
  if (rolledBack != nullptr) *rolledBack = package.RecoveredJournal();
  if (!opened.ok()) {
    env->DebugMessage("AddPkgFile_Tool Failed");
    return opened;
  }
  return AddFileToPackage(package, sourcePath, entryName, manager, cancel);
}

Status AddFileToPackage(CPackage& package, const char* sourcePath, const char* entryName,
                        CPackageManager* manager, const std::atomic<bool>* cancel) {
  if (entryName == nullptr) return Status(StatusCode::InvalidArgument, package.Path());
  CompressedFile compressed;
  Status compressedStatus = CompressFile(sourcePath, compressed);
  if (!compressedStatus.ok()) return compressedStatus;
  if (Cancelled(cancel)) return Status(StatusCode::Interrupted, package.Path());
  Status added =
      package.Append(entryName, compressed.packed.get(), compressed.size, compressed.packedSize, 0);
  compressed = CompressedFile();
  if (added.ok() && Cancelled(cancel)) {
    package.CloseUnchanged();
    return Status(StatusCode::Interrupted, package.Path());
  }
  if (manager != nullptr) AddEntryNode(manager->DirNodes(), entryName);
  Status closed = package.Commit();
  return added.ok() ? closed : added;
}

Status DelPkgFile(const char* packagePath, const char* entryName, CPackageManager* manager,
                  bool* rolledBack, const std::atomic<bool>* cancel, platform::Env* env) {
  CPackage package(env);
  Status opened = package.Load(packagePath);
  if (rolledBack != nullptr) *rolledBack = package.RecoveredJournal();
  if (!opened.ok()) {
    env->DebugMessage("DelPkgFile_Tool Failed!");
    return opened;
  }
  return RemoveFromPackage(package, entryName, manager, cancel);
}

Status RemoveFromPackage(CPackage& package, const char* entryName, CPackageManager* manager,
                         const std::atomic<bool>* cancel) {
  if (entryName == nullptr) return Status(StatusCode::InvalidArgument, package.Path());
  Status deleted = package.Remove(entryName, cancel);
  if (deleted.code() == StatusCode::Interrupted) return deleted;
  if (deleted.ok() && Cancelled(cancel)) {
    package.CloseUnchanged();
    return Status(StatusCode::Interrupted, package.Path());
  }
  if (manager != nullptr) RemoveEntryNode(manager->DirNodes(), entryName);
  Status closed = package.Commit();
  return deleted.ok() ? closed : deleted;
}

}  // namespace korvo
