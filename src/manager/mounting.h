// The mounted packages and the name index over their entries.
//
// MountSet holds everything a lookup reads: the packages in mounting order and the index over
// their entries. Mounts owns the set and the rules for reading and changing it:
// - lookups take no lock: the index publishes a mount's entries as one batch, which a lookup
//   sees whole or not at all, and a lookup that meets a mount under way waits for it on the
//   index lock (see CNameIndex);
// - a mount inserts its entries under the index lock and then appends its package record;
//   mounts must not run at the same time (the manager runs them one at a time), and the
//   package records are read without a lock, so not beside a mount;
// - enumeration copies what it needs under the index lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <vector>

#include "common/status.h"
#include "manager/name_index.h"
#include "platform/platform.h"

namespace korvo {

class CMappedPackage;

// One mounted package. The record owns its package and closes it when it goes.
struct PackageRecord {
  PackageRecord() = default;
  ~PackageRecord();
  PackageRecord(PackageRecord&& other) noexcept;
  PackageRecord& operator=(PackageRecord&& other) noexcept;
  PackageRecord(const PackageRecord&) = delete;
  PackageRecord& operator=(const PackageRecord&) = delete;

  char path[platform::MaxPath] = {};  // the mount path as given, cut at 259 bytes
  CMappedPackage* package = nullptr;  // owned through this record
};

// What a mount took of a package's index.
struct MountReport {
  uint32_t listed = 0;   // records the header lists
  uint32_t indexed = 0;  // records read into the name index, from the first
  Status damage;  // ok, or the record at which the index breaks: it and those after it are left out
};

// The packages and the index over their entries, as one object.
class MountSet {
 public:
  explicit MountSet(size_t mostIndexBytes) : entries(mostIndexBytes) {}
  MountSet(const MountSet&) = delete;
  MountSet& operator=(const MountSet&) = delete;

  size_t PackageCount() const { return packages.size(); }
  // The record of the i-th package mounted; null when there is none.
  const PackageRecord* PackageAt(size_t i) const {
    return i < packages.size() ? &packages[i] : nullptr;
  }
  // Names in the index, each once.
  size_t EntryCount() const { return entries.size(); }

 private:
  friend class Mounts;
  std::vector<PackageRecord> packages;
  CNameIndex entries;
};

class Mounts {
 public:
  // mostIndexBytes bounds the memory of the name index: a mount that would need more fails and
  // changes nothing.
  explicit Mounts(size_t mostIndexBytes = CNameIndex::MostBytes) : set_(mostIndexBytes) {}
  Mounts(const Mounts&) = delete;
  Mounts& operator=(const Mounts&) = delete;

  // Maps the archive and indexes every entry the walk of its index yields; the last mount wins
  // for a name. All or nothing: on failure the set is as it was. A file that
  // CMappedPackage::CheckHeader would refuse is not mounted; an index that breaks after its
  // first record is mounted up to the break (report->damage says where).
  Status Mount(const char* path, MountReport* report);

  // The entry indexed under the folded key; false when there is none. Takes no lock unless a
  // mount is under way.
  bool Lookup(const FoldedName& key, IndexedEntry& found) const;
  // Calls f(key, entry) for every indexed key, in insertion order, under the index lock: f
  // must not call back into the mounts.
  template <class F>
  void ForEachLocked(F&& f) const {
    std::shared_lock<std::shared_mutex> reading(indexLock_);
    set_.entries.ForEach(f);
  }

  const MountSet& Set() const { return set_; }

 private:
  MountSet set_;
  // Excludes readers of the index from a mount; lookups take it only when they meet one.
  mutable std::shared_mutex indexLock_;
};

}  // namespace korvo
