// The package list file read when the manager starts.
#pragma once

#include "platform/platform.h"

namespace korvo {

// The default name of the package list file.
constexpr const char* DefaultListFileName = "package.cfg";
// The first token of a list written by the packing tool.
constexpr const char* ToolListHeader = "ZuResTool_Config:";

// Writes the directory of the host process's executable, with its trailing separator, into
// buffer; the empty string when the path holds no separator or the directory does not fit.
void GetExeDirectory(char (&buffer)[platform::MaxPath]);

}  // namespace korvo
