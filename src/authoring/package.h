// CPackage: edits an existing package archive in place. Open loads the whole index, AddFile
// and DelFile change entries, Close writes the index and the header, commits and closes.
//
// Every edit is journalled (authoring/journal.h): before a byte of the archive is overwritten
// or cut, what is needed to restore it is saved beside the archive (the original bytes, or for
// the move of a delete the removed block and the move's progress). A failed write rolls the archive
// back at once, so a failed edit leaves it byte for byte as it was; Close makes the edit final only
// after the archive is flushed. Open first rolls back a journal that an interrupted edit left.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "authoring/journal.h"
#include "platform/env.h"
#include "platform/platform.h"

namespace korvo {

class CPackage {
 public:
  // Every change on disk, and the open of the archive, goes through env.
  explicit CPackage(platform::Env* env = platform::Env::Default()) : env_(env) {}
  // Closes a file that Close did not close, without writing anything.
  ~CPackage();
  CPackage(const CPackage&) = delete;
  CPackage& operator=(const CPackage&) = delete;

  // Opens the archive (two attempts) and loads its whole index. Fails, with the message
  // "CPackage::Open Failed!", when the file cannot be opened (for instance while it is
  // mounted), is shorter than 16 bytes, or its index or a data block it names does not lie
  // wholly inside the file: a damaged archive is never rewritten. The status says which
  // (LoadIndexFromFile words the refusals).
  Status Load(const char* path);
  bool Open(const char* path) { return Load(path).ok(); }
  // The walk over the index as Open read it from the file.
  bool FirstEntry(PackageEntry& entry);
  bool NextEntry(PackageEntry& entry);
  // Writes the packedSize bytes at the end of the data region and records them under name.
  // Fails, with the index unchanged, when the write fails or the name is too long.
  Status Append(const char* name, const void* data, uint32_t size, uint32_t packedSize,
                uint32_t flags);
  bool AddFile(const char* name, const void* data, uint32_t size, uint32_t packedSize,
               uint32_t flags) {
    return Append(name, data, size, packedSize, flags).ok();
  }
  // Removes the first entry called name and moves everything behind its data down. Ok also
  // when no entry has that name (nothing changes then). When cancel is given and set, the move
  // stops before its next chunk and the archive is rolled back: Interrupted.
  Status Remove(const char* name, const std::atomic<bool>* cancel = nullptr);
  bool DelFile(const char* name) { return Remove(name).ok(); }
  // Writes the index and the header, commits and closes.
  Status Commit();
  bool Close() { return Commit().ok(); }
  // Closes the file without writing anything more. An edit that was started is rolled back, so
  // what is on disk is the archive as Open found it.
  void CloseUnchanged();

  // The path Load opened.
  const std::string& Path() const { return path; }
  // True when Open rolled back a journal that an interrupted edit had left.
  bool RecoveredJournal() const { return recoveredJournal; }

  platform::File file;
  std::vector<PackageEntry> index;
  PackageHeader header;
  int32_t currentIndex = -1;
  uint32_t nextRecordOffset = 0;

 private:
  // Reads the header and the index, refusing a damaged archive with its cause.
  Status LoadIndex();
  // Copies length bytes from `from` down to `to`, saving what it overwrites first when protect.
  Status MoveDown(uint64_t from, uint64_t to, uint64_t length, bool protect,
                  const std::atomic<bool>* cancel);
  // Moves the tail bytes behind a removed block of shift bytes at `to` down over it, under the
  // journal.
  Status MoveTail(uint64_t to, uint64_t shift, uint64_t tail, const std::atomic<bool>* cancel);
  // Saves the original of a range in the journal, then writes data there.
  Status WriteProtected(uint64_t offset, const void* data, size_t length);
  // Records a failure: rolls the archive back and closes it. Returns the cause, or the failure
  // of the rollback.
  Status Fail(Status cause);

  platform::Env* env_;
  std::vector<uint8_t> indexBytes;  // the index as Open read it
  uint32_t indexBytesOffset = 0;    // file offset of indexBytes[0]
  std::string path;                 // the archive Open opened
  CEditJournal journal;
  bool recoveredJournal = false;
};

}  // namespace korvo
