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
  // Mounts change the package list: none runs while the packages are walked.
  std::lock_guard<std::mutex> mounting(mountLock_);
  IndexedEntry found;
  const bool indexed = Lookup(key, found);
  size_t calls = 0;
  for (const PackageRecord& mounted : packages) {
    const CMappedPackage& package = *mounted.package;
    // The walk a mount makes, with a cursor of its own: records wholly inside the file, up to
    // the header's count or the first that is not.
    ViewCursor cursor;
    cursor.base = package.View();
    cursor.limit = package.FileSize();
    const int32_t count = SignedEntryCount(package.Header());
    RecordView record;
    RecordView last;
    bool held = false;
    if (!cursor.SeekTo(package.Header().indexOffset)) continue;
    for (int32_t at = 0; at < count && ReadIndexRecord(cursor, record); ++at) {
      if (record.name != nullptr && FoldsTo(record, key.View())) {
        last = record;
        held = true;
      }
    }
    if (!held) continue;
    const bool winner =
        indexed && found.info.package == &package && found.recordOffset == last.recordOffset;
    ++calls;
    if (!visit(mounted.path, last.name, last.nameLength, last.size, last.packedSize, winner,
               context)) {
      break;
    }
  }
  return calls;
}

}  // namespace korvo
