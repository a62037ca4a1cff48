// POSIX implementation of the tool's and the tests' platform functions.
#include <dlfcn.h>
#include <unistd.h>

#include "platform/shared_library.h"
#include "platform/terminal.h"

namespace korvo::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && isatty(fileno(stream)) == 1;
}

void* OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(void* library, const char* name) {
  return library != nullptr ? dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace korvo::platform
