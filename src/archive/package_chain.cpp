#include "archive/package_chain.h"

#include <algorithm>
#include <map>
#include <new>
#include <utility>

#include "archive/journal_format.h"
#include "archive/names.h"

namespace korvo {

size_t FoldedHash::operator()(std::string_view name) const {
  uint64_t hash = 1469598103934665603ull;
  for (char c : name) {
    hash ^= static_cast<uint8_t>(FoldByte(c));
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash ^ (hash >> 29));
}

bool FoldedEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldByte(a[i]) != FoldByte(b[i])) return false;
  }
  return true;
}

Status CPackageChain::Open(const std::string& path) {
  if (HasHotJournal(path.c_str())) {
    return Status(StatusCode::Locked, path, 0,
                  "an edit of this archive was interrupted; roll it back first");
  }
  std::unique_ptr<CMappedPackage> package(new (std::nothrow) CMappedPackage());
  if (package == nullptr) return Status(StatusCode::NoMemory, path);
  Status status = package->OpenWithStatus(path.c_str());
  if (status.code() == StatusCode::NotFound) {
    return Status(StatusCode::NotFound, path, 0, "no such file");
  }
  if (!status.ok()) {
    if (status.file().empty()) return Status(status.code(), path, status.systemError());
    return status;
  }
  status = package->CheckHeader();
  if (!status.ok()) return status;
  packages_.push_back(package.get());
  whole_.push_back(true);
  owned_.push_back(std::move(package));
  return Status::Ok();
}

void CPackageChain::Adopt(CMappedPackage& package) {
  packages_.push_back(&package);
  whole_.push_back(false);
}

Status CPackageChain::Build(const std::atomic<bool>* cancel) {
  holders_.clear();
  names_.clear();
  byName_.clear();
  size_t records = 0;
  for (CMappedPackage* package : packages_) {
    // Each record takes at least 18 bytes of the file: a lying count reserves no more.
    records +=
        std::min<size_t>(static_cast<size_t>(std::max(SignedEntryCount(package->Header()), 0)),
                         package->FileSize() / IndexRecordFixedSize);
  }
  holders_.reserve(records);
  byName_.reserve(records);
  for (uint32_t at = 0; at < packages_.size(); ++at) {
    CMappedPackage& package = *packages_[at];
    RecordView record;
    uint32_t walked = 0;
    for (bool more = package.FirstRecord(record); more; more = package.NextRecord(record)) {
      if (cancel != nullptr && (++walked & 0xfff) == 0 && cancel->load()) {
        return Status(StatusCode::Interrupted);
      }
      ChainHolder holder;
      holder.package = at;
      holder.recordOffset = record.recordOffset;
      holder.name = record.name != nullptr ? record.name : "";
      holder.nameLength = record.nameLength;
      holder.flags = record.flags;
      holder.offset = record.offset;
      holder.size = record.size;
      holder.packedSize = record.packedSize;
      auto found = byName_.try_emplace(holder.Name(), static_cast<uint32_t>(names_.size()));
      const uint32_t index = static_cast<uint32_t>(holders_.size());
      if (found.second) {
        names_.push_back(ChainName{index, index, 1});
        holders_.push_back(holder);
        continue;
      }
      ChainName& name = names_[found.first->second];
      ChainHolder& last = holders_[name.last];
      if (last.package == at) {
        // A later record of the same package replaces its earlier one, as in a mount.
        holder.next = ChainHolder::None;
        last = holder;
        continue;
      }
      last.next = index;
      name.last = index;
      ++name.holders;
      holders_.push_back(holder);
    }
    if (whole_[at] && !package.WalkDamage().ok()) return package.WalkDamage();
  }
  return Status::Ok();
}

const ChainName* CPackageChain::Find(std::string_view name) const {
  auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : &names_[found->second];
}

Status CPackageChain::Block(const ChainHolder& holder, const uint8_t*& block) const {
  const CMappedPackage& package = *packages_[holder.package];
  block = nullptr;
  const auto damaged = [&](const std::string& cause) {
    return Status(StatusCode::Corrupt, package.Path(), 0,
                  "entry '" + std::string(holder.Name()) + "': " + cause);
  };
  const uint64_t end = static_cast<uint64_t>(holder.offset) + holder.packedSize;
  if (holder.packedSize > 0 &&
      (holder.offset < PackageHeaderSize || end > package.Header().indexOffset)) {
    return damaged("data at offset " + std::to_string(holder.offset) + " (" +
                   std::to_string(holder.packedSize) + " bytes) lies outside the data region");
  }
  if (static_cast<uint64_t>(holder.size) > MaxInflatedSize(holder.packedSize)) {
    return damaged("recorded size " + std::to_string(holder.size) + " is impossible for " +
                   std::to_string(holder.packedSize) + " packed bytes");
  }
  block = package.Block(holder.offset, holder.packedSize);
  return Status::Ok();
}

Status CPackageChain::Inflate(const ChainHolder& holder, std::vector<uint8_t>& out) const {
  const uint8_t* block = nullptr;
  Status status = Block(holder, block);
  if (!status.ok()) return status;
  out.resize(holder.size);
  if (holder.size == 0 && holder.packedSize == 0) return Status::Ok();
  uint8_t none = 0;
  if (block == nullptr ||
      !InflateExact(block, holder.packedSize, out.empty() ? &none : out.data(), holder.size)) {
    const CMappedPackage& package = *packages_[holder.package];
    Status checked = block == nullptr ? Status(StatusCode::Corrupt)
                                      : CheckInflate(block, holder.packedSize, holder.size);
    return Status(StatusCode::Corrupt, package.Path(), 0,
                  "entry '" + std::string(holder.Name()) + "': " +
                      (checked.detail().empty() ? "data does not inflate to its recorded size"
                                                : checked.detail()));
  }
  return Status::Ok();
}

void CPackageChain::Close() {
  for (auto& package : owned_) package->Close();
}

ChainConflicts FindConflicts(const CPackageChain& chain) {
  ChainConflicts conflicts;
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> pairs;
  const std::vector<ChainName>& names = chain.Names();
  for (uint32_t at = 0; at < names.size(); ++at) {
    const ChainName& name = names[at];
    if (name.holders < 2) continue;
    conflicts.names.push_back(at);
    const uint32_t winner = chain.Winner(name).package;
    for (uint32_t h = name.first; h != name.last; h = chain.Holder(h).next) {
      ++pairs[{winner, chain.Holder(h).package}];
    }
  }
  for (const auto& pair : pairs) {
    conflicts.overrides.push_back(ChainOverride{pair.first.first, pair.first.second, pair.second});
  }
  return conflicts;
}

}  // namespace korvo
