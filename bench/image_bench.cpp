// Image decoding speed: large multi-frame images of both tile formats, loaded by name from a
// mounted package (inflation included), decoded from bytes already in memory (lent in place, as
// a package entry's inflated bytes are) and through a stream that only copies (as a disk file's
// are), beside a plain memcpy of the same number of bytes. Counters: Mpix/s (decoded pixels)
// and bytes/s. The run ends with the decode goals and this run's figures for them.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "image/img_loader.h"
#include "image/img_writer.h"
#include "manager/package_manager.h"
#include "stream/mem_stream.h"
#include "stream/res_stream.h"

using namespace korvo;

namespace fs = std::filesystem;

namespace {

constexpr int32_t Width = 1024;
constexpr int32_t Height = 1024;
constexpr int32_t Frames = 8;
constexpr int64_t Pixels = int64_t{Width} * Height * Frames;

struct BenchData {
  fs::path dir;
  std::string packagePath;
  std::vector<uint8_t> file[4];  // the image files by format (1 and 3)
  CMemStream memory[4];          // the same files, held in memory as an opened entry holds them
  CPackageManager* manager = nullptr;
};

BenchData* g_data = nullptr;

// A read-only stream over bytes in memory that only copies them out (it lends nothing), so
// that the copying path can be timed without a disk.
class BytesStream : public CResStream {
 public:
  explicit BytesStream(const std::vector<uint8_t>& data) : data_(data) {
    mode = ModeRead;
    size = static_cast<uint32_t>(data.size());
  }
  uint32_t Read(void* buffer, uint32_t count) override {
    size_t n = std::min<size_t>(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return static_cast<uint32_t>(n);
  }
  bool Write(const void*, uint32_t) override { return false; }
  int32_t Seek(int32_t offset, int32_t) override {
    position_ = static_cast<size_t>(offset);
    return offset;
  }
  bool Eof() override { return position_ >= data_.size(); }

 private:
  const std::vector<uint8_t>& data_;
  size_t position_ = 0;
};

// Pixels with some structure, so that the package compresses as real art would.
std::vector<uint8_t> MakeFrame(int32_t frame) {
  std::vector<uint8_t> pixels(size_t{4} * Width * Height);
  std::mt19937 random(static_cast<uint32_t>(frame));
  for (int32_t y = 0; y < Height; ++y) {
    for (int32_t x = 0; x < Width; ++x) {
      uint8_t* p = &pixels[(size_t{4} * (static_cast<size_t>(y) * Width + x))];
      p[0] = static_cast<uint8_t>(x + frame * 9);
      p[1] = static_cast<uint8_t>(y * 3);
      p[2] = static_cast<uint8_t>((x ^ y) + (random() & 7));
      p[3] = 0xFF;
    }
  }
  return pixels;
}

// A package archive: 16-byte header, the compressed entries from offset 16, then the index.
std::vector<uint8_t> BuildPackage(
    const std::vector<std::pair<std::string, const std::vector<uint8_t>*>>& entries) {
  std::vector<uint8_t> data, index;
  for (const auto& entry : entries) {
    const std::vector<uint8_t>& bytes = *entry.second;
    uLongf packed = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> stored(packed);
    if (compress(stored.data(), &packed, bytes.data(), static_cast<uLong>(bytes.size())) != Z_OK)
      return {};
    stored.resize(packed);
    AppendLE16(index, static_cast<uint16_t>(entry.first.size()));
    index.insert(index.end(), entry.first.begin(), entry.first.end());
    AppendLE32(index, 0);
    AppendLE32(index, 16 + static_cast<uint32_t>(data.size()));
    AppendLE32(index, static_cast<uint32_t>(bytes.size()));
    AppendLE32(index, static_cast<uint32_t>(stored.size()));
    data.insert(data.end(), stored.begin(), stored.end());
  }
  std::vector<uint8_t> file;
  AppendLE32(file, 100);
  AppendLE32(file, static_cast<uint32_t>(entries.size()));
  AppendLE32(file, 16 + static_cast<uint32_t>(data.size()));
  AppendLE32(file, static_cast<uint32_t>(index.size()));
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), index.begin(), index.end());
  return file;
}

bool SetUp(BenchData& data) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<const uint8_t*> pointers;
  for (int32_t f = 0; f < Frames; ++f) frames.push_back(MakeFrame(f));
  for (const auto& frame : frames) pointers.push_back(frame.data());
  for (int32_t format : {1, 3}) {
    ImgWriteOptions options;
    options.format = format;
    options.tileWidth = 64;
    options.tileHeight = 64;
    const Status encoded = EncodeImage(pointers, Width, Height, options, data.file[format]);
    if (!encoded.ok()) {
      std::fprintf(stderr, "encoding failed: %s\n", encoded.detail().c_str());
      return false;
    }
  }
  for (int32_t format : {1, 3}) {
    CMemStream& stream = data.memory[format];
    const std::vector<uint8_t>& bytes = data.file[format];
    if (!stream.Reserve(static_cast<uint32_t>(bytes.size()))) return false;
    std::memcpy(stream.buffer, bytes.data(), bytes.size());
    stream.size = static_cast<uint32_t>(bytes.size());
    stream.mode = ModeRead;
  }
  std::random_device device;
  data.dir = fs::temp_directory_path() / ("korvo-image-bench-" + std::to_string(device()));
  fs::create_directories(data.dir);
  data.packagePath = (data.dir / "images.pak").string();
  std::vector<uint8_t> package =
      BuildPackage({{"bench\\format1.img", &data.file[1]}, {"bench\\format3.img", &data.file[3]}});
  std::FILE* out = std::fopen(data.packagePath.c_str(), "wb");
  if (out == nullptr || package.empty()) return false;
  bool written = std::fwrite(package.data(), 1, package.size(), out) == package.size();
  std::fclose(out);
  if (!written) return false;
  data.manager = new CPackageManager(data.packagePath.c_str(), 0);
  return data.manager->PackageCount() == 1;
}

void SetCounters(benchmark::State& state, size_t bytes) {
  state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(Pixels) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// LoadImgFile's path: open by name (inflating the entry), decode every frame, free.
void BM_LoadFromPackage(benchmark::State& state) {
  const int format = static_cast<int>(state.range(0));
  const std::string name = format == 1 ? "Bench/Format1.img" : "Bench/Format3.img";
  for (auto _ : state) {
    uint32_t count = 0;
    uint32_t* values = nullptr;
    ImgFrame** frames = nullptr;
    if (!LoadImageFrames(*g_data->manager, name.c_str(), &count, &values, &frames).ok()) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(frames[count - 1]);
    FreeImageFrames(count, values, frames);
  }
  SetCounters(state, g_data->file[format].size());
}

// Decodes the image of state's format from the stream that next(format) gives, once a run.
template <class NextStream>
void DecodeLoop(benchmark::State& state, NextStream next) {
  const int format = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto&& stream = next(format);
    uint32_t count = 0;
    uint32_t* values = nullptr;
    ImgFrame** frames = nullptr;
    if (!DecodeImageStream(stream, &count, &values, &frames).ok()) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(frames[count - 1]);
    FreeImageFrames(count, values, frames);
  }
  SetCounters(state, g_data->file[format].size());
}

// The decoder alone, from bytes already in memory: a memory stream lends them in place.
void BM_DecodeFromMemory(benchmark::State& state) {
  DecodeLoop(state, [](int format) -> CMemStream& {
    CMemStream& stream = g_data->memory[format];
    stream.position = 0;
    return stream;
  });
}

// The decoder through a stream that copies every byte out, as a disk file's stream does.
void BM_DecodeFromCopyingStream(benchmark::State& state) {
  DecodeLoop(state, [](int format) { return BytesStream(g_data->file[format]); });
}

// A plain copy of the file's bytes into fresh frame-sized buffers, for scale.
void BM_Memcpy(benchmark::State& state) {
  const int format = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& source = g_data->file[format];
  const size_t frameBytes = source.size() / Frames;
  for (auto _ : state) {
    std::vector<void*> copies(Frames);
    for (int32_t f = 0; f < Frames; ++f) {
      copies[f] = ::operator new(frameBytes);
      std::memcpy(copies[f], source.data() + f * frameBytes, frameBytes);
    }
    benchmark::DoNotOptimize(copies.back());
    benchmark::ClobberMemory();
    for (void* copy : copies) ::operator delete(copy);
  }
  SetCounters(state, source.size());
}

BENCHMARK(BM_LoadFromPackage)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFromMemory)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFromCopyingStream)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

// The console report, keeping each benchmark's Mpix/s for the goal lines: the median when
// the runs are repeated (--benchmark_repetitions), else the one run.
class GoalReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the report is read in logs as often as on a terminal.
  GoalReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("Mpix/s");
      if (run.error_occurred || rate == run.counters.end()) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.str()] = rate->second.value;
      else if (run.run_type == Run::RT_Iteration)
        singles_[run.run_name.str()] = rate->second.value;
    }
  }

  // The decode goals beside this run's figures; a goal whose benchmarks were filtered out is
  // reported as not measured.
  void PrintGoals() const {
    std::printf("\nDecode goals, figures from this run:\n");
    const double* format1 = Find("BM_DecodeFromMemory/1");
    if (format1 != nullptr)
      std::printf("  format 1 from memory >= 3 Gpix/s:         %.2f Gpix/s   %s\n", *format1 / 1000,
                  *format1 >= 3000 ? "met" : "NOT MET");
    else
      std::printf("  format 1 from memory >= 3 Gpix/s:         not measured\n");
    const double* format3 = Find("BM_DecodeFromMemory/3");
    const double* copy3 = Find("BM_Memcpy/3");
    if (format3 != nullptr && copy3 != nullptr && *copy3 > 0) {
      const double ratio = *format3 / *copy3;
      std::printf(
          "  format 3 from memory >= 0.50 x memcpy:    %.2f x memcpy (%.2f against %.2f "
          "Gpix/s)   %s\n",
          ratio, *format3 / 1000, *copy3 / 1000, ratio >= 0.5 ? "met" : "NOT MET");
    } else {
      std::printf("  format 3 from memory >= 0.50 x memcpy:    not measured\n");
    }
  }

 private:
  const double* Find(const std::string& name) const {
    for (const auto* figures : {&medians_, &singles_}) {
      const auto found = figures->find(name);
      if (found != figures->end()) return &found->second;
    }
    return nullptr;
  }

  std::map<std::string, double> medians_;
  std::map<std::string, double> singles_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  BenchData data;
  g_data = &data;
  int result = 0;
  if (SetUp(data)) {
    GoalReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintGoals();
  } else {
    std::fprintf(stderr, "could not write the benchmark package\n");
    result = 1;
  }
  delete data.manager;
  std::error_code error;
  if (!data.dir.empty()) fs::remove_all(data.dir, error);
  benchmark::Shutdown();
  return result;
}
