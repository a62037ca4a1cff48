#include "entry_path.h"

#include <map>
#include <vector>

#include "platform/links.h"
#include "tool.h"

namespace korvo::tool {

namespace fs = std::filesystem;

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
  fs::path current = root;
  std::error_code ec;
  size_t start = 0;
  for (size_t cut = relative.find('/'); cut != std::string::npos;
       start = cut + 1, cut = relative.find('/', start)) {
    current /= relative.substr(start, cut - start);
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
  target = current / relative.substr(start);
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
