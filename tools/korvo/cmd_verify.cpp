// korvo verify <archive> [--strict]: checks the header and the index against the file and
// inflates every entry against its recorded size; warns about what is sound but will surprise
// (names the game cannot tell apart, names extract refuses, wasted space). Exit 0 only when
// everything is sound (and, with --strict, nothing was warned about).
#include <algorithm>
#include <cstdio>
#include <map>

#include "archive/journal_format.h"
#include "archive/names.h"
#include "archive_file.h"
#include "entry_path.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct VerifyOptions {
  std::string archive;
  bool strict = false;
  bool repair = false;
};

// The warnings about sound entries: names that fold to one lookup key (the game only ever finds
// the last of them), names extract would refuse, and data-region bytes no entry uses.
std::vector<std::string> EntryWarnings(const ArchiveFile& archive, bool damaged) {
  const std::vector<PackageEntry>& entries = archive.Entries();
  std::vector<std::string> warnings;
  std::map<std::string, size_t> lastWithKey;
  std::string key;
  for (size_t i = 0; i < entries.size(); ++i) {
    const PackageEntry& entry = entries[i];
    std::string label = "entry " + std::to_string(i + 1) + " '" + Printable(entry.name) + "'";
    if (entry.name.find('\0') == std::string::npos) {
      NormalizeName(key, entry.name.c_str());
      auto found = lastWithKey.find(key);
      if (found != lastWithKey.end() && entries[found->second].name != entry.name) {
        warnings.push_back(label + ": the game cannot tell it from entry " +
                           std::to_string(found->second + 1) + " '" +
                           Printable(entries[found->second].name) +
                           "' (names differ only in case or slash direction); it finds this one");
      }
      lastWithKey[key] = i;
    }
  }
  std::vector<size_t> all(entries.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  for (const PlannedOutput& item : PlanOutputs(entries, all)) {
    const PackageEntry& entry = entries[item.index];
    if (entry.name.empty() || item.refusal.empty()) continue;
    // Two names of one lookup key are reported above (or as a bad entry) already.
    if (item.clash != SIZE_MAX && entry.name.find('\0') == std::string::npos &&
        entries[item.clash].name.find('\0') == std::string::npos) {
      std::string other;
      NormalizeName(key, entry.name.c_str());
      NormalizeName(other, entries[item.clash].name.c_str());
      if (key == other) continue;
    }
    warnings.push_back("entry " + std::to_string(item.index + 1) + " '" + Printable(entry.name) +
                       "': extract would refuse it: " + item.refusal);
  }
  // Bytes of the data region outside every entry's block: left by replaced or deleted entries.
  // In a damaged archive they are a symptom of the damage, already reported.
  if (damaged) return warnings;
  std::vector<std::pair<uint64_t, uint64_t>> blocks;
  for (const PackageEntry& entry : entries) {
    if (archive.CheckPlacement(entry).ok()) {
      blocks.emplace_back(entry.offset, uint64_t{entry.offset} + entry.packedSize);
    }
  }
  std::sort(blocks.begin(), blocks.end());
  uint64_t covered = 0;
  uint64_t reach = PackageHeaderSize;
  for (const auto& block : blocks) {
    uint64_t from = std::max(block.first, reach);
    if (block.second > from) {
      covered += block.second - from;
      reach = block.second;
    }
  }
  uint64_t region = archive.Header().indexOffset - PackageHeaderSize;
  if (region > covered) {
    warnings.push_back(std::to_string(region - covered) +
                       " bytes of stale data that no entry uses (" + FormatBytes(region - covered) +
                       ", left by replaced or deleted entries); repack to reclaim them");
  }
  return warnings;
}

int RunVerify(const VerifyOptions& options, const GlobalOptions& global) {
  if (options.repair && !RollBackInterruptedEdit(options.archive)) return ExitFailure;
  ArchiveFile archive;
  const Status opened = archive.Open(options.archive, true);
  if (!opened.ok()) return Fail(options.archive, opened.detail());

  size_t problems = 0;
  std::vector<std::string> indexProblems = archive.Warnings();
  if (!archive.IndexDamage().ok()) {
    // The game mounts what the walk read before the break; those entries are checked below.
    const size_t kept = archive.Entries().size();
    std::string where = archive.IndexDamage().detail();
    const std::string prefix = "damaged index: ";
    if (where.compare(0, prefix.size(), prefix) == 0) where.erase(0, prefix.size());
    indexProblems.insert(indexProblems.begin(),
                         where + "; a game mounts the archive with the " + std::to_string(kept) +
                             (kept == 1 ? " entry" : " entries") + " before it");
  }

  for (const std::string& problem : indexProblems) {
    std::printf("bad index: %s\n", problem.c_str());
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
    const Status checked = archive.CheckEntry(entry);
    if (!checked.ok()) faults.push_back(checked.detail());
    if (faults.empty()) continue;
    ++badEntries;
    std::string line;
    for (const std::string& fault : faults) line += (line.empty() ? "" : "; ") + fault;
    std::printf("bad entry %zu '%s': %s\n", i + 1, Printable(entry.name).c_str(), line.c_str());
  }
  problems += badEntries;
  std::vector<std::string> warnings = EntryWarnings(archive, problems > 0);
  // Something at the journal's path that is not a file: no interrupted edit, and no obstacle to
  // mounting, but an edit could not keep its journal there.
  const std::string journal = JournalPath(options.archive);
  const JournalKind kind = JournalAt(options.archive.c_str());
  if (kind == JournalKind::Directory || kind == JournalKind::NotAFile) {
    warnings.insert(warnings.begin(),
                    "'" + Printable(journal) + "' is not a journal (" +
                        (kind == JournalKind::Directory ? "a directory" : "not a file") +
                        "): it does not keep the archive from mounting, but no edit can start "
                        "until it is moved away");
  }
  for (const std::string& warning : warnings) std::printf("warning: %s\n", warning.c_str());
  FlushStandardOutput();
  if (problems > 0) {
    return Fail(options.archive, "damaged: " + std::to_string(badEntries) + " of " +
                                     std::to_string(entries.size()) + " entries bad, " +
                                     std::to_string(indexProblems.size()) + " index problems");
  }
  if (options.strict && !warnings.empty()) {
    return Fail(options.archive, std::to_string(warnings.size()) +
                                     (warnings.size() == 1 ? " warning" : " warnings") +
                                     ", errors under --strict");
  }
  if (!global.quiet) {
    std::string noted;
    if (!warnings.empty()) {
      noted = ", " + std::to_string(warnings.size()) +
              (warnings.size() == 1 ? " warning" : " warnings");
    }
    std::printf("%s: ok, %zu %s sound%s\n", Printable(options.archive).c_str(), entries.size(),
                entries.size() == 1 ? "entry" : "entries", noted.c_str());
  }
  return ExitOk;
}

}  // namespace

Command AddVerifyCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<VerifyOptions> verify(
      parent, "verify",
      "Check the header and index against the file and inflate every entry against its "
      "recorded size; list each bad entry. Exit 0 only when the archive is sound. Warnings, "
      "which leave the exit status alone: names the game cannot tell apart (they differ only "
      "in ASCII case or slash direction; it finds the later one), names extract would refuse "
      "(absolute, '..', drive prefixes, device names, zero bytes), and stale data left by "
      "replaced or deleted entries, with the bytes it wastes.");
  verify.AddArchive();
  verify.app->add_flag("--strict", verify.options->strict,
                       "Treat warnings as errors: exit 1 when there is any");
  SetExample(*verify.app, "korvo verify --strict game.pak");
  verify.app->add_flag("--repair", verify.options->repair,
                       "First roll back an edit of the archive that was interrupted (its "
                       "journal lies beside it as <archive>-journal)");
  return verify.Build(global, RunVerify);
}

}  // namespace korvo::tool
