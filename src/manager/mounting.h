// The mounted packages and the name index over their entries.
//
// MountSet holds everything a lookup reads: the packages in mounting order and the index over
// their entries. Mounts owns the current set and the rules for reading and changing it:
// - a reader pins the current set (Pin) and reads that set until the pin ends, without a lock:
//   the pin is an entry in ReadEpochs, so a set replaced meanwhile lives on until its last
//   reader has left, and only then is it freed and its packages unmapped;
// - AddPackage's mount changes the current set in place: the index publishes a mount's entries
//   as one batch, which a lookup sees whole or not at all, and a lookup that meets a mount
//   under way waits for it on the index lock (see CNameIndex);
// - a reload or a removal builds a whole new set off to the side (NewSet, MountInto, Carry)
//   and publishes it with Replace: a reader sees the old set or the new one, never a mix;
// - every change runs under the manager's mount lock, one at a time; the package records are
//   read without a lock, so only through a pin or not beside a change;
// - each set keeps its keys in byte order (CSortedNames) for enumeration, brought up to date
//   under the index lock held exclusively the first time it is needed after a mount in place
//   (a set built off to the side gets it on its first enumeration), and read under the index
//   lock shared, one key at a time, so that no lock is held while a caller looks at the key.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/status.h"
#include "manager/name_index.h"
#include "manager/read_epochs.h"
#include "manager/sorted_names.h"
#include "platform/platform.h"

namespace korvo {

class CMappedPackage;

// One mounted package. The sets that hold the package share it; the last one to go closes it.
struct PackageRecord {
  PackageRecord() = default;
  PackageRecord(PackageRecord&& other) noexcept = default;
  PackageRecord& operator=(PackageRecord&& other) noexcept = default;
  PackageRecord(const PackageRecord&) = delete;
  PackageRecord& operator=(const PackageRecord&) = delete;

  char path[platform::MaxPath] = {};  // the mount path as given, cut at 259 bytes
  CMappedPackage* package = nullptr;  // owner.get()
  bool listed = false;                // mounted from the package list, not by AddPackage
  std::shared_ptr<CMappedPackage> owner;
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
  // The entry indexed under the folded key; false when there is none. Safe only beside no
  // change of this set (a replacement built off to the side, or under the mount lock).
  bool Find(std::string_view key, IndexedEntry& found) const { return entries.Find(key, found); }
  // Calls f(key, entry) for every indexed key, in insertion order; not beside a change.
  template <class F>
  void ForEach(F&& f) const {
    entries.ForEach(f);
  }

 private:
  friend class Mounts;
  std::vector<PackageRecord> packages;
  CNameIndex entries;
  mutable CSortedNames sorted;  // the keys of entries in byte order; under the index lock
};

class Mounts {
 public:
  // mostIndexBytes bounds the memory of each set's name index: a mount that would need more
  // fails and changes nothing.
  explicit Mounts(size_t mostIndexBytes = CNameIndex::MostBytes);
  // Frees the current set and every replaced one; no reader may be left.
  ~Mounts();
  Mounts(const Mounts&) = delete;
  Mounts& operator=(const Mounts&) = delete;

  // The current set, kept alive for as long as the pin lives. Move-only.
  class Pin {
   public:
    Pin(Pin&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)),
          set_(other.set_),
          slot_(other.slot_),
          epoch_(other.epoch_) {}
    Pin& operator=(Pin&& other) noexcept {
      if (this != &other) {
        Leave();
        owner_ = std::exchange(other.owner_, nullptr);
        set_ = other.set_;
        slot_ = other.slot_;
        epoch_ = other.epoch_;
      }
      return *this;
    }
    ~Pin() { Leave(); }
    const MountSet& Set() const { return *set_; }

   private:
    friend class Mounts;
    // Ends the pin; a pin moved from or ended already does nothing.
    void Leave();
    Pin(const Mounts* owner, const MountSet* set, size_t slot, uint64_t epoch)
        : owner_(owner), set_(set), slot_(slot), epoch_(epoch) {}
    const Mounts* owner_;
    const MountSet* set_;
    size_t slot_;
    uint64_t epoch_;  // the epoch the reader entered at
  };
  Pin Read() const;

  // Maps the archive and indexes every entry the walk of its index yields, into the current
  // set; the last mount wins for a name. All or nothing: on failure the set is as it was. A
  // file that CMappedPackage::CheckHeader would refuse is not mounted; an index that breaks
  // after its first record is mounted up to the break (report->damage says where).
  Status Mount(const char* path, MountReport* report, bool listed = false);

  // A replacement, built off to the side where no reader sees it: an empty set, the mount of
  // a file into it (as Mount does), and a package already mounted in the current set indexed
  // into it again without mapping the file again.
  std::unique_ptr<MountSet> NewSet() const;
  Status MountInto(MountSet& set, const char* path, MountReport* report, bool listed);
  Status Carry(MountSet& set, const PackageRecord& record);
  // Publishes next as the current set. The set it replaces is freed once no reader pinned it:
  // by the last such reader as it leaves, or by Reclaim.
  void Replace(std::unique_ptr<MountSet> next);
  // Frees the replaced sets that no reader holds. Unmapping a large archive takes a while (the
  // system drops its cached pages), so a caller that replaced a set calls this once what waits
  // on the new set is done.
  void Reclaim() const;

  // The entry indexed under the folded key in the pinned set; false when there is none. Takes
  // no lock unless a mount into that set is under way.
  bool Lookup(const Pin& pin, const FoldedName& key, IndexedEntry& found) const;
  bool Lookup(const FoldedName& key, IndexedEntry& found) const {
    return Lookup(Read(), key, found);
  }
  // Where a walk of a pinned set's keys in byte order stands (see NextKey).
  struct KeyWalk {
    bool started = false;
    bool ended = false;
    size_t place = 0;     // the next place in the set's sorted keys
    size_t viewSize = 0;  // how many keys they held when place was found
    uint32_t end = 0;     // keys indexed from this position on came after the walk began
  };
  // Copies the next key of the pinned set in byte order that starts with prefix (folded) into
  // key, and its entry into entry; false when there is none left. A walk yields the keys the
  // set held at its first step, each once, with their entries as they are when reached. The
  // index lock is held during a step only: between steps the caller may do anything, mount a
  // package included. Allocates nothing once the set's sorted keys are up to date (the first
  // step brings them up to date; false when there is no room for that).
  bool NextKey(const Pin& pin, std::string_view prefix, KeyWalk& walk, NameBuffer& key,
               IndexedEntry& entry) const;

  // The current set; only beside no change.
  const MountSet& Set() const { return *current_.load(std::memory_order_acquire); }

 private:
  // Indexes the mapped package into set and records it there; published: readers may be
  // looking the set up meanwhile.
  Status Index(MountSet& set, std::shared_ptr<CMappedPackage> package, const char* path,
               MountReport* report, bool listed, bool published);

  size_t mostIndexBytes_;
  std::atomic<MountSet*> current_{nullptr};
  mutable ReadEpochs epochs_;
  // Replaced sets and the epoch from which on no new reader pins them.
  mutable std::mutex retireLock_;
  mutable std::vector<std::pair<MountSet*, uint64_t>> retired_;
  // The epoch of the newest replaced set not yet freed; 0 when none waits.
  mutable std::atomic<uint64_t> newestRetired_{0};
  // Excludes readers of the index from a mount in place; lookups take it only when they meet
  // one.
  mutable std::shared_mutex indexLock_;
};

}  // namespace korvo
