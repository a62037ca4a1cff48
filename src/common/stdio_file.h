// A stdio FILE that closes itself.
#pragma once

#include <cstdio>
#include <memory>

namespace korvo {

// Closes a stdio file.
struct StdioCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
// A stdio file that closes itself.
using StdioFile = std::unique_ptr<FILE, StdioCloser>;

}  // namespace korvo
