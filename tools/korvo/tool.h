// Shared pieces of the korvo tool: exit codes, the subcommand registry and error reporting.
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/status.h"

namespace korvo::tool {

class ArchiveFile;

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Options that every subcommand accepts.
struct GlobalOptions {
  bool quiet = false;
};

// One subcommand: its parser and the action that runs after a successful parse. The action
// returns the exit status.
struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

Command AddPackCommand(CLI::App& parent, const GlobalOptions& global);
Command AddAddCommand(CLI::App& parent, const GlobalOptions& global);
Command AddDelCommand(CLI::App& parent, const GlobalOptions& global);
Command AddListCommand(CLI::App& parent, const GlobalOptions& global);
Command AddExtractCommand(CLI::App& parent, const GlobalOptions& global);
Command AddCatCommand(CLI::App& parent, const GlobalOptions& global);
Command AddVerifyCommand(CLI::App& parent, const GlobalOptions& global);
Command AddImg2PngCommand(CLI::App& parent, const GlobalOptions& global);
Command AddPng2ImgCommand(CLI::App& parent, const GlobalOptions& global);
Command AddWhichCommand(CLI::App& parent, const GlobalOptions& global);
Command AddMountsCommand(CLI::App& parent, const GlobalOptions& global);
Command AddConflictsCommand(CLI::App& parent, const GlobalOptions& global);
Command AddDiffCommand(CLI::App& parent, const GlobalOptions& global);
Command AddMergeCommand(CLI::App& parent, const GlobalOptions& global);
Command AddCompactCommand(CLI::App& parent, const GlobalOptions& global);
Command AddViewCommand(CLI::App& parent, const GlobalOptions& global);

// The packages the game in gameDir mounts, in mount order, as paths that open from the game
// directory, which becomes the working directory. False after one line naming the file and
// the cause when the list cannot be read or a listed package is not mounted whole.
bool GameChain(const std::string& gameDir, std::vector<std::string>& paths);

// A subcommand under construction: its parser and the options it fills, which the action reads
// once parsing is done.
template <typename Options>
struct Subcommand {
  Subcommand(CLI::App& parent, const char* name, const char* description)
      : app(parent.add_subcommand(name, description)) {}
  // The positional archive argument that most subcommands start with.
  void AddArchive(const char* help = "Package archive") {
    app->add_option("archive", options->archive, help)->required();
  }
  // The finished command: run(options, global) after a successful parse.
  Command Build(const GlobalOptions& global, int (*run)(const Options&, const GlobalOptions&)) {
    return Command{app, [options = options, &global, run] { return run(*options, global); }};
  }

  CLI::App* app;
  std::shared_ptr<Options> options = std::make_shared<Options>();
};

// Prints the one failure line "korvo: <subject>: <cause>" on standard error. subject is
// usually a file name.
void ReportError(const std::string& subject, const std::string& cause);
// ReportError, then ExitFailure.
int Fail(const std::string& subject, const std::string& cause);

// Prints the one failure line "korvo: <file>: <cause>" for a library status.
void ReportStatus(const korvo::Status& status);
// Rolls back an edit of the archive at path that was interrupted, saying so in one line on
// standard error. False after reporting why that failed.
bool RollBackInterruptedEdit(const std::string& path);

// Opens path as a package archive. False after reporting why it cannot be used.
bool OpenArchive(ArchiveFile& archive, const std::string& path);
// The cause for a name that selects no entry: "no entry named '<name>'".
std::string NoEntryNamed(const std::string& name);
// The subject of a message about one entry: "<archive>: entry '<name>'".
std::string EntrySubject(const std::string& archive, const std::string& name);

// A name for messages and listings: bytes outside printable ASCII become \xNN, so a name
// never breaks a line or the terminal. When the output is UTF-8 (SetUtf8Output), valid UTF-8
// sequences of printable characters stay as they are; control characters, stray bytes and the
// characters that reorder or break lines (U+2028, U+2029, the bidirectional controls) are
// still escaped byte by byte.
std::string Printable(const std::string& text);
// Whether Printable keeps printable UTF-8 characters; false until set.
void SetUtf8Output(bool utf8);
// The number of columns text takes on a terminal, counting one per character (UTF-8 lead bytes
// and ASCII; continuation bytes take none).
size_t DisplayWidth(const std::string& text);

// Text broken into lines of at most width columns at spaces, never inside a word (a word
// longer than a line stands alone); existing line breaks are kept.
std::string WrapText(const std::string& text, size_t width);
// The help layout of every command: descriptions and option help wrapped at 80 columns, the
// command list with each command's first sentence.
std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter();
// Ends the command's help with "Example:" and the example lines, indented.
void SetExample(CLI::App& app, const std::string& example);
// The column count help and tables are laid out for.
constexpr size_t HelpWidth = 80;

// A count with thousands separated by commas: "1,204".
std::string GroupThousands(uint64_t value);

// Human-readable byte count: "512 B", "1.5 KiB", "3.2 MiB".
std::string FormatBytes(uint64_t bytes);

// The ratio of packed to unpacked size as a percentage, "-" for an empty entry.
std::string FormatRatio(uint64_t packed, uint64_t size);

// Writes all bytes to path. A regular file is replaced in one step: the bytes go to a new file
// of a unique name beside it (created exclusively, never one that exists), which is flushed and
// renamed over path, then the directory is flushed. A symbolic link is followed and its target
// replaced; a character device or a FIFO (/dev/null, /dev/stdout) is written through, never
// renamed over or removed; a directory is refused. False with a cause, the old file (if any)
// untouched and no temporary file left; so too when stop is set before the file is in place
// (cause "interrupted").
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& cause,
                    const std::atomic<bool>* stop = nullptr);
// Reads all bytes of path. False with a cause.
bool ReadWholeFile(const std::string& path, std::string& data, std::string& cause);

// The text of errno as a cause.
std::string ErrnoText();

// While one lives, SIGINT, SIGTERM and SIGHUP (where the system has it) only set Flag(): the
// command stops at its next safe point, undoes or removes what it has not finished, says so in
// one line and returns ExitStatus(). A second signal ends the process at once. The library
// takes Flag() as its cancel flag. One at a time.
class StopOnSignal {
 public:
  StopOnSignal();
  ~StopOnSignal();
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

  const std::atomic<bool>* Flag() const;
  bool Stopped() const;
  // The status shells give a command killed by the signal: 128 + its number (130 for SIGINT,
  // 143 for SIGTERM, 129 for SIGHUP).
  int ExitStatus() const;

 private:
  using Handler = void (*)(int);
  Handler previous_[3];
};

// Flushes standard output now (before a message on standard error, say), keeping the cause of
// a failure for FinishStandardOutput.
void FlushStandardOutput();
// Flushes standard output and checks it for a write error. False after reporting the error in
// one line ("korvo: standard output: <cause>").
bool FinishStandardOutput();

}  // namespace korvo::tool
