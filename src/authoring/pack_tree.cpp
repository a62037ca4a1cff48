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

#include "archive/names.h"
#include "authoring/file_compress.h"
#include "authoring/index_writer.h"
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
enum class SourceResult { Packed, Own, Failed };

// Opens and compresses one source file, unless it is one of the archive's own files (own: the
// target it replaces, the file being written), which is never packed, whatever path leads to
// it. cause is why a file failed.
SourceResult CompressSource(const PackItem& item, const std::vector<platform::FileIdentity>& own,
                            CompressedFile& out, Deflater& deflater, Status& cause) {
  out = CompressedFile();
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
  cause = CompressOpenFile(file, item.path.c_str(), out, deflater);
  return cause.ok() ? SourceResult::Packed : SourceResult::Failed;
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

// While a pack runs, the data written is flushed to the disk after about this many bytes, so
// that the flush at the end has only the tail left. The writer flushes while the workers keep
// compressing, and the disk's work overlaps theirs.
constexpr uint64_t FlushInterval = uint64_t{8} << 20;

// Appends files to the archive in walk order, flushing as it goes when asked to. A file that
// cannot be read is reported; unless such files are skipped, nothing more is written once one
// has been met (the archive will be abandoned), but every later file is still tried, so that
// all of them are reported.
class PackWriter {
 public:
  PackWriter(CPackageBuilder& builder, PackObserver* observer, bool flushAsWritten,
             bool skipUnreadable)
      : builder_(builder),
        observer_(observer),
        flushAsWritten_(flushAsWritten),
        skipUnreadable_(skipUnreadable) {}

  // The failure of a write or flush of the archive.
  Status Put(const PackItem& item, const CompressedFile& compressed, SourceResult result,
             const Status& cause) {
    if (result == SourceResult::Own) return Status::Ok();
    bool packed = result == SourceResult::Packed;
    if (!packed) {
      ++unreadable_;
      if (observer_ != nullptr) observer_->OnProblem(cause);
    } else if (unreadable_ == 0 || skipUnreadable_) {
      Status added = builder_.Append(item.name.c_str(), compressed.packed.get(), compressed.size,
                                     compressed.packedSize, 0);
      if (!added.ok()) return added;
      unflushed_ += compressed.packedSize;
      if (flushAsWritten_ && unflushed_ >= FlushInterval) {
        Status flushed = builder_.Flush();
        if (!flushed.ok()) return flushed;
        unflushed_ = 0;
      }
    }
    if (observer_ != nullptr) {
      observer_->OnFile(item.path.c_str(), packed ? compressed.size : 0,
                        packed ? compressed.packedSize : 0, packed);
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
  uint64_t unflushed_ = 0;
  size_t unreadable_ = 0;
};

// Compresses and appends every file of a finished walk in order, on this thread. Stops at the
// first failed write or flush of the archive.
Status PackFiles(const std::vector<PackItem>& files, CPackageBuilder& builder,
                 const char* packagePath, PackObserver* observer, const PackSettings& settings,
                 bool flushAsWritten) {
  PackWriter writer(builder, observer, flushAsWritten, settings.skipUnreadable);
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

// Compresses the files on worker threads while this thread appends them in walk order.
Status PackInParallel(std::vector<PackItem>& files, unsigned threads, CPackageBuilder& builder,
                      const char* packagePath, PackObserver* observer,
                      const PackSettings& settings) {
  CompressPool pool(threads, settings.memoryBudget, builder.OwnFiles());
  for (PackItem& item : files) (void)pool.Add(std::move(item));
  pool.EndOfFiles();
  PackWriter writer(builder, observer, true, settings.skipUnreadable);
  for (size_t i = 0;; ++i) {
    if (Cancelled(settings)) return Status(StatusCode::Interrupted);
    CompressedFile compressed;
    const PackItem* item = nullptr;
    SourceResult result = SourceResult::Failed;
    Status cause;
    if (!pool.Take(i, compressed, item, result, cause)) return writer.Outcome(packagePath);
    Status put = writer.Put(*item, compressed, result, cause);
    if (!put.ok()) return put;
  }
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
  CPackageBuilder builder(settings.env);
  Status status = builder.CreateReplacing(packagePath);
  if (!status.ok()) return status;
  if (listed && manager != nullptr) {
    // The tree replaces the whole list, so that every node's index is its place in nodes.
    DirNodeList& list = manager->DirNodes();
    list.nodes = std::move(nodes.nodes);
    list.count = nodes.count;
    list.first = 0;
  }
  if (listed) {
    unsigned threads =
        settings.threads != 0 ? settings.threads : std::thread::hardware_concurrency();
    if (threads > 1) {
      status = PackInParallel(walk.files, threads, builder, packagePath, observer, settings);
    } else {
      status = PackFiles(walk.files, builder, packagePath, observer, settings, true);
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
  return builder.Commit();
}

void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer) {
  if (path == nullptr) return;
  CompressedFile compressed;
  bool packed =
      CompressFile(path, compressed).ok() &&
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
  settings.skipUnreadable = true;
  (void)PackFiles(walk.files, builder, nullptr, observer, settings, false);
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
  if (manager != nullptr) walk.nodes = &manager->DirNodes();
  WalkDirectory(dir, TopName(dir), walk, parentIndex);
  PackCollected(walk, builder, observer);
}

namespace {

PackSettings SkippingUnreadable() {
  PackSettings settings;
  settings.skipUnreadable = true;
  return settings;
}

}  // namespace

void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer) {
  (void)PackTree(packagePath, dir, nullptr, observer, SkippingUnreadable());
}

void CreatePkgTree_Tool(const char* packagePath, const char* dir, CPackageManager* manager,
                        PackObserver* observer) {
  (void)PackTree(packagePath, dir, manager, observer, SkippingUnreadable());
}

}  // namespace korvo
