// CPackageManager: the one resource manager of the process. It owns the mounted packages, the
// name index over their entries, the two pools of lendable streams, the root directory and
// the package list name, and the directory-node list that the authoring operations keep.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "platform/platform.h"

namespace korvo {

class CMappedPackage;
class CResStream;
class CDiskStream;
class CMemStream;

// One node of the directory-node list.
struct DirNode {
  char name[platform::MaxPath];  // NUL-terminated
  int32_t parent;                // index of the parent node in the same list
};

struct DirNodeList {
  DirNodeList();
  ~DirNodeList();

  std::vector<DirNode> nodes;  // the list proper is the first `count` nodes
  int32_t count = 0;
  int32_t first = 0;  // first node that the single-entry delete searches
};

// Copies text into a node's name field, cut at 259 bytes and always terminated.
void SetDirNodeName(DirNode& node, const char* text);

// One mounted package.
struct PackageRecord {
  char path[platform::MaxPath];  // the mount path as given, cut at 259 bytes
  CMappedPackage* package;       // owned through this record
};

class CPackageManager;

// The current manager: set by a constructor's first step, cleared by the destructor's last.
extern CPackageManager* g_packageManager;

// Registers the manager being built as the current one before any member exists, and clears
// the pointer after every member is gone.
class CSingleton {
 protected:
  CSingleton();
  ~CSingleton();
};

// Where-to-look bits of Exists.
constexpr uint32_t LookInPackages = 1;
constexpr uint32_t LookOnDisk = 2;

// Number of streams in each pool.
constexpr size_t StreamPoolSize = 10;

class CPackageManager : public CSingleton {
 public:
  // Reads "package.cfg" beside the executable, mounts what it names, fills the pools.
  CPackageManager();
  // The same set-up with a given root directory and list file name; null means the default.
  CPackageManager(const char* rootDirectory, const char* listFile);
  // Mounts at most one package (when packagePath exists) and fills the pools; a null path
  // leaves the pools empty. The second argument carries no meaning.
  CPackageManager(const char* packagePath, int32_t unused);
  // Destroys the pooled streams, then closes the packages, then frees the containers.
  ~CPackageManager();
  CPackageManager(const CPackageManager&) = delete;
  CPackageManager& operator=(const CPackageManager&) = delete;

  // Mounting: maps the archive and indexes every entry; the last mount wins for a name.
  bool MountPackage(const char* path);

  // Opening by name: package entry first or disk file first.
  CResStream* OpenStream(const char* name, uint32_t mode, bool preferPackage);
  CMemStream* OpenPackageStream(const char* name, uint32_t mode);
  CDiskStream* OpenDiskStream(const char* name, uint32_t mode);
  // The first free stream of memPool (true) or diskPool (false), or null.
  CResStream* FindFreeStream(bool memoryPool);
  // Creates the 10 streams of each pool.
  void FillStreamPools();
  bool Exists(const char* name, uint32_t where);

  // The package list set-up: root directory, list file, mounts, then the pools.
  void LoadPackageList(const char* rootDirectory, const char* listFile);

  // Destroys the pooled streams, then closes and frees the mounted packages.
  void ReleaseOwned();

  // Members, in this order.
  DirNodeList dirList;
  std::vector<PackageRecord> packages;
  std::map<std::string, EntryInfo> entries;
  std::vector<CDiskStream*> diskPool;
  std::vector<CMemStream*> memPool;
  char rootDir[platform::MaxPath] = {};
  char listFileName[platform::MaxPath] = {};
};

// The current manager, created with the default constructor when there is none. Null only
// when the manager cannot be allocated.
CPackageManager* GetPackageManager();

}  // namespace korvo
