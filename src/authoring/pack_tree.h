// Packing a directory tree into a new archive: one zlib-compressed entry per file, named by its
// path (the caller's directory text, then each level joined with a backslash).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/status.h"

namespace korvo {

class CPackageBuilder;
class CPackageManager;

// Told about every file the walk meets, in walk order, with the path it was opened by. packed
// is false for a file that gave no entry (it could not be read or compressed, or the archive
// did not take it); size and packedSize are 0 then.
class PackObserver {
 public:
  virtual ~PackObserver() = default;
  virtual void OnFile(const char* path, uint32_t size, uint32_t packedSize, bool packed) = 0;
};

// The name the loader will find for a path relative to the packing root: separators become
// '\\', empty and "." components go, and ".." takes back the component before it. "." itself
// gives the empty name. False, leaving name untouched, when the path is absolute (a leading
// separator or a drive prefix) or a ".." climbs above the root. The walks name entries
// <PackEntryName(dir)>\<levels>\<file> (no leading backslash for an empty name); a dir for
// which this is false keeps its text as given.
bool PackEntryName(const std::string& path, std::string& name);

// How a tree is packed. The archive's bytes do not depend on these.
struct PackSettings {
  // Threads that compress files; 0: one per processor. Files are still written in walk order.
  // With more than one, the walk runs on a thread of its own and hands files over as it finds
  // them, and the calling thread writes; with one, the calling thread walks first, then
  // compresses and writes each file in turn.
  unsigned threads = 0;
  // Compressed files waiting to be written hold at most about this many bytes (a single file
  // larger than that is still packed, on its own).
  size_t memoryBudget = size_t{256} << 20;
  // Set (from a signal handler, for instance) to stop between files: the pack then fails with
  // Interrupted and leaves the target as it was.
  const std::atomic<bool>* cancel = nullptr;
};

// Packs dir into a new archive that replaces packagePath only once it is complete and flushed
// (written to a temporary file beside it, then renamed over it). With a manager, fills its
// directory-node list as CreatePkgTree_Tool does. Fails, leaving packagePath untouched and no
// temporary file behind, at the first failed write, flush or rename of the archive, or when
// cancelled; a source file that cannot be read or compressed gives no entry and is reported to
// the observer.
Status PackTree(const char* packagePath, const char* dir, CPackageManager* manager,
                PackObserver* observer, const PackSettings& settings = PackSettings());

void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer = nullptr);
// The same, and fills manager's directory-node list with one node per item met.
void CreatePkgTree_Tool(const char* packagePath, const char* dir, CPackageManager* manager,
                        PackObserver* observer = nullptr);
void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer = nullptr);
void AddDirToPkg(const char* dir, CPackageBuilder& builder, PackObserver* observer = nullptr);
void AddDirToPkgTree(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                     int32_t parentIndex, PackObserver* observer = nullptr);

}  // namespace korvo
