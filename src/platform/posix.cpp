// POSIX implementation of the platform layer.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"

namespace korvo::platform {

bool MapFileReadOnly(const char* path, FileMapping& mapping) {
  if (path == nullptr) return false;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > UINT32_MAX) {
    close(fd);
    return false;
  }
  // Readers share the file; the archive editor takes the exclusive lock.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  size_t length = static_cast<size_t>(st.st_size);
  void* view = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    return false;
  }
  mapping.fileHandle = fd;
  mapping.mappingHandle = 0;
  mapping.view = static_cast<const uint8_t*>(view);
  mapping.size = static_cast<uint32_t>(length);
  return true;
}

void UnmapFile(FileMapping& mapping) {
  if (mapping.view != nullptr) munmap(const_cast<uint8_t*>(mapping.view), mapping.size);
  if (mapping.fileHandle >= 0) close(static_cast<int>(mapping.fileHandle));
  mapping.view = nullptr;
  mapping.fileHandle = -1;
}

bool PathExists(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0;
}

bool IsDirectory(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExecutablePath() {
  std::string buffer(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return std::string();
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

void DebugOutput(const char* message) {
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  std::fflush(stderr);
}

bool RemoveFile(const char* path) {
  return path != nullptr && unlink(path) == 0;
}

const char* CharNext(const char* p) {
  if (p == nullptr || *p == '\0') return p;
  std::mbstate_t state{};
  size_t n = std::mbrlen(p, MB_CUR_MAX, &state);
  // An invalid or incomplete sequence steps one byte, as a single-byte character would.
  if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) n = 1;
  return p + n;
}

const char* CharPrev(const char* start, const char* p) {
  if (start == nullptr || p == nullptr || p <= start) return start;
  // Walk forward from the start; the last character that begins before p is the one before it.
  const char* previous = start;
  const char* q = start;
  while (q < p && *q != '\0') {
    previous = q;
    q = CharNext(q);
  }
  if (q < p) return p - 1;  // p lies past the terminator: step a byte
  return previous;
}

int OpenForEdit(const char* path) {
  if (path == nullptr) return NoFile;
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return NoFile;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return NoFile;
  }
  return fd;
}

int64_t ReadFd(int fd, void* buffer, uint32_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = read(fd, static_cast<char*>(buffer) + done, count - done);
    if (n < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t WriteFd(int fd, const void* buffer, uint32_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, static_cast<const char*>(buffer) + done, count - done);
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t SeekFd(int fd, int64_t offset, int whence) {
  int w = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  off_t r = lseek(fd, static_cast<off_t>(offset), w);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t FileLengthFd(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool TruncateFd(int fd, int64_t length) {
  return ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool CommitFd(int fd) {
  return fsync(fd) == 0;
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

bool ListDirectory(const char* dir, std::vector<DirItem>& items) {
  items.clear();
  if (dir == nullptr) return false;
  DIR* handle = opendir(dir);
  if (handle == nullptr) return false;
  std::string base(dir);
  while (dirent* entry = readdir(handle)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    std::string full = base + '/' + name;
    struct stat linkInfo {};
    if (lstat(full.c_str(), &linkInfo) != 0) continue;
    DirItem item;
    item.name = name;
    if (S_ISLNK(linkInfo.st_mode)) {
      struct stat target {};
      // A link to a directory is never descended; a dangling link is packed as a file that
      // cannot be opened, which gives no entry.
      if (stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) continue;
    } else {
      item.isDirectory = S_ISDIR(linkInfo.st_mode);
    }
    items.push_back(std::move(item));
  }
  closedir(handle);
  std::sort(items.begin(), items.end(),
            [](const DirItem& a, const DirItem& b) { return a.name < b.name; });
  return true;
}

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && isatty(fileno(stream)) == 1;
}

void* OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(void* library, const char* name) {
  return library != nullptr ? dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace korvo::platform
