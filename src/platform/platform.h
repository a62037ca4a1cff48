// The operating-system layer. Everything the library needs from the OS goes through these
// functions; no other folder includes an OS header. posix.cpp implements them for Linux and
// other POSIX systems, win32.cpp for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korvo::platform {

#if defined(_WIN32)
constexpr char PathSeparator = '\\';
#else
constexpr char PathSeparator = '/';
#endif

// Fixed buffers for paths, names and tokens: 259 characters and the terminator.
constexpr size_t MaxPath = 260;

// A whole file mapped read-only. While the mapping exists, other openers may read the file
// but not write it (Windows: share mode; POSIX: a shared advisory lock that the archive editor's
// exclusive lock respects).
struct FileMapping {
  intptr_t fileHandle = -1;
  intptr_t mappingHandle = 0;
  const uint8_t* view = nullptr;
  uint32_t size = 0;
};

// Maps the file at path. Fails for a missing, empty or locked file, a directory, a file of
// 4 GiB or more, and whatever cannot be mapped; on failure nothing stays open.
bool MapFileReadOnly(const char* path, FileMapping& mapping);
// Unmaps the view and closes the handles; errors are ignored.
void UnmapFile(FileMapping& mapping);

// True for an existing file or directory.
bool PathExists(const char* path);
bool IsDirectory(const char* path);

// The full path of the process's main executable (not of this library); empty when unknown.
std::string ExecutablePath();

// The debugger output channel: OutputDebugStringA on Windows, one line on stderr elsewhere.
void DebugOutput(const char* message);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const char* path);

// Multi-byte stepping in the current narrow code page (Windows) or locale (POSIX).
// CharNext does not move past the terminator; CharPrev does not move before start.
const char* CharNext(const char* p);
const char* CharPrev(const char* start, const char* p);

// Descriptor I/O for editing an archive in place. NoFile is a value no real descriptor has.
constexpr int NoFile = -1;
// Opens an existing file for reading and writing: no create, no truncate. Takes an exclusive
// lock, so it fails while any process has the file mounted or open for editing.
int OpenForEdit(const char* path);
// Byte counts, or -1 on error.
int64_t ReadFd(int fd, void* buffer, uint32_t count);
int64_t WriteFd(int fd, const void* buffer, uint32_t count);
// whence: 0 from the start, 1 from the current position, 2 from the end. New position or -1.
int64_t SeekFd(int fd, int64_t offset, int whence);
int64_t FileLengthFd(int fd);
bool TruncateFd(int fd, int64_t length);
bool CommitFd(int fd);
void CloseFd(int fd);

// One item of a directory listing ("." and ".." are never listed).
struct DirItem {
  std::string name;
  bool isDirectory = false;
};

// Lists the items of dir. POSIX: sorted byte-wise by name; a symbolic link to a directory is
// left out (never descended), a link to a file is listed as a file. Windows: the platform's
// order; reparse-point directories are left out. False when the listing cannot be started.
bool ListDirectory(const char* dir, std::vector<DirItem>& items);

// True when the stream is attached to a terminal (progress display).
bool IsTerminal(std::FILE* stream);

// Loading a shared library at run time, as a host does (dlopen / LoadLibraryA).
void* OpenLibrary(const char* path);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace korvo::platform
