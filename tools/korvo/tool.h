// Shared pieces of the korvo tool: exit codes, the subcommand registry and error reporting.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <string>

namespace korvo {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

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

// Prints the one failure line "korvo: <subject>: <cause>" on standard error. subject is
// usually a file name.
void ReportError(const std::string& subject, const std::string& cause);
// ReportError, then kExitFailure.
int Fail(const std::string& subject, const std::string& cause);

// A name for messages and listings: bytes outside printable ASCII become \xNN, so a name
// never breaks a line or the terminal.
std::string Printable(const std::string& text);

// Human-readable byte count: "512 B", "1.5 KiB", "3.2 MiB".
std::string FormatBytes(uint64_t bytes);

// The ratio of packed to unpacked size as a percentage, "-" for an empty entry.
std::string FormatRatio(uint64_t packed, uint64_t size);

// Writes all bytes to path, replacing the file. False with a cause.
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& cause);
// Reads all bytes of path. False with a cause.
bool ReadWholeFile(const std::string& path, std::string& data, std::string& cause);

// The text of errno as a cause.
std::string ErrnoText();

}  // namespace korvo
