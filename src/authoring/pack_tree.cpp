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
// backslash, after the caller's directory text exactly as given).
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
  return dir + '\\' + item;
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

void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer) {
  if (path == nullptr) return;
  PackFile(path, path, builder, observer);
}

void AddDirToPkg(const char* dir, CPackageBuilder& builder, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk{builder, nullptr, observer};
  WalkDirectory(dir, dir, walk, -1);
}

void AddDirToPkgTree(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                     int32_t parentIndex, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk{builder, manager, observer};
  WalkDirectory(dir, dir, walk, parentIndex);
}

void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer) {
  CPackageBuilder builder;
  if (dir == nullptr || !builder.Create(packagePath)) return;
  std::vector<platform::DirItem> items;
  // A top directory that cannot be listed leaves the empty archive that Create wrote.
  if (!platform::ListDirectory(dir, items)) return;
  Walk walk{builder, nullptr, observer};
  WalkItems(items, dir, dir, walk, -1);
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
    AppendNode(list, JoinName(dir, "*.*"), -1);
  }
  WalkItems(items, dir, dir, walk, 0);
  builder.Finish();
}

}  // namespace korvo
