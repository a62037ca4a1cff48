// Win32 implementation of the platform layer: the Windows API and the C runtime (msvcrt).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h maps these names to CharNextA, CharPrevA and ReplaceFileA; the layer's own functions
// keep them.
#undef CharNext
#undef CharPrev
#undef ReplaceFile
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/platform.h"

namespace korvo::platform {

namespace {

HANDLE ToHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}
intptr_t FromHandle(HANDLE handle) {
  return reinterpret_cast<intptr_t>(handle);
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The runtime's error number for a Windows error code, so that every cause carries one kind of
// number.
int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    default:
      return EIO;
  }
}

// Largest byte count handed to one _read or _write call.
constexpr uint32_t MaxChunk = 1u << 30;

// Writes all count bytes; 0, or the error number that stopped it.
int WriteLoop(int descriptor, const void* buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    uint32_t chunk = count - done < MaxChunk ? count - done : MaxChunk;
    int n = _write(descriptor, static_cast<const char*>(buffer) + done, chunk);
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

// A narrow path in the ANSI code page as the wide string that the W functions take.
std::wstring Widen(const char* path) {
  int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

}  // namespace

Status MapFileReadOnly(const char* path, Mapping& mapping) {
  mapping.Reset();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  // Others may read a mounted package but not write it, and an archive open for editing
  // (which holds write access) cannot be mounted.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
      return Status::System(StatusCode::Locked, path, ErrnoFromWin32(error), LockedDetail);
    // A directory does not open without backup semantics: the refusal says what it is.
    if (IsDirectory(path)) return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return MissingFile(path);
    return Status::System(StatusCode::IoError, path, ErrnoFromWin32(error), "cannot open");
  }
  // From here the handles are owned by the mapping, which closes them on every failure.
  mapping.fileHandle_ = FromHandle(file);
  // Only a regular disk file (a directory does not open without backup semantics anyway).
  if (GetFileType(file) != FILE_TYPE_DISK) {
    mapping.Reset();
    return Status(StatusCode::InvalidArgument, path, 0, "not a regular file");
  }
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    int error = ErrnoFromWin32(GetLastError());
    mapping.Reset();
    return Status::System(StatusCode::IoError, path, error);
  }
  if (high != 0) {
    mapping.Reset();
    return Status(StatusCode::TooLarge, path, 0, "file of 4 GiB or more");
  }
  if (low == 0) {
    mapping.Reset();
    return Status(StatusCode::Corrupt, path, 0, "empty file");
  }
  // Unnamed: two packages whose paths end in the same file name each map their own file.
  HANDLE section = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) {
    int error = ErrnoFromWin32(GetLastError());
    mapping.Reset();
    return Status::System(StatusCode::IoError, path, error);
  }
  mapping.mappingHandle_ = FromHandle(section);
  const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    int error = ErrnoFromWin32(GetLastError());
    mapping.Reset();
    return Status::System(StatusCode::IoError, path, error, "cannot map");
  }
  mapping.view_ = static_cast<const uint8_t*>(view);
  openMappings.fetch_add(1, std::memory_order_relaxed);
  mapping.size_ = low;
  return Status::Ok();
}

void Mapping::Reset() {
  if (view_ != nullptr) {
    UnmapViewOfFile(view_);
    openMappings.fetch_sub(1, std::memory_order_release);
  }
  if (mappingHandle_ != 0) CloseHandle(ToHandle(mappingHandle_));
  if (fileHandle_ != -1 && fileHandle_ != 0) CloseHandle(ToHandle(fileHandle_));
  view_ = nullptr;
  mappingHandle_ = 0;
  fileHandle_ = -1;
  size_ = 0;
}

void Mapping::Swap(Mapping& other) noexcept {
  std::swap(fileHandle_, other.fileHandle_);
  std::swap(mappingHandle_, other.mappingHandle_);
  std::swap(view_, other.view_);
  std::swap(size_, other.size_);
}

uint32_t Mapping::WillRead(uint32_t offset, uint32_t length) const {
  if (view_ == nullptr || offset >= size_) return 0;
  length = std::min(length, size_ - offset);
  // PrefetchVirtualMemory exists from Windows 8 on; older systems simply take the faults.
  struct RangeEntry {
    void* address;
    SIZE_T bytes;
  };
  using PrefetchFunction = BOOL(WINAPI*)(HANDLE, ULONG_PTR, RangeEntry*, ULONG);
  static const PrefetchFunction prefetch =
      reinterpret_cast<PrefetchFunction>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA("kernel32.dll"), "PrefetchVirtualMemory")));
  if (prefetch == nullptr) return length;
  RangeEntry range{const_cast<uint8_t*>(view_) + offset, length};
  prefetch(GetCurrentProcess(), 1, &range, 0);
  return length;
}

SystemBlock AllocateSystemBlock(size_t bytes) {
  void* base = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base == nullptr) return SystemBlock{};
  return SystemBlock{base, bytes, base, bytes};
}

void FreeSystemBlock(void* base, size_t) {
  VirtualFree(base, 0, MEM_RELEASE);
}

void DiscardSystemBlock(void* data, size_t size) {
  // The pages stay committed and readable; the system may drop their contents.
  VirtualAlloc(data, size, MEM_RESET, PAGE_READWRITE);
}

bool PathExists(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  // A directory search finds files and directories alike; wildcards act as wildcards. It finds
  // nothing for a path with a trailing separator, so those are dropped first; such a path
  // then names a directory only.
  std::string pattern(path);
  while (!pattern.empty() && IsSeparator(pattern.back())) pattern.pop_back();
  const bool directoryOnly = pattern.size() != std::strlen(path);
  if (pattern.empty() || pattern.back() == ':') {
    // A root ("\", "C:\", "C:") is never found by a search, but may exist.
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return !directoryOnly || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDirectory(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

Status StampPath(const char* path, FileStamp& stamp) {
  if (path == nullptr || *path == '\0') return Status(StatusCode::InvalidArgument);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) {
    return OpenStatus(path, ErrnoFromWin32(GetLastError()));
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    return Status(StatusCode::InvalidArgument, path, 0, "not a regular file");
  }
  stamp.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  stamp.modified = static_cast<int64_t>((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                        data.ftLastWriteTime.dwLowDateTime);
  return Status::Ok();
}

std::string ExecutablePath() {
  // GetModuleFileNameA(NULL) names the process's main executable, not this module. It cuts
  // a path that does not fit and then fills the whole buffer, so grow until it fits.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  // Both times count 100-nanosecond intervals.
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
}

void DebugOutput(const char* message) {
  OutputDebugStringA(message != nullptr ? message : "");
}

Status RemoveFile(const char* path) {
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  if (DeleteFileA(path) == 0) return OpenStatus(path, ErrnoFromWin32(GetLastError()));
  return Status::Ok();
}

Status OpenForRead(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  int fd = _sopen(path, _O_RDONLY | _O_BINARY, _SH_DENYNO);
  if (fd < 0) {
    int error = errno;
    // A directory does not open here; the runtime calls that a denied access.
    if (error == EACCES && IsDirectory(path)) {
      return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
    }
    return OpenStatus(path, error);
  }
  file = File(fd, path);
  return Status::Ok();
}

Status CreateNew(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  int fd = _sopen(path, _O_RDWR | _O_BINARY | _O_CREAT | _O_EXCL, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (fd < 0) return OpenStatus(path, errno);
  file = File(fd, path);
  return Status::Ok();
}

Status ReplaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return Status(StatusCode::InvalidArgument);
  std::wstring source = Widen(from), target = Widen(to);
  if (source.empty() || target.empty()) return Status(StatusCode::InvalidArgument, to);
  // Write-through: the call returns once the rename is on the disk.
  if (!MoveFileExW(source.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Status::System(StatusCode::IoError, to, ErrnoFromWin32(GetLastError()));
  }
  return Status::Ok();
}

Status SyncDirectoryOf(const char* path) {
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  // Windows cannot flush a directory; a write-through rename and flushed files stand for it.
  return Status::Ok();
}

Status ResolveReplaceTarget(const char* path, ReplaceTarget& target) {
  target = ReplaceTarget();
  if (path == nullptr || *path == '\0') return Status(StatusCode::InvalidArgument);
  target.path = path;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status::Ok();
    return Status::System(StatusCode::IoError, path, ErrnoFromWin32(error));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Status::System(StatusCode::InvalidArgument, path, EISDIR);
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Renaming over a link would replace the link itself.
    return Status(StatusCode::InvalidArgument, path, 0,
                  "a symbolic link or reparse point; refusing to replace it, give its target");
  }
  // Opened for no access at all, only to ask what kind of file it is and which one.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Status::System(StatusCode::IoError, path, ErrnoFromWin32(GetLastError()));
  }
  DWORD type = GetFileType(handle);
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
  DWORD error = GetLastError();
  CloseHandle(handle);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
    target.writeThrough = true;
    return Status::Ok();
  }
  if (!known) return Status::System(StatusCode::IoError, path, ErrnoFromWin32(error));
  target.exists = true;
  target.mode = attributes;
  target.identity.device = info.dwVolumeSerialNumber;
  target.identity.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return Status::Ok();
}

Status IdentifyFile(File& file, FileIdentity& identity) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.Descriptor()));
  if (handle == INVALID_HANDLE_VALUE)
    return Status::System(StatusCode::IoError, file.Path(), EBADF);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    return Status::System(StatusCode::IoError, file.Path(), ErrnoFromWin32(GetLastError()));
  }
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return Status::Ok();
}

Status InspectReplaceTarget(const char* path, ReplaceTarget& target) {
  Status status = ResolveReplaceTarget(path, target);
  if (!status.ok()) return status;
  if (target.writeThrough) return Status(StatusCode::InvalidArgument, path, 0, "not a file");
  if (target.exists && (target.mode & FILE_ATTRIBUTE_READONLY) != 0) {
    return Status::System(StatusCode::IoError, path, EACCES);
  }
  return Status::Ok();
}

Status OpenForWriteThrough(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  int fd = _sopen(path, _O_WRONLY | _O_APPEND | _O_BINARY, _SH_DENYNO);
  if (fd < 0) return OpenStatus(path, errno);
  file = File(fd, path);
  return Status::Ok();
}

Status ApplyTargetMode(File&, const ReplaceTarget&, const char*) {
  // The new file keeps the attributes it was created with; a read-only target was refused.
  return Status::Ok();
}

const char* CharNext(const char* p) {
  if (p == nullptr || *p == '\0') return p;
  return CharNextA(p);
}

const char* CharPrev(const char* start, const char* p) {
  if (start == nullptr || p == nullptr || p <= start) return start;
  return CharPrevA(start, p);
}

Status OpenForEdit(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  // No create, no truncate. Others may read but not write while it is open; a mounted package
  // (opened sharing read only) cannot be opened here, and an archive open here cannot be mounted.
  int fd = _sopen(path, _O_RDWR | _O_BINARY, _SH_DENYWR);
  if (fd < 0) {
    int error = errno;
    if (error == ENOENT) return MissingFile(path);
    if (IsDirectory(path)) return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
    // A sharing violation shows as EACCES from the runtime; an existing file that cannot be
    // opened for writing is taken as in use.
    if (error == EACCES && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES &&
        (GetFileAttributesA(path) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0)
      return Status::System(StatusCode::Locked, path, error, LockedDetail);
    return Status::System(StatusCode::IoError, path, error);
  }
  file = File(fd, path);
  return Status::Ok();
}

Status File::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  while (got < count) {
    uint32_t chunk = count - got < MaxChunk ? count - got : MaxChunk;
    int n = _read(descriptor_, static_cast<char*>(buffer) + got, chunk);
    if (n < 0) return Failure(errno);
    if (n == 0) break;
    got += static_cast<uint32_t>(n);
  }
  return Status::Ok();
}

Status File::Write(const void* buffer, uint32_t count) {
  int error = WriteLoop(descriptor_, buffer, count);
  return error == 0 ? Status::Ok() : Failure(error);
}

Status File::Seek(int64_t offset) {
  if (_lseeki64(descriptor_, offset, SEEK_SET) < 0) return Failure(errno);
  return Status::Ok();
}

Status StdioFileLength(std::FILE* file, const char* path, int64_t& length) {
  length = 0;
  if (file == nullptr) return Status(StatusCode::InvalidArgument, path != nullptr ? path : "");
  __int64 measured = _filelengthi64(_fileno(file));
  if (measured < 0) return Status::System(StatusCode::IoError, path != nullptr ? path : "", errno);
  length = static_cast<int64_t>(measured);
  return Status::Ok();
}

Status File::Length(int64_t& length) {
  length = 0;
  __int64 measured = _filelengthi64(descriptor_);
  if (measured < 0) return Failure(errno);
  length = static_cast<int64_t>(measured);
  return Status::Ok();
}

Status File::Truncate(int64_t length) {
  if (length < 0) return Failure(EINVAL);
  // _chsize_s reports its error as its result, not in errno.
  int error = _chsize_s(descriptor_, length);
  return error == 0 ? Status::Ok() : Failure(error);
}

Status File::Sync() {
  if (_commit(descriptor_) != 0) return Failure(errno);
  return Status::Ok();
}

Status File::StartWriteBack() {
  return Sync();
}

Status File::Close() {
  if (descriptor_ < 0) return Status::Ok();
  int result = _close(descriptor_);
  descriptor_ = -1;
  return result == 0 ? Status::Ok() : Failure(errno);
}

bool ListDirectory(const char* dir, std::vector<DirItem>& items) {
  items.clear();
  if (dir == nullptr || *dir == '\0') return false;
  std::string base(dir);
  std::string pattern = base;
  if (!IsSeparator(pattern.back())) pattern += PathSeparator;
  pattern += "*.*";
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty root directory lists nothing, not even "." and "..", yet it exists.
    return GetLastError() == ERROR_FILE_NOT_FOUND && IsDirectory(dir);
  }
  do {
    const char* name = data.cFileName;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A junction or a directory link is never descended: it may point back up the tree.
    if (isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    DirItem item;
    item.name = name;
    item.isDirectory = isDirectory;
    items.push_back(std::move(item));
  } while (FindNextFileA(search, &data));
  // The listing ends with ERROR_NO_MORE_FILES; any other error ends it early as well.
  FindClose(search);
  return true;
}

}  // namespace korvo::platform
