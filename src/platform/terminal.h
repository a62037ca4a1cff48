// Terminal queries for the korvo tool's progress display (not part of the library).
#pragma once

#include <cstdio>

namespace korvo::platform {

// True when the stream is attached to a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace korvo::platform
