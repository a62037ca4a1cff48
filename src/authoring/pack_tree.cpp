#include "authoring/pack_tree.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "authoring/file_compress.h"
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
};

class CompressPool;

struct Walk {
  CPackageManager* manager = nullptr;  // null when no node list is built
  // Where the files go: straight to the pool's workers, or into the list.
  CompressPool* pool = nullptr;
  std::vector<PackItem> files;
  bool stopped = false;  // the pool wants no more files
};

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

// Compresses files on worker threads ahead of the writer and hands them out in walk order,
// while the walk is still finding them. Memory in flight stays bounded: finished files waiting
// to be written hold at most about the budget (the file the writer needs next is always taken
// on), at most window files are finished or under way, and each worker holds one source file
// and its compressed form.
//
// Threads are woken only when they wait for what just changed: a new file wakes idle workers,
// a worker that finishes the file the writer waits for wakes the writer, and the writer wakes
// idle workers when it frees a place. With workers ahead of the writer, neither sleeps.
class CompressPool {
 public:
  enum class Result { Packed, Failed, End };

  CompressPool(unsigned threads, size_t budget)
      : window_(std::max<size_t>(MaxWindow, size_t{2} * threads)),
        budget_(budget),
        slots_(window_) {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~CompressPool() {
    Stop();
    for (std::thread& worker : workers_) worker.join();
  }
  CompressPool(const CompressPool&) = delete;
  CompressPool& operator=(const CompressPool&) = delete;

  // The walk's next file. False once the pool has stopped: the walk can end.
  bool Add(PackItem item) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_) return false;
    files_.push_back(std::move(item));
    bool wake = idleWorkers_ > 0 && MayStart();
    lock.unlock();
    if (wake) workerWake_.notify_one();
    return true;
  }

  // The walk has found every file.
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
  // file. End when the walk ended before file i.
  Result Take(size_t i, CompressedFile& out, const PackItem*& item) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[i % window_];
    if (!slot.done && !(complete_ && i >= files_.size())) {
      writerWaiting_ = true;
      writerWake_.wait(lock, [&] { return slot.done || (complete_ && i >= files_.size()); });
      writerWaiting_ = false;
    }
    if (!slot.done) return Result::End;
    item = &files_[i];  // the walk only appends: the element stays where it is
    out = std::move(slot.result);
    bool ok = slot.ok;
    held_ -= slot.bytes;
    slot = Slot();
    taken_ = i + 1;
    bool wake = idleWorkers_ > 0;
    lock.unlock();
    if (wake) workerWake_.notify_all();
    return ok ? Result::Packed : Result::Failed;
  }

 private:
  // Files finished or under way at most, ahead of the writer.
  static constexpr size_t MaxWindow = 1024;

  struct Slot {
    bool done = false;
    bool ok = false;
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
      bool ok = CompressFile(item.path.c_str(), result, deflater);
      lock.lock();
      Slot& slot = slots_[i % window_];
      slot.done = true;
      slot.ok = ok;
      slot.bytes = result.packedSize;
      slot.result = std::move(result);
      held_ += slot.bytes;
      if (writerWaiting_ && i == taken_) writerWake_.notify_one();
    }
  }

  const size_t window_;
  const size_t budget_;
  // Appended to by the walk; a deque keeps every element in place as it grows.
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
  bool complete_ = false;  // the walk has ended
  bool stop_ = false;
};

void WalkDirectory(const std::string& path, const std::string& name, Walk& walk,
                   int32_t parentIndex);

void WalkItems(const std::vector<platform::DirItem>& items, const std::string& path,
               const std::string& name, Walk& walk, int32_t parentIndex) {
  for (const platform::DirItem& item : items) {
    if (walk.stopped) return;
    std::string itemPath = JoinPath(path, item.name);
    std::string itemName = JoinName(name, item.name);
    int32_t nodeIndex = -1;
    if (walk.manager != nullptr) {
      nodeIndex = AppendNode(walk.manager->dirList, itemName, parentIndex);
    }
    if (item.isDirectory) {
      WalkDirectory(itemPath, itemName, walk, nodeIndex);
    } else if (walk.pool != nullptr) {
      walk.stopped = !walk.pool->Add({std::move(itemPath), std::move(itemName)});
    } else {
      walk.files.push_back({std::move(itemPath), std::move(itemName)});
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

bool Cancelled(const PackSettings& settings) {
  return settings.cancel != nullptr && settings.cancel->load(std::memory_order_relaxed);
}

// While a pack runs, the data written is flushed to the disk after about this many bytes, so
// that the flush at the end has only the tail left. The writer flushes while the workers keep
// compressing, and the disk's work overlaps theirs.
constexpr uint64_t FlushInterval = uint64_t{8} << 20;

// Appends files to the archive in walk order, flushing as it goes when asked to.
class PackWriter {
 public:
  PackWriter(CPackageBuilder& builder, PackObserver* observer, bool flushAsWritten)
      : builder_(builder), observer_(observer), flushAsWritten_(flushAsWritten) {}

  // packed: compressed holds the file's entry; otherwise the file gave none. False after a
  // failed write or flush of the archive (the builder has the cause).
  bool Put(const PackItem& item, const CompressedFile& compressed, bool packed) {
    if (packed) {
      if (!builder_.AddFile(item.name.c_str(), compressed.packed.get(), compressed.size,
                            compressed.packedSize, 0)) {
        return false;
      }
      unflushed_ += compressed.packedSize;
      if (flushAsWritten_ && unflushed_ >= FlushInterval) {
        if (!builder_.FlushData()) return false;
        unflushed_ = 0;
      }
    }
    if (observer_ != nullptr) {
      observer_->OnFile(item.path.c_str(), packed ? compressed.size : 0,
                        packed ? compressed.packedSize : 0, packed);
    }
    return true;
  }

 private:
  CPackageBuilder& builder_;
  PackObserver* observer_;
  bool flushAsWritten_;
  uint64_t unflushed_ = 0;
};

// Compresses and appends every file of a finished walk in order, on this thread. Stops at the
// first failed write or flush of the archive.
Status PackFiles(const std::vector<PackItem>& files, CPackageBuilder& builder,
                 PackObserver* observer, const PackSettings& settings, bool flushAsWritten) {
  PackWriter writer(builder, observer, flushAsWritten);
  Deflater deflater;
  for (const PackItem& item : files) {
    if (Cancelled(settings)) return Status(StatusCode::Interrupted);
    CompressedFile compressed;
    bool packed = CompressFile(item.path.c_str(), compressed, deflater);
    if (!writer.Put(item, compressed, packed)) return builder.LastStatus();
  }
  return Status::Ok();
}

// Walks the top directory's items on a thread of its own, handing each file to the pool as it
// is found, while the workers compress and this thread appends in walk order.
Status PackWhileWalking(const std::vector<platform::DirItem>& items, const char* dir, Walk& walk,
                        int32_t parent, unsigned threads, CPackageBuilder& builder,
                        PackObserver* observer, const PackSettings& settings) {
  CompressPool pool(threads, settings.memoryBudget);
  walk.pool = &pool;
  std::thread walker([&] {
    WalkItems(items, dir, TopName(dir), walk, parent);
    pool.EndOfFiles();
  });
  // On the way out the pool stops taking files, so that the walk ends soon, and the walker
  // is joined before the pool goes.
  struct Joiner {
    CompressPool& pool;
    std::thread& walker;
    ~Joiner() {
      pool.Stop();
      walker.join();
    }
  } joiner{pool, walker};

  PackWriter writer(builder, observer, true);
  for (size_t i = 0;; ++i) {
    if (Cancelled(settings)) return Status(StatusCode::Interrupted);
    CompressedFile compressed;
    const PackItem* item = nullptr;
    CompressPool::Result result = pool.Take(i, compressed, item);
    if (result == CompressPool::Result::End) return Status::Ok();
    if (!writer.Put(*item, compressed, result == CompressPool::Result::Packed)) {
      return builder.LastStatus();
    }
  }
}

}  // namespace

bool PackEntryName(const std::string& path, std::string& name) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') {
      part += path[i];
      continue;
    }
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      if (parts.empty() && part.size() >= 2 && part[1] == ':') return false;  // "./C:"
      parts.push_back(part);
    }
    part.clear();
  }
  name.clear();
  for (const std::string& level : parts) name = JoinName(name, level);
  return true;
}

Status PackTree(const char* packagePath, const char* dir, CPackageManager* manager,
                PackObserver* observer, const PackSettings& settings) {
  if (dir == nullptr) return Status(StatusCode::InvalidArgument);
  CPackageBuilder builder;
  Status status = builder.CreateReplacing(packagePath);
  if (!status.ok()) return status;
  std::vector<platform::DirItem> items;
  // A top directory that cannot be listed gives the empty archive.
  if (platform::ListDirectory(dir, items)) {
    Walk walk;
    walk.manager = manager;
    int32_t parent = -1;
    if (manager != nullptr) {
      // The tree replaces the whole list, so that every node's index is its place in nodes.
      DirNodeList& list = manager->dirList;
      list.nodes.clear();
      list.count = 0;
      list.first = 0;
      parent = AppendNode(list, JoinName(TopName(dir), "*.*"), -1);
    }
    unsigned threads =
        settings.threads != 0 ? settings.threads : std::thread::hardware_concurrency();
    if (threads > 1) {
      status = PackWhileWalking(items, dir, walk, parent, threads, builder, observer, settings);
    } else {
      WalkItems(items, dir, TopName(dir), walk, parent);
      status = PackFiles(walk.files, builder, observer, settings, true);
    }
    if (!status.ok()) {
      builder.Abandon();
      return status;
    }
  }
  if (Cancelled(settings)) {
    builder.Abandon();
    return Status(StatusCode::Interrupted);
  }
  return builder.FinishStatus();
}

void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer) {
  if (path == nullptr) return;
  CompressedFile compressed;
  bool packed =
      CompressFile(path, compressed) &&
      builder.AddFile(path, compressed.packed.get(), compressed.size, compressed.packedSize, 0);
  if (observer != nullptr) {
    observer->OnFile(path, packed ? compressed.size : 0, packed ? compressed.packedSize : 0,
                     packed);
  }
}

namespace {

// Packs what a walk collected, one file at a time, passing over files that give no entry.
void PackCollected(const Walk& walk, CPackageBuilder& builder, PackObserver* observer) {
  PackSettings settings;
  settings.threads = 1;
  (void)PackFiles(walk.files, builder, observer, settings, false);
}

}  // namespace

void AddDirToPkg(const char* dir, CPackageBuilder& builder, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk;
  WalkDirectory(dir, TopName(dir), walk, -1);
  PackCollected(walk, builder, observer);
}

void AddDirToPkgTree(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                     int32_t parentIndex, PackObserver* observer) {
  if (dir == nullptr) return;
  Walk walk;
  walk.manager = manager;
  WalkDirectory(dir, TopName(dir), walk, parentIndex);
  PackCollected(walk, builder, observer);
}

void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer) {
  (void)PackTree(packagePath, dir, nullptr, observer);
}

void CreatePkgTree_Tool(const char* packagePath, const char* dir, CPackageManager* manager,
                        PackObserver* observer) {
  (void)PackTree(packagePath, dir, manager, observer);
}

}  // namespace korvo
