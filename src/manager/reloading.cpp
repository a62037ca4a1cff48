// Changing the mounts of a running manager as a whole: reloading the package list, removing a
// package, telling a listener which names changed, and the watcher that reloads by itself.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive/mapped_package.h"
#include "manager/package_list.h"
#include "manager/package_manager.h"
#include "manager/package_watcher.h"

namespace korvo {

namespace {

// Whether two located entries read as the same bytes: the same block of the same mapping, or
// blocks of the same sizes and kind whose packed bytes are equal.
bool SameBytes(const EntryInfo& a, const EntryInfo& b) {
  if (a.size != b.size || a.packedSize != b.packedSize || a.flags != b.flags) return false;
  if (a.package == b.package && a.offset == b.offset) return true;
  if (a.packedSize == 0) return true;
  const uint8_t* before = a.package->Block(a.offset, a.packedSize);
  const uint8_t* after = b.package->Block(b.offset, b.packedSize);
  if (before == nullptr || after == nullptr) return before == after;
  return std::memcmp(before, after, a.packedSize) == 0;
}

// The index names whose bytes differ between two sets, in byte order. Neither set may change
// meanwhile.
std::vector<std::string> ChangedNames(const MountSet& before, const MountSet& after) {
  std::vector<std::string> names;
  after.ForEach([&](std::string_view key, const IndexedEntry& now) {
    IndexedEntry was;
    if (!before.Find(key, was) || !SameBytes(was.info, now.info)) names.emplace_back(key);
  });
  before.ForEach([&](std::string_view key, const IndexedEntry&) {
    IndexedEntry now;
    if (!after.Find(key, now)) names.emplace_back(key);
  });
  std::sort(names.begin(), names.end());
  return names;
}

// The package of the set mounted under path with the given origin; null when none.
const PackageRecord* MountedAs(const MountSet& set, const char* path, bool listed) {
  for (size_t i = 0; i < set.PackageCount(); ++i) {
    const PackageRecord* record = set.PackageAt(i);
    if (record->listed == listed && std::strcmp(record->path, path) == 0) return record;
  }
  return nullptr;
}

}  // namespace

template <class Fill>
Status CPackageManager::ReplaceMounts(Fill fill) {
  std::shared_ptr<const ReloadListener> listener;
  {
    std::lock_guard<std::mutex> listening(listenerLock_);
    listener = listener_;
  }
  std::vector<std::string> changed;
  {
    std::lock_guard<std::mutex> mounting(mountLock_);
    std::unique_ptr<MountSet> next = mounts_.NewSet();
    if (next == nullptr) return Status(StatusCode::NoMemory);
    // Under the mount lock nothing changes the current set.
    const MountSet& now = mounts_.Set();
    Status filled = fill(now, *next);
    if (!filled.ok()) return filled;
    if (listener != nullptr) {
      try {
        changed = ChangedNames(now, *next);
      } catch (const std::exception&) {
        return Status(StatusCode::NoMemory, std::string(), 0, "no room for the changed names");
      }
    }
    mounts_.Replace(std::move(next));
    ResetDirNodes(dirList);
  }
  if (listener != nullptr) {
    try {
      (*listener)(changed);
    } catch (...) {
      // What the listener does with the names is its own business; the mounts are in place.
    }
  }
  // The replaced set is unmapped only now: the listener hears of the change without waiting
  // for that.
  mounts_.Reclaim();
  return Status::Ok();
}

Status CPackageManager::ReloadPackages(PackageListReport* report) {
  PackageListReport list;
  Status status = ReplaceMounts([&](const MountSet& now, MountSet& next) {
    list.rootDir = rootDir;
    list.listPath = std::string(rootDir) + listFileName;
    // No list at all reads as an empty one, as at start-up.
    if (listFileName[0] != '\0' && platform::PathExists(list.listPath.c_str())) {
      Status kept;
      ReadPackageList(list, [&](const char* path, MountReport& mounted) {
        Status status = mounts_.MountInto(next, path, &mounted, true);
        // There but not mountable now (an edit under way, a write not finished): the mapping
        // it had stays.
        const PackageRecord* before = status.ok() ? nullptr : MountedAs(now, path, true);
        if (before != nullptr) {
          Status carried = mounts_.Carry(next, *before);
          if (!carried.ok() && kept.ok()) kept = carried;
        }
        return status;
      });
      if (!list.listStatus.ok()) return list.listStatus;
      if (!kept.ok()) return kept;
    }
    for (size_t i = 0; i < now.PackageCount(); ++i) {
      const PackageRecord& added = *now.PackageAt(i);
      if (added.listed) continue;
      Status status = mounts_.MountInto(next, added.path, nullptr, false);
      if (!status.ok() && platform::PathExists(added.path)) {
        Status carried = mounts_.Carry(next, added);
        if (!carried.ok()) return carried;
      }
    }
    return Status::Ok();
  });
  if (report != nullptr) *report = std::move(list);
  return status;
}

Status CPackageManager::RemovePackage(const char* path) {
  if (path == nullptr) return Status(StatusCode::InvalidArgument, std::string(), 0, "no path");
  return ReplaceMounts([&](const MountSet& now, MountSet& next) {
    size_t removed = 0;
    for (size_t i = 0; i < now.PackageCount(); ++i) {
      const PackageRecord& record = *now.PackageAt(i);
      if (std::strcmp(record.path, path) == 0) {
        ++removed;
        continue;
      }
      Status carried = mounts_.Carry(next, record);
      if (!carried.ok()) return carried;
    }
    if (removed == 0) return Status(StatusCode::NotFound, path, 0, "no package is mounted as that");
    return Status::Ok();
  });
}

Status CPackageManager::SetReloadListener(ReloadListener listener) {
  std::shared_ptr<const ReloadListener> shared;
  if (listener) {
    try {
      shared = std::make_shared<const ReloadListener>(std::move(listener));
    } catch (const std::exception&) {
      return Status(StatusCode::NoMemory);
    }
  }
  std::lock_guard<std::mutex> listening(listenerLock_);
  listener_ = std::move(shared);
  return Status::Ok();
}

Status CPackageManager::WatchPackages(bool on) {
  std::lock_guard<std::mutex> watching(watcherLock_);
  if (!on) {
    watcher_.reset();
    return Status::Ok();
  }
  if (watcher_ != nullptr) return Status::Ok();
  std::unique_ptr<PackageWatcher> watcher(new (std::nothrow) PackageWatcher(*this));
  if (watcher == nullptr) return Status(StatusCode::NoMemory);
  Status started = watcher->Start();
  if (!started.ok()) return started;
  watcher_ = std::move(watcher);
  return Status::Ok();
}

}  // namespace korvo
