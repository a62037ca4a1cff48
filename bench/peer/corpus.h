// The data the peer benchmark reads: a game-like tree and archives of many tiny entries, each
// written once as a package and as a zip holding the same deflate bytes. Generated from fixed
// seeds, kept between runs under the data directory and reused when already complete.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace korvo::peer {

// One entry as the package index records it.
struct EntryRef {
  std::string name;  // '/'-separated, lower case: the same text names it in every container
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t packedSize = 0;
};

struct ArchiveSet {
  std::string package;
  std::string zip;
  std::vector<EntryRef> entries;  // in index order
  uint64_t unpackedBytes = 0;
  uint64_t packedBytes = 0;
  bool generated = false;  // false when reused from an earlier run
};

// The seed of the game-like tree: every run reads the same bytes.
constexpr uint64_t GameTreeSeed = 0x67616d6574726565;

// The next file of the game-like tree from a generator seeded with GameTreeSeed: its
// '/'-separated name (unique by serial) and its bytes.
void NextGameFile(std::mt19937_64& random, uint32_t serial, std::string& name,
                  std::vector<uint8_t>& data);

// About megabytes·10^6 unpacked bytes: many small icons and tables, scripts, textures with
// structure and noise, and already-compressed sound, with sizes from 256 bytes to 4 MB.
bool PrepareGameArchives(const std::string& dir, uint32_t megabytes, ArchiveSet& out,
                         std::string& error);

// count entries of 24 to 400 bytes named props/setSSSS/itemNNNNNNN.dat, indexed in name order
// or in a fixed random order.
bool PrepareTinyArchives(const std::string& dir, uint32_t count, bool randomOrder, ArchiveSet& out,
                         std::string& error);

// Reads the index of a package written by PackageWriter.
bool ReadPackageIndex(const std::string& path, std::vector<EntryRef>& out);

// Reads a whole file into memory; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);

// Reads a file once so that the timed runs find it in the page cache.
void WarmFile(const std::string& path);

}  // namespace korvo::peer
