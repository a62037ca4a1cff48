// The system's random source, and handing a URL to the user's browser, for the korvo tool's
// local server (not part of the library).
#pragma once

#include <cstddef>
#include <string>

namespace korvo::platform {

// Fills size bytes with the system's cryptographic random source (getrandom or /dev/urandom on
// POSIX, RtlGenRandom through the C runtime's rand_s on Windows). False when it cannot.
bool FillRandom(void* buffer, size_t size);

// Asks the desktop to open url in the user's browser (xdg-open on POSIX, start on Windows),
// without waiting for it. url must hold only characters that need no quoting in a shell
// ([A-Za-z0-9:/._-]); false for any other, or when the request cannot be made.
bool OpenUrl(const std::string& url);

// True when url is not empty and holds only [A-Za-z0-9:/._-], which no shell quotes.
inline bool IsPlainUrl(const std::string& url) {
  if (url.empty()) return false;
  for (char c : url) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == ':' || c == '/' || c == '.' || c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

}  // namespace korvo::platform
