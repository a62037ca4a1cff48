// PackageWatcher: the thread that reloads a manager's packages when their files are replaced.
//
// It watches the directories of the mounted archives and of the package list. A change to one
// of those files (renamed into place, written and closed, renamed away or removed) arms a
// reload, which runs once no further change to them has come for a while, so a file still
// being written in place is not read half-way: CPackageManager::SettleMilliseconds, or only
// RenameSettleMilliseconds after a file renamed into place, which is whole from the start.
// After each reload the watched directories follow the new set of mounts.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/status.h"
#include "platform/watch.h"

namespace korvo {

class CPackageManager;

class PackageWatcher {
 public:
  explicit PackageWatcher(CPackageManager& manager) : manager_(manager) {}
  // Stops the thread and waits for it.
  ~PackageWatcher();
  PackageWatcher(const PackageWatcher&) = delete;
  PackageWatcher& operator=(const PackageWatcher&) = delete;

  // Opens the watch and starts the thread.
  Status Start();

 private:
  // A file the watcher reacts to: its directory (as watched) and its name there.
  struct Watched {
    std::string directory;
    std::string name;
  };
  std::vector<Watched> Targets() const;
  // Watches the directories of the current targets.
  void Follow();
  void Run();

  CPackageManager& manager_;
  platform::DirectoryWatch watch_;
  std::vector<Watched> targets_;
  std::vector<std::string> directories_;  // as watched, in the order given to the watch
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace korvo
