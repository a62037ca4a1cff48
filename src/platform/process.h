// The process and its environment: the executable's path, debugger output, the narrow code page
// and the system's error numbers.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace korvo::platform {

// The full path of the process's main executable (not of this library); empty when unknown.
// Linux reads /proc/self/exe. Other POSIX systems have no such link: there the lookup returns
// empty, and a caller falls back to the current directory (a host can still name its list and
// packages explicitly).
std::string ExecutablePath();

// The processor time the calling thread has used so far, in seconds: what a thread's work cost
// when more threads than processors share the machine. 0 when the system cannot tell.
double ThreadCpuSeconds();

// The debugger output channel: OutputDebugStringA on Windows, one line on stderr elsewhere.
void DebugOutput(const char* message);

// Multi-byte stepping in the current narrow code page (Windows) or locale (POSIX).
// CharNext does not move past the terminator; CharPrev does not move before start.
const char* CharNext(const char* p);
const char* CharPrev(const char* start, const char* p);

// The system's text for an error number: "No space left on device", "Permission denied", ...
// Both layers report the C runtime's errno values in a Status (the Win32 layer translates
// Windows error codes into them).
inline std::string ErrorText(int error) {
  return std::strerror(error);
}

}  // namespace korvo::platform
