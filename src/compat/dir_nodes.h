// The directory-node list: one node per item of a packed tree, kept by a manager for the
// authoring operations. Tree packing builds it, the single-entry add and delete extend and
// shrink it, and every successful mount resets it to the root alone. Nothing on the reading
// path reads it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace korvo {

// One node of the directory-node list.
struct DirNode {
  char name[platform::MaxPath];  // NUL-terminated
  int32_t parent;                // index of the parent node in the same list
};

struct DirNodeList {
  // Reserves room for 512 nodes.
  DirNodeList();
  ~DirNodeList();

  std::vector<DirNode> nodes;  // the list proper is the first `count` nodes
  int32_t count = 0;
  int32_t first = 0;  // first node that the single-entry delete searches
};

// Copies text into a node's name field, cut at 259 bytes and always terminated.
void SetDirNodeName(DirNode& node, const char* text);

// What a successful mount leaves: the one node "Root" with parent 0, count 1, first 0. Takes
// no memory while the list still has the room reserved at its construction.
void ResetDirNodes(DirNodeList& list);

// The node step of adding one entry: appends a node for entryName whose parent is the first
// node, from node 0 on, whose name lies within entryName (node 0 when none does).
void AddEntryNode(DirNodeList& list, const char* entryName);
// The node step of deleting one entry: removes the first node, searched from node `first` on,
// whose name contains entryName. The nodes behind it move up one place, and parent numbers
// above the removed index drop by one.
void RemoveEntryNode(DirNodeList& list, const char* entryName);

}  // namespace korvo
