// korvo add <archive> <file> <entry-name> and korvo del <archive> <entry-name>: single-entry
// edits of an existing archive, each on the one archive the library's editor opens. Opening it
// rolls back an edit that was interrupted and refuses a foreign or damaged file, so such a file
// is never rewritten. The library journals the edit: a failed or interrupted one leaves the
// archive as it was. A signal (SIGINT, SIGTERM, SIGHUP) during the edit rolls it back, says so
// and exits 128 + its number. Adding many files goes through the pack engine.
#include <cstdio>

#include "archive/names.h"
#include "authoring/entry_tools.h"
#include "authoring/pack_tree.h"
#include "authoring/package.h"
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

// The entry of exactly this name (the last when several), or null.
const PackageEntry* FindExact(const std::vector<PackageEntry>& entries, const std::string& name) {
  for (size_t i = entries.size(); i-- > 0;) {
    if (entries[i].name == name) return &entries[i];
  }
  return nullptr;
}

// "several entries ('<first>', '<second>')".
std::string SeveralEntries(const std::vector<PackageEntry>& entries,
                           const std::vector<size_t>& matches) {
  return "several entries ('" + Printable(entries[matches[0]].name) + "', '" +
         Printable(entries[matches[1]].name) + "')";
}

// Loads the archive for an edit: an interrupted edit is rolled back first (and said so), and a
// damaged archive, or a file of another kind, is refused with the library's cause. False after
// reporting.
bool LoadForEdit(CPackage& package, const std::string& path) {
  const Status loaded = package.Load(path.c_str());
  if (package.RecoveredJournal()) {
    ReportError(path, "rolled back an interrupted edit; the archive is as before it");
  }
  Status refused = loaded.ok() ? CheckHeaderTag(package.header, path) : loaded;
  if (refused.ok()) return true;
  package.CloseUnchanged();
  ReportStatus(refused);
  return false;
}

// The name an added file is stored under: an exact match of an entry kept as it is, else the
// given name as the loader would find it ("./" dropped, ".." resolved, '\\' between levels),
// replacing the one entry the loader resolves that name to. replaced is the stored name of the
// entry it replaces, empty for a new entry. False after reporting why the name cannot be used.
bool ChooseStoredName(const std::vector<PackageEntry>& entries, const AddOptions& options,
                      std::string& stored, std::string& replaced) {
  replaced.clear();
  if (FindExact(entries, options.name) != nullptr) {
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
  std::vector<size_t> matches = MatchingEntries(entries, stored);
  if (matches.size() > 1) {
    ReportError(options.archive, "cannot add '" + Printable(options.name) + "': it matches " +
                                     SeveralEntries(entries, matches) +
                                     "; give the exact name of the one to replace");
    return false;
  }
  if (matches.size() == 1) stored = replaced = entries[matches[0]].name;
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
  void OnRolledBack(const std::string& archive) override {
    ReportError(archive, "rolled back an interrupted edit; the archive is as before it");
  }
  uint64_t compressed = 0;
  uint64_t kept = 0;
  std::vector<Status> problems;

 private:
  bool reusing_ = false;
};

// korvo add <archive> <path> [<path>...]: files and directories, each named as pack names it,
// through a new archive that keeps every other entry's packed data.
int RunAddMany(const AddOptions& options, const GlobalOptions& global) {
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
  for (const Status& problem : counts.problems) ReportStatus(problem);
  if (!added.ok()) {
    ReportStatus(added);
    return ExitFailure;
  }
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
  QuietEnv quiet;
  CPackage package(&quiet);
  if (!LoadForEdit(package, options.archive)) return ExitFailure;
  std::string stored;
  std::string replaced;
  if (!ChooseStoredName(package.index, options, stored, replaced)) return ExitFailure;
  Status edited;
  {
    StopOnSignal stop;
    edited = AddFileToPackage(package, options.file.c_str(), stored.c_str(), nullptr, stop.Flag());
    if (edited.code() == StatusCode::Interrupted) return Interrupted(options.archive, stop);
  }
  // The archive is as it was when the edit failed, whether the file to add could not be read
  // or the archive could not be written: the status names which.
  if (!edited.ok()) {
    ReportStatus(edited);
    return ExitFailure;
  }
  if (!global.quiet) {
    const PackageEntry* added = FindExact(package.index, stored);
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
  QuietEnv quiet;
  CPackage package(&quiet);
  if (!LoadForEdit(package, options.archive)) return ExitFailure;
  const std::vector<PackageEntry>& entries = package.index;
  std::string stored;
  if (const PackageEntry* exact = FindExact(entries, options.name)) {
    stored = exact->name;
  } else {
    std::vector<size_t> matches = MatchingEntries(entries, options.name);
    if (matches.empty()) return Fail(options.archive, NoEntryNamed(options.name));
    if (matches.size() > 1) {
      return Fail(options.archive, "'" + Printable(options.name) + "' matches " +
                                       SeveralEntries(entries, matches) + "; give the exact name");
    }
    stored = entries[matches[0]].name;
  }
  Status edited;
  {
    StopOnSignal stop;
    edited = RemoveFromPackage(package, stored.c_str(), nullptr, stop.Flag());
    if (edited.code() == StatusCode::Interrupted) return Interrupted(options.archive, stop);
  }
  if (!edited.ok()) {
    ReportStatus(edited);
    return ExitFailure;
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
