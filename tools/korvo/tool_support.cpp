#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "archive_file.h"
#include "tool.h"

namespace korvo::tool {

void ReportError(const std::string& subject, const std::string& cause) {
  std::fprintf(stderr, "korvo: %s: %s\n", Printable(subject).c_str(), cause.c_str());
  std::fflush(stderr);
}

int Fail(const std::string& subject, const std::string& cause) {
  ReportError(subject, cause);
  return ExitFailure;
}

bool OpenArchive(ArchiveFile& archive, const std::string& path) {
  std::string cause;
  if (archive.Open(path, cause)) return true;
  ReportError(path, cause);
  return false;
}

std::string NoEntryNamed(const std::string& name) {
  return "no entry named '" + Printable(name) + "'";
}

std::string EntrySubject(const std::string& archive, const std::string& name) {
  return archive + ": entry '" + Printable(name) + "'";
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::string FormatBytes(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof(text), "%" PRIu64 " B", bytes);
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof(text), "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else if (bytes < 1024ull * 1024 * 1024) {
    std::snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(text, sizeof(text), "%.2f GiB",
                  static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  }
  return text;
}

std::string FormatRatio(uint64_t packed, uint64_t size) {
  if (size == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f%%",
                100.0 * static_cast<double>(packed) / static_cast<double>(size));
  return text;
}

std::string ErrnoText() {
  return std::strerror(errno);
}

namespace {
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens path in mode; null, with the cause "<failure>: <system message>", when it cannot.
FilePtr OpenFile(const std::string& path, const char* mode, const char* failure,
                 std::string& cause) {
  errno = 0;
  FilePtr file(std::fopen(path.c_str(), mode));
  if (!file) cause = failure + (": " + ErrnoText());
  return file;
}
}  // namespace

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& cause) {
  FilePtr file = OpenFile(path, "wb", "cannot create", cause);
  if (!file) return false;
  if (size > 0 && std::fwrite(data, 1, size, file.get()) != size) {
    cause = "cannot write: " + ErrnoText();
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    cause = "cannot write: " + ErrnoText();
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& cause) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    cause = "no such file";
    return false;
  }
  if (std::filesystem::is_directory(path, ec)) {
    cause = "is a directory";
    return false;
  }
  FilePtr file = OpenFile(path, "rb", "cannot open", cause);
  if (!file) return false;
  data.clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) data.append(buffer, n);
  if (std::ferror(file.get())) {
    cause = "cannot read: " + ErrnoText();
    return false;
  }
  return true;
}

}  // namespace korvo::tool
