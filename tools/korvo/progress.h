// A one-line progress bar on standard error, redrawn in place. Only drawn when enabled (the
// caller enables it for a terminal).
#pragma once

#include <chrono>
#include <cstdint>

namespace korvo::tool {

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
