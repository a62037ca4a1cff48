// POSIX implementation of the tool's and the tests' platform functions.
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/links.h"
#include "platform/random.h"
#include "platform/shared_library.h"
#include "platform/terminal.h"

namespace korvo::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && isatty(fileno(stream)) == 1;
}

int TerminalWidth(std::FILE* stream) {
  if (stream == nullptr) return 0;
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool OutputIsUtf8() {
  // The character set of the user's locale, asked without leaving that locale in force.
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  std::string saved = current != nullptr ? current : "C";
  bool utf8 = false;
  if (std::setlocale(LC_CTYPE, "") != nullptr) {
    const char* codeset = nl_langinfo(CODESET);
    utf8 = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  return utf8;
}

void UseBinaryStandardStreams() {}

bool IsLink(const char* path) {
  struct stat st {};
  return path != nullptr && lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
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

bool FillRandom(void* buffer, size_t size) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size;
}

bool OpenUrl(const std::string& url) {
  if (!IsPlainUrl(url)) return false;
  std::string command = "xdg-open " + url + " >/dev/null 2>&1 &";
  return std::system(command.c_str()) == 0;
}

}  // namespace korvo::platform
