// Win32 implementation of the tool's and the tests' platform functions.
// rand_s is declared by stdlib.h only when this is defined first.
#define _CRT_RAND_S
#include <stdlib.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/links.h"
#include "platform/random.h"
#include "platform/shared_library.h"
#include "platform/terminal.h"

namespace korvo::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && _isatty(_fileno(stream)) != 0;
}

int TerminalWidth(std::FILE* stream) {
  if (stream == nullptr || _isatty(_fileno(stream)) == 0) return 0;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool OutputIsUtf8() {
  return GetConsoleOutputCP() == CP_UTF8;
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool IsLink(const char* path) {
  if (path == nullptr) return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void* OpenLibrary(const char* path) {
  if (path == nullptr) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryA(path));
}

void* LibrarySymbol(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

bool FillRandom(void* buffer, size_t size) {
  unsigned char* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < size; i += sizeof(unsigned int)) {
    unsigned int value = 0;
    if (rand_s(&value) != 0) return false;
    size_t n = size - i < sizeof value ? size - i : sizeof value;
    std::memcpy(out + i, &value, n);
  }
  return true;
}

bool OpenUrl(const std::string& url) {
  if (!IsPlainUrl(url)) return false;
  std::string command = "start \"\" " + url;
  return std::system(command.c_str()) == 0;
}

}  // namespace korvo::platform
