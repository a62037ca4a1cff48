// Packs a generated directory tree into a new archive and reports the packing speed in MB/s of
// source bytes.
//
//   korvo_bench_pack [--files=N] [--mb=N] [--compressible=PERCENT] [benchmark flags]
//
// The tree holds N files (default 3000) of about N MB in all (default 240), spread over
// subdirectories of 50 files; PERCENT of the files (default 50) hold word text that zlib
// compresses well, the rest random bytes that it cannot compress.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "authoring/pack_tree.h"

using namespace korvo;

namespace fs = std::filesystem;

namespace {

struct Options {
  long files = 3000;
  long megabytes = 240;
  long compressiblePercent = 50;
};

struct Tree {
  fs::path root;
  uint64_t bytes = 0;
  long files = 0;
};

bool TakeOption(const char* arg, const char* name, long& value) {
  size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') return false;
  value = std::strtol(arg + length + 1, nullptr, 10);
  return true;
}

void FillText(std::vector<char>& data, std::mt19937_64& random) {
  static const char* const Words[] = {"resource", "package", "archive", "entry", "index", "stream",
                                      "frame",    "tile",    "texture", "sound", "level", "script",
                                      "the",      "of",      "and",     "a",     "data",  "header",
                                      "offset",   "size",    "name",    "node",  "root",  "mount"};
  size_t at = 0;
  while (at < data.size()) {
    const char* word = Words[random() % (sizeof(Words) / sizeof(Words[0]))];
    for (const char* p = word; *p != '\0' && at < data.size(); ++p) data[at++] = *p;
    if (at < data.size()) data[at++] = (random() % 12 == 0) ? '\n' : ' ';
  }
}

void FillRandom(std::vector<char>& data, std::mt19937_64& random) {
  size_t at = 0;
  while (at + 8 <= data.size()) {
    uint64_t v = random();
    std::memcpy(&data[at], &v, 8);
    at += 8;
  }
  while (at < data.size()) data[at++] = static_cast<char>(random());
}

Tree GenerateTree(const Options& options) {
  Tree tree;
  tree.root =
      fs::temp_directory_path() / ("korvo-pack-bench-" + std::to_string(std::random_device()()));
  fs::create_directories(tree.root);
  std::mt19937_64 random(20240501);
  uint64_t total = static_cast<uint64_t>(options.megabytes) * 1000 * 1000;
  uint64_t mean = options.files > 0 ? total / static_cast<uint64_t>(options.files) : 0;
  std::vector<char> data;
  for (long i = 0; i < options.files; ++i) {
    fs::path dir = tree.root / ("dir" + std::to_string(i / 50)) / ("sub" + std::to_string(i % 3));
    fs::create_directories(dir);
    // Sizes spread from an eighth of the mean to almost twice the mean.
    uint64_t size = mean / 8 + (mean > 0 ? random() % (mean * 15 / 8 + 1) : 0);
    data.resize(static_cast<size_t>(size));
    if (static_cast<long>(random() % 100) < options.compressiblePercent) {
      FillText(data, random);
    } else {
      FillRandom(data, random);
    }
    std::ofstream out(dir / ("file" + std::to_string(i) + ".bin"), std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    tree.bytes += size;
    ++tree.files;
  }
  return tree;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Options options;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (TakeOption(argv[i], "--files", options.files) ||
        TakeOption(argv[i], "--mb", options.megabytes) ||
        TakeOption(argv[i], "--compressible", options.compressiblePercent)) {
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  Tree tree = GenerateTree(options);
  std::string top = tree.root.string();
  std::string archive =
      (tree.root.parent_path() / (tree.root.filename().string() + ".pak")).string();

  benchmark::RegisterBenchmark(
      "PackTree",
      [&](benchmark::State& state) {
        for (auto _ : state) CreatePkg_Tool(archive.c_str(), top.c_str());
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * tree.bytes));
        state.counters["files"] = static_cast<double>(tree.files);
        state.counters["source_MB"] = static_cast<double>(tree.bytes) / 1e6;
        std::error_code error;
        state.counters["archive_MB"] = static_cast<double>(fs::file_size(archive, error)) / 1e6;
      })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(2);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  fs::remove_all(tree.root, error);
  fs::remove(archive, error);
  return 0;
}
