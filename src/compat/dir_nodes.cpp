#include "compat/dir_nodes.h"

#include <cstring>

namespace korvo {

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

void ResetDirNodes(DirNodeList& list) {
  list.nodes.clear();
  list.count = 0;
  list.first = 0;
  DirNode root{};
  SetDirNodeName(root, "Root");
  root.parent = 0;
  list.nodes.push_back(root);
  list.count = 1;
}

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

}  // namespace korvo
