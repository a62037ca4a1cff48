#include "entry_path.h"

#include <cstdio>
#include <map>
#include <vector>

#include "platform/links.h"
#include "tool.h"

namespace korvo::tool {

namespace fs = std::filesystem;

namespace {

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

std::vector<PlannedOutput> PlanOutputs(const std::vector<PackageEntry>& entries,
                                       const std::vector<size_t>& selected) {
  std::vector<PlannedOutput> plan;
  std::map<std::string, std::vector<size_t>> byPath;
  std::map<std::string, size_t> folders;  // folder key -> the first item that needs it
  for (size_t index : selected) {
    PlannedOutput item;
    item.index = index;
    if (EntryOutputPath(entries[index].name, item.relative, item.refusal)) {
      std::string key = OutputPathKey(item.relative);
      for (size_t cut = key.find('/'); cut != std::string::npos; cut = key.find('/', cut + 1)) {
        folders.emplace(key.substr(0, cut), plan.size());
      }
      byPath[key].push_back(plan.size());
    }
    plan.push_back(std::move(item));
  }
  auto name = [&](size_t item) { return Printable(entries[plan[item].index].name); };
  for (const auto& path : byPath) {
    auto folder = folders.find(path.first);
    for (size_t k = 0; k < path.second.size(); ++k) {
      PlannedOutput& item = plan[path.second[k]];
      if (path.second.size() > 1) {
        size_t other = path.second[k == 0 ? 1 : 0];
        item.clash = plan[other].index;
        item.refusal = "entry '" + name(other) + "' maps to the same output path " +
                       Printable(item.relative) + "; extract one of them by its exact name";
      } else if (folder != folders.end()) {
        item.clash = plan[folder->second].index;
        item.refusal = "entry '" + name(folder->second) + "' needs " + Printable(item.relative) +
                       " as a folder; extract one of them by its exact name";
      }
    }
  }
  return plan;
}

bool PrepareOutputFile(const fs::path& root, const std::string& relative, fs::path& target,
                       std::string& cause) {
  std::vector<std::string> parts = SplitComponents(relative);
  fs::path current = root;
  std::error_code ec;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    current /= parts[i];
    fs::file_status status = fs::symlink_status(current, ec);
    if (!fs::exists(status)) {
      if (!fs::create_directory(current, ec) && ec) {
        cause = "cannot create directory " + current.string() + ": " + ec.message();
        return false;
      }
    } else if (fs::is_symlink(status) || platform::IsLink(current.string().c_str())) {
      cause = "refusing to pass through the symbolic link " + current.string();
      return false;
    } else if (!fs::is_directory(status)) {
      cause = current.string() + " exists and is not a directory";
      return false;
    }
  }
  target = current / parts.back();
  fs::file_status status = fs::symlink_status(target, ec);
  if (fs::is_symlink(status) || platform::IsLink(target.string().c_str())) {
    cause = "refusing to write through the symbolic link " + target.string();
    return false;
  }
  if (fs::is_directory(status)) {
    cause = target.string() + " is a directory";
    return false;
  }
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    cause = target.string() + " exists and is not a regular file";
    return false;
  }
  return true;
}

}  // namespace korvo::tool
