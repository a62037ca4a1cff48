// CPackageManager: the one resource manager of the process. It owns the mounted packages, the
// name index over their entries, the two pools of lendable streams, the root directory and
// the package list name, and the directory-node list that the authoring operations keep.
//
// Threads: mounting, opening, reading, stat and enumeration may run on any number of threads
// at once. The name index is read under a shared lock and changed by a mount under an
// exclusive one (mounts run one at a time); no lock is held while an entry is inflated. A
// pooled stream is lent by an atomic claim of its mode word. The directory-node list belongs
// to mounting and to the single-threaded authoring operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "archive/package_format.h"
#include "common/status.h"
#include "manager/name_index.h"
#include "platform/platform.h"
#include "stream/res_stream.h"

namespace korvo {

class CMappedPackage;
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

// One mounted package. The record owns its package and closes it when it goes.
struct PackageRecord {
  PackageRecord() = default;
  ~PackageRecord();
  PackageRecord(PackageRecord&& other) noexcept;
  PackageRecord& operator=(PackageRecord&& other) noexcept;
  PackageRecord(const PackageRecord&) = delete;
  PackageRecord& operator=(const PackageRecord&) = delete;

  char path[platform::MaxPath] = {};  // the mount path as given, cut at 259 bytes
  CMappedPackage* package = nullptr;  // owned through this record
};

// A pool slot table: plain pointers, each stream deleted with the pool. An empty slot is null.
template <class Stream>
class StreamPool : public std::vector<Stream*> {
 public:
  StreamPool() = default;
  ~StreamPool() {
    for (Stream* stream : *this) delete stream;
  }
  StreamPool(const StreamPool&) = delete;
  StreamPool& operator=(const StreamPool&) = delete;
};

class CPackageManager;

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

// Number of streams in each pool.
constexpr size_t StreamPoolSize = 10;

// A stream lent for one read, given back when the lease ends. It is a pooled stream, or, when
// every pooled stream of its kind is in use, a stream made for this read alone: a load never
// waits for another to finish, and the memory beyond the pools is held only while such a read
// runs.
class StreamLease {
 public:
  StreamLease() = default;
  ~StreamLease() { Reset(); }
  StreamLease(const StreamLease&) = delete;
  StreamLease& operator=(const StreamLease&) = delete;

  CResStream* get() const { return stream_; }
  CResStream* operator->() const { return stream_; }
  explicit operator bool() const { return stream_ != nullptr; }
  // Closes the stream (a pooled one goes back to its pool).
  void Reset();

 private:
  friend class CPackageManager;
  CResStream* stream_ = nullptr;
  std::unique_ptr<CResStream> own_;
};

// Where a name would be read from. The texts are views, nothing is copied: into what the mount
// keeps (valid while the package stays mounted) and into the name asked for.
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

// What a mount took of a package's index.
struct MountReport {
  uint32_t listed = 0;   // records the header lists
  uint32_t indexed = 0;  // records read into the name index, from the first
  Status damage;  // ok, or the record at which the index breaks: it and those after it are left out
};

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
  // first record is mounted up to the break (report->damage says where).
  bool MountPackage(const char* path);
  // The same, with the cause of a failure and what the mount took of the index.
  Status Mount(const char* path, MountReport* report = nullptr);

  // Opening by name: package entry first or disk file first. Null when the name is in
  // neither place, the open fails, or every stream of the pool needed is lent.
  CResStream* OpenStream(const char* name, uint32_t mode, bool preferPackage);
  CMemStream* OpenPackageStream(const char* name, uint32_t mode);
  CDiskStream* OpenDiskStream(const char* name, uint32_t mode);
  // Opening for one read, never refused for want of a free pooled stream (StreamLease). The
  // status tells why nothing opened: NotFound when neither source has the name.
  Status Open(const char* name, uint32_t mode, bool preferPackage, StreamLease& lease);
  // The first free stream of memPool (true) or diskPool (false), or null. Only a query: the
  // stream is not claimed.
  CResStream* FindFreeStream(bool memoryPool);
  // Creates the 10 streams of each pool.
  void FillStreamPools();
  bool Exists(const char* name, uint32_t where);

  // The entry indexed under the folded name; false when there is none. Takes no lock unless a
  // mount is under way.
  bool Lookup(const char* name, IndexedEntry& found) const;
  bool Lookup(const FoldedName& key, IndexedEntry& found) const;
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
  // it; key.data() is followed by a 0 byte. No lock is held while visit runs. Returns the
  // number of calls. The matching keys and their entries are copied into two growing blocks:
  // nothing is allocated per name.
  size_t EnumerateNames(const char* prefix, NameVisitor visit) const;

  // The package list set-up: root directory, list file, mounts, then the pools.
  void LoadPackageList(const char* rootDirectory, const char* listFile);

  // Members, in this order.
  DirNodeList dirList;
  std::vector<PackageRecord> packages;
  CNameIndex entries;
  StreamPool<CDiskStream> diskPool;
  StreamPool<CMemStream> memPool;
  char rootDir[platform::MaxPath] = {};
  char listFileName[platform::MaxPath] = {};

 private:
  friend CPackageManager* GetPackageManager();
  // Opens from one source. A pool with no free stream gives null, unless overflow may take a
  // stream made for this open.
  CResStream* OpenFrom(bool package, const char* name, uint32_t mode,
                       std::unique_ptr<CResStream>* overflow, Status& status);

  // Excludes readers of entries from a mount; lookups take it only when they meet one.
  mutable std::shared_mutex indexLock_;
  std::mutex mountLock_;            // one mount at a time (packages, dirList, arena)
  std::atomic<bool> ready_{false};  // construction finished
};

// The current manager, created with the default constructor when there is none. Null only
// when the manager cannot be allocated. Safe to call from any number of threads: one manager
// is created, and no caller sees it before its constructor has finished.
CPackageManager* GetPackageManager();

}  // namespace korvo
