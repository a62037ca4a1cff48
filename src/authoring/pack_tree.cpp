#include "authoring/pack_tree.h"

#include <string>
#include <vector>

#include "authoring/file_compress.h"
#include "authoring/package_builder.h"
#include "manager/package_manager.h"
#include "platform/platform.h"

namespace korvo {

// Every level of a walk carries two texts: the filesystem path used to open the item (levels
// joined with the native separator) and the entry or node name (levels joined with a
// backslash, after the caller's directory in the form the loader looks names up by).
namespace {

struct Walk {
  CPackageBuilder& builder;
  CPackageManager* manager;  // null when no node list is built
  PackObserver* observer;
};

std::string JoinPath(const std::string& dir, const std::string& item) {
  return dir + platform::PathSeparator + item;
}

std::string JoinName(const std::string& dir, const std::string& item) {
  return dir.empty() ? item : dir + '\\' + item;
}

// The name prefix of the top directory of a walk.
std::string TopName(const char* dir) {
  std::string name;
  return PackEntryName(dir, name) ? name : std::string(dir);
}

void PackFile(const char* path, const char* entryName, CPackageBuilder& builder,
              PackObserver* observer) {
  CompressedFile compressed;
  bool packed =
      CompressFile(path, compressed) && builder.AddFile(entryName, compressed.packed.get(),
                                                        compressed.size, compressed.packedSize, 0);
  if (observer != nullptr) {
    observer->OnFile(path, packed ? compressed.size : 0, packed ? compressed.packedSize : 0,
                     packed);
  }
}

// Appends a node behind the list and returns its index.
int32_t AppendNode(DirNodeList& list, const std::string& name, int32_t parent) {
  DirNode node{};
  SetDirNodeName(node, name.c_str());
  node.parent = parent;
  ++list.count;
  list.nodes.push_back(node);
  return list.count - 1;
}

void WalkDirectory(const std::string& path, const std::string& name, Walk& walk,
                   int32_t parentIndex);

void WalkItems(const std::vector<platform::DirItem>& items, const std::string& path,
               const std::string& name, Walk& walk, int32_t parentIndex) {
  for (const platform::DirItem& item : items) {
    std::string itemPath = JoinPath(path, item.name);
    std::string itemName = JoinName(name, item.name);
    int32_t nodeIndex = -1;
    if (walk.manager != nullptr) {
      nodeIndex = AppendNode(walk.manager->dirList, itemName, parentIndex);
    }
    if (item.isDirectory) {
      WalkDirectory(itemPath, itemName, walk, nodeIndex);
    } else {
      PackFile(itemPath.c_str(), itemName.c_str(), walk.builder, walk.observer);
    }
  }
}

// Packs everything under a directory, depth first: a subdirectory is packed completely before
// the next item. A directory that cannot be listed adds nothing.
void WalkDirectory(const std::string& path, const std::string& name, Walk& walk,
                   int32_t parentIndex) {
  std::vector<platform::DirItem> items;
  if (!platform::ListDirectory(path.c_str(), items)) return;
  WalkItems(items, path, name, walk, parentIndex);
}

}  // namespace

bool PackEntryName(const std::string& path, std::string& name) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') {
      part += path[i];
      continue;
    }
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      if (parts.empty() && part.size() >= 2 && part[1] == ':') return false;  // "./C:"
      parts.push_back(part);
    }
    part.clear();
  }
  name.clear();
  for (const std::string& level : parts) name = JoinName(name, level);
  return true;
}

void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer) {
  if (path == nullptr) return;
  PackFile(path, path, builder, observer);
}

void AddDirToPkg(const char* dir, CPackageBuilder& builder, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk{builder, nullptr, observer};
  WalkDirectory(dir, TopName(dir), walk, -1);
}

void AddDirToPkgTree(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                     int32_t parentIndex, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk{builder, manager, observer};
  WalkDirectory(dir, TopName(dir), walk, parentIndex);
}

void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer) {
  CPackageBuilder builder;
  if (dir == nullptr || !builder.Create(packagePath)) return;
  std::vector<platform::DirItem> items;
  // A top directory that cannot be listed leaves the empty archive that Create wrote.
  if (!platform::ListDirectory(dir, items)) return;
  Walk walk{builder, nullptr, observer};
  WalkItems(items, dir, TopName(dir), walk, -1);
  builder.Finish();
}

void CreatePkgTree_Tool(const char* packagePath, const char* dir, CPackageManager* manager,
                        PackObserver* observer) {
  CPackageBuilder builder;
  if (dir == nullptr || !builder.Create(packagePath)) return;
  std::vector<platform::DirItem> items;
  if (!platform::ListDirectory(dir, items)) return;
  Walk walk{builder, manager, observer};
  if (manager != nullptr) {
    // The tree replaces the whole list, so that every node's index is its place in nodes.
    DirNodeList& list = manager->dirList;
    list.nodes.clear();
    list.count = 0;
    list.first = 0;
    AppendNode(list, JoinName(TopName(dir), "*.*"), -1);
  }
  WalkItems(items, dir, TopName(dir), walk, 0);
  builder.Finish();
}

}  // namespace korvo
