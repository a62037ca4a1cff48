// CSortedNames: the keys of a name index in byte order, kept as the keys' positions in the
// index (one 32-bit number a key, no copy of a name), so that the keys under a prefix are a
// binary search and a walk of a range instead of a scan of the whole index.
//
// The index only ever gains keys in place (a name indexed again keeps its key), so a view is
// brought up to date by sorting the keys inserted since its last update and merging them in.
// The view has no lock of its own: its owner updates it where neither the index nor the view
// is being read, and reads it where neither is being changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "manager/name_index.h"

namespace korvo {

class CSortedNames {
 public:
  // True when the view holds every key of index (the one it is kept for).
  bool Current(const CNameIndex& index) const { return positions_.size() == index.size(); }
  // Sorts the keys inserted into index since the last update and merges them in. NoMemory
  // when there is no room for them; the view is then as it was.
  Status Update(const CNameIndex& index);

  size_t size() const { return positions_.size(); }
  // The position of the place-th key in byte order.
  uint32_t operator[](size_t place) const { return positions_[place]; }
  // The first place whose key is not less than key (LowerBound) or greater than it
  // (UpperBound); size() when there is none.
  size_t LowerBound(const CNameIndex& index, std::string_view key) const;
  size_t UpperBound(const CNameIndex& index, std::string_view key) const;

 private:
  std::vector<uint32_t> positions_;
  uint32_t end_ = 0;  // the index's end position at the last update
};

}  // namespace korvo
