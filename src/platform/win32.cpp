// Win32 implementation of the platform layer: the Windows API and the C runtime (msvcrt).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h maps these names to CharNextA and CharPrevA; the layer's own functions keep them.
#undef CharNext
#undef CharPrev
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>

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

// Largest byte count handed to one _read or _write call.
constexpr uint32_t MaxChunk = 1u << 30;

}  // namespace

bool MapFileReadOnly(const char* path, FileMapping& mapping) {
  if (path == nullptr) return false;
  // Others may read a mounted package but not write it, and an archive open for editing
  // (which holds write access) cannot be mounted.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Only a regular disk file (a directory does not open without backup semantics anyway).
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low == 0) {
    // Unknown size, 4 GiB or more (offsets are 32-bit), or empty (nothing to map).
    CloseHandle(file);
    return false;
  }
  // Unnamed: two packages whose paths end in the same file name each map their own file.
  HANDLE section = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) {
    CloseHandle(file);
    return false;
  }
  const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    CloseHandle(section);
    CloseHandle(file);
    return false;
  }
  mapping.fileHandle = FromHandle(file);
  mapping.mappingHandle = FromHandle(section);
  mapping.view = static_cast<const uint8_t*>(view);
  mapping.size = low;
  return true;
}

void UnmapFile(FileMapping& mapping) {
  if (mapping.view != nullptr) UnmapViewOfFile(mapping.view);
  if (mapping.mappingHandle != 0) CloseHandle(ToHandle(mapping.mappingHandle));
  if (mapping.fileHandle != -1 && mapping.fileHandle != 0)
    CloseHandle(ToHandle(mapping.fileHandle));
  mapping.view = nullptr;
  mapping.mappingHandle = 0;
  mapping.fileHandle = -1;
  mapping.size = 0;
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

void DebugOutput(const char* message) {
  OutputDebugStringA(message != nullptr ? message : "");
}

bool RemoveFile(const char* path) {
  return path != nullptr && DeleteFileA(path) != 0;
}

const char* CharNext(const char* p) {
  if (p == nullptr || *p == '\0') return p;
  return CharNextA(p);
}

const char* CharPrev(const char* start, const char* p) {
  if (start == nullptr || p == nullptr || p <= start) return start;
  return CharPrevA(start, p);
}

int OpenForEdit(const char* path) {
  if (path == nullptr) return NoFile;
  // No create, no truncate. Others may read but not write while it is open; a mounted package
  // (opened sharing read only) cannot be opened here, and an archive open here cannot be mounted.
  int fd = _sopen(path, _O_RDWR | _O_BINARY, _SH_DENYWR);
  if (fd < 0) return NoFile;
  return fd;
}

int64_t ReadFd(int fd, void* buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    uint32_t chunk = count - done < MaxChunk ? count - done : MaxChunk;
    int n = _read(fd, static_cast<char*>(buffer) + done, chunk);
    if (n < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t WriteFd(int fd, const void* buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    uint32_t chunk = count - done < MaxChunk ? count - done : MaxChunk;
    int n = _write(fd, static_cast<const char*>(buffer) + done, chunk);
    if (n <= 0) return -1;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t SeekFd(int fd, int64_t offset, int whence) {
  int origin = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  __int64 result = _lseeki64(fd, offset, origin);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

int64_t FileLengthFd(int fd) {
  __int64 length = _filelengthi64(fd);
  return length < 0 ? -1 : static_cast<int64_t>(length);
}

bool TruncateFd(int fd, int64_t length) {
  return length >= 0 && _chsize_s(fd, length) == 0;
}

bool CommitFd(int fd) {
  return _commit(fd) == 0;
}

void CloseFd(int fd) {
  if (fd >= 0) _close(fd);
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

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && _isatty(_fileno(stream)) != 0;
}

void* OpenLibrary(const char* path) {
  if (path == nullptr) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryA(path));
}

void* LibrarySymbol(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace korvo::platform
