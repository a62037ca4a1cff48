// KorvoLoader beside PhysFS and libzip, reading the same deflate bytes from a package and from
// a zip, with zlib, libdeflate and memcpy over the same blocks as references. One run prints
// one Markdown table of absolute figures and speed ratios and writes it to a file as well.
//
//   korvo_bench_peer_bench [--mb=N] [--entries=N,N,...] [--data=DIR] [--markdown=FILE]
//                          [--budget=SECONDS] [--physfs-max=N]
//
//   --mb        unpacked size of the game-like archive in 10^6 bytes (default 128)
//   --entries   entry counts of the tiny-entry archives (default 1000,100000,1000000); the
//               largest is also mounted with its index in random name order
//   --data      where the archives are generated and kept between runs (default peer-data)
//   --markdown  where the table is written (default peer_bench.md)
//   --budget    seconds spent repeating one measurement (default 1); the fastest run counts
//   --physfs-max  largest tiny archive that PhysFS mounts (default 100000): its mount time
//               grows much faster than the entry count
//
// Exit status 1 when a reader cannot mount an archive or find or read an entry (or reads
// wrong bytes), 2 on a usage error.
//
// Every figure is the fastest of several runs with the archives in the page cache, timed in
// processor time of the process. Ratios are speed ratios: above 1 means KorvoLoader is faster.
#include <libdeflate.h>
#include <physfs.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "KorvoLoader.h"
#include "manager/package_manager.h"
#include "peer/archive_writers.h"
#include "peer/corpus.h"
#include "platform/shared_library.h"
#include "stream/res_stream.h"

namespace {

// Every allocation through operator new in the process, to show what one lookup costs. The
// program is single-threaded: a plain load and store keep the count without a locked add.
std::atomic<uint64_t> g_allocations{0};

void* CountedAllocation(std::size_t size) noexcept {
  g_allocations.store(g_allocations.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

// Kept out of line: inlined into a caller, GCC takes the free for a mismatch with new.
[[gnu::noinline]] void Release(void* block) noexcept {
  std::free(block);
}

}  // namespace

// Every form without an alignment argument, so that each block is freed by the family that
// allocated it (sanitizers check that).
void* operator new(std::size_t size) {
  if (void* block = CountedAllocation(size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* block = CountedAllocation(size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocation(size);
}
void operator delete(void* block) noexcept {
  Release(block);
}
void operator delete[](void* block) noexcept {
  Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Release(block);
}

namespace {

using namespace korvo;
using namespace korvo::peer;
using Clock = std::chrono::steady_clock;

constexpr uint32_t LookupsPerRun = 100000;
constexpr uint32_t OpensPerRun = 10000;
constexpr size_t CalibrationOps = 64;
constexpr size_t PhysfsIndex = 1;  // position of PhysFS among the readers
constexpr uint64_t ShuffleSeed = 0x6c6f6f6b7570;

struct Options {
  uint32_t megabytes = 128;
  std::vector<uint32_t> entryCounts = {1000, 100000, 1000000};
  std::string dataDir = "peer-data";
  std::string markdown = "peer_bench.md";
  double budget = 1.0;
  // PhysFS's mount time grows much faster than the entry count (over 20 s at 100k entries
  // here), so larger archives are left out unless asked for.
  uint32_t physfsMax = 100000;
};

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of the process, user and system, in seconds. The measured work runs on one
// thread and never waits for the disk, so this is its wall time on an idle machine, and other
// load on a busy one disturbs it much less than it disturbs the wall clock.
double CpuNow() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}
double CpuSince(double start) {
  return CpuNow() - start;
}

// Repeats a trial, which returns the seconds of its timed part: at least minRuns times, then
// until the budget of wall time is spent. A first trial longer than the budget stays alone.
// Returns the fastest trial, or a negative number when a trial failed.
double Fastest(const std::function<double()>& trial, double budget, int minRuns = 3) {
  Clock::time_point start = Clock::now();
  double best = -1;
  for (int runs = 0; runs < 1000; ++runs) {
    double seconds = trial();
    if (seconds < 0) return -1;
    if (best < 0 || seconds < best) best = seconds;
    double spent = Since(start);
    if (spent > budget && (runs + 1 >= minRuns || spent > budget * minRuns)) break;
  }
  return best;
}

// One library's way to reach the entries of an archive.
class Reader {
 public:
  virtual ~Reader() = default;
  virtual const char* Name() const = 0;
  virtual const char* Container() const = 0;  // "package" or "zip"
  // Untimed work before a mount.
  virtual void Prepare() {}
  // The timed mount: open the archive and index it.
  virtual bool Mount(const std::string& path) = 0;
  virtual void Unmount() = 0;
  virtual bool Exists(const char* name) = 0;
  // Opens the entry, reads size bytes into buffer and closes it; the bytes read, or -1.
  virtual int64_t Read(const char* name, uint8_t* buffer, uint32_t size) = 0;
};

class KorvoReader : public Reader {
 public:
  const char* Name() const override { return "KorvoLoader"; }
  const char* Container() const override { return "package"; }
  void Prepare() override {
    manager_.reset();
    manager_ = std::make_unique<CPackageManager>(nullptr, 0);
    manager_->FillStreamPools();
  }
  bool Mount(const std::string& path) override { return manager_->MountPackage(path.c_str()); }
  void Unmount() override { manager_.reset(); }
  bool Exists(const char* name) override { return manager_->Exists(name, LookInPackages); }
  int64_t Read(const char* name, uint8_t* buffer, uint32_t size) override {
    CResStream* stream = manager_->OpenStream(name, ModeRead, true);
    if (stream == nullptr) return -1;
    int64_t got = stream->Read(buffer, size);
    stream->Close();
    return got;
  }

 private:
  std::unique_ptr<CPackageManager> manager_;
};

class PhysfsReader : public Reader {
 public:
  const char* Name() const override { return "PhysFS"; }
  const char* Container() const override { return "zip"; }
  bool Mount(const std::string& path) override {
    mounted_ = path;
    return PHYSFS_mount(path.c_str(), nullptr, 1) != 0;
  }
  void Unmount() override {
    if (!mounted_.empty()) PHYSFS_unmount(mounted_.c_str());
    mounted_.clear();
  }
  bool Exists(const char* name) override { return PHYSFS_exists(name) != 0; }
  int64_t Read(const char* name, uint8_t* buffer, uint32_t size) override {
    PHYSFS_File* file = PHYSFS_openRead(name);
    if (file == nullptr) return -1;
    int64_t got = PHYSFS_readBytes(file, buffer, size);
    PHYSFS_close(file);
    return got;
  }

 private:
  std::string mounted_;
};

class LibzipReader : public Reader {
 public:
  ~LibzipReader() override { Unmount(); }
  const char* Name() const override { return "libzip"; }
  const char* Container() const override { return "zip"; }
  bool Mount(const std::string& path) override {
    int error = 0;
    archive_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
    return archive_ != nullptr;
  }
  void Unmount() override {
    if (archive_ != nullptr) zip_discard(archive_);
    archive_ = nullptr;
  }
  bool Exists(const char* name) override { return zip_name_locate(archive_, name, 0) >= 0; }
  int64_t Read(const char* name, uint8_t* buffer, uint32_t size) override {
    zip_file_t* file = zip_fopen(archive_, name, 0);
    if (file == nullptr) return -1;
    int64_t got = zip_fread(file, buffer, size);
    zip_fclose(file);
    return got;
  }

 private:
  zip_t* archive_ = nullptr;
};

const std::string& PathFor(const Reader& reader, const ArchiveSet& set) {
  return std::strcmp(reader.Container(), "package") == 0 ? set.package : set.zip;
}

// Figures of one reader; negative where not measured or failed.
struct Figures {
  std::vector<double> mountMs;       // per tiny archive
  std::vector<double> lookupNs;      // per sorted tiny archive
  std::vector<double> openReadUs;    // per sorted tiny archive
  std::vector<double> lookupAllocs;  // per sorted tiny archive (operator new calls per lookup)
  double readAllMBps = -1;

  void SkipEntries() {
    lookupNs.push_back(-1);
    openReadUs.push_back(-1);
    lookupAllocs.push_back(-1);
  }
};

struct TinyCase {
  uint32_t count;
  bool randomOrder;
  ArchiveSet set;
};

std::string CountLabel(uint32_t count) {
  if (count >= 1000000 && count % 1000000 == 0) return std::to_string(count / 1000000) + "M";
  if (count >= 1000 && count % 1000 == 0) return std::to_string(count / 1000) + "k";
  return std::to_string(count);
}

std::string TinyLabel(const TinyCase& tiny) {
  return CountLabel(tiny.count) + (tiny.randomOrder ? " entries, random index order" : " entries");
}

void Progress(const std::string& text) {
  std::fprintf(stderr, "peer bench: %s\n", text.c_str());
  std::fflush(stderr);
}

// The fastest mount in milliseconds, or -1. The last mount stays in place when keepMounted
// holds, so that a slow reader is mounted only once for the measurements that follow.
double MeasureMount(Reader& reader, const ArchiveSet& set, double budget, bool keepMounted) {
  const std::string& path = PathFor(reader, set);
  double seconds = Fastest(
      [&] {
        reader.Unmount();
        reader.Prepare();
        double start = CpuNow();
        bool ok = reader.Mount(path);
        double elapsed = CpuSince(start);
        return ok ? elapsed : -1;
      },
      budget);
  if (seconds < 0 || !keepMounted) reader.Unmount();
  return seconds < 0 ? -1 : seconds * 1e3;
}

// Random picks of entries, the same for every reader.
std::vector<const EntryRef*> Sample(const ArchiveSet& set, uint32_t count) {
  std::mt19937_64 random(ShuffleSeed ^ set.entries.size());
  std::vector<const EntryRef*> picks(count);
  for (const EntryRef*& pick : picks) pick = &set.entries[random() % set.entries.size()];
  return picks;
}

// Operations per timed run: a few runs fit the budget, within [CalibrationOps, most].
size_t RunLength(double secondsPerOp, double budget, size_t most) {
  double fit = budget / 4 / std::max(secondsPerOp, 1e-9);
  return static_cast<size_t>(std::clamp<double>(fit, CalibrationOps, most));
}

// Times op(name) over names (each must answer true): seconds per call and allocations per call
// of the fastest run, or -1.
template <class Op>
void PerCall(const std::vector<const EntryRef*>& names, double budget, Op op, double& ns,
             double& allocs) {
  uint64_t allocations = 0;
  double seconds = Fastest(
      [&] {
        uint64_t before = g_allocations.load(std::memory_order_relaxed);
        double start = CpuNow();
        uint32_t found = 0;
        for (const EntryRef* entry : names) found += op(entry->name.c_str());
        double elapsed = CpuSince(start);
        allocations = g_allocations.load(std::memory_order_relaxed) - before;
        return found == names.size() ? elapsed : -1;
      },
      budget);
  ns = seconds < 0 ? -1 : seconds * 1e9 / names.size();
  allocs = seconds < 0 ? -1 : double(allocations) / names.size();
}

// Lookup, allocations per lookup and open+read on a tiny archive that the reader has mounted;
// unmounts it at the end.
void MeasureEntries(Reader& reader, const ArchiveSet& set, double budget, Figures& figures) {
  std::vector<const EntryRef*> names = Sample(set, LookupsPerRun);
  // A slow reader gets shorter runs, so that one measurement stays near the budget.
  double calibration = CpuNow();
  for (size_t i = 0; i < CalibrationOps; ++i) reader.Exists(names[i]->name.c_str());
  names.resize(RunLength(CpuSince(calibration) / CalibrationOps, budget, names.size()));
  double lookupNs = -1, lookupAllocs = -1;
  PerCall(
      names, budget, [&](const char* name) { return reader.Exists(name); }, lookupNs, lookupAllocs);
  figures.lookupNs.push_back(lookupNs);
  figures.lookupAllocs.push_back(lookupAllocs);

  std::vector<const EntryRef*> opens = Sample(set, OpensPerRun);
  std::vector<uint8_t> buffer(64 * 1024);
  calibration = CpuNow();
  for (size_t i = 0; i < CalibrationOps; ++i) {
    reader.Read(opens[i]->name.c_str(), buffer.data(), opens[i]->size);
  }
  opens.resize(RunLength(CpuSince(calibration) / CalibrationOps, budget, opens.size()));
  double seconds = Fastest(
      [&] {
        double start = CpuNow();
        for (const EntryRef* entry : opens) {
          if (entry->size > buffer.size()) return -1.0;
          if (reader.Read(entry->name.c_str(), buffer.data(), entry->size) != entry->size) {
            return -1.0;
          }
        }
        return CpuSince(start);
      },
      budget);
  figures.openReadUs.push_back(seconds < 0 ? -1 : seconds * 1e6 / opens.size());
  reader.Unmount();
}

// Every entry of the game-like archive, in index order, each read whole into one buffer.
double MeasureReadAll(Reader& reader, const ArchiveSet& set,
                      const std::vector<uint32_t>& expectedCrc, std::vector<uint8_t>& buffer,
                      double budget) {
  reader.Prepare();
  if (!reader.Mount(PathFor(reader, set))) return -1;
  // One untimed pass checks the bytes of every entry.
  bool correct = true;
  for (size_t i = 0; i < set.entries.size() && correct; ++i) {
    const EntryRef& entry = set.entries[i];
    correct = reader.Read(entry.name.c_str(), buffer.data(), entry.size) == entry.size &&
              crc32(0, buffer.data(), entry.size) == expectedCrc[i];
  }
  double seconds = -1;
  if (correct) {
    seconds = Fastest(
        [&] {
          double start = CpuNow();
          for (const EntryRef& entry : set.entries) {
            if (reader.Read(entry.name.c_str(), buffer.data(), entry.size) != entry.size) {
              return -1.0;
            }
          }
          return CpuSince(start);
        },
        budget, 2);
  } else {
    Progress(std::string(reader.Name()) + " read wrong bytes from the game-like archive");
  }
  reader.Unmount();
  return seconds < 0 ? -1 : set.unpackedBytes / seconds / 1e6;
}

// The exports on the lookup path as a host calls them, through the shared library, beside the
// library's internal lookup of the same names: time and operator new calls per call.
struct ExportFigures {
  double lookupNs = -1;
  double lookupAllocs = -1;
  double statNs = -1;
  double statAllocs = -1;
  double enumUs = -1;  // per EnumResFiles call
  double enumAllocs = -1;
  double enumNames = -1;    // names per call
  double enumFirstMs = -1;  // the first EnumResFiles call after the mount, which sorts the names
};

template <class F>
F Export(void* library, const char* name) {
  return reinterpret_cast<F>(platform::LibrarySymbol(library, name));
}

ExportFigures MeasureExports(const ArchiveSet& set, double budget) {
  ExportFigures result;
  void* library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
  if (library == nullptr) return result;
  auto addPackage = Export<decltype(&AddPackage)>(library, "AddPackage");
  auto stat = Export<decltype(&StatResFile)>(library, "StatResFile");
  auto enumerate = Export<decltype(&EnumResFiles)>(library, "EnumResFiles");
  CPackageManager manager(nullptr, 0);
  if (addPackage != nullptr && stat != nullptr && enumerate != nullptr &&
      addPackage(set.package.c_str()) && manager.MountPackage(set.package.c_str())) {
    std::vector<const EntryRef*> names = Sample(set, LookupsPerRun);
    IndexedEntry found;
    KorvoResourceInfo info;
    // The two alternate, a few runs each, so that both meet the same load on a busy machine.
    const auto keepFaster = [](double ns, double allocs, double& bestNs, double& bestAllocs) {
      if (ns >= 0 && (bestNs < 0 || ns < bestNs)) {
        bestNs = ns;
        bestAllocs = allocs;
      }
    };
    for (int round = 0; round < 4; ++round) {
      double ns = -1, allocs = -1;
      PerCall(
          names, budget / 4, [&](const char* name) { return manager.Lookup(name, found); }, ns,
          allocs);
      keepFaster(ns, allocs, result.lookupNs, result.lookupAllocs);
      PerCall(
          names, budget / 4, [&](const char* name) { return stat(name, &info); }, ns, allocs);
      keepFaster(ns, allocs, result.statNs, result.statAllocs);
    }
    // The names of one directory of the tiny archive (up to 1000 of them) per call.
    names.resize(std::min<size_t>(names.size(), 200));
    std::vector<std::string> prefixes;
    for (const EntryRef* entry : names) prefixes.push_back(entry->name.substr(0, 14));
    uint64_t listed = 0;
    auto count = [](const char*, uint32_t, void* context) {
      ++*static_cast<uint64_t*>(context);
      return true;
    };
    {
      uint64_t first = 0;
      const double start = CpuNow();
      if (enumerate(prefixes[0].c_str(), count, &first) > 0)
        result.enumFirstMs = CpuSince(start) * 1e3;
    }
    size_t next = 0;
    PerCall(
        names, budget,
        [&](const char*) {
          return enumerate(prefixes[next++ % prefixes.size()].c_str(), count, &listed) > 0;
        },
        result.enumUs, result.enumAllocs);
    if (result.enumUs > 0) {
      result.enumUs /= 1e3;
      result.enumNames = double(listed) / next;
    }
  }
  platform::CloseLibrary(library);
  return result;
}

struct References {
  double zlibMBps = -1;
  double libdeflateMBps = -1;
  double memcpyMBps = -1;
};

// The same blocks inflated straight from memory, and the unpacked bytes copied.
References MeasureReferences(const ArchiveSet& set, const std::vector<uint8_t>& package,
                             const std::vector<uint8_t>& unpacked, std::vector<uint8_t>& buffer,
                             double budget) {
  References result;
  auto rate = [&](double seconds) { return seconds < 0 ? -1 : set.unpackedBytes / seconds / 1e6; };
  result.zlibMBps = rate(Fastest(
      [&] {
        double start = CpuNow();
        for (const EntryRef& entry : set.entries) {
          uLongf length = entry.size;
          if (uncompress(buffer.data(), &length, &package[entry.offset], entry.packedSize) !=
                  Z_OK ||
              length != entry.size) {
            return -1.0;
          }
        }
        return CpuSince(start);
      },
      budget, 2));
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  result.libdeflateMBps = rate(Fastest(
      [&] {
        double start = CpuNow();
        for (const EntryRef& entry : set.entries) {
          if (libdeflate_zlib_decompress(decompressor, &package[entry.offset], entry.packedSize,
                                         buffer.data(), entry.size,
                                         nullptr) != LIBDEFLATE_SUCCESS) {
            return -1.0;
          }
        }
        return CpuSince(start);
      },
      budget, 2));
  libdeflate_free_decompressor(decompressor);
  result.memcpyMBps = rate(Fastest(
      [&] {
        double start = CpuNow();
        size_t at = 0;
        for (const EntryRef& entry : set.entries) {
          std::memcpy(buffer.data(), &unpacked[at], entry.size);
          at += entry.size;
        }
        return CpuSince(start);
      },
      budget, 2));
  return result;
}

// The kinds of entry in the game-like tree, told apart by their top directories.
struct EntryClass {
  const char* label;
  const char* prefixes[2];
};
const EntryClass Classes[] = {
    {"image-like (textures, icons)", {"textures/", "ui/icons/"}},
    {"tables", {"data/tables/", nullptr}},
    {"text (scripts)", {"scripts/", nullptr}},
    {"audio-like, incompressible (stored blocks, 16 KB-4 MB)", {"sound/", nullptr}},
};

bool InClass(const EntryClass& kind, const std::string& name) {
  for (const char* prefix : kind.prefixes) {
    if (prefix != nullptr && name.compare(0, std::strlen(prefix), prefix) == 0) return true;
  }
  return false;
}

// Read-all over some of the game-like archive's entries (by position in the index), through
// KorvoLoader's two read paths and the references over the same blocks, in MB/s.
struct ClassFigures {
  std::string label;
  size_t entries = 0;
  uint64_t bytes = 0;
  double streamMBps = -1;  // OpenStream, Read into the caller's buffer, Close
  double wholeMBps = -1;   // ReadResource, the block LoadResFile hands over, then freed
  double libdeflateMBps = -1;
  double memcpyMBps = -1;
};

ClassFigures MeasureClass(CPackageManager& manager, const ArchiveSet& set,
                          const std::vector<size_t>& picks, const std::vector<uint8_t>& package,
                          const std::vector<uint8_t>& unpacked,
                          const std::vector<size_t>& unpackedAt, std::vector<uint8_t>& buffer,
                          double budget) {
  ClassFigures result;
  result.entries = picks.size();
  for (size_t i : picks) result.bytes += set.entries[i].size;
  auto rate = [&](double seconds) { return seconds < 0 ? -1 : result.bytes / seconds / 1e6; };
  auto timed = [&](const std::function<bool(const EntryRef&, size_t)>& read) {
    return rate(Fastest(
        [&] {
          double start = CpuNow();
          for (size_t i : picks) {
            if (!read(set.entries[i], i)) return -1.0;
          }
          return CpuSince(start);
        },
        budget, 2));
  };
  result.streamMBps = timed([&](const EntryRef& entry, size_t) {
    CResStream* stream = manager.OpenStream(entry.name.c_str(), ModeRead, true);
    if (stream == nullptr) return false;
    uint32_t got = stream->Read(buffer.data(), entry.size);
    stream->Close();
    return got == entry.size;
  });
  result.wholeMBps = timed([&](const EntryRef& entry, size_t) {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    if (!manager.ReadResource(entry.name.c_str(), data, size).ok()) return false;
    std::free(data);
    return size == entry.size;
  });
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  result.libdeflateMBps = timed([&](const EntryRef& entry, size_t) {
    return libdeflate_zlib_decompress(decompressor, &package[entry.offset], entry.packedSize,
                                      buffer.data(), entry.size, nullptr) == LIBDEFLATE_SUCCESS;
  });
  libdeflate_free_decompressor(decompressor);
  result.memcpyMBps = timed([&](const EntryRef& entry, size_t i) {
    std::memcpy(buffer.data(), &unpacked[unpackedAt[i]], entry.size);
    return true;
  });
  return result;
}

// Table output.

std::string Number(double value) {
  if (value < 0) return "—";
  char text[32];
  if (value >= 100) {
    std::snprintf(text, sizeof(text), "%.0f", value);
  } else if (value >= 10) {
    std::snprintf(text, sizeof(text), "%.1f", value);
  } else {
    std::snprintf(text, sizeof(text), "%.2f", value);
  }
  return text;
}

// Speed of KorvoLoader against another: for times the other's over ours, for rates ours over
// the other's.
double Speedup(double korvo, double other, bool higherIsFaster) {
  if (korvo <= 0 || other <= 0) return -1;
  return higherIsFaster ? korvo / other : other / korvo;
}

std::string Ratio(double ratio) {
  return ratio < 0 ? "—" : Number(ratio) + "×";
}

struct Goal {
  std::string text;
  std::string measured;
  bool met;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name, std::string& out) {
      std::string prefix = std::string(name) + "=";
      if (arg.compare(0, prefix.size(), prefix) != 0) return false;
      out = arg.substr(prefix.size());
      return true;
    };
    std::string text;
    if (value("--mb", text)) {
      options.megabytes = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
      if (options.megabytes == 0 || options.megabytes > 2000) return false;
    } else if (value("--entries", text)) {
      options.entryCounts.clear();
      for (size_t at = 0; at <= text.size();) {
        size_t comma = std::min(text.find(',', at), text.size());
        unsigned long count = std::strtoul(text.substr(at, comma - at).c_str(), nullptr, 10);
        if (count == 0 || count > 10000000) return false;
        options.entryCounts.push_back(static_cast<uint32_t>(count));
        at = comma + 1;
      }
      std::sort(options.entryCounts.begin(), options.entryCounts.end());
    } else if (value("--data", text)) {
      options.dataDir = text;
    } else if (value("--markdown", text)) {
      options.markdown = text;
    } else if (value("--physfs-max", text)) {
      options.physfsMax = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    } else if (value("--budget", text)) {
      options.budget = std::strtod(text.c_str(), nullptr);
      if (!(options.budget > 0 && options.budget < 600)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--mb=N] [--entries=N,N,...] [--data=DIR] [--markdown=FILE] "
                 "[--budget=SECONDS] [--physfs-max=N]\n",
                 argv[0]);
    return 2;
  }
  if (PHYSFS_init(argv[0]) == 0) {
    std::fprintf(stderr, "peer bench: PhysFS does not start\n");
    return 1;
  }

  // The data.
  std::string error;
  std::vector<TinyCase> tinies;
  for (uint32_t count : options.entryCounts) tinies.push_back({count, false, {}});
  tinies.push_back({options.entryCounts.back(), true, {}});
  ArchiveSet game;
  Progress("preparing the archives under " + options.dataDir);
  if (!PrepareGameArchives(options.dataDir, options.megabytes, game, error)) {
    std::fprintf(stderr, "peer bench: %s\n", error.c_str());
    return 1;
  }
  for (TinyCase& tiny : tinies) {
    if (!PrepareTinyArchives(options.dataDir, tiny.count, tiny.randomOrder, tiny.set, error)) {
      std::fprintf(stderr, "peer bench: %s\n", error.c_str());
      return 1;
    }
  }
  for (const TinyCase& tiny : tinies) {
    WarmFile(tiny.set.package);
    WarmFile(tiny.set.zip);
  }
  WarmFile(game.zip);

  std::vector<std::unique_ptr<Reader>> readers;
  readers.push_back(std::make_unique<KorvoReader>());
  readers.push_back(std::make_unique<PhysfsReader>());
  readers.push_back(std::make_unique<LibzipReader>());
  std::vector<Figures> figures(readers.size());
  // Measurements that failed: a reader that cannot mount or read an archive, or read wrong bytes.
  std::vector<std::string> failures;
  auto check = [&](double value, const std::string& what) {
    if (value < 0) failures.push_back(what);
  };

  // Mounting, lookup and open+read on the tiny-entry archives.
  for (const TinyCase& tiny : tinies) {
    for (size_t r = 0; r < readers.size(); ++r) {
      bool entries = !tiny.randomOrder;
      if (r == PhysfsIndex && tiny.count > options.physfsMax) {
        figures[r].mountMs.push_back(-1);
        if (entries) figures[r].SkipEntries();
        continue;
      }
      Progress("mount " + TinyLabel(tiny) + ": " + readers[r]->Name());
      double mountMs = MeasureMount(*readers[r], tiny.set, options.budget, entries);
      figures[r].mountMs.push_back(mountMs);
      std::string where = std::string(readers[r]->Name()) + ", " + TinyLabel(tiny);
      check(mountMs, "mount: " + where);
      if (!entries) continue;
      if (mountMs < 0) {
        figures[r].SkipEntries();
        continue;
      }
      Progress("lookup and open+read " + TinyLabel(tiny) + ": " + readers[r]->Name());
      MeasureEntries(*readers[r], tiny.set, options.budget, figures[r]);
      check(figures[r].lookupNs.back(), "lookup: " + where);
      check(figures[r].openReadUs.back(), "open+read: " + where);
    }
  }

  // The exports on the lookup path at the largest count.
  const TinyCase& largest = tinies[options.entryCounts.size() - 1];
  Progress("StatResFile and EnumResFiles through the library, " + TinyLabel(largest));
  ExportFigures exports = MeasureExports(largest.set, options.budget);
  check(exports.statNs, "StatResFile through the library");
  check(exports.enumUs, "EnumResFiles through the library");

  // Reading the whole game-like archive, and the references over the same blocks.
  std::vector<uint8_t> package;
  if (!ReadWholeFile(game.package, package)) {
    std::fprintf(stderr, "peer bench: cannot read %s\n", game.package.c_str());
    return 1;
  }
  uint32_t largestEntry = 0;
  for (const EntryRef& entry : game.entries) largestEntry = std::max(largestEntry, entry.size);
  std::vector<uint8_t> buffer(largestEntry);
  std::vector<uint8_t> unpacked(game.unpackedBytes);
  std::vector<uint32_t> crcs;
  crcs.reserve(game.entries.size());
  size_t at = 0;
  for (const EntryRef& entry : game.entries) {
    uLongf length = entry.size;
    if (entry.offset + uint64_t{entry.packedSize} > package.size() ||
        uncompress(&unpacked[at], &length, &package[entry.offset], entry.packedSize) != Z_OK ||
        length != entry.size) {
      std::fprintf(stderr, "peer bench: %s is damaged; delete it to regenerate\n",
                   game.package.c_str());
      return 1;
    }
    crcs.push_back(static_cast<uint32_t>(crc32(0, &unpacked[at], entry.size)));
    at += entry.size;
  }
  for (size_t r = 0; r < readers.size(); ++r) {
    Progress(std::string("read-all: ") + readers[r]->Name());
    figures[r].readAllMBps = MeasureReadAll(*readers[r], game, crcs, buffer, options.budget);
    check(figures[r].readAllMBps, std::string("read-all: ") + readers[r]->Name());
  }
  Progress("read-all references: zlib, libdeflate, memcpy");
  References references = MeasureReferences(game, package, unpacked, buffer, options.budget);
  check(references.zlibMBps, "zlib uncompress loop");
  check(references.libdeflateMBps, "libdeflate loop");
  // By kind of entry, and all of them, through both of KorvoLoader's read paths.
  std::vector<ClassFigures> classes;
  {
    CPackageManager manager(nullptr, 0);
    manager.FillStreamPools();
    if (!manager.MountPackage(game.package.c_str())) {
      std::fprintf(stderr, "peer bench: cannot mount %s\n", game.package.c_str());
      return 1;
    }
    std::vector<size_t> unpackedAt;
    unpackedAt.reserve(game.entries.size());
    std::vector<size_t> everything;
    for (size_t i = 0, offset = 0; i < game.entries.size(); offset += game.entries[i++].size) {
      unpackedAt.push_back(offset);
      everything.push_back(i);
    }
    for (const EntryClass& kind : Classes) {
      std::vector<size_t> picks;
      for (size_t i = 0; i < game.entries.size(); ++i) {
        if (InClass(kind, game.entries[i].name)) picks.push_back(i);
      }
      Progress(std::string("read-all by kind: ") + kind.label);
      classes.push_back(MeasureClass(manager, game, picks, package, unpacked, unpackedAt, buffer,
                                     options.budget));
      classes.back().label = kind.label;
    }
    Progress("read-all by kind: every entry");
    classes.push_back(MeasureClass(manager, game, everything, package, unpacked, unpackedAt, buffer,
                                   options.budget));
    classes.back().label = "every entry";
  }
  for (const ClassFigures& kind : classes) {
    check(kind.streamMBps, "read-all by kind, stream: " + kind.label);
    check(kind.wholeMBps, "read-all by kind, whole resource: " + kind.label);
  }
  package = {};
  unpacked = {};

  // The table.
  std::string out;
  auto line = [&](const std::string& text) { out += text + "\n"; };
  PHYSFS_Version physfs;
  PHYSFS_getLinkedVersion(&physfs);
  char versions[160];
  std::snprintf(versions, sizeof(versions), "PhysFS %d.%d.%d, libzip %s, zlib %s, libdeflate %s",
                physfs.major, physfs.minor, physfs.patch, zip_libzip_version(), zlibVersion(),
                LIBDEFLATE_VERSION_STRING);
  char summary[512];
  std::snprintf(summary, sizeof(summary),
                "Game-like archive: %zu entries, %.1f MB unpacked, %.1f MB of deflate data, the "
                "same bytes in the package and in the zip. %s. Fastest of repeated runs in "
                "process CPU time, archives in the page cache.",
                game.entries.size(), game.unpackedBytes / 1e6, game.packedBytes / 1e6, versions);
  line(summary);
  line("");
  line("| operation | KorvoLoader | PhysFS | libzip | vs PhysFS | vs libzip |");
  line("|---|---:|---:|---:|---:|---:|");
  auto row = [&](const std::string& name, double korvo, double physfsValue, double libzip,
                 bool higherIsFaster) {
    line("| " + name + " | " + Number(korvo) + " | " + Number(physfsValue) + " | " +
         Number(libzip) + " | " + Ratio(Speedup(korvo, physfsValue, higherIsFaster)) + " | " +
         Ratio(Speedup(korvo, libzip, higherIsFaster)) + " |");
  };
  for (size_t t = 0; t < tinies.size(); ++t) {
    row("mount, " + TinyLabel(tinies[t]) + " (ms)", figures[0].mountMs[t], figures[1].mountMs[t],
        figures[2].mountMs[t], false);
  }
  size_t sortedCount = options.entryCounts.size();
  for (size_t t = 0; t < sortedCount; ++t) {
    row("lookup, " + TinyLabel(tinies[t]) + " (ns)", figures[0].lookupNs[t], figures[1].lookupNs[t],
        figures[2].lookupNs[t], false);
  }
  for (size_t t = 0; t < sortedCount; ++t) {
    row("open+read a tiny entry, " + TinyLabel(tinies[t]) + " (µs)", figures[0].openReadUs[t],
        figures[1].openReadUs[t], figures[2].openReadUs[t], false);
  }
  row("read-all, game-like archive (MB/s)", figures[0].readAllMBps, figures[1].readAllMBps,
      figures[2].readAllMBps, true);
  if (options.entryCounts.back() > options.physfsMax) {
    line("");
    line("PhysFS is not run on archives above " + CountLabel(options.physfsMax) +
         " entries (—): its mount time grows much faster than the entry count. "
         "`--physfs-max=N` includes them.");
  }
  line("");
  line("| reference over the same blocks | MB/s | KorvoLoader read-all vs it |");
  line("|---|---:|---:|");
  auto reference = [&](const std::string& name, double rate) {
    line("| " + name + " | " + Number(rate) + " | " +
         Ratio(Speedup(figures[0].readAllMBps, rate, true)) + " |");
  };
  reference("zlib `uncompress` loop", references.zlibMBps);
  reference("libdeflate `libdeflate_zlib_decompress` loop", references.libdeflateMBps);
  reference("`memcpy` of the unpacked bytes", references.memcpyMBps);
  line("");
  line("Through the exports, as a host calls them, " + TinyLabel(largest) +
       ": time and operator new calls per call.");
  line("");
  line("| call | time | allocations per call | time vs the internal lookup |");
  line("|---|---:|---:|---:|");
  line("| internal lookup (`CPackageManager::Lookup`) | " + Number(exports.lookupNs) + " ns | " +
       Number(exports.lookupAllocs) + " | 1× |");
  line("| `StatResFile` | " + Number(exports.statNs) + " ns | " + Number(exports.statAllocs) +
       " | " + Ratio(Speedup(exports.statNs, exports.lookupNs, true)) + " |");
  line("| `EnumResFiles` of one directory (" + Number(exports.enumNames) + " names) | " +
       Number(exports.enumUs) + " µs | " + Number(exports.enumAllocs) + " | — |");
  line("| the first `EnumResFiles` after the mount (sorts every name once) | " +
       Number(exports.enumFirstMs) + " ms | — | — |");
  line("");
  line(
      "Read-all by kind of entry. Stream: OpenStream, Read into the caller's buffer, Close. "
      "Whole: ReadResource, the block that LoadResFile hands over, freed. Ratios are against "
      "the libdeflate loop over the same blocks.");
  line("");
  line(
      "| entries | count | MB | stream MB/s | whole MB/s | libdeflate MB/s | memcpy MB/s | "
      "stream vs libdeflate | whole vs libdeflate |");
  line("|---|---:|---:|---:|---:|---:|---:|---:|---:|");
  for (const ClassFigures& kind : classes) {
    line("| " + kind.label + " | " + std::to_string(kind.entries) + " | " +
         Number(kind.bytes / 1e6) + " | " + Number(kind.streamMBps) + " | " +
         Number(kind.wholeMBps) + " | " + Number(kind.libdeflateMBps) + " | " +
         Number(kind.memcpyMBps) + " | " +
         Ratio(Speedup(kind.streamMBps, kind.libdeflateMBps, true)) + " | " +
         Ratio(Speedup(kind.wholeMBps, kind.libdeflateMBps, true)) + " |");
  }
  line("");

  // The goals, judged at the largest count.
  size_t big = sortedCount - 1;
  size_t bigRandom = tinies.size() - 1;
  std::string at1M = CountLabel(options.entryCounts.back());
  double mountWorst = std::max(figures[0].mountMs[big], figures[0].mountMs[bigRandom]);
  bool mountsMeasured = figures[0].mountMs[big] > 0 && figures[0].mountMs[bigRandom] > 0;
  double vsZipSorted = Speedup(figures[0].mountMs[big], figures[2].mountMs[big], false);
  double vsZipRandom = Speedup(figures[0].mountMs[bigRandom], figures[2].mountMs[bigRandom], false);
  double lookupVsZip = Speedup(figures[0].lookupNs[big], figures[2].lookupNs[big], false);
  double vsZlib = Speedup(figures[0].readAllMBps, references.zlibMBps, true);
  double vsDeflate = Speedup(figures[0].readAllMBps, references.libdeflateMBps, true);
  std::vector<Goal> goals = {
      {"mount " + at1M + " entries ≤ 100 ms in either index order",
       Number(figures[0].mountMs[big]) + " / " + Number(figures[0].mountMs[bigRandom]) + " ms",
       mountsMeasured && mountWorst <= 100},
      {"mount " + at1M + " ≥ 30× libzip in either index order",
       Ratio(vsZipSorted) + " / " + Ratio(vsZipRandom), vsZipSorted >= 30 && vsZipRandom >= 30},
      {"lookup at " + at1M + " ≤ 250 ns", Number(figures[0].lookupNs[big]) + " ns",
       figures[0].lookupNs[big] > 0 && figures[0].lookupNs[big] <= 250},
      {"lookup at " + at1M + " ≥ 4× libzip", Ratio(lookupVsZip), lookupVsZip >= 4},
      {"zero allocations per lookup", Number(figures[0].lookupAllocs[big]) + " per lookup",
       figures[0].lookupAllocs[big] == 0},
      {"read-all ≥ 2× the zlib loop", Ratio(vsZlib), vsZlib >= 2},
      {"read-all ≥ 0.85× libdeflate", Ratio(vsDeflate), vsDeflate >= 0.85},
  };
  double statVsLookup = Speedup(exports.statNs, exports.lookupNs, true);
  goals.push_back({"`StatResFile` at " + at1M + ": zero allocations",
                   Number(exports.statAllocs) + " per call", exports.statAllocs == 0});
  goals.push_back({"`StatResFile` at " + at1M + " ≤ 1.2× the internal lookup's time",
                   Ratio(statVsLookup), statVsLookup > 0 && statVsLookup <= 1.2});
  // The slower of the two read paths counts, over every entry and in each kind.
  auto slowerVsDeflate = [](const ClassFigures& kind) {
    return std::min(Speedup(kind.streamMBps, kind.libdeflateMBps, true),
                    Speedup(kind.wholeMBps, kind.libdeflateMBps, true));
  };
  double everyEntry = slowerVsDeflate(classes.back());
  goals.push_back({"read-all, every entry, either path ≥ 0.95× libdeflate", Ratio(everyEntry),
                   everyEntry >= 0.95});
  double worstKind = -1;
  std::string worstLabel;
  for (size_t k = 0; k + 1 < classes.size(); ++k) {
    double ratio = slowerVsDeflate(classes[k]);
    if (worstKind < 0 || ratio < worstKind) {
      worstKind = ratio;
      worstLabel = classes[k].label;
    }
  }
  goals.push_back({"read-all of each kind, either path ≥ 0.9× libdeflate",
                   Ratio(worstKind) + " (" + worstLabel + ")", worstKind >= 0.9});
  line("| goal | measured | met |");
  line("|---|---:|:---:|");
  for (const Goal& goal : goals) {
    line("| " + goal.text + " | " + goal.measured + " | " + (goal.met ? "met" : "not met") + " |");
  }
  line("");
  line(
      "The image decode and packing goals are measured by korvo_bench_image_bench and "
      "korvo_bench_pack_bench (`scripts/bench.sh` runs them after this table).");

  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  StagedFile markdown;
  if (!markdown.Create(options.markdown) || !markdown.Write(out.data(), out.size()) ||
      !markdown.Commit()) {
    std::fprintf(stderr, "peer bench: cannot write %s\n", options.markdown.c_str());
    return 1;
  }
  PHYSFS_deinit();
  for (const std::string& failure : failures) {
    std::fprintf(stderr, "peer bench: failed: %s\n", failure.c_str());
  }
  return failures.empty() ? 0 : 1;
}
