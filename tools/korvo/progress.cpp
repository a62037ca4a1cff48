#include "progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/terminal.h"
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

std::string ProgressLine(double fraction, uint64_t files, uint64_t totalFiles, uint64_t bytes,
                         uint64_t totalBytes, int columns) {
  if (fraction > 1.0) fraction = 1.0;
  if (fraction < 0.0) fraction = 0.0;
  char percent[16];
  std::snprintf(percent, sizeof(percent), " %3d%%", static_cast<int>(fraction * 100.0));
  char counts[96];
  std::snprintf(counts, sizeof(counts), "  %" PRIu64 "/%" PRIu64 " files  %s/%s", files, totalFiles,
                FormatBytes(bytes).c_str(), FormatBytes(totalBytes).c_str());
  // The last column stays empty: some terminals wrap as soon as it is written.
  size_t room = columns > 1 ? static_cast<size_t>(columns) - 1 : 0;
  std::string tail = percent;
  if (room >= tail.size() + std::strlen(counts) + 2 + MinBar) tail += counts;
  if (room < tail.size() + 2 + MinBar) return room >= tail.size() ? tail : std::string();
  size_t width = std::min(MaxBar, room - tail.size() - 2);
  size_t filled = static_cast<size_t>(fraction * static_cast<double>(width));
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]" + tail;
}

void ProgressBar::Draw() {
  double fraction = totalBytes_ > 0 ? static_cast<double>(bytes_) / static_cast<double>(totalBytes_)
                    : totalFiles_ > 0
                        ? static_cast<double>(files_) / static_cast<double>(totalFiles_)
                        : 1.0;
  int columns = platform::TerminalWidth(stderr);
  if (columns <= 0) columns = static_cast<int>(HelpWidth);
  std::string line = ProgressLine(fraction, files_, totalFiles_, bytes_, totalBytes_, columns);
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
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
