// Feeds files through a fuzz target's entry function without libFuzzer: every file named on
// the command line, and every file below every directory named there. The test suite runs it
// over the seed corpus and the saved regression inputs of each target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (fs::is_directory(argv[i], error)) {
      for (const auto& item : fs::recursive_directory_iterator(argv[i], error))
        if (item.is_regular_file()) files.push_back(item.path());
    } else if (fs::is_regular_file(argv[i], error)) {
      files.push_back(argv[i]);
    } else {
      std::fprintf(stderr, "%s: no such file or directory\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const korvo::fuzz::Bytes data = korvo::fuzz::ReadFileBytes(file.string());
    std::fprintf(stderr, "%s (%zu bytes)\n", file.string().c_str(), data.size());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;
}
