// korvo list <archive> [--json]: one line per entry with its sizes, ratio and offset.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "archive_file.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct ListOptions {
  std::string archive;
  bool json = false;
};

int RunList(const ListOptions& options, const GlobalOptions&) {
  ArchiveFile archive;
  if (!OpenArchive(archive, options.archive)) return ExitFailure;
  const std::vector<PackageEntry>& entries = archive.Entries();

  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const PackageEntry& entry : entries) {
      nlohmann::json item;
      item["name"] = entry.name;
      item["size"] = entry.size;
      item["packedSize"] = entry.packedSize;
      if (entry.size > 0) {
        item["ratio"] = static_cast<double>(entry.packedSize) / static_cast<double>(entry.size);
      } else {
        item["ratio"] = nullptr;
      }
      item["offset"] = entry.offset;
      item["flags"] = entry.flags;
      list.push_back(std::move(item));
    }
    nlohmann::json document;
    document["archive"] = options.archive;
    document["entries"] = std::move(list);
    // Names are bytes; any that are not UTF-8 are shown with replacement characters.
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
    return ExitOk;
  }

  size_t nameWidth = 4;
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (const PackageEntry& entry : entries) {
    names.push_back(Printable(entry.name));
    nameWidth = std::max(nameWidth, names.back().size());
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const PackageEntry& entry = entries[i];
    std::printf("%-*s  %10u  %10u  %6s  %10u\n", static_cast<int>(nameWidth), names[i].c_str(),
                entry.size, entry.packedSize, FormatRatio(entry.packedSize, entry.size).c_str(),
                entry.offset);
  }
  return ExitOk;
}

}  // namespace

Command AddListCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<ListOptions> list(
      parent, "list",
      "List the entries of an archive: name, size, packed size, ratio (packed/size), offset.");
  list.AddArchive();
  list.app->add_flag("--json", list.options->json, "Print a JSON document for scripts");
  return list.Build(global, RunList);
}

}  // namespace korvo::tool
