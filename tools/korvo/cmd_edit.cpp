// korvo add <archive> <file> <entry-name> and korvo del <archive> <entry-name>: single-entry
// edits of an existing archive. Both roll back an edit that was interrupted, check the archive
// first, so a foreign or damaged file is never rewritten, and check the result afterwards. The
// library journals the edit: a failed or interrupted one leaves the archive as it was. A signal
// (SIGINT, SIGTERM, SIGHUP) during the edit rolls it back, says so and exits 128 + its number.
#include <cstdio>

#include "archive/journal_format.h"
#include "archive/names.h"
#include "archive_file.h"
#include "authoring/entry_tools.h"
#include "authoring/journal.h"
#include "authoring/pack_tree.h"
#include "platform/directories.h"
#include "platform/env.h"
#include "tool.h"

namespace korvo::tool {

namespace {

std::string CheckEntryName(const std::string& name) {
  if (name.empty()) return "entry name must not be empty";
  if (name.size() > MaxEntryNameLength) return EntryNameTooLong;
  return std::string();
}

struct AddOptions {
  std::string archive;
  std::string file;
  std::string name;
  std::vector<std::string> more;  // further files or directories: the many-file form
};

struct DelOptions {
  std::string archive;
  std::string name;
};

// The entry of exactly this name, or null.
const PackageEntry* FindExact(const ArchiveFile& archive, const std::string& name) {
  for (const PackageEntry& entry : archive.Entries()) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

// Checks the outcome of an edit of path: that the library made it (edited), and that the
// archive reads back as a sound one into result. False after reporting what went wrong.
bool ReopenAfterEdit(const std::string& path, const Status& edited, ArchiveFile& result) {
  if (!edited.ok()) {
    ReportStatus(edited);
    return false;
  }
  const Status opened = result.Open(path);
  if (opened.ok()) return true;
  ReportError(path, "archive is unreadable after the edit: " + opened.detail());
  return false;
}

// The name an added file is stored under: an exact match of an entry kept as it is, else the
// given name as the loader would find it ("./" dropped, ".." resolved, '\\' between levels),
// replacing the one entry the loader resolves that name to. replaced is the stored name of the
// entry it replaces, empty for a new entry. False after reporting why the name cannot be used.
bool ChooseStoredName(const ArchiveFile& archive, const AddOptions& options, std::string& stored,
                      std::string& replaced) {
  replaced.clear();
  if (FindExact(archive, options.name) != nullptr) {
    stored = replaced = options.name;
    return true;
  }
  if (!PackEntryName(options.name, stored) || stored.empty()) {
    ReportError(options.archive, "cannot add '" + Printable(options.name) +
                                     "': the name is absolute, leads out with '..' or names no "
                                     "file; give a relative name such as data/ui/button.img");
    return false;
  }
  if (stored.size() > MaxEntryNameLength) {
    ReportError(options.archive,
                "cannot add '" + Printable(options.name) + "': " + EntryNameTooLong);
    return false;
  }
  std::vector<int> matches = archive.FindAll(stored);
  if (matches.size() > 1) {
    const std::vector<PackageEntry>& entries = archive.Entries();
    ReportError(options.archive,
                "cannot add '" + Printable(options.name) + "': it matches several entries ('" +
                    Printable(entries[static_cast<size_t>(matches[0])].name) + "', '" +
                    Printable(entries[static_cast<size_t>(matches[1])].name) +
                    "'); give the exact name of the one to replace");
    return false;
  }
  if (matches.size() == 1)
    stored = replaced = archive.Entries()[static_cast<size_t>(matches[0])].name;
  return true;
}

// An edit stopped by a signal: the library has rolled it back.
int Interrupted(const std::string& archive, const StopOnSignal& stop) {
  ReportError(archive, "interrupted; the archive was not changed");
  return stop.ExitStatus();
}

// The real system without the library's debugger messages: those are for a debugger, and the
// tool says what failed itself.
class QuietEnv : public platform::EnvWrapper {
 public:
  QuietEnv() : EnvWrapper(platform::Env::Default()) {}
  void DebugMessage(const char*) override {}
};

// Counts what adding many files did.
class AddCounts : public PackObserver {
 public:
  void OnFile(const char*, uint32_t, uint32_t, bool packed) override {
    if (packed && !reusing_) ++compressed;
    reusing_ = false;
  }
  void OnReused(const char*) override {
    ++kept;
    reusing_ = true;
  }
  void OnProblem(const Status& problem) override { problems.push_back(problem); }
  uint64_t compressed = 0;
  uint64_t kept = 0;
  std::vector<Status> problems;

 private:
  bool reusing_ = false;
};

// korvo add <archive> <path> [<path>...]: files and directories, each named as pack names it,
// through a new archive that keeps every other entry's packed data.
int RunAddMany(const AddOptions& options, const GlobalOptions& global) {
  if (!RollBackInterruptedEdit(options.archive)) return ExitFailure;
  {
    ArchiveFile archive;
    if (!OpenArchive(archive, options.archive)) return ExitFailure;
  }
  std::vector<std::string> sources = {options.file};
  if (!options.name.empty()) sources.push_back(options.name);
  sources.insert(sources.end(), options.more.begin(), options.more.end());
  AddCounts counts;
  Status added;
  {
    StopOnSignal stop;
    PackSettings settings;
    settings.cancel = stop.Flag();
    added = AddToArchive(options.archive.c_str(), sources, &counts, settings);
    if (added.code() == StatusCode::Interrupted) return Interrupted(options.archive, stop);
  }
  for (const Status& problem : counts.problems) {
    std::fprintf(stderr, "korvo: %s\n", Printable(problem.Message()).c_str());
  }
  if (!added.ok()) {
    ReportStatus(added);
    return ExitFailure;
  }
  ArchiveFile result;
  if (!ReopenAfterEdit(options.archive, added, result)) return ExitFailure;
  if (!global.quiet) {
    std::printf("added %llu %s to %s (%llu entries kept as they were)\n",
                static_cast<unsigned long long>(counts.compressed),
                counts.compressed == 1 ? "file" : "files", options.archive.c_str(),
                static_cast<unsigned long long>(counts.kept));
  }
  return ExitOk;
}

int RunAdd(const AddOptions& options, const GlobalOptions& global) {
  // One file and its entry name is the single-entry edit; anything else adds many files.
  if (options.name.empty() || !options.more.empty()) return RunAddMany(options, global);
  if (!RollBackInterruptedEdit(options.archive)) return ExitFailure;
  std::string stored;
  std::string replaced;
  {
    ArchiveFile archive;
    if (!OpenArchive(archive, options.archive)) return ExitFailure;
    if (!ChooseStoredName(archive, options, stored, replaced)) return ExitFailure;
  }
  ArchiveFile result;
  Status edited;
  {
    StopOnSignal stop;
    QuietEnv quiet;
    edited = AddPkgFile(options.archive.c_str(), options.file.c_str(), stored.c_str(), nullptr,
                        nullptr, stop.Flag(), &quiet);
    if (edited.code() == StatusCode::Interrupted) return Interrupted(options.archive, stop);
  }
  // The file to add could not be read: the library says why, and the archive is unchanged.
  if (!edited.ok() && edited.file() == options.file) {
    std::string cause = edited.detail();
    if (edited.systemError() != 0) cause += ": " + platform::ErrorText(edited.systemError());
    return Fail(options.file, cause);
  }
  if (!ReopenAfterEdit(options.archive, edited, result)) return ExitFailure;
  const PackageEntry* added = FindExact(result, stored);
  if (added == nullptr) {
    return Fail(options.archive, "the edit did not store '" + Printable(stored) + "'");
  }
  if (!global.quiet) {
    std::string what = replaced.empty() ? "added '" + Printable(stored) + "'"
                                        : "replaced '" + Printable(stored) + "'";
    if (!replaced.empty() && stored != options.name) {
      what += " (the entry the game finds for '" + Printable(options.name) + "')";
    } else if (replaced.empty() && stored != options.name) {
      what += " (given as '" + Printable(options.name) + "')";
    }
    std::printf("%s in %s: %u bytes, %u packed\n", what.c_str(), options.archive.c_str(),
                added->size, added->packedSize);
  }
  return ExitOk;
}

int RunDel(const DelOptions& options, const GlobalOptions& global) {
  if (!RollBackInterruptedEdit(options.archive)) return ExitFailure;
  std::string stored;
  size_t countBefore = 0;
  {
    ArchiveFile archive;
    if (!OpenArchive(archive, options.archive)) return ExitFailure;
    const std::vector<PackageEntry>& entries = archive.Entries();
    countBefore = entries.size();
    if (const PackageEntry* exact = FindExact(archive, options.name)) {
      stored = exact->name;
    } else {
      std::vector<int> matches = archive.FindAll(options.name);
      if (matches.empty()) return Fail(options.archive, NoEntryNamed(options.name));
      if (matches.size() > 1) {
        return Fail(options.archive,
                    "'" + Printable(options.name) + "' matches several entries ('" +
                        Printable(entries[static_cast<size_t>(matches[0])].name) + "', '" +
                        Printable(entries[static_cast<size_t>(matches[1])].name) +
                        "'); give the exact name");
      }
      stored = entries[static_cast<size_t>(matches[0])].name;
    }
    // Deleting moves the data of the entries behind; their placement must be sound.
    for (const PackageEntry& entry : entries) {
      const Status placed = archive.CheckPlacement(entry);
      if (!placed.ok()) {
        return Fail(options.archive, "refusing to edit a damaged archive: entry '" +
                                         Printable(entry.name) + "': " + placed.detail());
      }
    }
  }

  ArchiveFile result;
  Status edited;
  {
    StopOnSignal stop;
    QuietEnv quiet;
    edited =
        DelPkgFile(options.archive.c_str(), stored.c_str(), nullptr, nullptr, stop.Flag(), &quiet);
    if (edited.code() == StatusCode::Interrupted) return Interrupted(options.archive, stop);
  }
  if (!ReopenAfterEdit(options.archive, edited, result)) return ExitFailure;
  if (FindExact(result, stored) != nullptr) {
    return Fail(options.archive, "the edit did not remove '" + Printable(stored) + "'");
  }
  if (result.Entries().size() + 1 != countBefore) {
    return Fail(options.archive, "archive holds " + std::to_string(result.Entries().size()) +
                                     " entries after the edit, expected " +
                                     std::to_string(countBefore - 1));
  }
  if (!global.quiet) {
    std::printf("deleted '%s' from %s\n", Printable(stored).c_str(), options.archive.c_str());
  }
  return ExitOk;
}

}  // namespace

Command AddAddCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<AddOptions> add(
      parent, "add",
      "Compress a file into an existing archive under an entry name. The "
      "name is stored as the game looks it up: './' dropped, '..' "
      "resolved, '\\' between folders. When the archive holds an entry the "
      "game would find under that name (ignoring ASCII case and slash "
      "direction), that entry is replaced and keeps its stored name. Given one path, or three or "
      "more, adds each file and every file under each directory, named as pack names them: a "
      "new archive replaces the old one, every other entry's packed data copied as it is.");
  add.AddArchive("Existing package archive");
  add.app->add_option("file", add.options->file, "File to store")->required();
  add.app->add_option("entry-name", add.options->name, "Name of the entry, as the game asks for it")
      ->check(CheckEntryName);
  add.app->add_option("more", add.options->more, "Further files or directories to add");
  SetExample(*add.app,
             "korvo add game.pak new/button.img Data/UI/Button.img\n"
             "korvo add game.pak data/ui              # every file under data/ui\n"
             "korvo add game.pak data/a.img data/b.img data/c.img");
  return add.Build(global, RunAdd);
}

Command AddDelCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<DelOptions> del(parent, "del",
                             "Delete one entry from an archive. The name is matched exactly, else "
                             "ignoring ASCII case and slash direction when that selects a single "
                             "entry.");
  del.AddArchive("Existing package archive");
  del.app->add_option("entry-name", del.options->name, "Entry to delete")->required();
  SetExample(*del.app, "korvo del game.pak data/ui/old_button.img");
  return del.Build(global, RunDel);
}

}  // namespace korvo::tool
