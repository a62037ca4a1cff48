// Edits of a large archive: deleting its first entry, which moves every later byte down, and
// adding a 1 MB entry, which writes the entry and a new index. Each is timed with the rollback
// journal (as every edit runs) and without it (the bare edit, for comparison).
//
//   korvo_bench_delete [--mb=N] [--entries=N] [benchmark flags]
//
// The archive holds N entries (default 256) of about N MB in all (default 512).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "authoring/journal.h"
#include "authoring/package.h"
#include "authoring/package_builder.h"

using namespace korvo;

namespace fs = std::filesystem;

namespace {

bool TakeOption(const char* arg, const char* name, long& value) {
  size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') return false;
  value = std::strtol(arg + length + 1, nullptr, 10);
  return true;
}

void FillRandom(std::vector<uint8_t>& data, std::mt19937_64& random) {
  for (size_t at = 0; at + 8 <= data.size(); at += 8) {
    uint64_t v = random();
    std::memcpy(&data[at], &v, 8);
  }
}

// Writes an archive of entries blocks of random bytes; the edits never inflate them.
bool WriteArchive(const std::string& path, long entries, long megabytes) {
  CPackageBuilder builder;
  if (!builder.Create(path.c_str())) return false;
  uint64_t block = static_cast<uint64_t>(megabytes) * 1000 * 1000 / static_cast<uint64_t>(entries);
  std::vector<uint8_t> data(static_cast<size_t>(block));
  std::mt19937_64 random(7);
  for (long i = 0; i < entries; ++i) {
    FillRandom(data, random);
    std::string name = "data\\entry" + std::to_string(i) + ".bin";
    if (!builder.AddFile(name.c_str(), data.data(), static_cast<uint32_t>(block),
                         static_cast<uint32_t>(block), 0)) {
      return false;
    }
  }
  return builder.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  long megabytes = 512;
  long entries = 256;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (TakeOption(argv[i], "--mb", megabytes) || TakeOption(argv[i], "--entries", entries)) {
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (entries < 2 || megabytes < 1) return 1;

  fs::path dir =
      fs::temp_directory_path() / ("korvo-delete-bench-" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  std::string pristine = (dir / "pristine.pak").string();
  std::string work = (dir / "work.pak").string();
  if (!WriteArchive(pristine, entries, megabytes)) return 1;
  uint64_t moved = fs::file_size(pristine) - 16 -
                   static_cast<uint64_t>(megabytes) * 1000 * 1000 / static_cast<uint64_t>(entries);
  std::vector<uint8_t> added(1000 * 1000);
  std::mt19937_64 random(9);
  FillRandom(added, random);

  for (bool journalled : {true, false}) {
    std::string suffix = journalled ? "/journal" : "/bare";
    benchmark::RegisterBenchmark(
        ("DeleteFirstEntry" + suffix).c_str(),
        [&, journalled](benchmark::State& state) {
          CEditJournal::enabled = journalled;
          for (auto _ : state) {
            state.PauseTiming();
            fs::copy_file(pristine, work, fs::copy_options::overwrite_existing);
            state.ResumeTiming();
            CPackage package;
            bool ok = package.Open(work.c_str()) && package.DelFile("data\\entry0.bin") &&
                      package.Close();
            if (!ok) state.SkipWithError("delete failed");
          }
          CEditJournal::enabled = true;
          state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * moved));
          state.counters["archive_MB"] = static_cast<double>(fs::file_size(pristine)) / 1e6;
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark(
        ("Add1MBEntry" + suffix).c_str(),
        [&, journalled](benchmark::State& state) {
          CEditJournal::enabled = journalled;
          for (auto _ : state) {
            state.PauseTiming();
            fs::copy_file(pristine, work, fs::copy_options::overwrite_existing);
            state.ResumeTiming();
            CPackage package;
            bool ok = package.Open(work.c_str()) &&
                      package.AddFile("data\\added.bin", added.data(),
                                      static_cast<uint32_t>(added.size()),
                                      static_cast<uint32_t>(added.size()), 0) &&
                      package.Close();
            if (!ok) state.SkipWithError("add failed");
          }
          CEditJournal::enabled = true;
          state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * added.size()));
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  fs::remove_all(dir, error);
  return 0;
}
