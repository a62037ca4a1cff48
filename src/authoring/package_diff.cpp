#include "authoring/package_diff.h"

#include <cstring>

namespace korvo {

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

}  // namespace

Status DiffArchives(const std::string& oldPath, const std::string& newPath,
                    const std::string& patchPath, const MergeSettings& settings,
                    DiffReport& report) {
  report = DiffReport();
  // One chain holds both archives, old first: a name held by both has the old record first and
  // the new one winning, and one held by one of them has a single holder.
  CPackageChain chain;
  Status status = chain.Open(oldPath);
  if (status.ok()) status = chain.Open(newPath);
  if (status.ok()) status = chain.Build(settings.cancel);
  if (!status.ok()) return status;
  std::vector<uint32_t> patch;
  std::vector<uint8_t> before;
  std::vector<uint8_t> after;
  std::vector<DiffItem> removed;
  for (const ChainName& name : chain.Names()) {
    if (Cancelled(settings.cancel)) return Status(StatusCode::Interrupted, newPath);
    const ChainHolder& winner = chain.Winner(name);
    const ChainHolder& first = chain.Holder(name.first);
    DiffItem item;
    item.name.assign(winner.Name());
    if (winner.package == 0) {  // only the old archive holds it
      item.change = DiffChange::Removed;
      item.oldSize = winner.size;
      removed.push_back(std::move(item));
      ++report.removed;
      continue;
    }
    item.newSize = winner.size;
    item.packedSize = winner.packedSize;
    const uint8_t* newBlock = nullptr;
    status = chain.Block(winner, newBlock);
    if (!status.ok()) return status;
    if (name.holders == 1) {
      item.change = DiffChange::Added;
      ++report.added;
    } else {
      item.oldSize = first.size;
      const uint8_t* oldBlock = nullptr;
      status = chain.Block(first, oldBlock);
      if (!status.ok()) return status;
      bool same = first.size == winner.size;
      if (same &&
          !(first.packedSize == winner.packedSize &&
            (winner.packedSize == 0 || std::memcmp(oldBlock, newBlock, winner.packedSize) == 0))) {
        ++report.inflated;
        status = chain.Inflate(first, before);
        if (status.ok()) status = chain.Inflate(winner, after);
        if (!status.ok()) return status;
        same = before == after;
      }
      if (same) {
        ++report.unchanged;
        continue;
      }
      item.change = DiffChange::Changed;
      ++report.changed;
    }
    patch.push_back(name.last);
    report.items.push_back(std::move(item));
  }
  for (DiffItem& item : removed) report.items.push_back(std::move(item));
  if (patchPath.empty()) return Status::Ok();
  return WriteHolders(chain, patch, patchPath, settings, &report.patchBytes);
}

}  // namespace korvo
