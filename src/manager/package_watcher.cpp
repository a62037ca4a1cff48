#include "manager/package_watcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "manager/package_manager.h"

namespace korvo {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == platform::PathSeparator;
}

}  // namespace

PackageWatcher::~PackageWatcher() {
  stopping_.store(true, std::memory_order_release);
  watch_.Wake();
  if (thread_.joinable()) thread_.join();
}

Status PackageWatcher::Start() {
  Status opened = watch_.Open();
  if (!opened.ok()) return opened;
  // Watching before the call returns: a file replaced right after it is not missed.
  Follow();
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return Status(StatusCode::NoMemory, std::string(), 0, "cannot start the watching thread");
  }
  return Status::Ok();
}

std::vector<PackageWatcher::Watched> PackageWatcher::Targets() const {
  std::vector<std::string> paths;
  {
    Mounts::Pin pin = manager_.PinMounts();
    for (size_t i = 0; i < pin.Set().PackageCount(); ++i) {
      paths.emplace_back(pin.Set().PackageAt(i)->path);
    }
  }
  if (manager_.ListFileName()[0] != '\0') {
    paths.push_back(std::string(manager_.RootDir()) + manager_.ListFileName());
  }
  std::vector<Watched> targets;
  for (const std::string& path : paths) {
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    Watched target;
    target.name = path.substr(cut);
    // The directory without its last separator, except for a root ("/"); "." for a bare name.
    target.directory = cut == 0 ? std::string(".") : path.substr(0, cut > 1 ? cut - 1 : cut);
    targets.push_back(std::move(target));
  }
  return targets;
}

void PackageWatcher::Follow() {
  try {
    std::vector<Watched> now = Targets();
    std::vector<std::string> dirs;
    for (const Watched& target : now) {
      if (std::find(dirs.begin(), dirs.end(), target.directory) == dirs.end()) {
        dirs.push_back(target.directory);
      }
    }
    // A directory that cannot be watched is left out; the others still are.
    if (dirs != directories_) (void)watch_.Watch(dirs);
    directories_ = std::move(dirs);
    targets_ = std::move(now);
  } catch (const std::exception&) {
    // No room for the lists: keep watching what was watched.
  }
}

void PackageWatcher::Run() {
  using Clock = std::chrono::steady_clock;
  bool armed = false;
  Clock::time_point due;
  std::vector<platform::DirectoryWatch::Change> changed;
  while (!stopping_.load(std::memory_order_acquire)) {
    int timeout = -1;
    if (armed) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, left.count()));
    }
    changed.clear();
    const auto outcome = watch_.Wait(timeout, changed);
    if (outcome == platform::DirectoryWatch::Outcome::Woken) continue;  // stopping
    if (outcome == platform::DirectoryWatch::Outcome::Failed) return;
    for (const auto& [place, name, renamedIn] : changed) {
      if (place >= directories_.size()) continue;
      for (const Watched& target : targets_) {
        // An empty name: changes were lost, so any file of the directory may have changed.
        if (target.directory == directories_[place] && (name.empty() || target.name == name)) {
          armed = true;
          due = Clock::now() +
                std::chrono::milliseconds(renamedIn ? CPackageManager::RenameSettleMilliseconds
                                                    : CPackageManager::SettleMilliseconds);
        }
      }
    }
    if (armed && Clock::now() >= due) {
      armed = false;
      (void)manager_.ReloadPackages();
      Follow();  // the mounts may lie elsewhere now
    }
  }
}

}  // namespace korvo
