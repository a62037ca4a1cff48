#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "archive_file.h"
#include "common/status.h"
#include "platform/env.h"
#include "platform/platform.h"
#include "platform/replace.h"
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
  const Status opened = archive.Open(path);
  if (opened.ok()) return true;
  ReportError(path, opened.detail());
  return false;
}

std::string NoEntryNamed(const std::string& name) {
  return "no entry named '" + Printable(name) + "'";
}

std::string EntrySubject(const std::string& archive, const std::string& name) {
  return archive + ": entry '" + Printable(name) + "'";
}

namespace {

bool utf8Output = false;

// The length of the valid UTF-8 sequence of a printable character at text[i]; 0 when the bytes
// there are no such sequence (stray, overlong, surrogate, beyond U+10FFFF, a C1 control or a
// character that reorders or breaks lines).
size_t PrintableSequence(const std::string& text, size_t i) {
  unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    unsigned char c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3F);
  }
  static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code < 0xA0) return 0;                       // C1 controls
  if (code == 0x2028 || code == 0x2029) return 0;  // line and paragraph separators
  if ((code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) || code == 0x200E ||
      code == 0x200F || code == 0x061C) {
    return 0;  // bidirectional controls
  }
  return length;
}

}  // namespace

void SetUtf8Output(bool utf8) {
  utf8Output = utf8;
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    size_t length = utf8Output && c >= 0x80 ? PrintableSequence(text, i) : 0;
    if (length > 0) {
      out.append(text, i, length);
      i += length - 1;
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
    out += escaped;
  }
  return out;
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

std::string WrapText(const std::string& text, size_t width) {
  std::string out;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    // A line that fits stays as it is; one that does not keeps its indent, and so do the lines
    // it is broken into.
    if (DisplayWidth(text.substr(start, end - start)) <= width) {
      out += text.substr(start, end - start);
      if (end >= text.size()) break;
      out += '\n';
      start = end + 1;
      continue;
    }
    size_t at = start;
    while (at < end && text[at] == ' ') ++at;
    std::string indent = text.substr(start, at - start);
    std::string line = indent;
    bool empty = true;
    while (at < end) {
      size_t space = text.find(' ', at);
      if (space == std::string::npos || space > end) space = end;
      std::string word = text.substr(at, space - at);
      at = space + 1;
      if (word.empty()) continue;
      if (!empty && DisplayWidth(line) + 1 + DisplayWidth(word) > width) {
        out += line + '\n';
        line = indent;
        empty = true;
      }
      line += (empty ? "" : " ") + word;
      empty = false;
    }
    out += empty ? std::string() : line;
    if (end >= text.size()) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

namespace {

constexpr size_t HelpColumn = 26;

class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(HelpColumn); }
  std::string make_description(const CLI::App* app) const override {
    std::string text = app->get_description();
    return text.empty() ? std::string() : WrapText(text, HelpWidth - 1) + "\n\n";
  }
  std::string make_option_desc(const CLI::Option* option) const override {
    return WrapText(CLI::Formatter::make_option_desc(option), HelpWidth - 1 - HelpColumn);
  }
  std::string make_subcommand(const CLI::App* sub) const override {
    std::string text = sub->get_description();
    size_t stop = text.find(". ");
    if (stop != std::string::npos) text = text.substr(0, stop + 1);
    std::stringstream out;
    CLI::detail::format_help(out, sub->get_name(), WrapText(text, HelpWidth - 1 - HelpColumn),
                             HelpColumn);
    return out.str();
  }
  std::string make_footer(const CLI::App* app) const override {
    std::string footer = app->get_footer();
    return footer.empty() ? std::string() : WrapText(footer, HelpWidth - 1) + "\n";
  }
};

}  // namespace

std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter() {
  return std::make_shared<HelpFormatter>();
}

void SetExample(CLI::App& app, const std::string& example) {
  std::string text = "Example:";
  size_t start = 0;
  while (start < example.size()) {
    size_t end = example.find('\n', start);
    if (end == std::string::npos) end = example.size();
    text += "\n  " + example.substr(start, end - start);
    start = end + 1;
  }
  app.footer(text);
}

std::string GroupThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
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

// "<what>: <the system's text>" for a failed status, or its message when it has no system error.
std::string StatusCause(const char* what, const Status& status) {
  if (status.systemError() != 0) return what + (": " + platform::ErrorText(status.systemError()));
  return what + (": " + status.Message());
}

}  // namespace

namespace {

bool Stopped(const std::atomic<bool>* stop) {
  return stop != nullptr && stop->load();
}

// Writes all of data to file in chunks, stopping early (Interrupted) when stop is set.
Status WriteChunks(platform::File& file, const uint8_t* data, size_t size,
                   const std::atomic<bool>* stop) {
  constexpr size_t Chunk = size_t{1} << 20;
  for (size_t done = 0; done < size;) {
    if (Stopped(stop)) return Status(StatusCode::Interrupted);
    uint32_t count = static_cast<uint32_t>(std::min(size - done, Chunk));
    Status written = file.Write(data + done, count);
    if (!written.ok()) return written;
    done += count;
  }
  return Status::Ok();
}

// The cause of a failed write of the file's bytes.
std::string WriteCause(const Status& status) {
  if (status.code() == StatusCode::Interrupted) return "interrupted";
  return "cannot write: " + platform::ErrorText(status.systemError());
}

}  // namespace

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& cause,
                    const std::atomic<bool>* stop) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  platform::ReplaceTarget target;
  Status status = platform::ResolveReplaceTarget(path.c_str(), target);
  if (!status.ok()) {
    cause = status.systemError() != 0 ? StatusCause("cannot replace it", status) : status.detail();
    return false;
  }
  platform::File file;
  if (target.writeThrough) {
    // A device or a pipe takes the bytes as they come; there is nothing to replace.
    status = platform::OpenForWriteThrough(target.path.c_str(), file);
    if (!status.ok()) {
      cause = StatusCause("cannot open", status);
      return false;
    }
    status = WriteChunks(file, bytes, size, stop);
    Status closed = file.Close();
    if (status.ok()) status = closed;
    if (!status.ok()) {
      cause = WriteCause(status);
      return false;
    }
    return true;
  }
  // Written beside the file it replaces, flushed, then renamed over it: a reader, or a crash,
  // sees the old file or the whole new one, never a part.
  platform::Replacement replacement;
  platform::Replacement::Step failed = platform::Replacement::Step::Write;
  status = replacement.Begin(platform::Env::Default(), target, ".korvo-", file, &failed);
  if (!status.ok()) {
    cause = failed == platform::Replacement::Step::Create
                ? StatusCause("cannot create a file beside it", status)
                : StatusCause("cannot write", status);
    return false;
  }
  status = WriteChunks(file, bytes, size, stop);
  if (!status.ok()) {
    cause = WriteCause(status);
    (void)file.Close();
    replacement.Abandon();
    return false;
  }
  status = replacement.Commit(file, stop, &failed);
  if (status.ok()) return true;
  switch (failed) {
    case platform::Replacement::Step::Rename:
      cause = StatusCause("cannot replace the file", status);
      break;
    case platform::Replacement::Step::SyncDirectory:
      cause = StatusCause("cannot flush its directory", status);
      break;
    default:
      cause = Stopped(stop) ? "interrupted"
                            : "cannot write: " + platform::ErrorText(status.systemError());
      break;
  }
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& cause) {
  // Read to its end in chunks rather than by the length it claims: it may change meanwhile.
  data.clear();
  platform::File file;
  Status status = platform::OpenForRead(path.c_str(), file);
  if (!status.ok()) {
    cause = status.detail().empty() ? "cannot open: " + status.Cause() : status.Cause();
    return false;
  }
  char buffer[65536];
  uint32_t got = 0;
  while ((status = file.Read(buffer, sizeof(buffer), got)).ok() && got > 0)
    data.append(buffer, got);
  if (!status.ok()) {
    cause = "cannot read: " + status.Cause();
    return false;
  }
  return true;
}

namespace {

// Set by the signals StopOnSignal routes, with the number of the signal.
std::atomic<bool> g_stop{false};
std::atomic<int> g_stopSignal{0};

extern "C" void StopCommand(int signal) {
  // A second signal is not waited on: it ends the process as if there were no handler (a
  // journal left by an edit is rolled back by the next one).
  if (g_stop.load()) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_stopSignal.store(signal);
  g_stop.store(true);
}

#if defined(SIGHUP)
constexpr int StopSignals[3] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int StopSignals[3] = {SIGINT, SIGTERM, 0};
#endif

}  // namespace

StopOnSignal::StopOnSignal() {
  g_stop.store(false);
  g_stopSignal.store(0);
  for (int i = 0; i < 3; ++i) {
    previous_[i] = StopSignals[i] != 0 ? std::signal(StopSignals[i], StopCommand) : SIG_DFL;
  }
}

StopOnSignal::~StopOnSignal() {
  for (int i = 0; i < 3; ++i) {
    if (StopSignals[i] != 0) {
      std::signal(StopSignals[i], previous_[i] == SIG_ERR ? SIG_DFL : previous_[i]);
    }
  }
}

const std::atomic<bool>* StopOnSignal::Flag() const {
  return &g_stop;
}

bool StopOnSignal::Stopped() const {
  return g_stop.load();
}

int StopOnSignal::ExitStatus() const {
  return 128 + g_stopSignal.load();
}

namespace {

// The system's error number of the first failed flush of standard output.
int g_standardOutputError = 0;

}  // namespace

void FlushStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 && g_standardOutputError == 0) g_standardOutputError = errno;
}

bool FinishStandardOutput() {
  FlushStandardOutput();
  if (!std::ferror(stdout) && g_standardOutputError == 0) return true;
  ReportError("standard output",
              "cannot write: " + (g_standardOutputError != 0
                                      ? std::string(std::strerror(g_standardOutputError))
                                      : std::string("write error")));
  return false;
}

}  // namespace korvo::tool
