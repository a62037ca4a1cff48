// Which mounted packages hold a name: every one, in mount order, and the one a lookup finds.
#include "archive/index_reader.h"
#include "archive/mapped_package.h"
#include "archive/names.h"
#include "manager/package_manager.h"

namespace korvo {

namespace {

// Whether the stored name folds to the folded key.
bool FoldsTo(const RecordView& record, std::string_view key) {
  if (record.nameLength != key.size()) return false;
  for (uint32_t i = 0; i < record.nameLength; ++i) {
    if (FoldByte(record.name[i]) != key[i]) return false;
  }
  return true;
}

}  // namespace

size_t CPackageManager::EnumerateSources(const char* name,
                                         bool (*visit)(const char*, const char*, uint32_t, uint32_t,
                                                       uint32_t, bool, void*),
                                         void* context) {
  if (name == nullptr || visit == nullptr) return 0;
  const FoldedName key(name);
  const Mounts::Pin pin = mounts_.Read();
  const MountSet& set = pin.Set();
  IndexedEntry found;
  bool indexed = false;
  size_t calls = 0;
  // The set of mounts is pinned for the whole call, so no package of it goes meanwhile, a
  // reload or removal notwithstanding. Its package list is read under the mount lock a few
  // packages at a time (a mount may add to it), and visit runs without that lock, so that it
  // may call into the library, a mount included.
  constexpr size_t Batch = 64;
  CMappedPackage* batch[Batch];
  for (size_t next = 0;;) {
    size_t count = 0;
    {
      std::lock_guard<std::mutex> mounting(mountLock_);
      if (next == 0) indexed = mounts_.Lookup(pin, key, found);
      for (; count < Batch && next < set.PackageCount(); ++count, ++next) {
        batch[count] = set.PackageAt(next)->package;
      }
    }
    if (count == 0) return calls;
    for (size_t at = 0; at < count; ++at) {
      const CMappedPackage& package = *batch[at];
      // The walk a mount makes, with a cursor of its own: records wholly inside the file, up
      // to the header's count or the first that is not.
      ViewCursor cursor;
      cursor.base = package.View();
      cursor.limit = package.FileSize();
      const int32_t records = SignedEntryCount(package.Header());
      RecordView record;
      RecordView last;
      bool held = false;
      if (!cursor.SeekTo(package.Header().indexOffset)) continue;
      for (int32_t r = 0; r < records && ReadIndexRecord(cursor, record); ++r) {
        if (record.name != nullptr && FoldsTo(record, key.View())) {
          last = record;
          held = true;
        }
      }
      if (!held) continue;
      const bool winner =
          indexed && found.info.package == &package && found.recordOffset == last.recordOffset;
      ++calls;
      if (!visit(package.Path().c_str(), last.name, last.nameLength, last.size, last.packedSize,
                 winner, context)) {
        return calls;
      }
    }
  }
}

}  // namespace korvo
