// korvo list <archive> [pattern...] [--json]: a table of the entries with their sizes, ratio
// and offset, a header and totals.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "archive_file.h"
#include "select.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct ListOptions {
  std::string archive;
  std::vector<std::string> patterns;
  bool json = false;
};

// The fixed columns fit 80 together with names of up to 36 columns; longer names run past.
constexpr const char* RowFormat = "%10s  %10s  %6s  %10s  %s\n";

std::string Count(uint64_t value) {
  return std::to_string(value);
}

int RunList(const ListOptions& options, const GlobalOptions&) {
  ArchiveFile archive;
  if (!OpenArchive(archive, options.archive)) return ExitFailure;
  std::vector<PackageEntry> entries;
  bool failed = false;
  if (options.patterns.empty()) {
    entries = archive.Entries();
  } else {
    std::vector<std::string> unmatched;
    for (size_t index : SelectEntries(archive.Entries(), options.patterns, unmatched)) {
      entries.push_back(archive.Entries()[index]);
    }
    for (const std::string& pattern : unmatched) {
      ReportError(options.archive, NoEntryNamed(pattern));
      failed = true;
    }
  }

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
    return failed ? ExitFailure : ExitOk;
  }

  std::printf(RowFormat, "Size", "Packed", "Ratio", "Offset", "Name");
  std::printf(RowFormat, "----------", "----------", "------", "----------", "----");
  uint64_t size = 0;
  uint64_t packed = 0;
  for (const PackageEntry& entry : entries) {
    std::printf(RowFormat, Count(entry.size).c_str(), Count(entry.packedSize).c_str(),
                FormatRatio(entry.packedSize, entry.size).c_str(), Count(entry.offset).c_str(),
                Printable(entry.name).c_str());
    size += entry.size;
    packed += entry.packedSize;
  }
  std::printf(RowFormat, "----------", "----------", "------", "", "----");
  std::string count = Count(entries.size()) + (entries.size() == 1 ? " entry" : " entries");
  std::printf(RowFormat, Count(size).c_str(), Count(packed).c_str(),
              FormatRatio(packed, size).c_str(), "", count.c_str());
  return failed ? ExitFailure : ExitOk;
}

}  // namespace

Command AddListCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<ListOptions> list(
      parent, "list",
      "List the entries of an archive: size, packed size, ratio (packed/size), offset of the "
      "data and name, one entry a line in archive order, with a header and totals. Patterns "
      "select entries as in extract: names, folders and globs, ignoring ASCII case and slash "
      "direction.");
  list.AddArchive();
  list.app->add_option("pattern", list.options->patterns, "Entries to list (default: all)");
  list.app->add_flag("--json", list.options->json, "Print a JSON document for scripts");
  SetExample(*list.app, "korvo list game.pak\nkorvo list game.pak 'data/ui/*.img' --json");
  return list.Build(global, RunList);
}

}  // namespace korvo::tool
