// CMappedPackage: the read-only reader of one package archive. The whole file is mapped once;
// the index walk and every extraction read straight from the mapped view.
//
// Threads: the walk (FirstEntry, NextEntry, FirstRecord, NextRecord) uses the package's own
// cursor and belongs to whoever mounts the package. Everything else is const and reads only
// the immutable view, so any number of threads may extract at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/index_reader.h"
#include "archive/inflate.h"
#include "archive/package_format.h"
#include "archive/view_cursor.h"
#include "common/status.h"
#include "platform/platform.h"

namespace korvo {

class CMappedPackage {
 public:
  CMappedPackage() = default;
  CMappedPackage(const CMappedPackage&) = delete;
  CMappedPackage& operator=(const CMappedPackage&) = delete;

  // Maps the file read-only and reads the header. Fails for a missing, empty or unmappable
  // file and for a directory. A file shorter than 16 bytes opens but has no entries.
  bool Open(const char* path);
  // The same, with the cause of a failure: the mapping's (files.h, MapFileReadOnly), where an
  // empty file or one of 4 GiB or more is "..., not a package archive".
  Status OpenWithStatus(const char* path);
  // Unmaps the view and closes the file (the destructor does the same).
  void Close();

  // The index walk. FirstEntry starts at indexOffset; NextEntry returns the next record. The
  // walk yields entryCount records (read as a signed count) but ends early when a record would
  // begin with fewer than 2 bytes left in the file. A record cut short by the end of the file
  // is still returned, with the fields that did not fit left as they were in entry.
  bool FirstEntry(PackageEntry& entry);
  bool NextEntry(PackageEntry& entry);
  // The walk that mounting and the korvo tool use, without copying names: record.name points
  // into the view. Unlike FirstEntry and NextEntry it yields only records that lie wholly
  // inside the file: it stops at the first one that does not, and WalkDamage then says where
  // (a record cut short would otherwise carry fields of the record before it).
  bool FirstRecord(RecordView& record);
  bool NextRecord(RecordView& record);
  // Ok when the last FirstRecord/NextRecord walk ended after the header's count of records;
  // otherwise (Corrupt) the record at which it stopped.
  const Status& WalkDamage() const { return walkDamage_; }

  // Whether the package can be mounted at all: the file holds a whole header, the entry count
  // is below 2^31, the index offset lies from 16 to the end of the file and, when there are
  // entries, the first record lies wholly inside the file. The tag is not looked at. Records
  // after the first are judged by the walk.
  Status CheckHeader() const;
  // The same without the first record: a caller that walks the index anyway reads that record
  // once, and refuses the package with FirstRecordRefusal when FirstRecord meets damage.
  Status CheckHeaderFields() const;
  Status FirstRecordRefusal() const;

  // Inflates the packedSize bytes at offset into destination. True only when the block lies
  // wholly inside the file and inflates to exactly destinationSize bytes.
  bool Extract(void* destination, uint32_t destinationSize, uint32_t offset,
               uint32_t packedSize) const;
  // The entry's block, or null when it does not lie wholly inside the file (or is empty).
  const uint8_t* Block(uint32_t offset, uint32_t packedSize) const;
  // Inflates the entry into a growing malloc'd buffer (InflateBounded): nothing is allocated
  // unless the block lies inside the file, and the memory follows what inflating produces.
  Status ExtractBounded(const EntryInfo& info, InflateBuffer buffer) const;

  // The name of the record at recordOffset (a RecordView's recordOffset) as the file stores it,
  // in place in the view; empty when no record lies there.
  std::string_view StoredName(uint32_t recordOffset) const;

  // A hint that bytes [offset, offset + length) of the file are about to be read.
  void WillRead(uint32_t offset, uint32_t length) const { mapping.WillRead(offset, length); }

  const PackageHeader& Header() const { return header; }
  uint32_t FileSize() const { return fileSize; }
  const uint8_t* View() const { return mapping.View(); }
  // The path the package was opened with.
  const std::string& Path() const { return path_; }

 private:
  platform::Mapping mapping;  // file handle, mapping handle and view
  uint32_t fileSize = 0;
  ViewCursor cursor;
  PackageHeader header;
  int32_t currentIndex = -1;
  uint32_t nextRecordOffset = 0;
  Status walkDamage_;
  std::string path_;
};

}  // namespace korvo
