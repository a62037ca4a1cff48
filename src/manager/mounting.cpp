#include "manager/mounting.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "archive/journal_format.h"
#include "archive/mapped_package.h"
#include "compat/dir_nodes.h"
#include "manager/package_manager.h"

namespace korvo {

namespace {

// An index record's usual size (a name of a few dozen bytes and the 18 fixed bytes), for
// archives whose header does not give the index size.
constexpr uint64_t LikelyRecordBytes = 64;

// Room for one more record, so that recording a package cannot fail once its entries are
// indexed. The vector's allocation is the one on this path that fails with an exception.
Status ReserveRecord(std::vector<PackageRecord>& packages, const char* path) {
  try {
    packages.reserve(packages.size() + 1);
  } catch (const std::exception&) {
    return Status(StatusCode::NoMemory, path, 0, "no room to record the package");
  }
  return Status::Ok();
}

}  // namespace

Mounts::Mounts(size_t mostIndexBytes)
    : mostIndexBytes_(mostIndexBytes), current_(new MountSet(mostIndexBytes)) {}

Mounts::~Mounts() {
  for (auto& [set, epoch] : retired_) delete set;
  delete current_.load(std::memory_order_acquire);
}

void Mounts::Pin::Leave() {
  if (owner_ == nullptr) return;
  const Mounts* owner = std::exchange(owner_, nullptr);
  owner->epochs_.Leave(slot_);
  // A reader that may hold a replaced set frees what no reader holds any more; the last one of
  // them finds every other gone.
  if (epoch_ < owner->newestRetired_.load(std::memory_order_acquire)) owner->Reclaim();
}

Mounts::Pin Mounts::Read() const {
  uint64_t epoch = 0;
  const size_t slot = epochs_.Enter(epoch);
  return Pin(this, current_.load(std::memory_order_seq_cst), slot, epoch);
}

void Mounts::Reclaim() const {
  // One set at a time, freed outside the lock: its unmapping may take a while.
  for (;;) {
    MountSet* quiet = nullptr;
    {
      std::lock_guard<std::mutex> retiring(retireLock_);
      for (size_t i = 0; i < retired_.size(); ++i) {
        if (!epochs_.Quiet(retired_[i].second)) continue;
        quiet = retired_[i].first;
        retired_[i] = retired_.back();
        retired_.pop_back();
        break;
      }
      if (retired_.empty()) newestRetired_.store(0, std::memory_order_release);
    }
    if (quiet == nullptr) return;
    delete quiet;  // unmaps what no other set shares
  }
}

std::unique_ptr<MountSet> Mounts::NewSet() const {
  return std::unique_ptr<MountSet>(new (std::nothrow) MountSet(mostIndexBytes_));
}

void Mounts::Replace(std::unique_ptr<MountSet> next) {
  MountSet* old = current_.exchange(next.release(), std::memory_order_seq_cst);
  const uint64_t epoch = epochs_.Advance();
  bool kept = false;
  {
    std::lock_guard<std::mutex> retiring(retireLock_);
    try {
      retired_.emplace_back(old, epoch);
      kept = true;
      newestRetired_.store(epoch, std::memory_order_release);
    } catch (const std::exception&) {
    }
  }
  if (!kept) {
    // No room to keep it for later: wait here for its readers instead.
    while (!epochs_.Quiet(epoch)) std::this_thread::yield();
    delete old;
  }
}

Status Mounts::Mount(const char* path, MountReport* report, bool listed) {
  return MountInto(*current_.load(std::memory_order_acquire), path, report, listed);
}

Status Mounts::MountInto(MountSet& set, const char* path, MountReport* report, bool listed) {
  if (report != nullptr) *report = MountReport();
  if (path == nullptr) return Status(StatusCode::InvalidArgument, std::string(), 0, "no path");
  if (HasHotJournal(path)) return Status(StatusCode::Locked, path, 0, "an edit was interrupted");
  std::shared_ptr<CMappedPackage> package;
  try {
    package = std::make_shared<CMappedPackage>();
  } catch (const std::exception&) {
    return Status(StatusCode::NoMemory, path);
  }
  Status opened = package->OpenWithStatus(path);
  if (!opened.ok()) return opened;
  return Index(set, std::move(package), path, report, listed,
               &set == current_.load(std::memory_order_acquire));
}

Status Mounts::Carry(MountSet& set, const PackageRecord& record) {
  return Index(set, record.owner, record.path, nullptr, record.listed, false);
}

Status Mounts::Index(MountSet& set, std::shared_ptr<CMappedPackage> package, const char* path,
                     MountReport* report, bool listed, bool published) {
  std::vector<PackageRecord>& packages = set.packages;
  CNameIndex& entries = set.entries;
  Status room = ReserveRecord(packages, path);
  if (!room.ok()) return room;
  // A file that is no archive, or whose index does not begin inside it, is not mounted.
  Status header = package->CheckHeaderFields();
  if (!header.ok()) return header;
  CMappedPackage* mapped = package.get();

  // Every record takes at least 2 bytes of the file: a huge count reserves no more than that.
  const uint64_t records =
      std::min<uint64_t>(static_cast<uint64_t>(std::max(SignedEntryCount(mapped->Header()), 0)),
                         mapped->FileSize() / IndexRecordFixedSize + 1);
  // How much of the file the index likely takes, for the read hint and the arena's first size:
  // what the header says, or about 64 bytes a record; the walk itself is bounded by the file.
  const uint32_t indexOffset = mapped->Header().indexOffset;
  const uint64_t indexGuess =
      mapped->Header().indexSize != 0 ? mapped->Header().indexSize : records * LikelyRecordBytes;
  const uint32_t indexBytes = static_cast<uint32_t>(std::min<uint64_t>(
      indexGuess, indexOffset < mapped->FileSize() ? mapped->FileSize() - indexOffset : 0));
  if (records > 0) mapped->WillRead(indexOffset, indexBytes);
  // The first record is read once, here: a package whose first record does not lie whole in
  // the file is no archive.
  RecordView view;
  const bool any = mapped->FirstRecord(view);
  if (!any && !mapped->WalkDamage().ok()) return mapped->FirstRecordRefusal();

  // A set that readers may be looking up: they wait for the mount only when they meet it.
  std::unique_lock<std::shared_mutex> writing(indexLock_, std::defer_lock);
  if (published) writing.lock();
  // Lock-free lookups see the index before this mount or after it, never half-way. The entries
  // go in as one batch: when the index cannot take them all, it takes none, and the package is
  // not recorded.
  CNameIndex::Change change(entries);
  // A hint: when the room cannot be had, Add and Commit say so.
  (void)entries.Reserve(static_cast<size_t>(records), indexBytes);
  uint32_t indexed = 0;
  if (any) {
    do {
      ++indexed;
      IndexedEntry value{{mapped, view.flags, view.offset, view.size, view.packedSize},
                         view.recordOffset};
      // A name already indexed takes the new entry's location; the key bytes stay.
      Status added = entries.Add(view.name != nullptr ? view.name : "", view.nameLength, value);
      if (!added.ok()) return Status(added.code(), path, 0, added.detail());
    } while (mapped->NextRecord(view));
  }
  Status committed = entries.Commit();
  if (!committed.ok()) return Status(committed.code(), path, 0, committed.detail());

  // The room was reserved above: this neither allocates nor fails.
  PackageRecord record;
  size_t length = std::min(std::strlen(path), sizeof(record.path) - 1);
  std::memcpy(record.path, path, length);
  record.package = mapped;
  record.listed = listed;
  record.owner = std::move(package);
  packages.push_back(std::move(record));

  if (report != nullptr) {
    report->listed = mapped->Header().entryCount;
    report->indexed = indexed;
    report->damage = mapped->WalkDamage();
  }
  return Status::Ok();
}

bool Mounts::Lookup(const Pin& pin, const FoldedName& key, IndexedEntry& found) const {
  // Without the lock first: the answer stands when no mount changed the index meanwhile.
  // Otherwise the lock waits for the mount under way.
  const CNameIndex& entries = pin.Set().entries;
  const uint64_t version = entries.Version();
  IndexedEntry candidate;
  const bool hit = entries.Find(key.View(), candidate);
  if (entries.Unchanged(version)) {
    if (hit) found = candidate;
    return hit;
  }
  std::shared_lock<std::shared_mutex> reading(indexLock_);
  return entries.Find(key.View(), found);
}

bool Mounts::NextKey(const Pin& pin, std::string_view prefix, KeyWalk& walk, NameBuffer& key,
                     IndexedEntry& entry) const {
  if (walk.ended) return false;
  const MountSet& set = pin.Set();
  std::shared_lock<std::shared_mutex> reading(indexLock_);
  std::unique_lock<std::shared_mutex> sorting(indexLock_, std::defer_lock);
  if (!walk.started) {
    if (!set.sorted.Current(set.entries)) {
      // Brought up to date where nobody reads the view; the step goes on under this lock.
      reading.unlock();
      sorting.lock();
      if (!set.sorted.Update(set.entries).ok()) {
        walk.ended = true;
        return false;
      }
    }
    walk.started = true;
    walk.end = set.entries.EndPosition();
    walk.place = set.sorted.LowerBound(set.entries, prefix);
    walk.viewSize = set.sorted.size();
  } else if (walk.viewSize != set.sorted.size()) {
    // Keys were merged in since the last step: the place after the last key moved.
    walk.place = set.sorted.UpperBound(set.entries, key.View());
    walk.viewSize = set.sorted.size();
  }
  for (; walk.place < set.sorted.size(); ++walk.place) {
    const uint32_t position = set.sorted[walk.place];
    const std::string_view found = set.entries.KeyAt(position);
    if (found.substr(0, prefix.size()) != prefix) break;  // past the keys under the prefix
    if (position >= walk.end) continue;                   // indexed after the walk began
    key.Assign(found);
    entry = set.entries.EntryAt(position);
    ++walk.place;
    return true;
  }
  walk.ended = true;
  return false;
}

bool CPackageManager::MountPackage(const char* path) {
  return Mount(path).ok();
}

Status CPackageManager::Mount(const char* path, MountReport* report, bool listed) {
  std::lock_guard<std::mutex> mounting(mountLock_);
  Status status = mounts_.Mount(path, report, listed);
  if (status.ok()) ResetDirNodes(dirList);
  return status;
}

}  // namespace korvo
