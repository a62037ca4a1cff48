// Comparing two archives as a lookup reads them, name by name, and writing the patch that, mounted
// after the old archive, makes every name of the new one read its new bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "authoring/package_merge.h"
#include "common/status.h"

namespace korvo {

enum class DiffChange : uint8_t { Added, Changed, Removed };

struct DiffItem {
  DiffChange change = DiffChange::Added;
  std::string name;      // as the new archive stores it (the old one for a removed name)
  uint32_t oldSize = 0;  // inflated sizes; 0 where the name is absent
  uint32_t newSize = 0;
  uint32_t packedSize = 0;  // the new block's size; 0 for a removed name
};

struct DiffReport {
  std::vector<DiffItem> items;  // the new archive's names in its order, then the removed ones
  uint64_t added = 0;
  uint64_t changed = 0;
  uint64_t removed = 0;
  uint64_t unchanged = 0;
  uint64_t inflated = 0;    // names whose blocks had to be inflated to compare them
  uint64_t patchBytes = 0;  // the patch archive's size, when one was written
};

// Compares the archives at oldPath and newPath: a name is added, changed (its inflated bytes
// differ) or removed; a rename is a removal and an addition. Blocks of equal size and equal
// stored bytes are equal without inflating them. With a patchPath, writes the added and changed
// entries there, atomically, blocks copied as they are. A source that is not a whole, readable
// archive or an entry that does not inflate fails the diff with a status naming that file, and
// then nothing is written.
Status DiffArchives(const std::string& oldPath, const std::string& newPath,
                    const std::string& patchPath, const MergeSettings& settings,
                    DiffReport& report);

}  // namespace korvo
