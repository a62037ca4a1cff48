// Packing a directory tree into a new archive: one zlib-compressed entry per file, named by its
// path (the caller's directory text, then each level joined with a backslash).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "platform/env.h"

namespace korvo {

class CPackageBuilder;
class CPackageManager;

// Told about every file the walk meets, in walk order, with the path it was opened by. packed
// is false for a file that gave no entry (it could not be read or compressed, or the archive
// did not take it); size and packedSize are 0 then. The archive being written, and the file it
// replaces, are never packed and never reported, whatever path leads to them.
class PackObserver {
 public:
  virtual ~PackObserver() = default;
  virtual void OnFile(const char* path, uint32_t size, uint32_t packedSize, bool packed) = 0;
  // Told about each file that cannot be packed, with the cause (its file is the file's path):
  // a name that cannot be stored (longer than MaxEntryNameLength, or one the loader cannot
  // tell from another file's name: both are named), or a file that cannot be read.
  virtual void OnProblem(const Status& problem) { (void)problem; }
  // Told, just before OnFile, about a file whose packed block was copied from the archive being
  // replaced instead of being compressed again.
  virtual void OnReused(const char* path) { (void)path; }
  // Told when an edit of the archive being added to had been interrupted and was rolled back
  // before anything else.
  virtual void OnRolledBack(const std::string& archive) { (void)archive; }
};

// Which files of the archive being replaced a pack takes over. A file is reused when the
// archive has an entry of its name, and the cache beside the archive (authoring/pack_cache.h)
// matches that archive, was made with the same settings, and says the file is unchanged: its
// size and modification time (Stamp) or also its content's CRC-32 (Content) are what they were.
// The archive written is the same, byte for byte, as a pack that compresses everything.
enum class PackReuse { None, Stamp, Content };

// How a tree is packed. The archive's bytes do not depend on these.
struct PackSettings {
  // Threads that compress files; 0: one per processor. Files are still written in walk order.
  // With more than one, workers compress ahead while the calling thread writes; with one, the
  // calling thread compresses and writes each file in turn.
  unsigned threads = 0;
  // Compressed files waiting to be written hold at most about this many bytes (a single file
  // larger than that is still packed, on its own).
  size_t memoryBudget = size_t{256} << 20;
  // Set (from a signal handler, for instance) to stop between files: the pack then fails with
  // Interrupted and leaves the target as it was.
  const std::atomic<bool>* cancel = nullptr;
  // A file that cannot be read: false fails the whole pack (every file is still tried, so that
  // the observer hears of each), leaving the target as it was; true leaves the file out.
  bool skipUnreadable = false;
  // Every change on disk goes through it.
  platform::Env* env = platform::Env::Default();
  PackReuse reuse = PackReuse::None;
  // Writes "<archive>.korvo-cache" beside the new archive once it is in place, so that a later
  // pack can reuse its blocks. A cache that cannot be written does not fail the pack. With this
  // or reuse, files named "*.korvo-cache" in the tree are caches and are not packed.
  bool writeCache = false;
};

// Packs dir into a new archive that replaces packagePath only once it is complete and flushed
// (written to a temporary file beside it, then renamed over it). The whole tree is walked
// first: names that cannot be stored (see PackObserver::OnProblem) fail the pack before
// anything is written. With a manager, fills its directory-node list (a node per item met), once
// the archive has been started. Fails, leaving packagePath untouched and no
// temporary file behind, on a name problem, at the first failed write, flush or rename of the
// archive, when cancelled, and (unless settings.skipUnreadable) when a file cannot be read.
Status PackTree(const char* packagePath, const char* dir, CPackageManager* manager,
                PackObserver* observer, const PackSettings& settings = PackSettings());

// Adds files and whole trees (sources: paths of files or directories, named as PackTree names
// them) to the archive at packagePath by writing a new archive that replaces it once complete.
// Every entry keeps its place and its packed block, copied verbatim, unless a file replaces it;
// a file replaces the entry of its exact name, else the one entry the loader finds for it (and
// takes that entry's stored name); new names follow in the order given. Only the files given
// are compressed. An interrupted edit of the archive is rolled back first. Fails, leaving the
// archive as it was, as PackTree does, and when a name matches several entries.
Status AddToArchive(const char* packagePath, const std::vector<std::string>& sources,
                    PackObserver* observer, const PackSettings& settings = PackSettings());

// Packs every file under dir into builder, named as PackTree names them, one at a time and
// passing over files that cannot be read. With a manager, adds a directory node per item met
// to its list, the top one under parentIndex.
void PackDirectoryInto(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                       int32_t parentIndex, PackObserver* observer);

}  // namespace korvo
