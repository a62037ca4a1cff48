// Running the korvo binary as a user would, and the files the tool tests make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/archive_bytes.h"
#include "support/test_files.h"

// What one run of the tool gave.
struct ToolResult {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs korvo with args in directory cwd (empty: the test's own working directory), standard
// input empty, and collects the exit status and both output streams. scratch is a directory
// for the captured output.
ToolResult RunKorvo(const std::vector<std::string>& args, const std::string& scratch,
                    const std::string& cwd = std::string());

// Quotes text for the shell.
std::string ShellQuote(const std::string& text);

// True when the shell command succeeds (exit status 0).
bool ShellSucceeds(const std::string& command);

std::string ReadText(const std::string& path);
// Lines of text without their line ends.
std::vector<std::string> Lines(const std::string& text);
// Whitespace-separated fields of one line.
std::vector<std::string> Fields(const std::string& line);

// Every regular file below dir, as paths relative to dir with '/', sorted.
std::vector<std::string> FilesBelow(const std::string& dir);

// An RGBA image for the PNG tests.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;
};

// A picture of pseudo-random pixels (alpha included) from seed.
Picture RandomPicture(uint32_t width, uint32_t height, uint32_t seed);
void WritePngFile(const std::string& path, const Picture& picture);
// Reads a PNG as 8-bit RGBA; an empty picture when it cannot be read.
Picture ReadPngFile(const std::string& path);
