// korvo extract <archive> -o <outdir> [entry-name...]: entries to files under outdir.
#include <cstdio>
#include <filesystem>

#include "archive_file.h"
#include "entry_path.h"
#include "tool.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct ExtractOptions {
  std::string archive;
  std::string outdir;
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
    for (const std::string& name : options.names) {
      int index = archive.Find(name);
      if (index < 0) {
        ReportError(options.archive, NoEntryNamed(name));
        failed = true;
      } else {
        selected.push_back(static_cast<size_t>(index));
      }
    }
  }

  std::error_code ec;
  fs::create_directories(options.outdir, ec);
  if (!fs::is_directory(options.outdir, ec)) {
    return Fail(options.outdir, "cannot create the output directory");
  }
  fs::path root = fs::path(options.outdir);

  size_t written = 0;
  uint64_t bytes = 0;
  std::vector<uint8_t> data;
  std::string cause;
  for (size_t index : selected) {
    const PackageEntry& entry = entries[index];
    std::string subject = EntrySubject(options.archive, entry.name);
    std::string relative;
    if (!EntryOutputPath(entry.name, relative, cause)) {
      ReportError(subject, "refused: " + cause);
      failed = true;
      continue;
    }
    fs::path target;
    if (!PrepareOutputFile(root, relative, target, cause)) {
      ReportError(subject, "refused: " + cause);
      failed = true;
      continue;
    }
    if (!archive.ReadEntry(entry, data, cause)) {
      ReportError(subject, cause);
      failed = true;
      continue;
    }
    if (!WriteWholeFile(target.string(), data.data(), data.size(), cause)) {
      ReportError(target.string(), cause);
      failed = true;
      continue;
    }
    ++written;
    bytes += data.size();
  }
  if (!global.quiet) {
    std::printf("extracted %zu of %zu entries (%s) to %s\n", written, selected.size(),
                FormatBytes(bytes).c_str(), options.outdir.c_str());
  }
  return failed ? ExitFailure : ExitOk;
}

}  // namespace

Command AddExtractCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<ExtractOptions> extract(
      parent, "extract",
      "Extract every entry, or the named ones, to <outdir>/<name with '\\' as '/'>. Names that "
      "are absolute or have a '..' component are refused; nothing is written outside <outdir>.");
  extract.AddArchive();
  extract.app->add_option("-o,--output", extract.options->outdir, "Output directory")->required();
  extract.app->add_option("entry-name", extract.options->names,
                          "Entries to extract (default: all)");
  return extract.Build(global, RunExtract);
}

}  // namespace korvo::tool
