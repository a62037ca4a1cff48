// korvo extract <archive> [-o <outdir>] [pattern...]: entries to files under outdir.
#include <cstdio>
#include <filesystem>

#include "archive_file.h"
#include "entry_path.h"
#include "select.h"
#include "tool.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct ExtractOptions {
  std::string archive;
  std::string outdir = ".";
  std::vector<std::string> names;
};

int RunExtract(const ExtractOptions& options, const GlobalOptions& global) {
  ArchiveFile archive;
  if (!OpenArchive(archive, options.archive)) return ExitFailure;
  const std::vector<PackageEntry>& entries = archive.Entries();

  bool failed = false;
  std::vector<size_t> selected;
  if (options.names.empty()) {
    for (size_t i = 0; i < entries.size(); ++i) selected.push_back(i);
  } else {
    std::vector<std::string> unmatched;
    selected = SelectEntries(entries, options.names, unmatched);
    for (const std::string& name : unmatched) {
      ReportError(options.archive, NoEntryNamed(name));
      failed = true;
    }
  }

  std::error_code ec;
  fs::create_directories(options.outdir, ec);
  std::error_code created = ec;
  if (!fs::is_directory(options.outdir, ec)) {
    return Fail(options.outdir, "cannot create the output directory: " +
                                    (created ? created.message() : "a file of that name exists"));
  }
  fs::path root = fs::path(options.outdir);

  size_t written = 0;
  uint64_t bytes = 0;
  std::vector<uint8_t> data;
  std::string cause;
  // A signal stops the extraction before the next entry, or before the file being written
  // replaces anything; its temporary file is removed.
  StopOnSignal stop;
  for (const PlannedOutput& item : PlanOutputs(entries, selected)) {
    if (stop.Stopped()) break;
    const PackageEntry& entry = entries[item.index];
    std::string subject = EntrySubject(options.archive, entry.name);
    if (!item.refusal.empty()) {
      ReportError(subject, "refused: " + item.refusal);
      failed = true;
      continue;
    }
    fs::path target;
    if (!PrepareOutputFile(root, item.relative, target, cause)) {
      ReportError(subject, "refused: " + cause);
      failed = true;
      continue;
    }
    const Status read = archive.ReadEntry(entry, data);
    if (!read.ok()) {
      ReportError(subject, read.detail());
      failed = true;
      continue;
    }
    if (!WriteWholeFile(target.string(), data.data(), data.size(), cause, stop.Flag())) {
      if (stop.Stopped()) break;
      ReportError(target.string(), cause);
      failed = true;
      continue;
    }
    ++written;
    bytes += data.size();
  }
  if (stop.Stopped()) {
    ReportError(options.archive, "interrupted; extracted " + std::to_string(written) + " of " +
                                     std::to_string(selected.size()) +
                                     " entries, no partial file left");
    return stop.ExitStatus();
  }
  if (!global.quiet) {
    std::printf("extracted %zu of %zu %s (%s) to %s\n", written, selected.size(),
                selected.size() == 1 ? "entry" : "entries", FormatBytes(bytes).c_str(),
                Printable(options.outdir).c_str());
  }
  return failed ? ExitFailure : ExitOk;
}

}  // namespace

Command AddExtractCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<ExtractOptions> extract(
      parent, "extract",
      "Extract every entry, or those the patterns select, to <outdir>/<name with '\\' as '/'>. "
      "A pattern is an entry name, a folder (every entry inside it) or a glob ('*' within one "
      "folder, '**' across folders, '?', [a-z]), compared ignoring ASCII case and slash "
      "direction as the game does; an exact name selects that entry alone. Nothing is written "
      "outside <outdir>: names that are absolute or have a '..' component are refused, and so "
      "are names Windows cannot create (drive prefixes, device names such as CON or NUL, a "
      "trailing dot or space) on every system. Two entries that would land on one file (names "
      "differing only in case or slash direction) are both refused; nothing is overwritten "
      "silently. The count printed at the end is of the files written.");
  extract.AddArchive();
  extract.app->add_option("-o,--output", extract.options->outdir,
                          "Output directory (default: the current one)");
  extract.app->add_option("pattern", extract.options->names, "Entries to extract (default: all)");
  SetExample(*extract.app, "korvo extract game.pak -o unpacked 'data/ui/*.img'");
  return extract.Build(global, RunExtract);
}

}  // namespace korvo::tool
