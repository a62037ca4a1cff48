// DirectoryWatch over inotify, with a pipe that wakes the waiting thread.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/watch.h"

#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace korvo::platform {

struct DirectoryWatch::State {
  int notify = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::vector<std::pair<int, size_t>> watched;  // watch descriptor, place in Watch's list

  ~State() {
    for (int fd : {notify, wakeRead, wakeWrite}) {
      if (fd >= 0) close(fd);
    }
  }
};

DirectoryWatch::DirectoryWatch() = default;
DirectoryWatch::~DirectoryWatch() = default;
DirectoryWatch::DirectoryWatch(DirectoryWatch&&) noexcept = default;
DirectoryWatch& DirectoryWatch::operator=(DirectoryWatch&&) noexcept = default;

#if defined(__linux__)

Status DirectoryWatch::Open() {
  std::unique_ptr<State> state(new (std::nothrow) State());
  if (state == nullptr) return Status(StatusCode::NoMemory);
  state->notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (state->notify < 0) return Status::System(StatusCode::IoError, std::string(), errno);
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
    return Status::System(StatusCode::IoError, std::string(), errno);
  }
  state->wakeRead = ends[0];
  state->wakeWrite = ends[1];
  state_ = std::move(state);
  return Status::Ok();
}

Status DirectoryWatch::Watch(const std::vector<std::string>& directories) {
  if (state_ == nullptr) return Status(StatusCode::InvalidArgument);
  for (const auto& [descriptor, place] : state_->watched) {
    inotify_rm_watch(state_->notify, descriptor);
  }
  state_->watched.clear();
  Status status;
  for (size_t i = 0; i < directories.size(); ++i) {
    const int descriptor =
        inotify_add_watch(state_->notify, directories[i].c_str(),
                          IN_MOVED_TO | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
    if (descriptor < 0) {
      if (status.ok()) status = Status::System(StatusCode::IoError, directories[i], errno);
      continue;
    }
    state_->watched.emplace_back(descriptor, i);
  }
  return status;
}

DirectoryWatch::Outcome DirectoryWatch::Wait(int timeoutMs, std::vector<Change>& changed) {
  if (state_ == nullptr) return Outcome::Failed;
  pollfd waits[2] = {{state_->wakeRead, POLLIN, 0}, {state_->notify, POLLIN, 0}};
  const int ready = poll(waits, 2, timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) return errno == EINTR ? Outcome::Timeout : Outcome::Failed;
  if (ready == 0) return Outcome::Timeout;
  if (waits[0].revents != 0) {
    char drained[64];
    while (read(state_->wakeRead, drained, sizeof(drained)) > 0) {
    }
    return Outcome::Woken;
  }
  // Events are whole in every read; the buffer holds at least one of the longest.
  alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + 256)];
  bool any = false;
  for (;;) {
    const ssize_t got = read(state_->notify, buffer, sizeof(buffer));
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len == 0 || at > got) continue;
      for (const auto& [descriptor, place] : state_->watched) {
        if (descriptor != event->wd) continue;
        changed.push_back({place, std::string(event->name, strnlen(event->name, event->len)),
                           (event->mask & IN_MOVED_TO) != 0});
        any = true;
      }
    }
  }
  return any ? Outcome::Changes : Outcome::Timeout;
}

#else

// Without inotify there is nothing to wait on.
Status DirectoryWatch::Open() {
  return Status(StatusCode::InvalidArgument, std::string(), 0,
                "watching directories is not supported here");
}
Status DirectoryWatch::Watch(const std::vector<std::string>&) {
  return Open();
}
DirectoryWatch::Outcome DirectoryWatch::Wait(int, std::vector<Change>&) {
  return Outcome::Failed;
}

#endif

void DirectoryWatch::Wake() {
  if (state_ == nullptr) return;
  const char one = 1;
  // A full pipe already wakes the waiter.
  (void)!write(state_->wakeWrite, &one, 1);
}

}  // namespace korvo::platform
