// POSIX implementation of the platform layer.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace korvo::platform {

namespace {

// Writes all count bytes; 0, or the error number that stopped it.
int WriteLoop(int descriptor, const void* buffer, uint32_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(descriptor, static_cast<const char*>(buffer) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// The directory part of path: "." for a bare name, "/" for a name at the root.
std::string DirectoryOf(const char* path) {
  std::string text(path);
  size_t slash = text.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return text.substr(0, slash);
}

// Opens an existing regular file and takes an advisory lock on it without waiting: shared for
// readers (mounts), exclusive for the archive editor. st receives the file's status.
Status OpenRegularFile(const char* path, int flags, int lock, File& file, struct stat& st) {
  File opened(open(path, flags | O_CLOEXEC), path);
  if (!opened.IsOpen()) {
    int error = errno;
    return Status::System(error == ENOENT ? StatusCode::NotFound : StatusCode::IoError, path,
                          error);
  }
  if (fstat(opened.Descriptor(), &st) != 0) return Status::System(StatusCode::IoError, path, errno);
  if (S_ISDIR(st.st_mode)) return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
  if (!S_ISREG(st.st_mode)) {
    return Status(StatusCode::InvalidArgument, path, 0, "not a regular file");
  }
  if (flock(opened.Descriptor(), lock | LOCK_NB) != 0)
    return Status::System(StatusCode::Locked, path, errno, LockedDetail);
  file = std::move(opened);
  return Status::Ok();
}

}  // namespace

Status MapFileReadOnly(const char* path, Mapping& mapping) {
  mapping.Reset();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  File file;
  struct stat st {};
  Status opened = OpenRegularFile(path, O_RDONLY, LOCK_SH, file, st);
  if (opened.code() == StatusCode::NotFound) return MissingFile(path);
  if (opened.code() == StatusCode::IoError) {
    return Status::System(StatusCode::IoError, path, opened.systemError(), "cannot open");
  }
  if (!opened.ok()) return opened;
  if (st.st_size <= 0) return Status(StatusCode::Corrupt, path, 0, "empty file");
  if (static_cast<uint64_t>(st.st_size) > UINT32_MAX)
    return Status(StatusCode::TooLarge, path, 0, "file of 4 GiB or more");
  size_t length = static_cast<size_t>(st.st_size);
  void* view = mmap(nullptr, length, PROT_READ, MAP_SHARED, file.Descriptor(), 0);
  if (view == MAP_FAILED) return Status::System(StatusCode::IoError, path, errno, "cannot map");
  mapping.fileHandle_ = file.Release();
  mapping.mappingHandle_ = 0;
  mapping.view_ = static_cast<const uint8_t*>(view);
  openMappings.fetch_add(1, std::memory_order_relaxed);
  mapping.size_ = static_cast<uint32_t>(length);
  return Status::Ok();
}

void Mapping::Reset() {
  if (view_ != nullptr) {
    munmap(const_cast<uint8_t*>(view_), size_);
    openMappings.fetch_sub(1, std::memory_order_release);
  }
  if (fileHandle_ >= 0) close(static_cast<int>(fileHandle_));
  view_ = nullptr;
  fileHandle_ = -1;
  mappingHandle_ = 0;
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
  // madvise wants a page-aligned start.
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(view_ + offset) & ~(page - 1);
  const size_t span = reinterpret_cast<uintptr_t>(view_ + offset) + length - start;
#if defined(MADV_POPULATE_READ)
  // Maps the pages now (Linux 5.14 and later); older kernels refuse it and get the plain hint.
  if (madvise(reinterpret_cast<void*>(start), span, MADV_POPULATE_READ) == 0) return length;
#endif
  madvise(reinterpret_cast<void*>(start), span, MADV_WILLNEED);
  return length;
}

SystemBlock AllocateSystemBlock(size_t bytes) {
  // Aligned to and rounded up to whole huge pages, so that the hint can take effect.
  constexpr size_t HugePageSize = LargeBlockSize;
  if (bytes > SIZE_MAX - 2 * HugePageSize) return SystemBlock{};
  const size_t rounded = (bytes + HugePageSize - 1) & ~(HugePageSize - 1);
  const size_t mapped = rounded + HugePageSize;  // room to align the start
  void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return SystemBlock{};
  const uintptr_t aligned =
      (reinterpret_cast<uintptr_t>(base) + HugePageSize - 1) & ~(uintptr_t{HugePageSize} - 1);
#if defined(MADV_HUGEPAGE)
  madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
#endif
  return SystemBlock{base, mapped, reinterpret_cast<void*>(aligned), rounded};
}

void FreeSystemBlock(void* base, size_t size) {
  munmap(base, size);
}

void DiscardSystemBlock(void* data, size_t size) {
  // Private anonymous memory reads as zeros once its pages are dropped.
  madvise(data, size, MADV_DONTNEED);
}

bool PathExists(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0;
}

bool IsDirectory(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

Status StampPath(const char* path, FileStamp& stamp) {
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  struct stat st {};
  if (stat(path, &st) != 0) return OpenStatus(path, errno);
  if (S_ISDIR(st.st_mode)) return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
  if (!S_ISREG(st.st_mode)) {
    return Status(StatusCode::InvalidArgument, path, 0, "not a regular file");
  }
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return Status::Ok();
}

std::string ExecutablePath() {
#if defined(__linux__)
  std::string buffer(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return std::string();
  buffer.resize(static_cast<size_t>(n));
  return buffer;
#else
  // Only Linux has /proc/self/exe. Elsewhere the executable's directory is unknown: callers fall
  // back to the current directory (a host can still name its list and packages explicitly).
  return std::string();
#endif
}

double ThreadCpuSeconds() {
  struct timespec now {};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void DebugOutput(const char* message) {
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  std::fflush(stderr);
}

Status RemoveFile(const char* path) {
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  if (unlink(path) != 0) return OpenStatus(path, errno);
  return Status::Ok();
}

Status OpenForRead(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  File opened(open(path, O_RDONLY | O_CLOEXEC), path);
  if (!opened.IsOpen()) return OpenStatus(path, errno);
  struct stat st {};
  if (fstat(opened.Descriptor(), &st) != 0) return Status::System(StatusCode::IoError, path, errno);
  if (S_ISDIR(st.st_mode)) return Status(StatusCode::InvalidArgument, path, 0, "is a directory");
  file = std::move(opened);
  return Status::Ok();
}

Status CreateNew(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  File created(open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666), path);
  if (!created.IsOpen()) return OpenStatus(path, errno);
  file = std::move(created);
  return Status::Ok();
}

Status ReplaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return Status(StatusCode::InvalidArgument);
  if (rename(from, to) != 0) {
    return Status::System(StatusCode::IoError, to, errno);
  }
  return Status::Ok();
}

Status SyncDirectoryOf(const char* path) {
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  std::string dir = DirectoryOf(path);
  File handle(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!handle.IsOpen()) return Status::System(StatusCode::IoError, dir, errno);
  // Some file systems cannot flush a directory; they keep its entries safe by other means.
  if (fsync(handle.Descriptor()) != 0 && errno != EINVAL && errno != ENOTSUP) {
    return Status::System(StatusCode::IoError, dir, errno);
  }
  return Status::Ok();
}

namespace {

// The value of the symbolic link at path, read where the link lies: a relative value is taken
// from the link's directory.
bool FollowLink(std::string& path) {
  std::vector<char> value(PATH_MAX + 1);
  ssize_t n = readlink(path.c_str(), value.data(), value.size() - 1);
  if (n < 0) return false;
  std::string next(value.data(), static_cast<size_t>(n));
  if (next.empty()) return false;
  if (next[0] != '/') {
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos) next = path.substr(0, slash + 1) + next;
  }
  path = next;
  return true;
}

// The system's links to open descriptors (/dev/stdout leads through one): what they name is
// reached only by opening the link itself.
bool IsDescriptorLink(const std::string& path) {
  return path.compare(0, 6, "/proc/") == 0 || path.compare(0, 8, "/dev/fd/") == 0;
}

}  // namespace

Status ResolveReplaceTarget(const char* path, ReplaceTarget& target) {
  target = ReplaceTarget();
  if (path == nullptr || *path == '\0') return Status(StatusCode::InvalidArgument);
  target.path = path;
  struct stat st {};
  // A chain of links is followed a step at a time, as far as the system itself would go.
  for (int hops = 0;; ++hops) {
    if (lstat(target.path.c_str(), &st) != 0) {
      if (errno == ENOENT) return Status::Ok();  // nothing there yet: created by the rename
      return Status::System(StatusCode::IoError, path, errno);
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (IsDescriptorLink(target.path)) {
      // Written through the original name, whatever the descriptor leads to.
      if (stat(path, &st) != 0) return Status::System(StatusCode::IoError, path, errno);
      if (S_ISDIR(st.st_mode)) return Status::System(StatusCode::InvalidArgument, path, EISDIR);
      target.path = path;
      target.writeThrough = true;
      return Status::Ok();
    }
    if (hops >= 40) return Status::System(StatusCode::IoError, path, ELOOP);
    if (!FollowLink(target.path)) return Status::System(StatusCode::IoError, path, errno);
  }
  if (S_ISREG(st.st_mode)) {
    target.exists = true;
    target.mode = static_cast<uint32_t>(st.st_mode & 07777);
    target.identity.device = static_cast<uint64_t>(st.st_dev);
    target.identity.file = static_cast<uint64_t>(st.st_ino);
    return Status::Ok();
  }
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    target.writeThrough = true;
    return Status::Ok();
  }
  if (S_ISDIR(st.st_mode)) return Status::System(StatusCode::InvalidArgument, path, EISDIR);
  return Status(StatusCode::InvalidArgument, path, 0,
                "not a regular file, a character device or a FIFO; refusing to replace it");
}

Status InspectReplaceTarget(const char* path, ReplaceTarget& target) {
  Status status = ResolveReplaceTarget(path, target);
  if (!status.ok()) return status;
  if (target.writeThrough) return Status(StatusCode::InvalidArgument, path, 0, "not a file");
  // No write bit at all is a read-only file, also for a user whom the system would let write.
  if (target.exists && (target.mode & 0222) == 0) {
    return Status::System(StatusCode::IoError, path, EACCES);
  }
  return Status::Ok();
}

Status OpenForWriteThrough(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  File opened(open(path, O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC), path);
  if (!opened.IsOpen()) return OpenStatus(path, errno);
  file = std::move(opened);
  return Status::Ok();
}

Status IdentifyFile(File& file, FileIdentity& identity) {
  struct stat st {};
  if (fstat(file.Descriptor(), &st) != 0) {
    return Status::System(StatusCode::IoError, file.Path(), errno);
  }
  identity.device = static_cast<uint64_t>(st.st_dev);
  identity.file = static_cast<uint64_t>(st.st_ino);
  return Status::Ok();
}

Status ApplyTargetMode(File& file, const ReplaceTarget& target, const char* path) {
  if (!target.exists) return Status::Ok();
  if (fchmod(file.Descriptor(), static_cast<mode_t>(target.mode)) != 0) {
    return Status::System(StatusCode::IoError, path != nullptr ? path : "", errno);
  }
  return Status::Ok();
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

Status OpenForEdit(const char* path, File& file) {
  (void)file.Close();
  if (path == nullptr) return Status(StatusCode::InvalidArgument);
  struct stat st {};
  Status opened = OpenRegularFile(path, O_RDWR, LOCK_EX, file, st);
  return opened.code() == StatusCode::NotFound ? MissingFile(path) : opened;
}

Status File::Read(void* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  while (got < count) {
    ssize_t n = read(descriptor_, static_cast<char*>(buffer) + got, count - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failure(errno);
    }
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
  if (lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0) return Failure(errno);
  return Status::Ok();
}

Status StdioFileLength(std::FILE* file, const char* path, int64_t& length) {
  length = 0;
  if (file == nullptr) return Status(StatusCode::InvalidArgument, path != nullptr ? path : "");
  struct stat st {};
  if (fstat(fileno(file), &st) != 0) {
    return Status::System(StatusCode::IoError, path != nullptr ? path : "", errno);
  }
  length = static_cast<int64_t>(st.st_size);
  return Status::Ok();
}

Status File::Length(int64_t& length) {
  length = 0;
  struct stat st {};
  if (fstat(descriptor_, &st) != 0) return Failure(errno);
  length = static_cast<int64_t>(st.st_size);
  return Status::Ok();
}

Status File::Truncate(int64_t length) {
  if (ftruncate(descriptor_, static_cast<off_t>(length)) != 0) return Failure(errno);
  return Status::Ok();
}

Status File::Sync() {
  if (fsync(descriptor_) != 0) return Failure(errno);
  return Status::Ok();
}

Status File::StartWriteBack() {
#ifdef __linux__
  if (sync_file_range(descriptor_, 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return Status::Ok();
  // A file system or kernel without it: the flush itself.
  if (errno != ENOSYS && errno != EINVAL && errno != ESPIPE) return Failure(errno);
#endif
  return Sync();
}

Status File::Close() {
  if (descriptor_ < 0) return Status::Ok();
  int result = close(descriptor_);
  descriptor_ = -1;
  return result == 0 ? Status::Ok() : Failure(errno);
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
    DirItem item;
    item.name = name;
#if defined(DT_REG)
    // The listing usually says what an item is, which saves a stat call per item.
    if (entry->d_type == DT_REG || entry->d_type == DT_DIR) {
      item.isDirectory = entry->d_type == DT_DIR;
      items.push_back(std::move(item));
      continue;
    }
#endif
    std::string full = base + '/' + name;
    struct stat linkInfo {};
    if (lstat(full.c_str(), &linkInfo) != 0) continue;
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

}  // namespace korvo::platform
