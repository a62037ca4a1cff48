// korvo cat <archive> <entry-name>: an entry's bytes to standard output.
#include <cstdio>

#include "archive_file.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct CatOptions {
  std::string archive;
  std::string name;
};

int RunCat(const CatOptions& options, const GlobalOptions&) {
  ArchiveFile archive;
  if (!OpenArchive(archive, options.archive)) return ExitFailure;
  int index = archive.Find(options.name);
  if (index < 0) return Fail(options.archive, NoEntryNamed(options.name));
  const PackageEntry& entry = archive.Entries()[static_cast<size_t>(index)];
  std::vector<uint8_t> data;
  std::string cause;
  if (!archive.ReadEntry(entry, data, cause))
    return Fail(EntrySubject(options.archive, entry.name), cause);
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), stdout) != data.size()) {
    return Fail("standard output", "cannot write: " + ErrnoText());
  }
  if (std::fflush(stdout) != 0) return Fail("standard output", "cannot write: " + ErrnoText());
  return ExitOk;
}

}  // namespace

Command AddCatCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<CatOptions> cat(parent, "cat",
                             "Write one entry's bytes to standard output. The name is matched "
                             "exactly, else ignoring ASCII case and slash direction as the "
                             "library does.");
  cat.AddArchive();
  cat.app->add_option("entry-name", cat.options->name, "Entry to print")->required();
  return cat.Build(global, RunCat);
}

}  // namespace korvo::tool
