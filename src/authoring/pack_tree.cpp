#include "authoring/pack_tree.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "archive/index_reader.h"
#include "archive/journal_format.h"
#include "archive/names.h"
#include "archive/view_cursor.h"
#include "authoring/file_compress.h"
#include "authoring/index_writer.h"
#include "authoring/journal.h"
#include "authoring/pack_cache.h"
#include "authoring/package_builder.h"
#include "manager/package_manager.h"
#include "platform/platform.h"

namespace korvo {

// Every level of a walk carries two texts: the filesystem path used to open the item (levels
// joined with the native separator) and the entry or node name (levels joined with a
// backslash, after the caller's directory in the form the loader looks names up by).
namespace {

struct PackItem {
  std::string path;
  std::string name;
  platform::FileStamp stamp;  // taken before the file is read, when a cache is kept
  int32_t old = -1;           // its entry in the archive being replaced, when it may be reused
  bool trusted = false;       // the cache vouches for it: reused without reading it
  uint32_t crc = 0;           // with old: the CRC-32 the cache has for it
  uint32_t oldSize = 0;       // with old: the entry's unpacked size
};

struct Walk {
  DirNodeList* nodes = nullptr;  // null when no node list is built
  const std::atomic<bool>* cancel = nullptr;
  std::vector<PackItem> files;
  bool stopped = false;  // cancelled
};

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

bool Cancelled(const PackSettings& settings) {
  return Cancelled(settings.cancel);
}

// What became of one source file.
enum class SourceResult { Packed, Reused, Own, Failed };

// Opens and compresses one source file, unless it is one of the archive's own files (own: the
// target it replaces, the file being written), which is never packed, whatever path leads to
// it. cause is why a file failed.
SourceResult CompressSource(const PackItem& item, const std::vector<platform::FileIdentity>& own,
                            CompressedFile& out, Deflater& deflater, Status& cause) {
  out = CompressedFile();
  if (item.trusted) return SourceResult::Reused;
  platform::File file;
  Status opened = platform::OpenForRead(item.path.c_str(), file);
  if (!opened.ok()) {
    cause = CannotRead(item.path, opened);
    return SourceResult::Failed;
  }
  if (!own.empty()) {
    platform::FileIdentity identity;
    Status identified = platform::IdentifyFile(file, identity);
    if (!identified.ok()) {
      cause = CannotRead(item.path, identified);
      return SourceResult::Failed;
    }
    if (std::find(own.begin(), own.end(), identity) != own.end()) return SourceResult::Own;
  }
  cause = CompressOpenFile(file, item.path.c_str(), out, deflater,
                           item.old >= 0 ? &item.crc : nullptr, item.oldSize);
  if (!cause.ok()) return SourceResult::Failed;
  return out.unchanged ? SourceResult::Reused : SourceResult::Packed;
}

std::string JoinPath(const std::string& dir, const std::string& item) {
  return dir + platform::PathSeparator + item;
}

std::string JoinName(const std::string& dir, const std::string& item) {
  return dir.empty() ? item : dir + '\\' + item;
}

// The name prefix of the top directory of a walk.
std::string TopName(const char* dir) {
  std::string name;
  return PackEntryName(dir, name) ? name : std::string(dir);
}

// Appends a node behind the list and returns its index.
int32_t AppendNode(DirNodeList& list, const std::string& name, int32_t parent) {
  DirNode node{};
  SetDirNodeName(node, name.c_str());
  node.parent = parent;
  ++list.count;
  list.nodes.push_back(node);
  return list.count - 1;
}

// Compresses files on worker threads ahead of the writer and hands them out in walk order. Memory
// in flight stays bounded: finished files waiting to be written hold at most about the budget (the
// file the writer needs next is always taken on), at most window files are finished or under way,
// and each worker holds one source file and its compressed form.
//
// Threads are woken only when they wait for what just changed: a new file wakes idle workers,
// a worker that finishes the file the writer waits for wakes the writer, and the writer wakes
// idle workers when it frees a place. With workers ahead of the writer, neither sleeps.
class CompressPool {
 public:
  CompressPool(unsigned threads, size_t budget, const std::vector<platform::FileIdentity>& own)
      : window_(std::max<size_t>(MaxWindow, size_t{2} * threads)),
        budget_(budget),
        own_(own),
        slots_(window_) {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~CompressPool() {
    Stop();
    for (std::thread& worker : workers_) worker.join();
  }
  CompressPool(const CompressPool&) = delete;
  CompressPool& operator=(const CompressPool&) = delete;

  // The next file. False once the pool has stopped.
  bool Add(PackItem item) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_) return false;
    files_.push_back(std::move(item));
    bool wake = idleWorkers_ > 0 && MayStart();
    lock.unlock();
    if (wake) workerWake_.notify_one();
    return true;
  }

  // Every file has been added.
  void EndOfFiles() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      complete_ = true;
    }
    workerWake_.notify_all();
    writerWake_.notify_all();
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    workerWake_.notify_all();
  }

  // Waits for file i, the one after the last taken, and moves its result out; item is the
  // file, cause why it failed. False when there is no file i.
  bool Take(size_t i, CompressedFile& out, const PackItem*& item, SourceResult& result,
            Status& cause) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[i % window_];
    if (!slot.done && !(complete_ && i >= files_.size())) {
      writerWaiting_ = true;
      writerWake_.wait(lock, [&] { return slot.done || (complete_ && i >= files_.size()); });
      writerWaiting_ = false;
    }
    if (!slot.done) return false;
    item = &files_[i];  // Add only appends: the element stays where it is
    out = std::move(slot.result);
    cause = std::move(slot.cause);
    result = slot.kind;
    held_ -= slot.bytes;
    slot = Slot();
    taken_ = i + 1;
    bool wake = idleWorkers_ > 0;
    lock.unlock();
    if (wake) workerWake_.notify_all();
    return true;
  }

 private:
  // Files finished or under way at most, ahead of the writer.
  static constexpr size_t MaxWindow = 1024;

  struct Slot {
    bool done = false;
    SourceResult kind = SourceResult::Failed;
    Status cause;
    size_t bytes = 0;
    CompressedFile result;
  };

  // Whether a worker may take on the next file now.
  bool MayStart() const {
    return next_ < files_.size() && next_ - taken_ < window_ &&
           (held_ <= budget_ || next_ == taken_);
  }
  bool Finished() const { return stop_ || (complete_ && next_ >= files_.size()); }

  void Work() {
    Deflater deflater;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!Finished() && !MayStart()) {
        ++idleWorkers_;
        workerWake_.wait(lock, [&] { return Finished() || MayStart(); });
        --idleWorkers_;
      }
      if (stop_ || !MayStart()) {
        if (Finished()) return;
        continue;
      }
      size_t i = next_++;
      const PackItem& item = files_[i];
      lock.unlock();
      CompressedFile result;
      Status cause;
      SourceResult kind = CompressSource(item, own_, result, deflater, cause);
      lock.lock();
      Slot& slot = slots_[i % window_];
      slot.done = true;
      slot.kind = kind;
      slot.cause = std::move(cause);
      slot.bytes = result.packedSize;
      slot.result = std::move(result);
      held_ += slot.bytes;
      if (writerWaiting_ && i == taken_) writerWake_.notify_one();
    }
  }

  const size_t window_;
  const size_t budget_;
  const std::vector<platform::FileIdentity>& own_;
  // Appended to by Add; a deque keeps every element in place as it grows.
  std::deque<PackItem> files_;
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable workerWake_;
  std::condition_variable writerWake_;
  size_t next_ = 0;   // the next file to compress
  size_t taken_ = 0;  // files handed to the writer
  size_t held_ = 0;   // bytes of finished files not yet taken
  unsigned idleWorkers_ = 0;
  bool writerWaiting_ = false;
  bool complete_ = false;  // every file has been added
  bool stop_ = false;
};

void WalkDirectory(const std::string& path, const std::string& name, Walk& walk,
                   int32_t parentIndex);

void WalkItems(const std::vector<platform::DirItem>& items, const std::string& path,
               const std::string& name, Walk& walk, int32_t parentIndex) {
  for (const platform::DirItem& item : items) {
    if (walk.stopped || (walk.stopped = Cancelled(walk.cancel))) return;
    std::string itemPath = JoinPath(path, item.name);
    std::string itemName = JoinName(name, item.name);
    int32_t nodeIndex = -1;
    if (walk.nodes != nullptr) nodeIndex = AppendNode(*walk.nodes, itemName, parentIndex);
    if (item.isDirectory) {
      WalkDirectory(itemPath, itemName, walk, nodeIndex);
    } else {
      PackItem file;
      file.path = std::move(itemPath);
      file.name = std::move(itemName);
      walk.files.push_back(std::move(file));
    }
  }
}

// Walks everything under a directory, depth first: a subdirectory completely before the next
// item. A directory that cannot be listed adds nothing.
void WalkDirectory(const std::string& path, const std::string& name, Walk& walk,
                   int32_t parentIndex) {
  std::vector<platform::DirItem> items;
  if (!platform::ListDirectory(path.c_str(), items)) return;
  WalkItems(items, path, name, walk, parentIndex);
}

std::string Count(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Tells the observer about every name of a walk that cannot be stored: one longer than an entry
// name may be, or one that the loader, which ignores ASCII case and slash direction, cannot
// tell from an earlier file's. Fails, naming the archive, when there is any.
Status CheckNames(const std::vector<PackItem>& files, const char* packagePath,
                  PackObserver* observer) {
  size_t problems = 0;
  auto report = [&](Status problem) {
    ++problems;
    if (observer != nullptr) observer->OnProblem(problem);
  };
  std::unordered_map<std::string, size_t> keys;  // each folded name and its first file
  std::string key;
  for (size_t i = 0; i < files.size(); ++i) {
    const PackItem& item = files[i];
    if (item.name.size() > MaxEntryNameLength) {
      report(Status(StatusCode::TooLarge, item.path, 0,
                    "its entry name is " + std::to_string(item.name.size()) +
                        " bytes long; entry names hold at most " +
                        std::to_string(MaxEntryNameLength)));
      continue;
    }
    NormalizeName(key, item.name.c_str());
    auto found = keys.emplace(key, i);
    if (!found.second) {
      const PackItem& first = files[found.first->second];
      report(Status(StatusCode::InvalidArgument, item.path, 0,
                    "entry name '" + item.name + "' collides with '" + first.name + "' of " +
                        first.path + " (the game ignores case and slash direction); rename one"));
    }
  }
  if (problems == 0) return Status::Ok();
  return Status(StatusCode::InvalidArgument, packagePath, 0,
                "not written: " + Count(problems, "file has a name", "files have names") +
                    " that cannot be stored");
}

// The archive being replaced, as far as a pack may reuse its blocks: its index, and the cache
// beside it when that matches it.
struct ReusePlan {
  std::string target;  // the archive's path, links followed
  platform::File archive;
  std::vector<uint8_t> start;  // the header's bytes
  std::vector<uint8_t> indexBytes;
  std::vector<PackageEntry> index;
  PackCache cache;
  bool usable = false;

  // The block of index entry i, valid until the next call. Blocks are read a window at a
  // time: a pack takes them over mostly in the archive's order, so one read serves many.
  Status ReadBlock(size_t i, const uint8_t*& block) {
    const PackageEntry& entry = index[i];
    const uint64_t end = uint64_t{entry.offset} + entry.packedSize;
    if (entry.offset < windowStart || end > windowStart + windowLength) {
      // Up to the index at most: every block lies before it.
      const uint64_t length = std::max<uint64_t>(
          entry.packedSize, std::min<uint64_t>(WindowBytes, indexOffset - entry.offset));
      windowLength = 0;
      window.resize(std::max<size_t>(1, static_cast<size_t>(length)));
      Status status = archive.Seek(entry.offset);
      if (status.ok() && length > 0) {
        status = archive.ReadExactly(window.data(), static_cast<uint32_t>(length));
      }
      if (!status.ok()) return status;
      windowStart = entry.offset;
      windowLength = length;
    }
    block = window.data() + (entry.offset - windowStart);
    return Status::Ok();
  }

  static constexpr uint64_t WindowBytes = uint64_t{4} << 20;
  uint32_t indexOffset = 0;     // where the blocks end
  std::vector<uint8_t> window;  // the archive's bytes from windowStart on
  uint64_t windowStart = 0;
  uint64_t windowLength = 0;
};

Status LoadArchiveIndex(ReusePlan& plan);

// Loads the archive at target and its cache; plan.usable tells whether both are sound and
// belong together. Anything amiss means nothing is reused.

void LoadReusePlan(const std::string& target, ReusePlan& plan) {
  plan.target = target;
  if (HasHotJournal(target.c_str())) return;
  if (!ReadPackCache(PackCachePath(target), plan.cache)) return;
  if (plan.cache.settings != PackBlockSettings()) return;
  if (!platform::OpenForRead(target.c_str(), plan.archive).ok()) return;
  platform::FileIdentity identity;
  platform::FileStamp stamp;
  int64_t length = 0;
  if (!platform::IdentifyFile(plan.archive, identity).ok() ||
      identity != plan.cache.archiveIdentity || !platform::StampPath(target.c_str(), stamp).ok() ||
      stamp != plan.cache.archive || !plan.archive.Length(length).ok() ||
      length != static_cast<int64_t>(stamp.size)) {
    return;
  }
  plan.usable = LoadArchiveIndex(plan).ok();
}

// Reads the header and the index of the archive open in plan, refusing a damaged one.
Status LoadArchiveIndex(ReusePlan& plan) {
  LoadedIndex loaded;
  Status status = LoadIndexFromFile(plan.archive, plan.target, loaded);
  if (!status.ok()) return status;
  plan.start.assign(loaded.headerBytes, loaded.headerBytes + PackageHeaderSize);
  plan.indexOffset = loaded.header.indexOffset;
  plan.indexBytes = std::move(loaded.bytes);
  plan.index = std::move(loaded.entries);
  return Status::Ok();
}

// Stamps every file (when a cache is to be written or read) and marks those whose blocks the
// plan lets the pack reuse.
void MarkReusable(std::vector<PackItem>& files, ReusePlan& plan, PackReuse reuse, bool stamp) {
  std::unordered_map<std::string, size_t> entries, cached;
  if (plan.usable && reuse != PackReuse::None) {
    for (size_t i = 0; i < plan.index.size(); ++i) {
      if (plan.index[i].flags == 0) entries.emplace(plan.index[i].name, i);
    }
    for (size_t i = 0; i < plan.cache.entries.size(); ++i) {
      cached.emplace(plan.cache.entries[i].name, i);
    }
  }
  for (PackItem& item : files) {
    if (!stamp && entries.empty()) return;
    if (!platform::StampPath(item.path.c_str(), item.stamp).ok()) continue;
    auto entry = entries.find(item.name);
    auto known = cached.find(item.name);
    if (entry == entries.end() || known == cached.end()) continue;
    const PackCacheEntry& was = plan.cache.entries[known->second];
    const PackageEntry& old = plan.index[entry->second];
    if (was.source.size != old.size) continue;
    item.old = static_cast<int32_t>(entry->second);
    item.crc = was.crc;
    item.oldSize = old.size;
    // A file changed in the same tick as the last pack began may keep its stamp: its content
    // decides.
    item.trusted = reuse == PackReuse::Stamp && item.stamp == was.source &&
                   item.stamp.modified < plan.cache.started;
  }
}

// True when the archive being replaced already is, byte for byte, what packing these files
// would write: every file reused by its stamp, the same entries in the same order, blocks back
// to back, and the header and index as the writer makes them.
bool AlreadyPacked(const std::vector<PackItem>& files, const ReusePlan& plan) {
  if (!plan.usable || files.size() != plan.index.size()) return false;
  PackageHeader header;
  header.tag = PackageTag;
  header.entryCount = static_cast<uint32_t>(files.size());
  header.indexOffset = PackageHeaderSize;
  for (size_t i = 0; i < files.size(); ++i) {
    const PackageEntry& entry = plan.index[i];
    if (!files[i].trusted || files[i].old != static_cast<int32_t>(i) ||
        entry.offset != header.indexOffset || entry.flags != 0) {
      return false;
    }
    header.indexOffset += entry.packedSize;
  }
  std::vector<uint8_t> index;
  SerializeIndex(plan.index, header, index);
  header.indexSize = files.empty() ? 0 : static_cast<uint32_t>(index.size());
  uint8_t start[PackageHeaderSize];
  EncodeHeader(header, start);
  return index == plan.indexBytes &&
         std::equal(start, start + PackageHeaderSize, plan.start.begin());
}

// While a pack runs, the disk starts writing the data after about this many bytes, without the
// writer waiting for it, so that the flush at the end has only the tail left. The disk's work
// overlaps the workers' compressing and the writer's copying.
constexpr uint64_t FlushInterval = uint64_t{8} << 20;

// Appends files to the archive in walk order, flushing as it goes when asked to. A file that
// cannot be read is reported; unless such files are skipped, nothing more is written once one
// has been met (the archive will be abandoned), but every later file is still tried, so that
// all of them are reported.
class PackWriter {
 public:
  PackWriter(CPackageBuilder& builder, PackObserver* observer, bool flushAsWritten,
             bool skipUnreadable, ReusePlan* plan = nullptr, PackCache* cache = nullptr)
      : builder_(builder),
        observer_(observer),
        flushAsWritten_(flushAsWritten),
        skipUnreadable_(skipUnreadable),
        plan_(plan),
        cache_(cache) {}

  // The failure of a write or flush of the archive.
  Status Put(const PackItem& item, const CompressedFile& compressed, SourceResult result,
             const Status& cause) {
    if (result == SourceResult::Own) return Status::Ok();
    bool reused = result == SourceResult::Reused && plan_ != nullptr && item.old >= 0;
    bool packed = result == SourceResult::Packed || reused;
    uint32_t size = compressed.size, packedSize = compressed.packedSize, crc = compressed.crc;
    const void* data = compressed.packed.get();
    if (reused) {
      const PackageEntry& old = plan_->index[static_cast<size_t>(item.old)];
      size = old.size;
      packedSize = old.packedSize;
      crc = item.crc;
      const uint8_t* block = nullptr;
      Status read = plan_->ReadBlock(static_cast<size_t>(item.old), block);
      if (!read.ok()) return read;
      data = block;
    }
    if (!packed) {
      ++unreadable_;
      if (observer_ != nullptr) observer_->OnProblem(cause);
    } else if (unreadable_ == 0 || skipUnreadable_) {
      uint32_t flags = reused ? plan_->index[static_cast<size_t>(item.old)].flags : 0;
      Status added = builder_.Append(item.name.c_str(), data, size, packedSize, flags);
      if (!added.ok()) return added;
      if (cache_ != nullptr) cache_->entries.push_back({item.name, item.stamp, crc});
      unflushed_ += packedSize;
      if (flushAsWritten_ && unflushed_ >= FlushInterval) {
        Status flushed = builder_.Flush();
        if (!flushed.ok()) return flushed;
        unflushed_ = 0;
      }
    }
    if (observer_ != nullptr) {
      if (reused) observer_->OnReused(item.path.c_str());
      observer_->OnFile(item.path.c_str(), packed ? size : 0, packed ? packedSize : 0, packed);
    }
    return Status::Ok();
  }

  // After the last file: whether the archive may be finished.
  Status Outcome(const char* packagePath) const {
    if (unreadable_ == 0 || skipUnreadable_) return Status::Ok();
    return Status(StatusCode::IoError, packagePath != nullptr ? packagePath : "", 0,
                  "not written: " + Count(unreadable_, "file", "files") + " cannot be read");
  }

 private:
  CPackageBuilder& builder_;
  PackObserver* observer_;
  bool flushAsWritten_;
  bool skipUnreadable_;
  ReusePlan* plan_;
  PackCache* cache_;  // the entries written, for the cache
  uint64_t unflushed_ = 0;
  size_t unreadable_ = 0;
};

// Compresses and appends every file of a finished walk in order, on this thread. Stops at the
// first failed write or flush of the archive.
Status PackFiles(const std::vector<PackItem>& files, CPackageBuilder& builder,
                 const char* packagePath, PackObserver* observer, const PackSettings& settings,
                 bool flushAsWritten, ReusePlan* plan = nullptr, PackCache* cache = nullptr) {
  PackWriter writer(builder, observer, flushAsWritten, settings.skipUnreadable, plan, cache);
  Deflater deflater;
  for (const PackItem& item : files) {
    if (Cancelled(settings)) return Status(StatusCode::Interrupted);
    CompressedFile compressed;
    Status cause;
    SourceResult result = CompressSource(item, builder.OwnFiles(), compressed, deflater, cause);
    Status put = writer.Put(item, compressed, result, cause);
    if (!put.ok()) return put;
  }
  return writer.Outcome(packagePath);
}

// Compresses the files on worker threads while this thread appends them in walk order. A file
// whose block the cache vouches for needs no worker: this thread copies its block in its turn.
Status PackInParallel(std::vector<PackItem>& files, unsigned threads, CPackageBuilder& builder,
                      const char* packagePath, PackObserver* observer, const PackSettings& settings,
                      ReusePlan* plan, PackCache* cache) {
  CompressPool pool(threads, settings.memoryBudget, builder.OwnFiles());
  for (PackItem& item : files) {
    if (!item.trusted) (void)pool.Add(std::move(item));
  }
  pool.EndOfFiles();
  PackWriter writer(builder, observer, true, settings.skipUnreadable, plan, cache);
  size_t taken = 0;
  for (const PackItem& file : files) {
    if (Cancelled(settings)) return Status(StatusCode::Interrupted);
    CompressedFile compressed;
    const PackItem* item = &file;
    SourceResult result = SourceResult::Reused;
    Status cause;
    if (!file.trusted && !pool.Take(taken++, compressed, item, result, cause)) break;
    Status put = writer.Put(*item, compressed, result, cause);
    if (!put.ok()) return put;
  }
  return writer.Outcome(packagePath);
}

// Runs the writer over files into a new archive that replaces packagePath: on worker threads,
// or on this one.
Status WriteFiles(std::vector<PackItem>& files, CPackageBuilder& builder, const char* packagePath,
                  PackObserver* observer, const PackSettings& settings, ReusePlan* plan,
                  PackCache* cache) {
  unsigned threads = settings.threads != 0 ? settings.threads : std::thread::hardware_concurrency();
  if (threads > 1) {
    return PackInParallel(files, threads, builder, packagePath, observer, settings, plan, cache);
  }
  return PackFiles(files, builder, packagePath, observer, settings, true, plan, cache);
}

// Caches beside archives inside the tree belong to those archives (a cache left behind by an
// archive since removed included): a pack that keeps caches never packs one.
void LeaveOutCaches(std::vector<PackItem>& files) {
  const std::string suffix = PackCachePath("");
  auto isCache = [&](const PackItem& item) {
    return item.path.size() >= suffix.size() &&
           item.path.compare(item.path.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  files.erase(std::remove_if(files.begin(), files.end(), isCache), files.end());
}

// The tree replaces the whole list, so that every node's index is its place in nodes.
void SetNodeList(CPackageManager& manager, DirNodeList& nodes) {
  DirNodeList& list = manager.DirNodes();
  list.nodes = std::move(nodes.nodes);
  list.count = nodes.count;
  list.first = 0;
}

// Writes the cache of the archive just put in place at target. A cache that cannot be written
// costs the next pack its reuse, nothing more.
void WriteCacheFor(const std::string& target, PackCache& cache, platform::Env* env) {
  platform::File archive;
  if (!platform::OpenForRead(target.c_str(), archive).ok() ||
      !platform::IdentifyFile(archive, cache.archiveIdentity).ok() ||
      !platform::StampPath(target.c_str(), cache.archive).ok()) {
    return;
  }
  (void)archive.Close();
  cache.settings = PackBlockSettings();
  (void)WritePackCache(env, PackCachePath(target), cache);
}

}  // namespace

Status PackTree(const char* packagePath, const char* dir, CPackageManager* manager,
                PackObserver* observer, const PackSettings& settings) {
  if (dir == nullptr || packagePath == nullptr) return Status(StatusCode::InvalidArgument);
  // The whole tree is walked before anything is written, so that names that cannot be stored
  // refuse the pack with the old archive untouched.
  std::vector<platform::DirItem> items;
  // A top directory that cannot be listed gives the empty archive.
  bool listed = platform::ListDirectory(dir, items);
  Walk walk;
  walk.cancel = settings.cancel;
  DirNodeList nodes;
  if (listed) {
    int32_t parent = -1;
    if (manager != nullptr) {
      walk.nodes = &nodes;
      parent = AppendNode(nodes, JoinName(TopName(dir), "*.*"), -1);
    }
    WalkItems(items, dir, TopName(dir), walk, parent);
    if (walk.stopped) return Status(StatusCode::Interrupted);
    Status named = CheckNames(walk.files, packagePath, observer);
    if (!named.ok()) return named;
  }
  // Which blocks of the archive being replaced can be taken over.
  ReusePlan plan;
  const bool stamped = listed && (settings.reuse != PackReuse::None || settings.writeCache);
  if (stamped) {
    LeaveOutCaches(walk.files);
    platform::ReplaceTarget target;
    if (settings.reuse != PackReuse::None &&
        platform::ResolveReplaceTarget(packagePath, target).ok() && target.exists) {
      LoadReusePlan(target.path, plan);
    }
    MarkReusable(walk.files, plan, settings.reuse, settings.writeCache);
    if (Cancelled(settings)) return Status(StatusCode::Interrupted);
    if (AlreadyPacked(walk.files, plan)) {
      // Nothing to write: the archive is what the pack would make.
      if (manager != nullptr) SetNodeList(*manager, nodes);
      for (const PackItem& item : walk.files) {
        const PackageEntry& entry = plan.index[static_cast<size_t>(item.old)];
        if (observer == nullptr) break;
        observer->OnReused(item.path.c_str());
        observer->OnFile(item.path.c_str(), entry.size, entry.packedSize, true);
      }
      return Status::Ok();
    }
  }
  CPackageBuilder builder(settings.env);
  Status status = builder.CreateReplacing(packagePath);
  if (!status.ok()) return status;
  // The cache records when this pack began, on the file system's own clock.
  PackCache cache;
  platform::FileStamp begun;
  bool keepCache =
      settings.writeCache && platform::StampPath(builder.WritingPath().c_str(), begun).ok();
  cache.started = begun.modified;
  if (listed && manager != nullptr) SetNodeList(*manager, nodes);
  if (listed) {
    status = WriteFiles(walk.files, builder, packagePath, observer, settings,
                        plan.usable ? &plan : nullptr, keepCache ? &cache : nullptr);
    if (!status.ok()) {
      builder.Abandon();
      return status;
    }
  }
  // The old archive is closed before the new one is renamed over it.
  (void)plan.archive.Close();
  if (Cancelled(settings)) {
    builder.Abandon();
    return Status(StatusCode::Interrupted);
  }
  const std::string target = builder.TargetPath();
  status = builder.Commit();
  if (status.ok() && keepCache) WriteCacheFor(target, cache, settings.env);
  return status;
}

Status AddToArchive(const char* packagePath, const std::vector<std::string>& sources,
                    PackObserver* observer, const PackSettings& settings) {
  if (packagePath == nullptr) return Status(StatusCode::InvalidArgument);
  // The files to add, each named as a pack names it.
  Walk walk;
  walk.cancel = settings.cancel;
  for (const std::string& source : sources) {
    std::string name;
    if (!PackEntryName(source, name) || name.empty()) {
      return Status(StatusCode::InvalidArgument, source, 0,
                    "absolute, leads out with '..' or names no file; give a relative path");
    }
    if (platform::IsDirectory(source.c_str())) {
      WalkDirectory(source, name, walk, -1);
    } else if (platform::IsRegularFile(source.c_str())) {
      PackItem item;
      item.path = source;
      item.name = name;
      walk.files.push_back(std::move(item));
    } else {
      return Status(StatusCode::NotFound, source, 0,
                    platform::PathExists(source.c_str()) ? "not a regular file or directory"
                                                         : "no such file or directory");
    }
    if (walk.stopped) return Status(StatusCode::Interrupted);
  }
  Status status = CheckNames(walk.files, packagePath, observer);
  if (!status.ok()) return status;

  // The archive as it is, an interrupted edit rolled back first.
  ReusePlan plan;
  platform::ReplaceTarget target;
  status = platform::InspectReplaceTarget(packagePath, target);
  if (!status.ok()) return status;
  plan.target = target.path;
  if (HasHotJournal(plan.target.c_str())) {
    bool rolledBack = false;
    status = RecoverArchive(plan.target, rolledBack, settings.env);
    if (!status.ok()) return status;
    if (rolledBack && observer != nullptr) observer->OnRolledBack(plan.target);
  }
  status = platform::OpenForRead(plan.target.c_str(), plan.archive);
  if (!status.ok()) return status;
  status = LoadArchiveIndex(plan);
  if (!status.ok()) return status;
  // A file of another kind is not rewritten as an archive.
  status = CheckHeaderTag(DecodeHeader(plan.start.data()), plan.target);
  if (!status.ok()) return status;
  plan.usable = true;

  // Every entry keeps its place and its block, unless a file replaces it: the file takes the
  // entry's place and stored name (an exact name, else the one entry the loader finds for it).
  // New names follow, in the order given.
  std::vector<PackItem> files(plan.index.size());
  std::unordered_map<std::string, size_t> exact, folded;
  std::unordered_map<std::string, size_t> foldedCount;
  std::string key;
  for (size_t i = 0; i < plan.index.size(); ++i) {
    files[i].path = plan.target;
    files[i].name = plan.index[i].name;
    files[i].old = static_cast<int32_t>(i);
    files[i].trusted = true;
    exact.emplace(plan.index[i].name, i);
    NormalizeName(key, plan.index[i].name.c_str());
    folded.emplace(key, i);
    ++foldedCount[key];
  }
  for (PackItem& item : walk.files) {
    size_t slot = files.size();
    auto same = exact.find(item.name);
    if (same != exact.end()) {
      slot = same->second;
    } else {
      NormalizeName(key, item.name.c_str());
      auto like = folded.find(key);
      if (like != folded.end()) {
        if (foldedCount[key] > 1) {
          return Status(StatusCode::InvalidArgument, item.path, 0,
                        "its entry name '" + item.name +
                            "' matches several entries of the archive; add it by its exact name");
        }
        slot = like->second;
      }
    }
    if (slot == files.size()) {
      files.push_back(std::move(item));
      continue;
    }
    item.name = files[slot].name;
    files[slot] = std::move(item);
  }

  CPackageBuilder builder(settings.env);
  status = builder.CreateReplacing(packagePath);
  if (!status.ok()) return status;
  status = WriteFiles(files, builder, packagePath, observer, settings, &plan, nullptr);
  (void)plan.archive.Close();
  if (status.ok() && Cancelled(settings)) status = Status(StatusCode::Interrupted);
  if (!status.ok()) {
    builder.Abandon();
    return status;
  }
  return builder.Commit();
}

void PackDirectoryInto(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                       int32_t parentIndex, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk;
  if (manager != nullptr) walk.nodes = &manager->DirNodes();
  WalkDirectory(dir, TopName(dir), walk, parentIndex);
  // One file at a time, passing over files that give no entry.
  PackSettings settings;
  settings.threads = 1;
  settings.skipUnreadable = true;
  (void)PackFiles(walk.files, builder, nullptr, observer, settings, false);
}

}  // namespace korvo
