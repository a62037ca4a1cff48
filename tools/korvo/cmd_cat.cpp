// korvo cat <archive> <pattern>...: entries' bytes to standard output.
#include <cstdio>

#include "archive_file.h"
#include "select.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct CatOptions {
  std::string archive;
  std::vector<std::string> names;
};

int RunCat(const CatOptions& options, const GlobalOptions&) {
  ArchiveFile archive;
  if (!OpenArchive(archive, options.archive)) return ExitFailure;
  // A plain name gives the one entry the game loads for it; folders and globs give every entry
  // they select, in archive order.
  std::vector<size_t> selected;
  bool failed = false;
  for (const std::string& name : options.names) {
    // An exact stored name comes first, glob characters and all.
    int index = archive.FindExact(name);
    if (index < 0 && !IsGlob(name)) index = archive.Find(name);
    if (index >= 0) {
      selected.push_back(static_cast<size_t>(index));
      continue;
    }
    std::vector<std::string> unmatched;
    std::vector<size_t> matches = SelectEntries(archive.Entries(), {name}, unmatched);
    if (matches.empty()) {
      ReportError(options.archive, NoEntryNamed(name));
      failed = true;
    }
    selected.insert(selected.end(), matches.begin(), matches.end());
  }
  std::vector<uint8_t> data;
  for (size_t index : selected) {
    const PackageEntry& entry = archive.Entries()[index];
    const Status read = archive.ReadEntry(entry, data);
    if (!read.ok()) {
      ReportError(EntrySubject(options.archive, entry.name), read.detail());
      failed = true;
      continue;
    }
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), stdout) != data.size()) {
      return Fail("standard output", "cannot write: " + ErrnoText());
    }
  }
  if (std::fflush(stdout) != 0) return Fail("standard output", "cannot write: " + ErrnoText());
  return failed ? ExitFailure : ExitOk;
}

}  // namespace

Command AddCatCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<CatOptions> cat(
      parent, "cat",
      "Write entries' bytes to standard output. A name gives the entry the game loads for it "
      "(matched exactly, else ignoring ASCII case and slash direction, the later entry winning "
      "as in the library); a folder or a glob gives every entry it selects, in archive order.");
  cat.AddArchive();
  cat.app->add_option("pattern", cat.options->names, "Entries to print")->required();
  SetExample(*cat.app, "korvo cat game.pak data/text/intro.txt");
  return cat.Build(global, RunCat);
}

}  // namespace korvo::tool
