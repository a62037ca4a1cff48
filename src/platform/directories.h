// Existence tests and directory listing.
#pragma once

#include <string>
#include <vector>

namespace korvo::platform {

// True for an existing file or directory.
bool PathExists(const char* path);
bool IsDirectory(const char* path);
// True for an existing regular file (a symbolic link to one included); false for a directory,
// a device and anything missing.
bool IsRegularFile(const char* path);

// One item of a directory listing ("." and ".." are never listed).
struct DirItem {
  std::string name;
  bool isDirectory = false;
};

// Lists the items of dir. POSIX: sorted byte-wise by name; a symbolic link to a directory is
// left out (never descended), a link to a file is listed as a file. Windows: the platform's
// order; reparse-point directories are left out. False when the listing cannot be started.
bool ListDirectory(const char* dir, std::vector<DirItem>& items);

}  // namespace korvo::platform
