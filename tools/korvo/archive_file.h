// Read-only access to one package archive for the tool: the library's mapped reader, with the
// header and the index checked against the file so that every command reports a damaged or
// foreign file clearly instead of acting on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/mapped_package.h"
#include "archive/package_format.h"

namespace korvo::tool {

class ArchiveFile {
 public:
  ArchiveFile() = default;
  ~ArchiveFile();
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  // Maps path and reads the header and the index records through the library's reader, which
  // decides what a mount takes (CMappedPackage::CheckHeader, FirstRecord/NextRecord). A failure
  // names path as its file and gives a one-line cause as its detail: the file cannot be mapped,
  // is no package archive (too short, wrong tag, refused by CheckHeader), or, unless
  // keepDamagedIndex, its index breaks before its last record; with keepDamagedIndex the
  // records before the break are kept and IndexDamage says where it is.
  Status Open(const std::string& path, bool keepDamagedIndex = false);
  // Unmaps the file; the entries stay readable.
  void Close();

  const PackageHeader& Header() const { return header_; }
  uint32_t FileSize() const { return fileSize_; }
  const std::vector<PackageEntry>& Entries() const { return entries_; }
  // Header and index faults that leave every entry readable: a stale index size, bytes after
  // the index.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  // Ok, or where the index breaks (the entries stop before it), as a mount reports it.
  const Status& IndexDamage() const { return indexDamage_; }

  // The entry that a name selects: the record of exactly that name, otherwise the one the
  // resource manager would find (ASCII case and slash direction ignored, the later record
  // winning). -1 when none.
  int Find(const std::string& name) const;
  // The record of exactly this name (the last one when several), or -1.
  int FindExact(const std::string& name) const;
  // Every record whose name matches name ignoring ASCII case and slash direction.
  std::vector<int> FindAll(const std::string& name) const;

  // The statuses below have no file (the caller names the entry) and a one-line cause as
  // their detail.
  // Checks the entry's placement: its data block must lie within the data region, from 16 to
  // indexOffset.
  Status CheckPlacement(const PackageEntry& entry) const;
  // Inflates the entry through the library's reader into out, exactly its recorded size.
  Status ReadEntry(const PackageEntry& entry, std::vector<uint8_t>& out);
  // Inflates the entry through the library without keeping its bytes and compares the result
  // with the recorded size; the detail says what is wrong.
  Status CheckEntry(const PackageEntry& entry) const;

 private:
  CMappedPackage package_;
  bool open_ = false;
  PackageHeader header_;
  uint32_t fileSize_ = 0;
  std::vector<PackageEntry> entries_;
  std::vector<std::string> warnings_;
  Status indexDamage_;
};

}  // namespace korvo::tool
