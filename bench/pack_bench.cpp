// Packing speed, in one run:
//
//  - a game-like tree (icons, tables, scripts, textures, already-compressed sound; 256 B to
//    4 MB a file) packed with one thread and with every core: the speed-up, and whether both
//    archives hold the same bytes;
//  - trees of tiny files (1k, 10k, 100k by default) packed with every core: the cost per file,
//    and how it grows from the smallest tree to the largest (flat means a ratio near 1);
//  - repacking a game-like tree of --incr-mb MB (default 200) that was packed with its cache:
//    with 10 files changed and with nothing changed, against a full pack of the same tree,
//    and whether the incremental archive is byte-identical to the full one.
//
//   korvo_bench_pack_bench [--data=DIR] [--mb=N] [--tiny=1000,10000,100000] [--runs=N]
//                          [--threads=N] [--incr-mb=N]
//
// The trees are generated from fixed seeds under DIR (default: pack-bench-data beside this
// program), once, and reused by later runs. Each figure is the fastest of --runs packs (default
// 3). Wall-clock time is what the speed-up is about; process CPU time (all threads) is printed
// beside it, so that a run on a loaded machine still shows whether the threads added work.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "authoring/pack_tree.h"
#include "game_tree.h"
#include "peer/corpus.h"

namespace fs = std::filesystem;

namespace {

using korvo::bench::PrepareGameTree;
using korvo::bench::StampTree;
using korvo::bench::StartTree;
using korvo::bench::TakeText;
using korvo::bench::Tree;
using korvo::bench::WriteFile;

// Bumped whenever the generated trees change, so that stale ones are not reused.
constexpr const char* TreeVersion = "v1";
constexpr uint64_t TinySeed = 0x74696e7974726565;

struct Options {
  std::string data;
  uint32_t megabytes = 96;
  std::vector<uint32_t> tiny = {1000, 10000, 100000};
  int runs = 3;
  unsigned threads = 0;
  uint32_t incrementalMegabytes = 200;
};

struct Timing {
  double wall = 0;  // seconds
  double cpu = 0;   // process CPU seconds, every thread
  double head = 0;  // from the start to the first file written: the walk, the first file
  double tail = 0;  // from the last file written to the end: index, flush, rename
  uint64_t archiveBytes = 0;
};

// Notes when the first and the last file reach the archive.
class Clock : public korvo::PackObserver {
 public:
  void OnFile(const char*, uint32_t, uint32_t, bool) override {
    last = std::chrono::steady_clock::now();
    if (++files == 1) first = last;
  }
  uint64_t files = 0;
  std::chrono::steady_clock::time_point first, last;
};

bool ParseList(const std::string& text, std::vector<uint32_t>& out) {
  out.clear();
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    unsigned long value = std::strtoul(text.substr(at, comma - at).c_str(), nullptr, 10);
    if (value == 0 || value > 10000000) return false;
    out.push_back(static_cast<uint32_t>(value));
    at = comma + 1;
  }
  return !out.empty();
}

// count files of 24 to 400 bytes of text, 1000 to a directory.
bool PrepareTinyTree(const fs::path& base, uint32_t count, Tree& tree) {
  fs::path root, stamp;
  if (StartTree(base, "tiny-" + std::to_string(count), tree, root, stamp)) return true;
  std::error_code error;
  static const char* const Words[] = {"prop", "mesh", "wood", "stone", "light", "door",
                                      "=",    "1",    "0.5",  "true",  "lod",   "\n"};
  std::mt19937_64 random(TinySeed);
  std::string text;
  char file[64];
  for (uint32_t i = 0; i < count; ++i) {
    if (i % 1000 == 0) {
      std::snprintf(file, sizeof(file), "set%04u", i / 1000);
      fs::create_directories(root / file, error);
    }
    size_t size = 24 + random() % 377;
    text.clear();
    while (text.size() < size) {
      text += Words[random() % std::size(Words)];
      text += ' ';
    }
    text.resize(size);
    std::snprintf(file, sizeof(file), "set%04u/item%07u.dat", i / 1000, i);
    if (!WriteFile(root / file, text.data(), text.size())) return false;
    tree.bytes += size;
    ++tree.files;
  }
  return StampTree(stamp, tree);
}

double ProcessSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// The fastest of runs packs of tree into archive.
bool TimePack(const Tree& tree, const std::string& archive, unsigned threads, int runs,
              Timing& best, korvo::PackReuse reuse = korvo::PackReuse::None,
              bool writeCache = false, const std::function<void()>& before = nullptr) {
  korvo::PackSettings settings;
  settings.threads = threads;
  settings.reuse = reuse;
  settings.writeCache = writeCache;
  for (int run = 0; run < runs; ++run) {
    if (before) before();
    Clock clock;
    double cpu0 = ProcessSeconds();
    auto wall0 = std::chrono::steady_clock::now();
    korvo::Status status =
        korvo::PackTree(archive.c_str(), tree.root.c_str(), nullptr, &clock, settings);
    auto wall1 = std::chrono::steady_clock::now();
    double cpu = ProcessSeconds() - cpu0;
    double wall = std::chrono::duration<double>(wall1 - wall0).count();
    if (!status.ok()) {
      std::fprintf(stderr, "pack of %s failed: %s\n", tree.root.c_str(), status.Message().c_str());
      return false;
    }
    if (run == 0 || wall < best.wall) {
      best = Timing{wall, cpu, std::chrono::duration<double>(clock.first - wall0).count(),
                    std::chrono::duration<double>(wall1 - clock.last).count(), 0};
    }
  }
  std::error_code error;
  best.archiveBytes = fs::file_size(archive, error);
  return true;
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::vector<uint8_t> left, right;
  return korvo::peer::ReadWholeFile(a, left) && korvo::peer::ReadWholeFile(b, right) &&
         left == right;
}

// Rewrites 10 files spread over the tree with new bytes of the same length.
void ChangeTenFiles(const Tree& tree, uint64_t& round) {
  std::vector<fs::path> files;
  for (const auto& item : fs::recursive_directory_iterator(tree.root)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  std::mt19937_64 random(++round);
  for (size_t i = 0; i < 10 && !files.empty(); ++i) {
    const fs::path& path = files[(i * files.size()) / 10];
    std::vector<uint8_t> data;
    korvo::peer::ReadWholeFile(path.string(), data);
    for (size_t at = 0; at < data.size(); at += 64) data[at] = static_cast<uint8_t>(random());
    WriteFile(path, data.data(), data.size());
  }
}

// The repack of a game-like tree, packed first with its cache: 10 files changed, and nothing
// changed, each against a full pack. False when the incremental archive differs from the full.
bool Incremental(const fs::path& base, const Options& options, unsigned cores) {
  Tree tree;
  if (!PrepareGameTree(base, options.incrementalMegabytes, tree)) {
    std::fprintf(stderr, "cannot write the game-like tree under %s\n", base.string().c_str());
    return false;
  }
  std::string incremental = (base / "incremental.pak").string();
  std::string full = (base / "full.pak").string();
  uint64_t round = 0;
  Timing fullPack, tenChanged, nothingChanged, reference;
  if (!TimePack(tree, incremental, cores, options.runs, fullPack, korvo::PackReuse::None, true) ||
      !TimePack(tree, incremental, cores, options.runs, tenChanged, korvo::PackReuse::Stamp, true,
                [&] { ChangeTenFiles(tree, round); }) ||
      !TimePack(tree, full, cores, 1, reference) ||
      !TimePack(tree, incremental, cores, options.runs, nothingChanged, korvo::PackReuse::Stamp,
                true)) {
    return false;
  }
  bool same = SameBytes(incremental, full);
  std::printf(
      "\nincremental repack, game-like tree: %llu files, %.1f MB, %u threads, fastest of %d\n",
      static_cast<unsigned long long>(tree.files), static_cast<double>(tree.bytes) / 1e6, cores,
      options.runs);
  std::printf("| pack | wall s | CPU s | full pack / this |\n|---|---:|---:|---:|\n");
  std::printf("| full (every file compressed) | %.3f | %.3f | 1.00 |\n", fullPack.wall,
              fullPack.cpu);
  std::printf("| 10 files changed | %.3f | %.3f | %.1f |\n", tenChanged.wall, tenChanged.cpu,
              fullPack.wall / tenChanged.wall);
  std::printf("| nothing changed | %.3f | %.3f | %.1f |\n", nothingChanged.wall, nothingChanged.cpu,
              fullPack.wall / nothingChanged.wall);
  std::printf("incremental archive byte-identical to a full pack: %s\n", same ? "yes" : "NO");
  std::error_code error;
  fs::remove(incremental, error);
  fs::remove(incremental + ".korvo-cache", error);
  fs::remove(full, error);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.data = (fs::absolute(argv[0]).parent_path() / "pack-bench-data").string();
  for (int i = 1; i < argc; ++i) {
    std::string value;
    bool ok = true;
    if (TakeText(argv[i], "--data", value)) {
      options.data = value;
    } else if (TakeText(argv[i], "--mb", value)) {
      options.megabytes = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
      ok = options.megabytes > 0 && options.megabytes <= 3000;
    } else if (TakeText(argv[i], "--tiny", value)) {
      ok = ParseList(value, options.tiny);
    } else if (TakeText(argv[i], "--runs", value)) {
      options.runs = std::atoi(value.c_str());
      ok = options.runs > 0;
    } else if (TakeText(argv[i], "--incr-mb", value)) {
      options.incrementalMegabytes =
          static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
      ok = options.incrementalMegabytes > 0 && options.incrementalMegabytes <= 3000;
    } else if (TakeText(argv[i], "--threads", value)) {
      options.threads = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr,
                   "usage: %s [--data=DIR] [--mb=N] [--tiny=N,N,...] [--runs=N] [--threads=N] "
                   "[--incr-mb=N]\n",
                   argv[0]);
      return 2;
    }
  }
  unsigned cores = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
  if (cores == 0) cores = 1;

  fs::path base = fs::path(options.data) / TreeVersion;
  std::error_code error;
  fs::create_directories(base, error);
  std::string one = (base / "pack-1.pak").string();
  std::string all = (base / "pack-all.pak").string();

  Tree game;
  std::printf("generating or reusing the trees under %s\n", base.string().c_str());
  if (!PrepareGameTree(base, options.megabytes, game)) {
    std::fprintf(stderr, "cannot write the game-like tree under %s\n", base.string().c_str());
    return 1;
  }
  Timing single, parallel;
  if (!TimePack(game, one, 1, options.runs, single) ||
      !TimePack(game, all, cores, options.runs, parallel)) {
    return 1;
  }
  double mb = static_cast<double>(game.bytes) / 1e6;
  std::printf("\ngame-like tree: %llu files, %.1f MB -> %.1f MB, fastest of %d\n",
              static_cast<unsigned long long>(game.files), mb,
              static_cast<double>(parallel.archiveBytes) / 1e6, options.runs);
  std::printf(
      "| threads | wall s | MB/s | CPU s | before the first file s | after the last s |\n"
      "|---:|---:|---:|---:|---:|---:|\n");
  for (const Timing* t : {&single, &parallel}) {
    std::printf("| %u | %.3f | %.1f | %.3f | %.3f | %.3f |\n", t == &single ? 1 : cores, t->wall,
                mb / t->wall, t->cpu, t->head, t->tail);
  }
  std::printf("speed-up with %u threads: %.2fx wall-clock (CPU time %.2fx that of one thread)\n",
              cores, single.wall / parallel.wall, parallel.cpu / single.cpu);
  bool same = SameBytes(one, all);
  std::printf("archives byte-identical: %s\n", same ? "yes" : "NO");

  std::printf("\ntiny files (24-400 B, 1000 to a directory), %u threads, fastest of %d\n", cores,
              options.runs);
  std::printf(
      "| files | wall s | us/file | CPU us/file | before the first file s | after the last s |\n"
      "|---:|---:|---:|---:|---:|---:|\n");
  double firstCost = 0, lastCost = 0, firstCpu = 0, lastCpu = 0;
  for (size_t i = 0; i < options.tiny.size(); ++i) {
    Tree tiny;
    if (!PrepareTinyTree(base, options.tiny[i], tiny)) {
      std::fprintf(stderr, "cannot write the tree of %u tiny files\n", options.tiny[i]);
      return 1;
    }
    Timing timing;
    if (!TimePack(tiny, all, cores, options.runs, timing)) return 1;
    double files = static_cast<double>(tiny.files);
    double cost = timing.wall * 1e6 / files;
    double cpu = timing.cpu * 1e6 / files;
    std::printf("| %llu | %.3f | %.2f | %.2f | %.3f | %.3f |\n",
                static_cast<unsigned long long>(tiny.files), timing.wall, cost, cpu, timing.head,
                timing.tail);
    if (i == 0) firstCost = cost, firstCpu = cpu;
    lastCost = cost, lastCpu = cpu;
  }
  if (options.tiny.size() > 1) {
    std::printf("cost per file, %u files vs %u: %.2fx wall-clock, %.2fx CPU\n", options.tiny.back(),
                options.tiny.front(), lastCost / firstCost, lastCpu / firstCpu);
  }
  bool sameIncremental = Incremental(base, options, cores);
  fs::remove(one, error);
  fs::remove(all, error);
  return same && sameIncremental ? 0 : 1;
}
