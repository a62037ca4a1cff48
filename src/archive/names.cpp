#include "archive/names.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/word_load.h"

namespace korvo {

namespace {

constexpr uint64_t Ones = 0x0101010101010101ull;
constexpr uint64_t HighBits = 0x8080808080808080ull;

// Folds 8 bytes at once: bytes 'A'..'Z' gain 0x20 and '/' becomes '\'. Bytes with the high bit
// set are never changed; no byte's arithmetic carries into its neighbour.
inline uint64_t FoldWord(uint64_t w) {
  const uint64_t low = w & ~HighBits;
  const uint64_t ascii = ~w & HighBits;
  const uint64_t atLeastA = low + Ones * (0x80 - 'A');
  const uint64_t aboveZ = low + Ones * (0x80 - 'Z' - 1);
  const uint64_t capital = atLeastA & ~aboveZ & ascii;
  const uint64_t notSlash = (low ^ (Ones * '/')) + Ones * 0x7F;
  const uint64_t slash = ~notSlash & ascii;
  return (w | (capital >> 2)) ^ ((slash >> 7) * ('/' ^ '\\'));
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '/') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  return parts;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// True when the component is one of the device names Windows reserves in every directory (CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9). The part before the first dot counts,
// trailing spaces dropped: "nul.txt" and "COM1 .log" are devices too.
bool IsDeviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = Lower(c);
  if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
      base == "conout$") {
    return true;
  }
  if (base.size() < 4 || (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)) {
    return false;
  }
  // COM0-COM9 and LPT0-LPT9, and with a superscript 1, 2 or 3 (in UTF-8) as the digit.
  const std::string digit = base.substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// The cause when Windows cannot create a file or directory of this name; empty when it can.
std::string ComponentFault(const std::string& part) {
  for (unsigned char c : part) {
    if (c < 0x20) {
      char text[64];
      std::snprintf(text, sizeof(text), "name has a control character (\\x%02X)", c);
      return text;
    }
    if (c == ':') return "name has a ':' (a drive or stream on Windows)";
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
      return std::string("name has a '") + static_cast<char>(c) +
             "', which Windows does not allow in file names";
    }
  }
  if (IsDeviceName(part)) return "name has the reserved device name '" + part + "'";
  if (part.back() == '.' || part.back() == ' ') {
    return "component '" + part + "' ends in a dot or space, which Windows drops";
  }
  return std::string();
}

}  // namespace

void FoldName(const char* name, size_t length, char* out) {
  if (length == 0) return;
  if (length < 8) {
    // Folding a byte never depends on its neighbours, so the part is folded as one word.
    const uint64_t folded = FoldWord(LoadPart(name, length));
    for (size_t k = 0; k < length; ++k) out[k] = static_cast<char>(folded >> (8 * k));
    return;
  }
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint64_t folded = FoldWord(Load8(name + i));
    std::memcpy(out + i, &folded, 8);
  }
  // The last word overlaps the one before it: folding a byte twice changes nothing, so this is
  // right even when out equals name.
  if (i < length) {
    const uint64_t folded = FoldWord(Load8(name + length - 8));
    std::memcpy(out + length - 8, &folded, 8);
  }
}

void NormalizeName(std::string& out, const char* name) {
  out.clear();
  if (name == nullptr) return;
  out.resize(std::strlen(name));
  FoldName(name, out.size(), out.data());
}

std::vector<size_t> MatchingEntries(const std::vector<PackageEntry>& entries,
                                    const std::string& name) {
  std::string key;
  std::string other;
  NormalizeName(key, name.c_str());
  std::vector<size_t> matches;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].name.find('\0') != std::string::npos) continue;
    NormalizeName(other, entries[i].name.c_str());
    if (other == key) matches.push_back(i);
  }
  return matches;
}

bool PackEntryName(const std::string& path, std::string& name) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') {
      part += path[i];
      continue;
    }
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      if (parts.empty() && part.size() >= 2 && part[1] == ':') return false;  // "./C:"
      parts.push_back(part);
    }
    part.clear();
  }
  name.clear();
  for (const std::string& level : parts) {
    if (!name.empty()) name += '\\';
    name += level;
  }
  return true;
}

std::string FoldPattern(const std::string& pattern) {
  std::string name;
  if (!PackEntryName(pattern, name)) name = pattern;
  std::string key;
  NormalizeName(key, name.c_str());
  while (key.size() > 1 && key.back() == '\\') key.pop_back();
  return key;
}

bool EntryOutputPath(const std::string& name, std::string& relative, std::string& cause) {
  if (name.empty()) {
    cause = "empty name";
    return false;
  }
  if (name.find('\0') != std::string::npos) {
    cause = "name holds a zero byte";
    return false;
  }
  std::string path = name;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.size() >= 2 && path[0] == '/' && path[1] == '/') {
    cause = "absolute name (UNC or device path)";
    return false;
  }
  if (path[0] == '/') {
    cause = "absolute name";
    return false;
  }
  if (path.back() == '/') {
    cause = "name ends in a separator (a directory, not a file)";
    return false;
  }
  // Normalise first, so that "./C:/x" cannot hide a drive prefix behind a dropped component.
  std::vector<std::string> parts;
  for (std::string& part : SplitComponents(path)) {
    if (part.empty() || part == ".") continue;
    parts.push_back(std::move(part));
  }
  if (parts.empty()) {
    cause = "name has no file component";
    return false;
  }
  if (parts[0].size() >= 2 && IsLetter(parts[0][0]) && parts[0][1] == ':') {
    cause = "absolute name (drive prefix)";
    return false;
  }
  relative.clear();
  for (const std::string& part : parts) {
    if (part == "..") {
      cause = "name has a '..' component";
      return false;
    }
    std::string fault = ComponentFault(part);
    if (!fault.empty()) {
      cause = fault;
      return false;
    }
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  return true;
}

std::string OutputPathKey(const std::string& relative) {
  std::string key = relative;
  for (char& c : key) c = Lower(c);
  return key;
}

}  // namespace korvo
