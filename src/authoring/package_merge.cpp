#include "authoring/package_merge.h"

#include "authoring/package_builder.h"
#include "platform/files.h"

namespace korvo {

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

}  // namespace

Status WriteHolders(CPackageChain& chain, const std::vector<uint32_t>& holders,
                    const std::string& out, const MergeSettings& settings, uint64_t* bytesOut) {
  // Every block is checked before the target is touched, so a damaged source writes nothing.
  std::vector<const uint8_t*> blocks(holders.size(), nullptr);
  for (size_t i = 0; i < holders.size(); ++i) {
    Status placed = chain.Block(chain.Holder(holders[i]), blocks[i]);
    if (!placed.ok()) return placed;
  }
  CPackageBuilder builder(settings.env);
  Status status = builder.CreateReplacing(out.c_str());
  if (!status.ok()) return status;
  std::string name;
  for (size_t i = 0; i < holders.size(); ++i) {
    if (Cancelled(settings.cancel)) {
      builder.Abandon();
      return Status(StatusCode::Interrupted, out);
    }
    const ChainHolder& holder = chain.Holder(holders[i]);
    name.assign(holder.Name());
    status = builder.Append(name.c_str(), blocks[i], holder.size, holder.packedSize, holder.flags);
    if (!status.ok()) {
      builder.Abandon();
      if (status.code() == StatusCode::TooLarge) {
        return Status(status.code(), out, 0, "entry '" + name + "': " + status.detail());
      }
      return status;
    }
  }
  if (Cancelled(settings.cancel)) {
    builder.Abandon();
    return Status(StatusCode::Interrupted, out);
  }
  if (bytesOut != nullptr) *bytesOut = builder.header.indexOffset;
  // The sources are unmapped before the new archive takes its place: a system that cannot
  // rename over a mapped file could not otherwise replace one of them.
  chain.Close();
  status = builder.Commit();
  if (status.ok() && bytesOut != nullptr) *bytesOut += builder.header.indexSize;
  return status;
}

Status MergeArchives(const std::vector<std::string>& sources, const std::string& out,
                     const MergeSettings& settings, MergeReport* report) {
  MergeReport local;
  MergeReport& tally = report != nullptr ? *report : local;
  tally = MergeReport();
  if (sources.empty()) return Status(StatusCode::InvalidArgument, out, 0, "no archive to merge");
  CPackageChain chain;
  for (const std::string& source : sources) {
    Status opened = chain.Open(source);
    if (!opened.ok()) return opened;
    tally.bytesIn += chain.Package(chain.PackageCount() - 1).FileSize();
  }
  Status built = chain.Build(settings.cancel);
  if (!built.ok())
    return built.code() == StatusCode::Interrupted ? Status(built.code(), out) : built;
  std::vector<uint32_t> winners;
  winners.reserve(chain.Names().size());
  uint64_t records = 0;
  for (size_t p = 0; p < chain.PackageCount(); ++p) {
    records += static_cast<uint32_t>(SignedEntryCount(chain.Package(p).Header()));
  }
  for (const ChainName& name : chain.Names()) {
    if (chain.Winner(name).Name().find('\0') != std::string_view::npos) {
      ++tally.unreachable;
      continue;
    }
    winners.push_back(name.last);
  }
  tally.entries = winners.size();
  tally.shadowed = records - winners.size() - tally.unreachable;
  return WriteHolders(chain, winners, out, settings, &tally.bytesOut);
}

Status CompactArchive(const std::string& path, const MergeSettings& settings, MergeReport* report) {
  return MergeArchives({path}, path, settings, report);
}

}  // namespace korvo
