#include "archive_file.h"

#include <cstdio>

#include "archive/index_reader.h"
#include "archive/inflate.h"
#include "archive/journal_format.h"
#include "archive/names.h"
#include "archive/view_cursor.h"
#include "authoring/journal.h"
#include "tool.h"

namespace korvo::tool {

namespace {

std::string Number(uint64_t value) {
  return std::to_string(value);
}

}  // namespace

void ReportStatus(const Status& status) {
  std::fprintf(stderr, "korvo: %s\n", Printable(status.Message()).c_str());
  std::fflush(stderr);
}

bool RollBackInterruptedEdit(const std::string& path) {
  if (JournalAt(path.c_str()) != JournalKind::File) return true;
  bool rolledBack = false;
  Status status = RecoverArchive(path, rolledBack);
  if (!status.ok()) {
    ReportStatus(status);
    return false;
  }
  if (rolledBack) ReportError(path, "rolled back an interrupted edit; the archive is as before it");
  return true;
}

ArchiveFile::~ArchiveFile() {
  Close();
}

void ArchiveFile::Close() {
  if (open_) package_.Close();
  open_ = false;
}

Status ArchiveFile::Open(const std::string& path, bool keepDamagedIndex) {
  const auto refused = [&path](std::string cause) {
    return Status(StatusCode::Corrupt, path, 0, std::move(cause));
  };
  Close();
  entries_.clear();
  warnings_.clear();
  indexDamage_ = Status::Ok();
  if (HasHotJournal(path.c_str())) {
    return Status(StatusCode::Locked, path, 0,
                  "an edit of this archive was interrupted; run 'korvo verify --repair " + path +
                      "' (or any edit command) to roll it back");
  }
  // The library's refusal, with its cause as the detail.
  Status opened = package_.OpenWithStatus(path.c_str());
  if (!opened.ok()) return Status(opened.code(), path, 0, opened.Cause());
  open_ = true;
  fileSize_ = package_.FileSize();
  header_ = package_.Header();
  if (fileSize_ >= PackageHeaderSize) {
    Status tag = CheckHeaderTag(header_, path);
    if (!tag.ok()) return tag;
  }
  // What a mount refuses, the tool refuses with the same cause.
  Status header = package_.CheckHeader();
  if (!header.ok()) return Status(header.code(), path, header.systemError(), header.detail());
  // Every record takes at least 18 bytes, so no more than this can be in the file.
  const uint32_t count = header_.entryCount;
  const uint32_t room = (fileSize_ - header_.indexOffset) / IndexRecordFixedSize;
  entries_.reserve(count < room ? count : room);
  uint32_t indexEnd = header_.indexOffset;
  RecordView record;
  for (bool more = package_.FirstRecord(record); more; more = package_.NextRecord(record)) {
    PackageEntry entry;
    entry.name.assign(record.name != nullptr ? record.name : "", record.nameLength);
    entry.flags = record.flags;
    entry.offset = record.offset;
    entry.size = record.size;
    entry.packedSize = record.packedSize;
    entries_.push_back(std::move(entry));
    indexEnd = record.recordOffset + IndexRecordFixedSize + record.nameLength;
  }
  indexDamage_ = package_.WalkDamage();
  if (!indexDamage_.ok()) {
    if (!keepDamagedIndex) return refused(indexDamage_.detail());
    return Status::Ok();
  }
  if (count > 0 && header_.indexSize != indexEnd - header_.indexOffset) {
    warnings_.push_back("header index size " + Number(header_.indexSize) + " differs from the " +
                        Number(indexEnd - header_.indexOffset) + " bytes of the index");
  }
  if (indexEnd < fileSize_) {
    warnings_.push_back(Number(fileSize_ - indexEnd) + " bytes after the end of the index");
  }
  return Status::Ok();
}

int ArchiveFile::FindExact(const std::string& name) const {
  for (size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int ArchiveFile::Find(const std::string& name) const {
  int exact = FindExact(name);
  if (exact >= 0) return exact;
  std::vector<int> matches = FindAll(name);
  return matches.empty() ? -1 : matches.back();
}

std::vector<int> ArchiveFile::FindAll(const std::string& name) const {
  std::vector<int> matches;
  for (size_t i : MatchingEntries(entries_, name)) matches.push_back(static_cast<int>(i));
  return matches;
}

Status ArchiveFile::CheckPlacement(const PackageEntry& entry) const {
  const auto refused = [](std::string cause) {
    return Status(StatusCode::Corrupt, std::string(), 0, std::move(cause));
  };
  Status placed = korvo::CheckPlacement(entry, header_.indexOffset, std::string());
  if (!placed.ok()) return placed;
  if (static_cast<uint64_t>(entry.size) > MaxInflatedSize(entry.packedSize)) {
    return refused("recorded size " + Number(entry.size) + " is impossible for " +
                   Number(entry.packedSize) + " packed bytes");
  }
  return Status::Ok();
}

Status ArchiveFile::ReadEntry(const PackageEntry& entry, std::vector<uint8_t>& out) {
  if (!open_) return Status(StatusCode::InvalidArgument, std::string(), 0, "archive is closed");
  Status placed = CheckPlacement(entry);
  if (!placed.ok()) return placed;
  out.assign(entry.size, 0);
  uint8_t none = 0;
  uint8_t* destination = out.empty() ? &none : out.data();
  if (package_.Extract(destination, entry.size, entry.offset, entry.packedSize)) {
    return Status::Ok();
  }
  Status checked = CheckEntry(entry);
  if (!checked.ok()) return checked;
  return Status(StatusCode::Corrupt, std::string(), 0,
                "data does not inflate to its recorded size");
}

Status ArchiveFile::CheckEntry(const PackageEntry& entry) const {
  if (!open_) return Status(StatusCode::InvalidArgument, std::string(), 0, "archive is closed");
  Status placed = CheckPlacement(entry);
  if (!placed.ok()) return placed;
  return CheckInflate(package_.View() + entry.offset, entry.packedSize, entry.size);
}

}  // namespace korvo::tool
