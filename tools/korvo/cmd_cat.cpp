// korvo cat <archive> <entry-name>: an entry's bytes to standard output.
#include <cstdio>

#include "archive_file.h"
#include "tool.h"

namespace korvo {

namespace {

struct CatOptions {
  std::string archive;
  std::string name;
};

int RunCat(const CatOptions& options) {
  ArchiveFile archive;
  std::string cause;
  if (!archive.Open(options.archive, cause)) return Fail(options.archive, cause);
  int index = archive.Find(options.name);
  if (index < 0) return Fail(options.archive, "no entry named '" + Printable(options.name) + "'");
  const PackageEntry& entry = archive.Entries()[static_cast<size_t>(index)];
  std::vector<uint8_t> data;
  if (!archive.ReadEntry(entry, data, cause)) {
    return Fail(options.archive, "entry '" + Printable(entry.name) + "': " + cause);
  }
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), stdout) != data.size()) {
    return Fail("standard output", "cannot write: " + ErrnoText());
  }
  if (std::fflush(stdout) != 0) return Fail("standard output", "cannot write: " + ErrnoText());
  return kExitOk;
}

}  // namespace

Command AddCatCommand(CLI::App& parent, const GlobalOptions&) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* app = parent.add_subcommand(
      "cat",
      "Write one entry's bytes to standard output. The name is matched exactly, else ignoring "
      "ASCII case and slash direction as the library does.");
  app->add_option("archive", options->archive, "Package archive")->required();
  app->add_option("entry-name", options->name, "Entry to print")->required();
  return Command{app, [options] { return RunCat(*options); }};
}

}  // namespace korvo
