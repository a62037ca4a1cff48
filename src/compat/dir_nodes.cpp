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

}  // namespace korvo
