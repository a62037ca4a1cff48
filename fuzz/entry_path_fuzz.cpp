// Maps the input, as an entry name, to an output path. Whatever the name, an accepted path
// must stay inside the output directory on Linux and on Windows alike: relative, no drive or
// UNC prefix, no "." or ".." component (trailing dots and spaces removed, as Windows does),
// no empty component and no zero byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/names.h"
#include "fuzz_support.h"

namespace {

// A component as Windows resolves it: trailing dots and spaces are dropped.
std::string WindowsComponent(const std::string& part) {
  size_t end = part.find_last_not_of(". ");
  return end == std::string::npos ? std::string() : part.substr(0, end + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  std::string relative, cause;
  if (!korvo::EntryOutputPath(name, relative, cause)) {
    KORVO_FUZZ_CHECK(!cause.empty());
    return 0;
  }
  KORVO_FUZZ_CHECK(!relative.empty());
  KORVO_FUZZ_CHECK(relative.find('\0') == std::string::npos);
  KORVO_FUZZ_CHECK(relative.find('\\') == std::string::npos);
  KORVO_FUZZ_CHECK(relative.front() != '/');
  size_t start = 0;
  bool first = true;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    KORVO_FUZZ_CHECK(!part.empty());
    KORVO_FUZZ_CHECK(part != "." && part != "..");
    KORVO_FUZZ_CHECK(!WindowsComponent(part).empty());  // ".", "..", "...", ". " and the like
    if (first) KORVO_FUZZ_CHECK(part.find(':') == std::string::npos);  // no drive prefix
    first = false;
    start = end + 1;
  }
  return 0;
}
