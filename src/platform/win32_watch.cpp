// DirectoryWatch over ReadDirectoryChangesW: one overlapped read per directory, and an event
// that wakes the waiting thread.
#include <windows.h>

#include <cstddef>
#include <new>

#include "platform/watch.h"

namespace korvo::platform {

namespace {

// Room for the notices of one read; each holds a name of up to 260 wide characters.
constexpr DWORD NoticeBytes = 16 * 1024;
constexpr DWORD WatchedChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

struct Directory {
  HANDLE handle = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped = {};
  size_t place = 0;
  bool pending = false;
  alignas(DWORD) BYTE notices[NoticeBytes];
};

bool StartRead(Directory& directory) {
  ResetEvent(directory.overlapped.hEvent);
  directory.pending =
      ReadDirectoryChangesW(directory.handle, directory.notices, NoticeBytes, FALSE, WatchedChanges,
                            nullptr, &directory.overlapped, nullptr) != 0;
  return directory.pending;
}

void Close(Directory& directory) {
  if (directory.pending) {
    CancelIo(directory.handle);
    DWORD ignored = 0;
    GetOverlappedResult(directory.handle, &directory.overlapped, &ignored, TRUE);
    directory.pending = false;
  }
  if (directory.handle != INVALID_HANDLE_VALUE) CloseHandle(directory.handle);
  if (directory.overlapped.hEvent != nullptr) CloseHandle(directory.overlapped.hEvent);
  directory.handle = INVALID_HANDLE_VALUE;
  directory.overlapped.hEvent = nullptr;
}

std::string Narrow(const WCHAR* text, int length) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
  if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], bytes, nullptr, nullptr);
  return out;
}

}  // namespace

struct DirectoryWatch::State {
  HANDLE wake = nullptr;
  std::vector<std::unique_ptr<Directory>> directories;

  void CloseAll() {
    for (auto& directory : directories) Close(*directory);
    directories.clear();
  }
  ~State() {
    CloseAll();
    if (wake != nullptr) CloseHandle(wake);
  }
};

DirectoryWatch::DirectoryWatch() = default;
DirectoryWatch::~DirectoryWatch() = default;
DirectoryWatch::DirectoryWatch(DirectoryWatch&&) noexcept = default;
DirectoryWatch& DirectoryWatch::operator=(DirectoryWatch&&) noexcept = default;

Status DirectoryWatch::Open() {
  std::unique_ptr<State> state(new (std::nothrow) State());
  if (state == nullptr) return Status(StatusCode::NoMemory);
  state->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  if (state->wake == nullptr) {
    return Status(StatusCode::IoError, std::string(), 0, "cannot create an event");
  }
  state_ = std::move(state);
  return Status::Ok();
}

Status DirectoryWatch::Watch(const std::vector<std::string>& directories) {
  if (state_ == nullptr) return Status(StatusCode::InvalidArgument);
  state_->CloseAll();
  Status status;
  for (size_t i = 0; i < directories.size(); ++i) {
    // One wait covers every directory and the wake event.
    if (state_->directories.size() + 1 >= MAXIMUM_WAIT_OBJECTS) {
      if (status.ok())
        status = Status(StatusCode::TooLarge, directories[i], 0, "too many directories to watch");
      break;
    }
    std::unique_ptr<Directory> directory(new (std::nothrow) Directory());
    if (directory == nullptr) return Status(StatusCode::NoMemory);
    directory->place = i;
    directory->handle =
        CreateFileA(directories[i].c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    directory->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (directory->handle == INVALID_HANDLE_VALUE || directory->overlapped.hEvent == nullptr ||
        !StartRead(*directory)) {
      if (status.ok()) {
        status = Status(StatusCode::IoError, directories[i], 0, "cannot watch the directory");
      }
      Close(*directory);
      continue;
    }
    state_->directories.push_back(std::move(directory));
  }
  return status;
}

DirectoryWatch::Outcome DirectoryWatch::Wait(int timeoutMs, std::vector<Change>& changed) {
  if (state_ == nullptr) return Outcome::Failed;
  HANDLE events[MAXIMUM_WAIT_OBJECTS];
  DWORD count = 0;
  events[count++] = state_->wake;
  for (auto& directory : state_->directories) events[count++] = directory->overlapped.hEvent;
  const DWORD waited =
      WaitForMultipleObjects(count, events, FALSE, timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
  if (waited == WAIT_TIMEOUT) return Outcome::Timeout;
  if (waited == WAIT_OBJECT_0) return Outcome::Woken;
  if (waited < WAIT_OBJECT_0 + 1 || waited >= WAIT_OBJECT_0 + count) return Outcome::Failed;
  Directory& directory = *state_->directories[waited - WAIT_OBJECT_0 - 1];
  DWORD bytes = 0;
  directory.pending = false;
  const bool read =
      GetOverlappedResult(directory.handle, &directory.overlapped, &bytes, FALSE) != 0;
  if (!read || bytes == 0) {
    // The notices overflowed the buffer, or were lost: report the directory itself, as an
    // empty name.
    changed.push_back({directory.place, std::string(), false});
  }
  for (DWORD at = 0; read && bytes >= sizeof(FILE_NOTIFY_INFORMATION) && at < bytes;) {
    const FILE_NOTIFY_INFORMATION* notice =
        reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(directory.notices + at);
    const DWORD end = at + offsetof(FILE_NOTIFY_INFORMATION, FileName) + notice->FileNameLength;
    if (end > bytes) break;
    changed.push_back({directory.place,
                       Narrow(notice->FileName, int(notice->FileNameLength / sizeof(WCHAR))),
                       notice->Action == FILE_ACTION_RENAMED_NEW_NAME});
    if (notice->NextEntryOffset == 0) break;
    at += notice->NextEntryOffset;
  }
  if (!StartRead(directory)) return Outcome::Failed;
  return Outcome::Changes;
}

void DirectoryWatch::Wake() {
  if (state_ != nullptr) SetEvent(state_->wake);
}

}  // namespace korvo::platform
