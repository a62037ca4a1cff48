// korvo diff, merge and compact: archives written from the stored blocks of others, never
// recompressed. diff compares two archives name by name and can write the patch between them;
// merge flattens a mount chain into one archive; compact drops the bytes replaced entries left.
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "authoring/package_diff.h"
#include "authoring/package_merge.h"
#include "tool.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct DiffOptions {
  std::string oldArchive;
  std::string newArchive;
  std::string patch;
  bool strict = false;
  bool json = false;
};

struct MergeOptions {
  std::string out;
  std::vector<std::string> sources;
  std::string gameDir;
};

struct CompactOptions {
  std::string archive;
};

const char* ChangeWord(DiffChange change) {
  switch (change) {
    case DiffChange::Added:
      return "added";
    case DiffChange::Changed:
      return "changed";
    default:
      return "removed";
  }
}

// The outcome of a write that the library reports: the one failure line, or the exit status of
// a signal after saying that target was left as it was.
int WriteFailure(const Status& status, const std::string& target, const StopOnSignal& stop) {
  if (status.code() == StatusCode::Interrupted) {
    ReportError(target, "interrupted; nothing was written");
    return stop.ExitStatus();
  }
  ReportStatus(status);
  return ExitFailure;
}

int RunDiff(const DiffOptions& options, const GlobalOptions& global) {
  DiffReport report;
  Status status;
  int interrupted = ExitOk;
  {
    StopOnSignal stop;
    MergeSettings settings;
    settings.cancel = stop.Flag();
    status = DiffArchives(options.oldArchive, options.newArchive, options.patch, settings, report);
    if (!status.ok()) {
      interrupted =
          WriteFailure(status, options.patch.empty() ? options.newArchive : options.patch, stop);
    }
  }
  if (!status.ok()) return interrupted;
  if (options.json) {
    nlohmann::json items = nlohmann::json::array();
    for (const DiffItem& item : report.items) {
      nlohmann::json entry = {{"change", ChangeWord(item.change)}, {"name", item.name}};
      if (item.change != DiffChange::Added) entry["oldSize"] = item.oldSize;
      if (item.change != DiffChange::Removed) {
        entry["size"] = item.newSize;
        entry["packedSize"] = item.packedSize;
      }
      items.push_back(entry);
    }
    nlohmann::json document = {{"old", options.oldArchive},
                               {"new", options.newArchive},
                               {"added", report.added},
                               {"changed", report.changed},
                               {"removed", report.removed},
                               {"unchanged", report.unchanged},
                               {"items", items}};
    if (!options.patch.empty()) {
      document["patch"] = options.patch;
      document["patchBytes"] = report.patchBytes;
    }
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
  } else {
    for (const DiffItem& item : report.items) {
      std::string sizes =
          item.change == DiffChange::Added ? std::to_string(item.newSize)
          : item.change == DiffChange::Removed
              ? std::to_string(item.oldSize)
              : std::to_string(item.oldSize) + " -> " + std::to_string(item.newSize);
      const uint32_t last = item.change == DiffChange::Removed ? item.oldSize : item.newSize;
      std::printf("%-8s %s (%s %s)\n", ChangeWord(item.change), Printable(item.name).c_str(),
                  sizes.c_str(), last == 1 ? "byte" : "bytes");
    }
    if (!global.quiet) {
      std::printf("%llu added, %llu changed, %llu removed, %llu unchanged\n",
                  static_cast<unsigned long long>(report.added),
                  static_cast<unsigned long long>(report.changed),
                  static_cast<unsigned long long>(report.removed),
                  static_cast<unsigned long long>(report.unchanged));
      if (!options.patch.empty()) {
        std::printf("wrote %s: %llu entries, %s\n", Printable(options.patch).c_str(),
                    static_cast<unsigned long long>(report.added + report.changed),
                    FormatBytes(report.patchBytes).c_str());
      }
    }
  }
  FlushStandardOutput();
  if (report.removed > 0 && !options.patch.empty() && !global.quiet && !options.strict) {
    std::fprintf(stderr,
                 "korvo: warning: %s: %llu removed %s still read from %s: a patch cannot "
                 "remove a name\n",
                 Printable(options.patch).c_str(), static_cast<unsigned long long>(report.removed),
                 report.removed == 1 ? "name is" : "names are",
                 Printable(options.oldArchive).c_str());
  }
  if (options.strict && report.removed > 0) {
    return Fail(options.newArchive,
                std::to_string(report.removed) + (report.removed == 1 ? " name" : " names") +
                    " of " + options.oldArchive + " removed; a patch cannot remove a name");
  }
  return ExitOk;
}

int PrintMerged(const std::string& verb, const std::string& out, const MergeReport& report,
                const GlobalOptions& global) {
  if (!global.quiet) {
    std::printf("%s %s: %llu entries, %s (from %s; %llu replaced %s dropped)\n", verb.c_str(),
                Printable(out).c_str(), static_cast<unsigned long long>(report.entries),
                FormatBytes(report.bytesOut).c_str(), FormatBytes(report.bytesIn).c_str(),
                static_cast<unsigned long long>(report.shadowed),
                report.shadowed == 1 ? "record" : "records");
  }
  if (report.unreachable > 0 && !global.quiet) {
    std::fprintf(stderr,
                 "korvo: warning: %s: %llu %s holding a zero byte left out; no lookup reaches "
                 "them\n",
                 Printable(out).c_str(), static_cast<unsigned long long>(report.unreachable),
                 report.unreachable == 1 ? "name" : "names");
  }
  return ExitOk;
}

int RunMerge(const MergeOptions& options, const GlobalOptions& global) {
  if (options.sources.empty() == options.gameDir.empty()) {
    std::fprintf(stderr,
                 "korvo merge: usage error: give the archives to merge, or --game, but not both\n"
                 "Run 'korvo merge --help' for usage.\n");
    return ExitUsage;
  }
  std::error_code ec;
  // Reading the game's list makes its directory the working directory: the output path is
  // taken as it was given first.
  const std::string out = fs::absolute(options.out, ec).string();
  std::vector<std::string> sources = options.sources;
  if (!options.gameDir.empty() && !GameChain(options.gameDir, sources)) return ExitFailure;
  MergeReport report;
  {
    StopOnSignal stop;
    MergeSettings settings;
    settings.cancel = stop.Flag();
    Status status = MergeArchives(sources, ec ? options.out : out, settings, &report);
    if (!status.ok()) return WriteFailure(status, options.out, stop);
  }
  return PrintMerged("merged", options.out, report, global);
}

int RunCompact(const CompactOptions& options, const GlobalOptions& global) {
  MergeReport report;
  {
    StopOnSignal stop;
    MergeSettings settings;
    settings.cancel = stop.Flag();
    Status status = CompactArchive(options.archive, settings, &report);
    if (!status.ok()) return WriteFailure(status, options.archive, stop);
  }
  return PrintMerged("compacted", options.archive, report, global);
}

}  // namespace

Command AddDiffCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<DiffOptions> diff(
      parent, "diff",
      "Compare two archives name by name, as the game reads them: list the names <new> adds, "
      "changes (inflated bytes compared) and removes; a renamed entry is a removal and an "
      "addition. With -o, write a patch archive of the added and changed entries, their "
      "blocks copied as they are: mounted after <old>, it makes every name of <new> read its "
      "new bytes. A patch cannot remove a name; --strict makes removed names a failure "
      "(exit 1).");
  diff.app->add_option("old", diff.options->oldArchive, "The archive players have")->required();
  diff.app->add_option("new", diff.options->newArchive, "The archive to ship")->required();
  diff.app->add_option("-o,--output", diff.options->patch, "Write the patch archive here");
  diff.app->add_flag("--strict", diff.options->strict, "Fail when <new> removes a name");
  diff.app->add_flag("--json", diff.options->json, "Print a JSON document for scripts");
  SetExample(*diff.app,
             "korvo diff data-1.0.pak data-1.1.pak\n"
             "korvo diff data-1.0.pak data-1.1.pak -o patch-1.1.pak --strict");
  return diff.Build(global, RunDiff);
}

Command AddMergeCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<MergeOptions> merge(
      parent, "merge",
      "Flatten a mount chain into one archive <out>: every name the chain holds, from the "
      "archive mounted last that holds it (ASCII case and slash direction ignored), its block "
      "copied as it is. The archives are given in mount order, or --game reads them from "
      "<game-dir>/package.cfg. <out> is replaced in one step; on any failure nothing is "
      "written.");
  merge.app->add_option("out", merge.options->out, "The archive to write")->required();
  merge.app->add_option("archives", merge.options->sources, "Archives in mount order");
  merge.app->add_option("--game", merge.options->gameDir,
                        "Merge what the game in this directory mounts");
  SetExample(*merge.app,
             "korvo merge release.pak data.pak patch1.pak mods/hd.pak\n"
             "korvo merge release.pak --game ~/games/demo");
  return merge.Build(global, RunMerge);
}

Command AddCompactCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<CompactOptions> compact(
      parent, "compact",
      "Rewrite an archive without the stale bytes that replaced entries leave ('korvo verify' "
      "counts them): only what a lookup reaches is kept, blocks copied as they are. The "
      "archive is replaced in one step.");
  compact.AddArchive();
  SetExample(*compact.app, "korvo compact game.pak");
  return compact.Build(global, RunCompact);
}

}  // namespace korvo::tool
