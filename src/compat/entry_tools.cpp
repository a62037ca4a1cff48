#include "compat/entry_tools.h"

#include <cstring>

#include "authoring/file_compress.h"
#include "authoring/package.h"
#include "manager/package_manager.h"
#include "platform/platform.h"

namespace korvo {

namespace {

// Adds a node for entryName. Its parent is the first node, from node 0 on, whose name lies
// within entryName; node 0 when none does.
void AddEntryNode(DirNodeList& list, const char* entryName) {
  if (list.count < 0) return;
  list.nodes.push_back(DirNode{});
  size_t slot = static_cast<size_t>(list.count);
  if (list.nodes.size() <= slot) list.nodes.resize(slot + 1, DirNode{});
  std::memset(list.nodes[slot].name, 0, sizeof(list.nodes[slot].name));
  int32_t parent = 0;
  for (size_t i = 0; i < slot; ++i) {
    if (std::strstr(entryName, list.nodes[i].name) != nullptr) {
      parent = static_cast<int32_t>(i);
      break;
    }
  }
  SetDirNodeName(list.nodes[slot], entryName);
  list.nodes[slot].parent = parent;
  ++list.count;
}

// Removes the first node, searched from node `first` on, whose name contains entryName. The
// nodes behind it move up one place, and parent numbers above the removed index drop by one.
void RemoveEntryNode(DirNodeList& list, const char* entryName) {
  if (list.count <= 0 || list.first < 0) return;
  size_t count = static_cast<size_t>(list.count);
  if (count > list.nodes.size()) count = list.nodes.size();
  size_t first = static_cast<size_t>(list.first);
  bool found = false;
  size_t removed = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!found) {
      if (first + i < list.nodes.size() &&
          std::strstr(list.nodes[first + i].name, entryName) != nullptr) {
        found = true;
        removed = i;
      }
      continue;
    }
    if (list.nodes[i].parent > static_cast<int32_t>(removed)) --list.nodes[i].parent;
    list.nodes[i - 1] = list.nodes[i];
  }
  if (found) --list.count;
}

}  // namespace

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
  CompressedFile compressed;
  if (entryName == nullptr) return Status(StatusCode::InvalidArgument, packagePath);
  Status compressedStatus = CompressFile(sourcePath, compressed);
  if (!compressedStatus.ok()) return compressedStatus;
  if (Cancelled(cancel)) return Status(StatusCode::Interrupted, packagePath);
  Status added =
      package.Append(entryName, compressed.packed.get(), compressed.size, compressed.packedSize, 0);
  compressed = CompressedFile();
  if (added.ok() && Cancelled(cancel)) {
    package.CloseUnchanged();
    return Status(StatusCode::Interrupted, packagePath);
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
  if (entryName == nullptr) return Status(StatusCode::InvalidArgument, packagePath);
  Status deleted = package.Remove(entryName, cancel);
  if (deleted.code() == StatusCode::Interrupted) return deleted;
  if (deleted.ok() && Cancelled(cancel)) {
    package.CloseUnchanged();
    return Status(StatusCode::Interrupted, packagePath);
  }
  if (manager != nullptr) RemoveEntryNode(manager->DirNodes(), entryName);
  Status closed = package.Commit();
  return deleted.ok() ? closed : deleted;
}

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager) {
  return AddPkgFile(packagePath, sourcePath, entryName, manager).ok();
}

bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager) {
  return DelPkgFile(packagePath, entryName, manager).ok();
}

}  // namespace korvo
