// Watching directories for files that change: how a running host learns that a mounted
// archive was replaced. Linux: inotify (posix_watch.cpp); Windows: ReadDirectoryChangesW
// (win32_watch.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"

namespace korvo::platform {

// One thread waits (Wait) while any thread may wake it (Wake). Move-only.
class DirectoryWatch {
 public:
  DirectoryWatch();
  ~DirectoryWatch();
  DirectoryWatch(DirectoryWatch&&) noexcept;
  DirectoryWatch& operator=(DirectoryWatch&&) noexcept;
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  // Makes the watch ready; before it, Watch and Wait fail.
  Status Open();
  // Watches these directories instead of those watched before. A directory that cannot be
  // watched fails the call; the others are watched all the same.
  Status Watch(const std::vector<std::string>& directories);

  enum class Outcome { Changes, Timeout, Woken, Failed };
  // A file of a watched directory that changed: the directory's place in Watch's list, the file
  // name inside it (empty when changes were lost: any file may have changed), and whether it
  // was renamed into place (whole at once) rather than written, renamed away or removed.
  struct Change {
    size_t place = 0;
    std::string name;
    bool renamedIn = false;
  };
  // Waits at most timeoutMs milliseconds (negative: without limit) for a file of a watched
  // directory to be renamed into place, written and closed, renamed away or removed, and
  // appends what changed. Woken when Wake was called since the last Wait returned Woken.
  Outcome Wait(int timeoutMs, std::vector<Change>& changed);
  // Makes the Wait under way, or the next one, return Woken.
  void Wake();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvo::platform
