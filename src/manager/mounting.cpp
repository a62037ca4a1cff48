#include "manager/mounting.h"

#include <cstring>
#include <new>

#include "archive/mapped_package.h"
#include "manager/package_manager.h"

namespace korvo {

void NormalizeName(std::string& out, const char* name) {
  out.clear();
  if (name == nullptr) return;
  size_t length = std::strlen(name);
  out.resize(length);
  for (size_t i = 0; i < length; ++i) {
    char c = name[i];
    if (c == '/') {
      c = '\\';
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 0x20);
    }
    out[i] = c;
  }
}

bool PathExists(const char* path) {
  return platform::PathExists(path);
}

bool CPackageManager::MountPackage(const char* path) {
  if (path == nullptr) return false;
  // Room for the record is made first: should indexing run out of memory part way, the record
  // still takes ownership, so the keys already indexed never point at a lost package.
  packages.reserve(packages.size() + 1);
  CMappedPackage* package = new (std::nothrow) CMappedPackage();
  if (package == nullptr) return false;
  if (!package->Open(path)) {
    delete package;
    return false;
  }

  dirList.nodes.clear();
  dirList.count = 0;
  dirList.first = 0;
  DirNode root{};
  SetDirNodeName(root, "Root");
  root.parent = 0;
  dirList.nodes.push_back(root);
  dirList.count = 1;

  PackageRecord record{};
  size_t length = std::strlen(path);
  if (length > sizeof(record.path) - 1) length = sizeof(record.path) - 1;
  std::memcpy(record.path, path, length);
  record.package = package;

  PackageEntry entry;
  std::string key;
  try {
    if (package->FirstEntry(entry)) {
      do {
        EntryInfo info{package, entry.flags, entry.offset, entry.size, entry.packedSize};
        NormalizeName(key, entry.name.c_str());
        // A name already indexed takes the new entry's location; the key string stays.
        entries.insert_or_assign(key, info);
      } while (package->NextEntry(entry));
    }
  } catch (...) {
    packages.push_back(record);
    throw;
  }
  packages.push_back(record);
  return true;
}

}  // namespace korvo
