#include "catalog.h"

#include <algorithm>
#include <unordered_map>

#include "archive/mapped_package.h"
#include "archive/names.h"
#include "image/img_loader.h"
#include "manager/package_list.h"
#include "stream/mem_stream.h"

namespace korvo::tool {

DecodedImage::~DecodedImage() {
  if (frames != nullptr || values != nullptr) FreeImageFrames(count, values, frames);
}

// An empty manager with its pools: the packages come from OpenArchives or OpenGameDirectory.
Catalog::Catalog() : manager_(nullptr, 0) {}

Status Catalog::OpenArchives(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    MountReport report;
    Status status = manager_.Mount(path.c_str(), &report);
    if (!status.ok()) return status;
    ViewPackage package;
    package.token = path;
    package.path = path;
    package.mounted = true;
    package.listed = report.listed;
    package.indexed = report.indexed;
    if (!report.damage.ok()) package.problem = "index damaged: " + report.damage.Message();
    packages_.push_back(package);
  }
  IndexEntries();
  return Status::Ok();
}

void Catalog::OpenGameDirectory(const std::string& root) {
  game_ = true;
  root_ = root;
  PackageListReport report = LoadPackageListReport(manager_, root.c_str(), nullptr);
  listPath_ = report.listPath;
  if (!report.listStatus.ok()) listProblem_ = report.listStatus.Message();
  for (const ListedPackage& listed : report.packages) {
    ViewPackage package;
    package.token = listed.token;
    package.path = listed.path;
    package.mounted = listed.status.ok();
    package.listed = listed.mount.listed;
    package.indexed = listed.mount.indexed;
    if (!listed.status.ok()) {
      package.problem = "not mounted: " + listed.status.Message();
    } else if (!listed.mount.damage.ok()) {
      package.problem = "index damaged: " + listed.mount.damage.Message();
    }
    packages_.push_back(package);
  }
  IndexEntries();
}

void Catalog::IndexEntries() {
  // The mounted packages are the manager's, in mount order; the listed ones that did
  // not mount have no record there.
  std::vector<uint32_t> mountedIndex;
  for (uint32_t i = 0; i < packages_.size(); ++i) {
    if (packages_[i].mounted) mountedIndex.push_back(i);
  }
  for (size_t m = 0; m < manager_.PackageCount() && m < mountedIndex.size(); ++m) {
    CMappedPackage* package = manager_.PackageAt(m)->package;
    if (package == nullptr) continue;
    RecordView record;
    uint32_t taken = 0;
    for (bool more = package->FirstRecord(record);
         more && taken < packages_[mountedIndex[m]].indexed; more = package->NextRecord(record)) {
      ++taken;
      ViewEntry entry;
      entry.name.assign(record.name, record.nameLength);
      entry.folded.resize(entry.name.size());
      FoldName(entry.name.data(), entry.name.size(), &entry.folded[0]);
      entry.package = mountedIndex[m];
      entry.recordOffset = record.recordOffset;
      entry.info = EntryInfo{package, record.flags, record.offset, record.size, record.packedSize};
      records_.push_back(
          PackageEntry{entry.name, record.flags, record.offset, record.size, record.packedSize});
      entries_.push_back(std::move(entry));
    }
  }

  // Per name: the entry the manager's own lookup finds wins; the others of that name are what
  // it shadows.
  std::unordered_map<std::string, std::vector<uint32_t>> byName;
  for (uint32_t id = 0; id < entries_.size(); ++id) byName[entries_[id].folded].push_back(id);
  for (auto& [folded, ids] : byName) {
    uint32_t winner = ids.back();
    IndexedEntry found;
    if (folded.find('\0') == std::string::npos && manager_.Lookup(folded.c_str(), found)) {
      for (uint32_t id : ids) {
        const ViewEntry& entry = entries_[id];
        if (entry.info.package == found.info.package && entry.recordOffset == found.recordOffset) {
          winner = id;
        }
      }
    }
    for (uint32_t id : ids) {
      entries_[id].winner = winner;
      if (id != winner) entries_[winner].shadows.push_back(id);
    }
  }

  sorted_.resize(entries_.size());
  for (uint32_t id = 0; id < sorted_.size(); ++id) sorted_[id] = id;
  std::stable_sort(sorted_.begin(), sorted_.end(), [this](uint32_t a, uint32_t b) {
    return entries_[a].folded < entries_[b].folded;
  });
}

Status Catalog::Read(uint32_t id, EntryBytes& bytes) const {
  if (id >= entries_.size()) return Status(StatusCode::NotFound, "", 0, "no entry of that id");
  CMemStream stream;
  Status status = stream.OpenEntryWithStatus(entries_[id].info, ModeRead);
  if (!status.ok()) return status;
  // Through Read: a large entry of stored blocks is read in place, not from the buffer.
  bytes.data.resize(stream.size);
  if (stream.size != 0 && stream.Read(bytes.data.data(), stream.size) != stream.size) {
    stream.Close();
    return Status(StatusCode::IoError, "", 0, "the entry could not be read whole");
  }
  stream.Close();
  return Status::Ok();
}

Status Catalog::Decode(uint32_t id, std::shared_ptr<const DecodedImage>& image) const {
  if (id >= entries_.size()) return Status(StatusCode::NotFound, "", 0, "no entry of that id");
  {
    std::lock_guard<std::mutex> hold(lastLock_);
    if (last_ && lastId_ == id) {
      image = last_;
      return Status::Ok();
    }
  }
  // One decode at a time: each may take up to the loader's bound of memory.
  std::lock_guard<std::mutex> decoding(decodeLock_);
  CMemStream stream;
  Status status = stream.OpenEntryWithStatus(entries_[id].info, ModeRead);
  if (!status.ok()) return status;
  auto decoded = std::make_shared<DecodedImage>();
  status = DecodeImageStream(stream, &decoded->count, &decoded->values, &decoded->frames);
  stream.Close();
  if (!status.ok()) {
    decoded->count = 0;
    decoded->values = nullptr;
    decoded->frames = nullptr;
    return status;
  }
  std::lock_guard<std::mutex> hold(lastLock_);
  lastId_ = id;
  last_ = decoded;
  image = decoded;
  return Status::Ok();
}

}  // namespace korvo::tool
