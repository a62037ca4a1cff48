// A one-line progress bar on standard error, redrawn in place to fit the terminal's width. Only
// drawn when enabled (the caller enables it for a terminal).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo::tool {

// The bar is at most this wide, and left out below this width.
constexpr size_t MaxBar = 40;
constexpr size_t MinBar = 10;

// The line drawn for a fraction done on a terminal of columns columns: "[###...] 42%  3/7 files
// 1.5 KiB/3.0 KiB", shortened to the bar and the percentage, then to the percentage alone, so
// that it always leaves the last column free and never wraps.
std::string ProgressLine(double fraction, uint64_t files, uint64_t totalFiles, uint64_t bytes,
                         uint64_t totalBytes, int columns);

class ProgressBar {
 public:
  ProgressBar(bool enabled, uint64_t totalFiles, uint64_t totalBytes);
  // Records one more file of size bytes and redraws, at most every 50 ms and always for the
  // last file.
  void Advance(uint64_t bytes);
  // Clears the line.
  void Finish();

 private:
  void Draw();

  bool enabled_;
  bool drawn_ = false;
  uint64_t totalFiles_;
  uint64_t totalBytes_;
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace korvo::tool
