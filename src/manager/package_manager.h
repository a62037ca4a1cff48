// CPackageManager: the one resource manager of the process. It composes the directory-node
// list that the authoring operations keep (compat/dir_nodes.h), the mounted packages with the
// name index over their entries (Mounts), the two pools of lendable streams (StreamPools), the
// root directory and the package list name.
//
// Threads: mounting, reloading, removing, opening, reading, stat and enumeration may run on any
// number of threads at once. Lookups take no lock (see Mounts): a read pins the set of mounts
// it started with and finishes on it, whatever reload or removal is published meanwhile;
// changes of the mounts run one at a time under the manager's mount lock; no lock is held
// while an entry is inflated. A pooled stream is lent by an atomic
// claim of its mode word. The directory-node list belongs to mounting and to the
// single-threaded authoring operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "archive/package_format.h"
#include "common/status.h"
#include "compat/dir_nodes.h"
#include "manager/mounting.h"
#include "manager/name_index.h"
#include "manager/stream_pools.h"
#include "platform/platform.h"
#include "stream/res_stream.h"

namespace korvo {

class CMappedPackage;
class CDiskStream;
class CMemStream;

class CPackageManager;
class PackageWatcher;
struct PackageListReport;

// The current manager: set by a constructor's first step, cleared by the destructor's last.
extern std::atomic<CPackageManager*> g_packageManager;

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

// Where a name would be read from. The texts are views, nothing is copied: into what the mount
// keeps and into the name asked for. A stat of a package entry pins the set of mounts it was
// found in, so its views stay valid while the stat lives, a reload or removal meanwhile
// notwithstanding. Move-only.
struct ResourceStat {
  bool found = false;
  bool inPackage = false;        // false: a disk file
  uint32_t size = 0;             // bytes the resource reads as
  uint32_t packedSize = 0;       // bytes it takes in its package; the size for a disk file
  std::string_view packagePath;  // the mount path of the package that holds it
  std::string_view diskPath;     // the path a disk file is opened with (the name unchanged)
  EntryInfo entry;               // the located entry
  uint32_t recordOffset = 0;     // where its index record lies in its package
  Status status;  // when not found: NotFound, or why a file of that name cannot be read
  std::optional<Mounts::Pin> pin;  // for a package entry: keeps its set of mounts alive

  // The entry's name as its package stores it, read from the mapped index only when asked
  // (the record is one more place in memory to reach); empty for a disk file.
  std::string_view StoredName() const;
};

// Copies text into a field of fieldSize (> 0) bytes: cut at fieldSize - 1 bytes, zeros after
// it to the end of the field. For a caller's record such as a stat's path. Out of line on
// purpose: inlined with a field of known size, the compiler turns the copy into string
// instructions that, in a caller's loop of stats, stall longer than the lookup itself takes.
void CopyIntoField(std::string_view text, char* field, size_t fieldSize);

// What EnumerateNames calls for each name: visit(key, entry), true to go on. It refers to the
// caller's function object for the length of the call, so nothing is allocated for it.
class NameVisitor {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, NameVisitor>>>
  NameVisitor(F&& visit)  // implicit: a lambda is passed as it stands
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(visit)))),
        call_([](void* object, std::string_view key, const EntryInfo& entry) {
          return static_cast<bool>((*static_cast<std::remove_reference_t<F>*>(object))(key, entry));
        }) {}
  bool operator()(std::string_view key, const EntryInfo& entry) const {
    return call_(object_, key, entry);
  }

 private:
  void* object_;
  bool (*call_)(void*, std::string_view, const EntryInfo&);
};

// The lookup rule of every read by name: the preferred source first, then the other one when
// the first gives nothing. When both fail, the cause from a source that has the name but cannot
// read it (an entry that does not inflate, a file too large) wins over a NotFound.
template <class Attempt>
Status FromEitherSource(bool preferPackage, Attempt attempt) {
  Status first = attempt(preferPackage);
  if (first.ok()) return first;
  Status second = attempt(!preferPackage);
  if (second.ok()) return second;
  return first.code() != StatusCode::NotFound ? first : second;
}

class CPackageManager : public CSingleton {
 public:
  // Reads "package.cfg" beside the executable, mounts what it names, fills the pools.
  CPackageManager();
  // The same set-up with a given root directory and list file name; null means the default.
  CPackageManager(const char* rootDirectory, const char* listFile);
  // Mounts at most one package (when packagePath exists) and fills the pools; a null path
  // leaves the pools empty. The second argument carries no meaning. mostIndexBytes bounds the
  // memory of the name index: a mount that would need more fails and changes nothing.
  CPackageManager(const char* packagePath, int32_t unused,
                  size_t mostIndexBytes = CNameIndex::MostBytes);
  // The members clean themselves: the pooled streams go first, then the packages.
  ~CPackageManager();
  CPackageManager(const CPackageManager&) = delete;
  CPackageManager& operator=(const CPackageManager&) = delete;

  // Mounting: maps the archive and indexes every entry; the last mount wins for a name. A file
  // that CMappedPackage::CheckHeader refuses is not mounted. An index that breaks after its
  // first record is mounted up to the break (report->damage says where). All or nothing: a
  // failed mount leaves the packages, the index and the directory-node list as they were; a
  // successful one resets the node list to the root alone.
  bool MountPackage(const char* path);
  // The same, with the cause of a failure and what the mount took of the index. listed: the
  // package comes from the package list (a reload reads the list again for those).
  Status Mount(const char* path, MountReport* report = nullptr, bool listed = false);

  // Reading the package list again: builds a new set of mounts off to the side (every package
  // the list names that exists, then every package mounted otherwise, in their order, so those
  // stay on top) and publishes it in one step. Each archive is mapped afresh, so a file
  // replaced since is read anew; one that exists but cannot be mounted now keeps the mapping
  // it had, one that is gone is dropped. Reads under way finish on the set they started with.
  // A list that does not exist names nothing, as at start-up. Fails, changing nothing, when
  // the list exists but cannot be read, or memory runs out. report (may be null) tells what the
  // list read did.
  Status ReloadPackages(PackageListReport* report = nullptr);
  // Unmounts every package mounted under path (the path as it was mounted; for a listed
  // package the root directory joined with the listed name), publishing the rest in one step
  // as ReloadPackages does. NotFound when no package was mounted under path. A listed package
  // comes back with the next reload if the list still names it.
  Status RemovePackage(const char* path);
  // Called after each reload or removal is published, on the thread that made it and with no
  // lock held, with the index names (folded) whose bytes changed: added, removed, or read
  // differently; in byte order. An empty function turns it off. Comparing the sets reads the
  // blocks of names present in both, so it runs only while a listener is set.
  using ReloadListener = std::function<void(const std::vector<std::string>& changed)>;
  Status SetReloadListener(ReloadListener listener);
  // Watching the directories of the mounted archives and of the package list: a listed or
  // mounted file that is replaced (renamed into place, or written and closed) or removed makes
  // a reload, once no change has come for a while: RenameSettleMilliseconds after a file
  // renamed into place (whole: only a burst of such renames is waited for), SettleMilliseconds
  // after any other change (a writer in place may not be done). Runs on a thread of its own
  // until turned off or the manager goes. Turning it off waits for that thread, so the
  // listener, which may run on it, must not.
  static constexpr int SettleMilliseconds = 100;
  static constexpr int RenameSettleMilliseconds = 10;
  Status WatchPackages(bool on);

  // The one way to open a resource: opening for one read, never refused for want of a free
  // pooled stream (StreamLease). The status tells why nothing opened: NotFound when neither
  // source has the name.
  Status Open(const char* name, uint32_t mode, bool preferPackage, StreamLease& lease);
  // Creates the 10 streams of each pool; only the first call fills.
  void FillStreamPools();

  // The entry indexed under the folded name; false when there is none. Takes no lock unless a
  // mount is under way.
  // found.info.package stays valid only while the set it came from does: beside no reload or
  // removal, or under a pin (PinMounts) given to the second form.
  bool Lookup(const char* name, IndexedEntry& found) const;
  bool Lookup(const FoldedName& key, IndexedEntry& found) const {
    return mounts_.Lookup(key, found);
  }
  bool Lookup(const Mounts::Pin& pin, const FoldedName& key, IndexedEntry& found) const {
    return mounts_.Lookup(pin, key, found);
  }
  // The current set of mounts, kept for as long as the pin lives.
  Mounts::Pin PinMounts() const { return mounts_.Read(); }
  // Where name would be read from: the indexed entry, otherwise the disk file. Nothing is
  // inflated, so an indexed entry is reported even when its data turns out not to inflate (a
  // read of it then falls back to the disk file, FromEitherSource).
  ResourceStat Stat(const char* name) const;
  // The whole resource in one malloc'd block of size + 1 bytes, the last one 0 (free with
  // std::free). Package entries first, then the disk, by FromEitherSource: the same rule as
  // Open with preferPackage.
  Status ReadResource(const char* name, unsigned char*& data, uint32_t& size) const;
  // Calls visit(key, entry) for every indexed name that starts with the folded prefix, in
  // byte order of the keys, until visit returns false. Each key once, as the last mount left
  // it; key.data() is followed by a 0 byte, valid until visit returns. No lock is held while
  // visit runs. Returns the number of calls. The names are those mounted when the call began;
  // a binary search of the set's sorted keys finds the first, and each is copied out on the
  // stack: once the sorted keys are up to date, nothing is allocated.
  size_t EnumerateNames(const char* prefix, NameVisitor visit) const;

  // Calls visit(packagePath, storedName, storedNameLength, size, packedSize, winner, context)
  // for every mounted package that holds the folded name, in mount order, with that package's
  // last record of it; winner marks the one a lookup found when the call began. Stops when
  // visit returns false. Nothing is allocated: the path and the name point into memory the
  // mount owns. visit may call into the manager, a mount included. Returns the number of
  // calls. In sources.cpp.
  size_t EnumerateSources(const char* name,
                          bool (*visit)(const char*, const char*, uint32_t, uint32_t, uint32_t,
                                        bool, void*),
                          void* context);

  // The package list set-up: root directory, list file, mounts, then the pools.
  void LoadPackageList(const char* rootDirectory, const char* listFile);

  // The fixed opening variants and queries that nothing in the library calls; they are built
  // on Open's single-source step and the pools (compat/open_variants.cpp). OpenStream: package
  // entry first or disk file first; null when the name is in neither place, the open fails, or
  // every stream of the pool needed is lent.
  CResStream* OpenStream(const char* name, uint32_t mode, bool preferPackage);
  CMemStream* OpenPackageStream(const char* name, uint32_t mode);
  CDiskStream* OpenDiskStream(const char* name, uint32_t mode);
  // The first free stream of memPool (true) or diskPool (false), or null. Only a query: the
  // stream is not claimed.
  CResStream* FindFreeStream(bool memoryPool);
  bool Exists(const char* name, uint32_t where);

  // State, read-only; the mounts only beside no change of them.
  const MountSet& Mounted() const { return mounts_.Set(); }
  size_t PackageCount() const { return Mounted().PackageCount(); }
  const PackageRecord* PackageAt(size_t i) const { return Mounted().PackageAt(i); }
  size_t EntryCount() const { return Mounted().EntryCount(); }
  const std::vector<CDiskStream*>& DiskPool() const { return pools_.DiskPool(); }
  const std::vector<CMemStream*>& MemPool() const { return pools_.MemPool(); }
  const char* RootDir() const { return rootDir; }
  const char* ListFileName() const { return listFileName; }
  // The directory-node list, which the authoring operations change in place.
  DirNodeList& DirNodes() { return dirList; }
  const DirNodeList& DirNodes() const { return dirList; }

 private:
  friend CPackageManager* GetPackageManager();
  friend PackageListReport LoadPackageListReport(CPackageManager& manager,
                                                 const char* rootDirectory, const char* listFile);
  // Opens from one source. A pool with no free stream gives null, unless overflow may take a
  // stream made for this open.
  CResStream* OpenFrom(bool package, const char* name, uint32_t mode,
                       std::unique_ptr<CResStream>* overflow, Status& status);

  // Members, in this order: the pools are destroyed before the packages they may read from.
  DirNodeList dirList;
  Mounts mounts_;      // the packages, then the name index over their entries
  StreamPools pools_;  // the disk pool, then the memory pool
  char rootDir[platform::MaxPath] = {};
  char listFileName[platform::MaxPath] = {};

  std::mutex mountLock_;  // one mount at a time (the mounts and dirList)
  std::mutex listenerLock_;
  std::shared_ptr<const ReloadListener> listener_;
  // Publishes a new set built by fill from the current one, and tells the listener.
  template <class Fill>
  Status ReplaceMounts(Fill fill);
  // Last, so that it stops before anything it reloads goes.
  std::mutex watcherLock_;
  std::unique_ptr<PackageWatcher> watcher_;
};

// The current manager, created with the default constructor when there is none. Null only
// when the manager cannot be allocated. Safe to call from any number of threads: one manager
// is created, and no caller sees it before its constructor has finished.
CPackageManager* GetPackageManager();

}  // namespace korvo
