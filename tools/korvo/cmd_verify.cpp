// korvo verify <archive>: checks the header and the index against the file and inflates every
// entry against its recorded size. Exit 0 only when everything is sound.
#include <cstdio>
#include <map>

#include "archive_file.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct VerifyOptions {
  std::string archive;
};

int RunVerify(const VerifyOptions& options, const GlobalOptions& global) {
  ArchiveFile archive;
  if (!OpenArchive(archive, options.archive)) return ExitFailure;

  size_t problems = 0;
  for (const std::string& warning : archive.Warnings()) {
    std::printf("bad index: %s\n", warning.c_str());
    ++problems;
  }
  const std::vector<PackageEntry>& entries = archive.Entries();
  std::map<std::string, size_t> firstWithName;
  size_t badEntries = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const PackageEntry& entry = entries[i];
    std::vector<std::string> faults;
    if (entry.name.empty()) faults.push_back("empty name");
    auto inserted = firstWithName.emplace(entry.name, i);
    if (!inserted.second) {
      faults.push_back("same name as entry " + std::to_string(inserted.first->second + 1));
    }
    std::string cause;
    if (!archive.CheckEntry(entry, cause)) faults.push_back(cause);
    if (faults.empty()) continue;
    ++badEntries;
    std::string line;
    for (const std::string& fault : faults) line += (line.empty() ? "" : "; ") + fault;
    std::printf("bad entry %zu '%s': %s\n", i + 1, Printable(entry.name).c_str(), line.c_str());
  }
  problems += badEntries;
  std::fflush(stdout);
  if (problems > 0) {
    return Fail(options.archive, "damaged: " + std::to_string(badEntries) + " of " +
                                     std::to_string(entries.size()) + " entries bad, " +
                                     std::to_string(archive.Warnings().size()) + " index problems");
  }
  if (!global.quiet)
    std::printf("%s: ok, %zu entries sound\n", options.archive.c_str(), entries.size());
  return ExitOk;
}

}  // namespace

Command AddVerifyCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<VerifyOptions> verify(
      parent, "verify",
      "Check the header and index against the file and inflate every entry against its "
      "recorded size; list each bad entry. Exit 0 only when the archive is sound.");
  verify.AddArchive();
  return verify.Build(global, RunVerify);
}

}  // namespace korvo::tool
