// Loads per second from a mounted package with 1, 2 and 4 threads: images (inflate and decode)
// and whole resources (inflate only), by name through the manager as the exports do; and
// lookups alone, which take no lock and share no written memory, so they should scale fully.
// Counter: items_per_second over all threads (real time), so the 2-thread figure divided by the
// 1-thread one is the scaling.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "image/img_loader.h"
#include "manager/package_manager.h"
#include "platform/platform.h"

using namespace korvo;

namespace fs = std::filesystem;

namespace {

constexpr int Count = 64;  // images and resources in the package

// A 256 x 256 image of two frames, 64 x 64 format 3 tiles, texture-like (compressible).
std::vector<uint8_t> Image(int seed) {
  std::vector<uint8_t> out = {'K', 'W', 'F', 0x1A, 'I', 'A', 'N', 'I', 0, 0, 0, 0, 0, 0, 0, 0};
  for (uint32_t v : {64u, 64u, 256u, 256u, 2u}) AppendLE32(out, v);
  for (int f = 0; f < 2; ++f)
    for (int ty = 0; ty < 4; ++ty)
      for (int tx = 0; tx < 4; ++tx) {
        for (uint32_t v : {64u, 64u, 256u, 3u}) AppendLE32(out, v);
        for (int y = 0; y < 64; ++y)
          for (int x = 0; x < 64; ++x)
            AppendLE32(out,
                       0xFF000000u | uint32_t((tx * 64 + x + seed) / 3 * 0x10203 + ty * 64 + y));
      }
  return out;
}

// About 64 KiB of text-like bytes.
std::vector<uint8_t> Text(int seed) {
  std::string out;
  while (out.size() < 64 * 1024)
    out += "line " + std::to_string(seed * 7919 + out.size()) + " of a script\n";
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& in) {
  uLongf size = compressBound(in.size());
  std::vector<uint8_t> out(size);
  compress(out.data(), &size, in.data(), in.size());
  out.resize(size);
  return out;
}

struct Entry {
  std::string name;
  std::vector<uint8_t> content;
};

// The package file: header, the compressed blocks, then the index.
void WritePackage(const std::string& path, const std::vector<Entry>& entries) {
  std::vector<uint8_t> data, index;
  for (const Entry& e : entries) {
    std::vector<uint8_t> packed = Compress(e.content);
    index.push_back(uint8_t(e.name.size()));
    index.push_back(uint8_t(e.name.size() >> 8));
    index.insert(index.end(), e.name.begin(), e.name.end());
    for (uint32_t v :
         {0u, uint32_t(16 + data.size()), uint32_t(e.content.size()), uint32_t(packed.size())})
      AppendLE32(index, v);
    data.insert(data.end(), packed.begin(), packed.end());
  }
  std::vector<uint8_t> file;
  for (uint32_t v :
       {100u, uint32_t(entries.size()), uint32_t(16 + data.size()), uint32_t(index.size())})
    AppendLE32(file, v);
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), index.begin(), index.end());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
}

struct Data {
  Data() {
    dir = fs::temp_directory_path() / ("korvo-thread-bench-" + std::to_string(std::rand()));
    fs::create_directories(dir);
    std::vector<Entry> entries;
    for (int i = 0; i < Count; ++i) {
      entries.push_back({"img/" + std::to_string(i) + ".img", Image(i)});
      entries.push_back({"txt/" + std::to_string(i) + ".txt", Text(i)});
    }
    path = (dir / "bench.pak").string();
    WritePackage(path, entries);
    manager = new CPackageManager(path.c_str(), 0);
  }
  ~Data() {
    delete manager;
    fs::remove_all(dir);
  }
  fs::path dir;
  std::string path;
  CPackageManager* manager;
};

Data& Shared() {
  static Data data;
  return data;
}

void BM_LoadImage(benchmark::State& state) {
  CPackageManager& manager = *Shared().manager;
  int i = state.thread_index() * 17;
  for (auto _ : state) {
    std::string name = "IMG/" + std::to_string(i++ % Count) + ".img";
    uint32_t count = 0, *values = nullptr;
    ImgFrame** frames = nullptr;
    if (!LoadImageFrames(manager, name.c_str(), &count, &values, &frames).ok()) {
      state.SkipWithError("load failed");
      break;
    }
    FreeImageFrames(count, count > 1 ? values : nullptr, frames);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadImage)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

void BM_ReadResource(benchmark::State& state) {
  CPackageManager& manager = *Shared().manager;
  int i = state.thread_index() * 17;
  for (auto _ : state) {
    std::string name = "txt/" + std::to_string(i++ % Count) + ".TXT";
    unsigned char* data = nullptr;
    uint32_t size = 0;
    if (!manager.ReadResource(name.c_str(), data, size).ok()) {
      state.SkipWithError("read failed");
      break;
    }
    std::free(data);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadResource)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

void BM_Lookup(benchmark::State& state) {
  CPackageManager& manager = *Shared().manager;
  std::vector<std::string> names;
  for (int i = 0; i < Count; ++i) {
    names.push_back("Img/" + std::to_string(i) + ".img");
    names.push_back("TXT\\" + std::to_string(i) + ".txt");
  }
  size_t i = static_cast<size_t>(state.thread_index()) * 17;
  for (auto _ : state) {
    if (!manager.Exists(names[i++ % names.size()].c_str(), LookInPackages)) {
      state.SkipWithError("lookup failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Lookup)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
