// Mods and patches, three goals measured in one run beside their baselines:
//   diff      two game-like archives with 1 % of the entries changed, against inflating every
//             entry of both; and the patch's size against the changed entries' packed bytes;
//   merge     a chain of three archives flattened, against extracting the winners and packing
//             them again (inflate, compress, write);
//   conflicts 50 packages of 20k names each mounted as a game mounts them, then every name held
//             by more than one of them found.
//
//   korvo_bench_mods_bench [--mb=N] [--packages=N] [--names=N] [--data=DIR]
//
// --mb sizes each archive of the diff pair and the merge chain's base (default 200: the whole
// run then takes well under a minute on a 2-core machine; the goals are stated for 1 GB, and
// every figure scales with the bytes). Files go to DIR (default a directory under /tmp) and are
// removed afterwards.
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/mapped_package.h"
#include "archive/package_chain.h"
#include "authoring/package_builder.h"
#include "authoring/package_diff.h"
#include "authoring/package_merge.h"
#include "manager/package_manager.h"

using namespace korvo;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor seconds this process has used: on a shared machine, what an absolute goal is
// judged by (wall time there counts the other processes' turns too).
double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

bool TakeOption(const char* arg, const char* name, std::string& value) {
  size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') return false;
  value = arg + length + 1;
  return true;
}

[[noreturn]] void Die(const std::string& what, const Status& status) {
  std::fprintf(stderr, "mods_bench: %s: %s\n", what.c_str(), status.Message().c_str());
  std::exit(1);
}

// Game-like content: runs of words and numbers between runs of noise (as in textures and audio
// that are compressed already), compressing about 2:1.
std::vector<uint8_t> Content(size_t size, uint64_t seed) {
  static const char* const words[] = {"texture", "mesh ", "anim", " 0.25", "frame", "\n",
                                      "bone",    " idle", "run",  " 1024", "uv",    " {"};
  std::mt19937_64 random(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 16);
  while (out.size() < size) {
    uint64_t pick = random();
    if (pick % 2 == 0) {
      for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(random()));
    } else {
      const char* word = words[(pick >> 3) % 12];
      out.insert(out.end(), word, word + std::strlen(word));
    }
  }
  out.resize(size);
  return out;
}

struct Stored {
  std::vector<uint8_t> block;
  uint32_t size = 0;
};

Stored Compress(const std::vector<uint8_t>& data, int level = Z_DEFAULT_COMPRESSION) {
  uLongf bound = compressBound(static_cast<uLong>(data.size()));
  Stored stored;
  stored.block.resize(bound);
  compress2(stored.block.data(), &bound, data.data(), static_cast<uLong>(data.size()), level);
  stored.block.resize(bound);
  stored.size = static_cast<uint32_t>(data.size());
  return stored;
}

// Entry i of a generation: generation 0 is the base content, a later one differs.
Stored Entry(size_t i, size_t entrySize, uint64_t generation) {
  return Compress(Content(entrySize + (i % 7) * 512, i * 1000003u + generation), 1);
}

void Write(const std::string& path,
           const std::vector<std::pair<std::string, const Stored*>>& entries) {
  CPackageBuilder builder;
  Status status = builder.CreateReplacing(path.c_str());
  for (const auto& [name, stored] : entries) {
    if (!status.ok()) break;
    status = builder.Append(name.c_str(), stored->block.data(), stored->size,
                            static_cast<uint32_t>(stored->block.size()), 0);
  }
  if (status.ok()) status = builder.Commit();
  if (!status.ok()) Die(path, status);
}

std::string Name(size_t i) {
  return "data\\level" + std::to_string(i % 40) + "\\asset" + std::to_string(i) + ".bin";
}

// Inflates every entry of the archive, as a comparison without the stored-bytes shortcut must.
uint64_t InflateAll(const std::string& path) {
  CMappedPackage package;
  if (!package.Open(path.c_str())) Die(path, Status(StatusCode::IoError, path));
  std::vector<uint8_t> out;
  uint64_t bytes = 0;
  PackageEntry entry;
  for (bool more = package.FirstEntry(entry); more; more = package.NextEntry(entry)) {
    out.resize(entry.size + 1);
    if (!package.Extract(out.data(), entry.size, entry.offset, entry.packedSize)) {
      Die(path, Status(StatusCode::Corrupt, path));
    }
    bytes += entry.size;
  }
  return bytes;
}

void Goal(const char* what, double figure, const char* unit, double goal, bool above) {
  const bool met = above ? figure >= goal : figure <= goal;
  std::printf("  %-58s %8.2f%s (goal %s %.2f%s): %s\n", what, figure, unit,
              above ? ">=" : "<=", goal, unit, met ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
  std::string mbText = "200", packagesText = "50", namesText = "20000";
  std::string data = (fs::temp_directory_path() / "korvo-mods-bench").string();
  for (int i = 1; i < argc; ++i) {
    if (!TakeOption(argv[i], "--mb", mbText) && !TakeOption(argv[i], "--packages", packagesText) &&
        !TakeOption(argv[i], "--names", namesText) && !TakeOption(argv[i], "--data", data)) {
      std::fprintf(stderr, "usage: %s [--mb=N] [--packages=N] [--names=N] [--data=DIR]\n", argv[0]);
      return 2;
    }
  }
  const size_t megabytes = std::strtoul(mbText.c_str(), nullptr, 10);
  const size_t packageCount = std::strtoul(packagesText.c_str(), nullptr, 10);
  const size_t namesEach = std::strtoul(namesText.c_str(), nullptr, 10);
  fs::remove_all(data);
  fs::create_directories(data);
  const auto at = [&](const std::string& name) { return (fs::path(data) / name).string(); };

  // The diff pair: entries of about 64 KiB, 1 % of them changed.
  const size_t entrySize = 64 * 1024;
  const size_t entries = std::max<size_t>(100, megabytes * 1150 * 1000 / entrySize);
  std::printf("mods_bench: %zu entries of about %zu KiB (%zu MB of content per archive)\n", entries,
              entrySize / 1024, entries * entrySize / 1000 / 1000);
  auto generate = Clock::now();
  std::vector<Stored> base(entries);
  std::vector<Stored> changed;
  std::vector<size_t> changedAt;
  for (size_t i = 0; i < entries; ++i) base[i] = Entry(i, entrySize, 0);
  for (size_t i = 0; i < entries; i += 100) {
    changedAt.push_back(i);
    changed.push_back(Entry(i, entrySize, 1));
  }
  std::vector<std::pair<std::string, const Stored*>> oldList, newList;
  for (size_t i = 0; i < entries; ++i) oldList.push_back({Name(i), &base[i]});
  newList = oldList;
  uint64_t changedPacked = 0;
  for (size_t k = 0; k < changedAt.size(); ++k) {
    newList[changedAt[k]].second = &changed[k];
    changedPacked += changed[k].block.size();
  }
  Write(at("old.pak"), oldList);
  Write(at("new.pak"), newList);
  std::printf("  (generated in %.1f s; old.pak %.0f MB)\n", Seconds(generate),
              fs::file_size(at("old.pak")) / 1e6);

  std::printf("\ndiff of two archives, %zu of %zu entries changed\n", changedAt.size(), entries);
  auto start = Clock::now();
  InflateAll(at("old.pak"));
  InflateAll(at("new.pak"));
  const double inflateAll = Seconds(start);
  start = Clock::now();
  DiffReport report;
  Status status =
      DiffArchives(at("old.pak"), at("new.pak"), at("patch.pak"), MergeSettings(), report);
  const double diff = Seconds(start);
  if (!status.ok()) Die("diff", status);
  std::printf("  inflate every entry of both  %8.3f s\n", inflateAll);
  std::printf("  diff with -o patch.pak       %8.3f s (%llu changed, %llu inflated to compare)\n",
              diff, static_cast<unsigned long long>(report.changed),
              static_cast<unsigned long long>(report.inflated));
  Goal("diff: speed-up over inflating both", inflateAll / diff, "x", 3, true);
  const double overhead = 100.0 * (static_cast<double>(report.patchBytes) - changedPacked) /
                          static_cast<double>(changedPacked);
  std::printf("  patch %llu B, changed entries' blocks %llu B\n",
              static_cast<unsigned long long>(report.patchBytes),
              static_cast<unsigned long long>(changedPacked));
  Goal("diff: patch size over the changed blocks", overhead, " %", 1, false);

  // The merge chain: the base, a patch replacing 10 %, a mod replacing another 10 % and adding.
  std::vector<Stored> patchBlocks, modBlocks;
  std::vector<std::pair<std::string, const Stored*>> patchList, modList;
  patchBlocks.reserve(entries);
  modBlocks.reserve(entries);
  for (size_t i = 0; i < entries; i += 10) {
    patchBlocks.push_back(Entry(i, entrySize, 2));
    patchList.push_back({Name(i), &patchBlocks.back()});
  }
  for (size_t i = 5; i < entries + entries / 20; i += 10) {
    modBlocks.push_back(Entry(i, entrySize, 3));
    std::string name = Name(i);
    for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
    modList.push_back({name, &modBlocks.back()});
  }
  Write(at("patch1.pak"), patchList);
  Write(at("mod.pak"), modList);
  const std::vector<std::string> chain = {at("old.pak"), at("patch1.pak"), at("mod.pak")};
  std::printf("\nmerge of a 3-archive chain (%zu + %zu + %zu entries)\n", entries, patchList.size(),
              modList.size());
  start = Clock::now();
  {
    // Extract and repack: inflate each winner, compress it again, write a new archive.
    CPackageChain opened;
    for (const std::string& path : chain) {
      if (!(status = opened.Open(path)).ok()) Die(path, status);
    }
    if (!(status = opened.Build()).ok()) Die("chain", status);
    CPackageBuilder builder;
    status = builder.CreateReplacing(at("repacked.pak").c_str());
    std::vector<uint8_t> plain;
    std::string name;
    for (const ChainName& entry : opened.Names()) {
      if (!status.ok()) break;
      const ChainHolder& winner = opened.Winner(entry);
      status = opened.Inflate(winner, plain);
      if (!status.ok()) break;
      Stored again = Compress(plain);
      name.assign(winner.Name());
      status = builder.Append(name.c_str(), again.block.data(), again.size,
                              static_cast<uint32_t>(again.block.size()), winner.flags);
    }
    if (status.ok()) status = builder.Commit();
    if (!status.ok()) Die("repack", status);
  }
  const double repack = Seconds(start);
  start = Clock::now();
  MergeReport merged;
  status = MergeArchives(chain, at("merged.pak"), MergeSettings(), &merged);
  const double merge = Seconds(start);
  if (!status.ok()) Die("merge", status);
  std::printf("  extract and repack           %8.3f s\n", repack);
  std::printf("  merge                        %8.3f s (%llu entries, %llu shadowed records)\n",
              merge, static_cast<unsigned long long>(merged.entries),
              static_cast<unsigned long long>(merged.shadowed));
  Goal("merge: speed-up over extract and repack", repack / merge, "x", 5, true);
  for (const char* name :
       {"old.pak", "new.pak", "patch.pak", "patch1.pak", "mod.pak", "repacked.pak", "merged.pak"}) {
    fs::remove(at(name));
  }

  // Conflicts: each package holds namesEach names out of a pool shared by neighbours, so that
  // about half of every package's names are held by another one too.
  std::printf("\nconflicts on %zu packages x %zu names\n", packageCount, namesEach);
  Stored empty = Compress({});
  std::vector<std::string> packages;
  for (size_t p = 0; p < packageCount; ++p) {
    std::vector<std::pair<std::string, const Stored*>> list;
    list.reserve(namesEach);
    for (size_t k = 0; k < namesEach; ++k) {
      size_t id = p * namesEach / 2 + k;
      std::string name =
          "data\\pack\\dir" + std::to_string(id % 97) + "\\file" + std::to_string(id) + ".dds";
      if ((id + p) % 3 == 0) {
        for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::toupper(c));
      }
      list.push_back({name, &empty});
    }
    packages.push_back(at("p" + std::to_string(p) + ".pak"));
    Write(packages.back(), list);
  }
  start = Clock::now();
  const double cpuStart = CpuSeconds();
  size_t conflicting = 0, pairs = 0, names = 0;
  double mountSeconds = 0;
  {
    CPackageManager manager(nullptr, 0);
    for (const std::string& path : packages) {
      if (!(status = manager.Mount(path.c_str())).ok()) Die(path, status);
    }
    mountSeconds = Seconds(start);
    CPackageChain mounted;
    for (size_t i = 0; i < manager.PackageCount(); ++i)
      mounted.Adopt(*manager.PackageAt(i)->package);
    if (!(status = mounted.Build()).ok()) Die("chain", status);
    ChainConflicts found = FindConflicts(mounted);
    conflicting = found.names.size();
    pairs = found.overrides.size();
    names = mounted.Names().size();
  }
  const double conflicts = Seconds(start);
  const double conflictsCpu = CpuSeconds() - cpuStart;
  std::printf(
      "  mount all and find conflicts %8.3f s wall, %.3f s processor (mounting %.3f s wall; "
      "%zu names, %zu held more than once, %zu package pairs)\n",
      conflicts, conflictsCpu, mountSeconds, names, conflicting, pairs);
  Goal("conflicts: processor seconds for all packages", conflictsCpu, " s", 2, false);
  fs::remove_all(data);
  return 0;
}
