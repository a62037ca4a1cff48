// Writing archives from the stored blocks of others, without inflating or recompressing any:
// flattening a mount chain into one archive, rewriting one archive without the bytes that
// replaced entries left behind, and the patch that turns one archive's reads into another's.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_chain.h"
#include "common/status.h"
#include "platform/env.h"

namespace korvo {

struct MergeSettings {
  // Set (from a signal handler, for instance) to stop: the write then fails with Interrupted
  // and the target stays as it was.
  const std::atomic<bool>* cancel = nullptr;
  // Every change on disk goes through it.
  platform::Env* env = platform::Env::Default();
};

struct MergeReport {
  uint64_t entries = 0;      // entries written
  uint64_t shadowed = 0;     // records left out because a later one wins for their name
  uint64_t unreachable = 0;  // records left out because their name holds a zero byte
  uint64_t bytesIn = 0;      // the sources' file sizes together
  uint64_t bytesOut = 0;     // the written archive's size
};

// Writes, atomically, the archive at out holding every name of the chain of archives in
// sources (mounted in that order) with the winner's stored name, flags and block copied as it
// is. Names come in the order they first appear along the chain. A source that is not a whole,
// readable archive, or an entry whose block lies outside its data region, fails the merge with
// a status naming that file; then nothing is written. out may be one of the sources.
Status MergeArchives(const std::vector<std::string>& sources, const std::string& out,
                     const MergeSettings& settings = MergeSettings(),
                     MergeReport* report = nullptr);

// Rewrites the archive at path, atomically, with only what a lookup reaches: replaced records
// and the space between blocks are dropped. The same as merging the archive alone onto itself.
Status CompactArchive(const std::string& path, const MergeSettings& settings = MergeSettings(),
                      MergeReport* report = nullptr);

// Writes, atomically, an archive at out holding the given holders of chain, blocks copied as
// they are, under their stored names, in the order given. The chain's packages are closed
// before the archive replaces out, so out may be one of them.
Status WriteHolders(CPackageChain& chain, const std::vector<uint32_t>& holders,
                    const std::string& out, const MergeSettings& settings,
                    uint64_t* bytesOut = nullptr);

}  // namespace korvo
