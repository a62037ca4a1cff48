// Terminal queries for the korvo tool's output (not part of the library).
#pragma once

#include <cstdio>

namespace korvo::platform {

// True when the stream is attached to a terminal.
bool IsTerminal(std::FILE* stream);

// Puts standard input, output and error in binary mode: bytes pass unchanged, "\n" is not
// written as "\r\n" (Windows C runtime). Nothing to do on POSIX.
void UseBinaryStandardStreams();

// The number of columns of the terminal the stream is attached to; 0 when it is none or the
// width cannot be told.
int TerminalWidth(std::FILE* stream);

// True when text written to the standard output is read as UTF-8: on POSIX, when the user's
// locale (LC_ALL, LC_CTYPE, LANG) has the UTF-8 character set; on Windows, when the console's
// output code page is UTF-8 (65001).
bool OutputIsUtf8();

}  // namespace korvo::platform
