// ReloadPackages of a large set while 4 threads load from it: how long a reload takes against a
// fresh mount of the same set, whether any load fails meanwhile, and how many loads a second the
// loading threads manage with and without reloads. A plain program; it writes its package into
// a temporary directory.
//
// Usage: korvo_bench_reload_bench [--entries=100000] [--seconds=2] [--every-ms=100]
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "authoring/package_builder.h"
#include "manager/package_manager.h"
#include "platform/process.h"

using namespace korvo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Loaders = 4;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string Name(int k) {
  return "data/set" + std::to_string(k / 1000) + "/entry" + std::to_string(k) + ".txt";
}

bool WritePackage(const std::string& path, int entries) {
  CPackageBuilder builder;
  if (!builder.Start(path.c_str()).ok()) return false;
  for (int k = 0; k < entries; ++k) {
    const std::string text = "entry " + std::to_string(k) + " of the reload bench\n";
    uLongf packed = compressBound(text.size());
    std::vector<unsigned char> block(packed);
    compress(block.data(), &packed, reinterpret_cast<const Bytef*>(text.data()), text.size());
    if (!builder.Append(Name(k).c_str(), block.data(), uint32_t(text.size()), uint32_t(packed), 0)
             .ok())
      return false;
  }
  return builder.Commit().ok();
}

// Loads a second by Loaders threads over the given time, the loads per second of processor time
// the loading threads used, and the loads that failed. On a machine with fewer processors than
// threads, a reload running beside the loaders takes processor time from them; loads per
// processor second is the rate of the lookup path itself.
struct LoadRun {
  double perSecond = 0;
  double perCpuSecond = 0;
  long failed = 0;
};

template <class Beside>
LoadRun Load(const CPackageManager& manager, int entries, double seconds, Beside beside) {
  std::atomic<bool> stop{false};
  std::atomic<long> loads{0}, failed{0};
  std::vector<double> cpu(Loaders);
  std::vector<std::thread> threads;
  const Clock::time_point start = Clock::now();
  for (int t = 0; t < Loaders; ++t) {
    threads.emplace_back([&, t] {
      const double cpuBefore = platform::ThreadCpuSeconds();
      uint32_t state = 2654435761u * uint32_t(t + 1);
      long mine = 0, bad = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        state = state * 1664525u + 1013904223u;
        unsigned char* data = nullptr;
        uint32_t size = 0;
        if (manager.ReadResource(Name(int(state % uint32_t(entries))).c_str(), data, size).ok()) {
          std::free(data);
        } else {
          ++bad;
        }
        ++mine;
      }
      loads += mine;
      failed += bad;
      cpu[size_t(t)] = platform::ThreadCpuSeconds() - cpuBefore;
    });
  }
  beside(start +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  stop = true;
  for (std::thread& thread : threads) thread.join();
  double cpuSeconds = 0;
  for (double used : cpu) cpuSeconds += used;
  return LoadRun{double(loads) / std::chrono::duration<double>(Clock::now() - start).count(),
                 cpuSeconds > 0 ? double(loads) / cpuSeconds : 0, failed.load()};
}

}  // namespace

int main(int argc, char** argv) {
  int entries = 100000;
  double seconds = 2;
  int everyMs = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--entries=", 10) == 0) entries = std::atoi(argv[i] + 10);
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atof(argv[i] + 10);
    if (std::strncmp(argv[i], "--every-ms=", 11) == 0) everyMs = std::atoi(argv[i] + 11);
  }
  const fs::path dir =
      fs::temp_directory_path() / ("korvo-reload-bench-" + std::to_string(entries));
  fs::create_directories(dir);
  const std::string package = (dir / "game.pak").string();
  if (!WritePackage(package, entries)) {
    std::fprintf(stderr, "reload_bench: cannot write %s\n", package.c_str());
    return 1;
  }
  std::ofstream(dir / "package.cfg") << "game.pak\n";

  // A fresh mount of the same set, in a manager of its own.
  std::vector<double> fresh;
  for (int r = 0; r < 9; ++r) {
    CPackageManager other(nullptr, 0);
    const Clock::time_point before = Clock::now();
    if (!other.Mount(package.c_str()).ok()) return 1;
    fresh.push_back(Ms(Clock::now() - before));
  }

  CPackageManager manager(dir.string().c_str(), "package.cfg");
  if (manager.EntryCount() != size_t(entries)) {
    std::fprintf(stderr, "reload_bench: %zu entries mounted, not %d\n", manager.EntryCount(),
                 entries);
    return 1;
  }
  const LoadRun quiet = Load(manager, entries, seconds,
                             [](Clock::time_point end) { std::this_thread::sleep_until(end); });
  // The same pace of fresh mounts into a manager of their own, beside the same loads: what a
  // reload costs the loaders beyond the work of mounting.
  std::vector<double> freshBeside;
  const LoadRun mounting = Load(manager, entries, seconds, [&](Clock::time_point end) {
    while (Clock::now() < end) {
      const Clock::time_point before = Clock::now();
      {
        CPackageManager other(nullptr, 0);
        if (!other.Mount(package.c_str()).ok()) return;
        freshBeside.push_back(Ms(Clock::now() - before));
      }
      std::this_thread::sleep_until(before + std::chrono::milliseconds(everyMs));
    }
  });
  std::vector<double> reloads;
  long reloadFailures = 0;
  const LoadRun busy = Load(manager, entries, seconds, [&](Clock::time_point end) {
    while (Clock::now() < end) {
      const Clock::time_point before = Clock::now();
      if (!manager.ReloadPackages().ok()) ++reloadFailures;
      reloads.push_back(Ms(Clock::now() - before));
      std::this_thread::sleep_until(before + std::chrono::milliseconds(everyMs));
    }
  });

  const double mountMs = Median(fresh), besideMs = Median(freshBeside), reloadMs = Median(reloads);
  std::printf("reload of %d entries while %d threads load (one every %d ms, %.1f s a run)\n",
              entries, Loaders, everyMs, seconds);
  std::printf("  fresh mount, alone:        %8.2f ms (median of %zu)\n", mountMs, fresh.size());
  std::printf("  fresh mount, beside loads: %8.2f ms (median of %zu)\n", besideMs,
              freshBeside.size());
  std::printf(
      "  ReloadPackages:            %8.2f ms (median of %zu, %ld failed)  %.2fx the mount "
      "beside loads, %.2fx alone\n",
      reloadMs, reloads.size(), reloadFailures, reloadMs / besideMs, reloadMs / mountMs);
  std::printf("  loads, nothing beside:     %10.0f /s (%ld failed)   %10.0f per CPU second\n",
              quiet.perSecond, quiet.failed, quiet.perCpuSecond);
  std::printf(
      "  loads, fresh mounts:       %10.0f /s (%ld failed)   %10.0f per CPU second  %.3fx, "
      "%.3fx per CPU second\n",
      mounting.perSecond, mounting.failed, mounting.perCpuSecond,
      mounting.perSecond / quiet.perSecond, mounting.perCpuSecond / quiet.perCpuSecond);
  std::printf(
      "  loads, reloading:          %10.0f /s (%ld failed)   %10.0f per CPU second  %.3fx, "
      "%.3fx per CPU second (goal >= 0.9x)\n",
      busy.perSecond, busy.failed, busy.perCpuSecond, busy.perSecond / quiet.perSecond,
      busy.perCpuSecond / quiet.perCpuSecond);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return busy.failed == 0 && reloadFailures == 0 ? 0 : 1;
}
