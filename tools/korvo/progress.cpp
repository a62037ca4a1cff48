#include "progress.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tool.h"

namespace korvo::tool {

ProgressBar::ProgressBar(bool enabled, uint64_t totalFiles, uint64_t totalBytes)
    : enabled_(enabled), totalFiles_(totalFiles), totalBytes_(totalBytes) {}

void ProgressBar::Advance(uint64_t bytes) {
  ++files_;
  bytes_ += bytes;
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && files_ < totalFiles_ && now - lastDraw_ < std::chrono::milliseconds(50)) return;
  lastDraw_ = now;
  Draw();
}

void ProgressBar::Draw() {
  constexpr int Width = 30;
  double fraction = totalBytes_ > 0 ? static_cast<double>(bytes_) / static_cast<double>(totalBytes_)
                    : totalFiles_ > 0
                        ? static_cast<double>(files_) / static_cast<double>(totalFiles_)
                        : 1.0;
  if (fraction > 1.0) fraction = 1.0;
  int filled = static_cast<int>(fraction * Width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(Width - filled), '.');
  std::fprintf(stderr, "\r[%s] %3d%%  %" PRIu64 "/%" PRIu64 " files  %s/%s\033[K", bar.c_str(),
               static_cast<int>(fraction * 100.0), files_, totalFiles_, FormatBytes(bytes_).c_str(),
               FormatBytes(totalBytes_).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace korvo::tool
