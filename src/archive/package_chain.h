// CPackageChain: package archives read the way a game mounts them, one after another, where a
// later package wins for a name and names that differ only by ASCII case or slash direction are
// one name. For every name it keeps each package that holds it (the package's last record of
// that name, as a lookup in it would find), so a caller can tell the winner and what it shadows.
//
// Names are not copied: each holder points into its package's mapped view, which the chain keeps
// open until Close. Memory is one holder and one table slot per record.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/mapped_package.h"
#include "common/status.h"

namespace korvo {

// One package's record of a name.
struct ChainHolder {
  static constexpr uint32_t None = UINT32_MAX;
  uint32_t package = 0;  // position in the chain
  uint32_t recordOffset = 0;
  const char* name = nullptr;  // the name as the package stores it, nameLength bytes
  uint32_t nameLength = 0;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t packedSize = 0;
  uint32_t next = None;  // the holder in a later package, or None

  std::string_view Name() const { return std::string_view(name, nameLength); }
};

// One name of the chain: its holders in chain order, the last one winning.
struct ChainName {
  uint32_t first = 0;  // holder indices
  uint32_t last = 0;
  uint32_t holders = 0;  // how many packages hold it
};

// A hash and an equality of names as a lookup compares them (FoldByte on every byte).
struct FoldedHash {
  size_t operator()(std::string_view name) const;
};
struct FoldedEqual {
  bool operator()(std::string_view a, std::string_view b) const;
};

class CPackageChain {
 public:
  CPackageChain() = default;
  CPackageChain(const CPackageChain&) = delete;
  CPackageChain& operator=(const CPackageChain&) = delete;

  // Opens the archive at path as the next package. Only a whole, readable archive is taken: a
  // file with an interrupted edit (Locked), one that cannot be mapped, one a mount refuses, and
  // one whose index breaks before its last record (Corrupt) give a status naming path.
  Status Open(const std::string& path);
  // Takes a package that is open already (a mounted one) as the next package, as far as its
  // index walk goes (what a mount took). The caller keeps it open while the chain lives.
  void Adopt(CMappedPackage& package);

  // Walks every package's index and groups the records by name. Interrupted when cancel is set.
  Status Build(const std::atomic<bool>* cancel = nullptr);

  size_t PackageCount() const { return packages_.size(); }
  const CMappedPackage& Package(size_t at) const { return *packages_[at]; }
  // Names in the order they first appear along the chain.
  const std::vector<ChainName>& Names() const { return names_; }
  const ChainHolder& Holder(uint32_t at) const { return holders_[at]; }
  const ChainHolder& Winner(const ChainName& name) const { return holders_[name.last]; }
  // The name that name folds to, or null.
  const ChainName* Find(std::string_view name) const;
  // The winner's stored block: null for an empty one. Corrupt, naming the package and the
  // entry, when the block does not lie in the package's data region or its size is impossible.
  Status Block(const ChainHolder& holder, const uint8_t*& block) const;
  // Inflates the holder's block into out (exactly its recorded size).
  Status Inflate(const ChainHolder& holder, std::vector<uint8_t>& out) const;

  // Unmaps the packages the chain opened; holders and names are no longer readable.
  void Close();

 private:
  std::vector<std::unique_ptr<CMappedPackage>> owned_;
  std::vector<CMappedPackage*> packages_;
  std::vector<bool> whole_;  // the package must be read whole
  std::vector<ChainHolder> holders_;
  std::vector<ChainName> names_;
  std::unordered_map<std::string_view, uint32_t, FoldedHash, FoldedEqual> byName_;
};

// Every pair of packages where one shadows names of another.
struct ChainOverride {
  uint32_t winner = 0;  // package positions
  uint32_t shadowed = 0;
  uint64_t names = 0;
};
// Names held by more than one package, and the pairs: for each such name its winner overrides
// every other holder. Pairs are ordered by winner, then shadowed package.
struct ChainConflicts {
  std::vector<uint32_t> names;  // positions in Names()
  std::vector<ChainOverride> overrides;
};
ChainConflicts FindConflicts(const CPackageChain& chain);

}  // namespace korvo
