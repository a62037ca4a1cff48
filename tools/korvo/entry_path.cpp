#include "entry_path.h"

#include <vector>

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
  if (path[0] == '/') {
    cause = "absolute name";
    return false;
  }
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    cause = "absolute name (drive prefix)";
    return false;
  }
  if (path.back() == '/') {
    cause = "name ends in a separator (a directory, not a file)";
    return false;
  }
  relative.clear();
  for (const std::string& part : SplitComponents(path)) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      cause = "name has a '..' component";
      return false;
    }
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  if (relative.empty()) {
    cause = "name has no file component";
    return false;
  }
  return true;
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
    } else if (fs::is_symlink(status)) {
      cause = "refusing to pass through the symbolic link " + current.string();
      return false;
    } else if (!fs::is_directory(status)) {
      cause = current.string() + " exists and is not a directory";
      return false;
    }
  }
  target = current / parts.back();
  fs::file_status status = fs::symlink_status(target, ec);
  if (fs::is_symlink(status)) {
    cause = "refusing to write through the symbolic link " + target.string();
    return false;
  }
  if (fs::is_directory(status)) {
    cause = target.string() + " is a directory";
    return false;
  }
  return true;
}

}  // namespace korvo::tool
