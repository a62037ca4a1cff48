// Edits of a large archive: deleting its first entry, which moves every later byte down, and
// adding a 1 MB entry, which writes the entry and a new index. Each edit runs under its
// rollback journal, as every edit does; beside it the bench times the bare file work of the
// same edit (the same bytes moved or written, then flushed), so the ratio is the journal's cost.
//
//   korvo_bench_delete [--mb=N] [--entries=N] [benchmark flags]
//
// The archive holds N entries (default 256) of about N MB in all (default 512). A second archive
// of the same size has a first entry of a sixteenth of it: the journal moves the tail in steps
// of the removed block's size, so a large block takes few steps.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "authoring/package.h"
#include "authoring/package_builder.h"
#include "platform/files.h"

using namespace korvo;

namespace fs = std::filesystem;

namespace {

bool FlushFile(const std::string& path) {
  platform::File file;
  return platform::OpenForEdit(path.c_str(), file).ok() && file.Sync().ok() && file.Close().ok();
}

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

// Writes an archive of entries blocks of random bytes; the edits never inflate them. With
// firstBlock, the first entry holds that many bytes and the others share the rest.
bool WriteArchive(const std::string& path, long entries, long megabytes, uint64_t firstBlock = 0) {
  CPackageBuilder builder;
  if (!builder.Create(path.c_str())) return false;
  uint64_t total = static_cast<uint64_t>(megabytes) * 1000 * 1000;
  uint64_t block = firstBlock == 0 ? total / static_cast<uint64_t>(entries)
                                   : (total - firstBlock) / static_cast<uint64_t>(entries - 1);
  std::vector<uint8_t> data;
  std::mt19937_64 random(7);
  for (long i = 0; i < entries; ++i) {
    data.resize(static_cast<size_t>(i == 0 && firstBlock != 0 ? firstBlock : block));
    FillRandom(data, random);
    std::string name = "data\\entry" + std::to_string(i) + ".bin";
    if (!builder.AddFile(name.c_str(), data.data(), static_cast<uint32_t>(data.size()),
                         static_cast<uint32_t>(data.size()), 0)) {
      return false;
    }
  }
  return builder.Finish();
}

// The bare delete: the bytes after the first block move down by its length in 1 MiB steps,
// the file is cut and flushed. The index is moved with everything else.
bool MoveTailDown(const std::string& path, uint64_t from, uint64_t to) {
  platform::File file;
  int64_t length = 0;
  if (!platform::OpenForEdit(path.c_str(), file).ok() || !file.Length(length).ok()) return false;
  std::vector<uint8_t> buffer(1u << 20);
  for (uint64_t at = from; at < static_cast<uint64_t>(length);) {
    uint32_t got = 0;
    if (!file.Seek(static_cast<int64_t>(at)).ok() ||
        !file.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), got).ok() || got == 0) {
      return false;
    }
    if (!file.Seek(static_cast<int64_t>(at - (from - to))).ok() ||
        !file.Write(buffer.data(), got).ok()) {
      return false;
    }
    at += got;
  }
  return file.Truncate(length - static_cast<int64_t>(from - to)).ok() && file.Sync().ok() &&
         file.Close().ok();
}

// The bare add: the entry's bytes are appended where the index began, the index follows them,
// and the file is flushed.
bool AppendBlock(const std::string& path, const std::vector<uint8_t>& block) {
  platform::File file;
  if (!platform::OpenForEdit(path.c_str(), file).ok()) return false;
  uint8_t header[16];
  int64_t length = 0;
  if (!file.ReadExactly(header, sizeof(header)).ok() || !file.Length(length).ok()) return false;
  const uint32_t indexOffset = DecodeHeader(header).indexOffset;
  std::vector<uint8_t> index(static_cast<size_t>(length - indexOffset));
  return file.Seek(indexOffset).ok() &&
         file.ReadExactly(index.data(), static_cast<uint32_t>(index.size())).ok() &&
         file.Seek(indexOffset).ok() &&
         file.Write(block.data(), static_cast<uint32_t>(block.size())).ok() &&
         file.Write(index.data(), static_cast<uint32_t>(index.size())).ok() && file.Sync().ok() &&
         file.Close().ok();
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
  std::string pristineLarge = (dir / "pristine-large.pak").string();
  const uint64_t largeBlock = static_cast<uint64_t>(megabytes) * 1000 * 1000 / 16;
  if (!WriteArchive(pristine, entries, megabytes) ||
      !WriteArchive(pristineLarge, entries, megabytes, largeBlock)) {
    return 1;
  }
  uint64_t moved = fs::file_size(pristine) - 16 -
                   static_cast<uint64_t>(megabytes) * 1000 * 1000 / static_cast<uint64_t>(entries);
  std::vector<uint8_t> added(1000 * 1000);
  std::mt19937_64 random(9);
  FillRandom(added, random);

  const uint64_t firstBlock =
      static_cast<uint64_t>(megabytes) * 1000 * 1000 / static_cast<uint64_t>(entries);
  // Each run edits a fresh copy of the archive, flushed; copying and flushing it are not timed.
  auto timed = [&](const char* name, auto edit, uint64_t bytes, bool large = false) {
    benchmark::RegisterBenchmark(
        name,
        [&, edit, bytes, large](benchmark::State& state) {
          for (auto _ : state) {
            state.PauseTiming();
            fs::copy_file(large ? pristineLarge : pristine, work,
                          fs::copy_options::overwrite_existing);
            // The edit starts from an archive on the disk, as a real one lies: none of its bytes
            // are waiting to be written (the bare move would otherwise flush them too).
            if (!FlushFile(work)) state.SkipWithError("cannot flush the copy");
            state.ResumeTiming();
            if (!edit()) state.SkipWithError("edit failed");
          }
          state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
  };
  timed(
      "DeleteFirstEntry/journal",
      [&] {
        CPackage package;
        return package.Open(work.c_str()) && package.DelFile("data\\entry0.bin") && package.Close();
      },
      moved);
  timed(
      "DeleteFirstEntry/bare", [&] { return MoveTailDown(work, 16 + firstBlock, 16); }, moved);
  const uint64_t movedLarge = fs::file_size(pristineLarge) - 16 - largeBlock;
  timed(
      "DeleteFirstLargeEntry/journal",
      [&] {
        CPackage package;
        return package.Open(work.c_str()) && package.DelFile("data\\entry0.bin") && package.Close();
      },
      movedLarge, true);
  timed(
      "DeleteFirstLargeEntry/bare", [&] { return MoveTailDown(work, 16 + largeBlock, 16); },
      movedLarge, true);
  timed(
      "Add1MBEntry/journal",
      [&] {
        CPackage package;
        return package.Open(work.c_str()) &&
               package.AddFile("data\\added.bin", added.data(), static_cast<uint32_t>(added.size()),
                               static_cast<uint32_t>(added.size()), 0) &&
               package.Close();
      },
      added.size());
  timed(
      "Add1MBEntry/bare", [&] { return AppendBlock(work, added); }, added.size());

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  fs::remove_all(dir, error);
  return 0;
}
