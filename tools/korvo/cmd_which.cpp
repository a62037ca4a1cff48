// korvo which <game-dir> <name>... and korvo mounts <game-dir>: what a game in that directory
// would mount at start-up, and where it would load each name from. The package list is read by
// the library's own start-up code, into a manager of the tool's own.
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "archive/package_chain.h"
#include "manager/package_list.h"
#include "manager/package_manager.h"
#include "tool.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct MountsOptions {
  std::string gameDir;
};

struct WhichOptions {
  std::string gameDir;
  std::vector<std::string> names;
  bool all = false;
};

struct ConflictsOptions {
  std::string gameDir;
  bool json = false;
};

// What reading the package list left unmounted or mounted in part.
struct MountTally {
  size_t notMounted = 0;
  size_t damaged = 0;
};

// A game resolves relative paths (disk names, the tool form's directory) against its working
// directory, and the list's plain names against its executable's directory: both are taken to
// be the game directory. The tool makes that directory its own working directory, as the game
// has it, and gives the library the absolute path as the root. False when it cannot.
bool EnterGameDirectory(const std::string& gameDir, std::string& root, bool quiet = false) {
  std::error_code ec;
  if (!fs::is_directory(gameDir, ec)) {
    ReportError(gameDir, "no such directory");
    return false;
  }
  fs::path absolute = fs::absolute(gameDir, ec);
  if (!ec) fs::current_path(absolute, ec);
  if (ec) {
    ReportError(gameDir, "cannot change to the directory: " + ec.message());
    return false;
  }
  root = fs::current_path(ec).string();
  if (quiet) return true;
  std::printf(
      "game directory: %s (package names in the plain form are joined to it; disk "
      "names and the tool form's directory resolve against it, as for a game started "
      "there)\n",
      Printable(root).c_str());
  return true;
}

// A package's mount path as the game directory's listing would show it: relative to root when
// it lies under it.
std::string ShownPath(const std::string& root, const std::string& path) {
  fs::path relative = fs::path(path).lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return path;
  return relative.generic_string();
}

// Reads the game directory's package list into manager as the game would at start-up, prints
// what was mounted, in part or not at all, and why.
MountTally LoadAndReport(CPackageManager& manager, const std::string& root, bool quiet = false) {
  MountTally tally;
  PackageListReport report = LoadPackageListReport(manager, root.c_str(), nullptr);
  if (quiet) {
    for (const ListedPackage& listed : report.packages) {
      tally.notMounted += listed.status.ok() ? 0 : 1;
      tally.damaged += listed.status.ok() && !listed.mount.damage.ok() ? 1 : 0;
    }
    return tally;
  }
  if (!report.listStatus.ok()) {
    std::printf("package list: %s; no package is mounted\n",
                Printable(report.listStatus.Message()).c_str());
    return tally;
  }
  size_t count = report.packages.size();
  std::printf("package list: %s (%s form, %zu %s%s)\n", Printable(report.listPath).c_str(),
              report.toolForm ? "tool" : "plain", count, count == 1 ? "package" : "packages",
              count > 1 ? "; a later package wins for a name" : "");
  for (size_t i = 0; i < count; ++i) {
    const ListedPackage& listed = report.packages[i];
    if (!listed.status.ok()) {
      ++tally.notMounted;
      std::printf("%3zu  not mounted  %s: %s\n", i + 1, Printable(listed.token).c_str(),
                  Printable(listed.status.Message()).c_str());
    } else if (!listed.mount.damage.ok()) {
      ++tally.damaged;
      std::printf("%3zu  mounted, index damaged after record %u  %s\n", i + 1, listed.mount.indexed,
                  Printable(listed.mount.damage.Message()).c_str());
    } else {
      std::printf("%3zu  mounted      %s\n", i + 1, Printable(listed.path).c_str());
    }
  }
  return tally;
}

// The exit status for what LoadAndReport found: 1, with one line, when a listed package was not
// mounted or mounted in part.
int MountsFailure(const std::string& gameDir, const MountTally& tally) {
  std::string cause;
  if (tally.notMounted > 0) {
    cause = std::to_string(tally.notMounted) + " listed " +
            (tally.notMounted == 1 ? "package" : "packages") + " not mounted";
  }
  if (tally.damaged > 0) {
    cause += (cause.empty() ? "" : ", ") + std::to_string(tally.damaged) + " listed " +
             (tally.damaged == 1 ? "package" : "packages") + " mounted in part (index damaged)";
  }
  return cause.empty() ? ExitOk : Fail(gameDir, cause);
}

int RunMounts(const MountsOptions& options, const GlobalOptions&) {
  std::string root;
  if (!EnterGameDirectory(options.gameDir, root)) return ExitFailure;
  CPackageManager manager(nullptr, 0);
  MountTally tally = LoadAndReport(manager, root);
  FlushStandardOutput();
  return MountsFailure(options.gameDir, tally);
}

// which --all: every mounted package that holds name, in mount order, the winner marked, and
// whether a disk file would be read were no package to hold it. False when the name would not
// load.
bool PrintSources(CPackageManager& manager, const std::string& name, const std::string& root) {
  std::printf("%s:\n", Printable(name).c_str());
  auto print = [](const char* path, const char* stored, uint32_t length, uint32_t size, uint32_t,
                  bool winner, void*) {
    std::printf("  %s %s, entry '%s' (%u bytes)\n", winner ? "loads   " : "shadowed",
                Printable(path).c_str(), Printable(std::string(stored, length)).c_str(), size);
    return true;
  };
  const size_t held = manager.EnumerateSources(name.c_str(), print, nullptr);
  const bool onDisk = manager.Exists(name.c_str(), LookOnDisk);
  const std::string disk = Printable((fs::path(root) / name).string());
  if (onDisk) {
    std::printf(held > 0 ? "  fallback disk file %s (read only when no package holds the name)\n"
                         : "  loads    disk file %s (in no mounted package)\n",
                disk.c_str());
  } else {
    std::printf("  no disk file %s%s\n", disk.c_str(), held > 0 ? "" : ": would not load");
  }
  return held > 0 || onDisk;
}

int RunWhich(const WhichOptions& options, const GlobalOptions&) {
  std::string root;
  if (!EnterGameDirectory(options.gameDir, root)) return ExitFailure;
  CPackageManager manager(nullptr, 0);
  LoadAndReport(manager, root);
  size_t missing = 0;
  for (const std::string& name : options.names) {
    if (options.all) missing += PrintSources(manager, name, root) ? 0 : 1;
    if (options.all) continue;
    ResourceStat stat = manager.Stat(name.c_str());
    if (!stat.found) {
      ++missing;
      if (stat.status.code() == StatusCode::NotFound) {
        std::printf(
            "%s: would not load: no mounted package holds it, and there is no disk file "
            "of that name in %s\n",
            Printable(name).c_str(), Printable(root).c_str());
      } else {
        std::printf("%s: would not load: in no mounted package, and %s\n", Printable(name).c_str(),
                    Printable(stat.status.Message()).c_str());
      }
    } else if (stat.inPackage) {
      std::printf("%s: package %s, entry '%s' (%u bytes)\n", Printable(name).c_str(),
                  Printable(std::string(stat.packagePath)).c_str(),
                  Printable(std::string(stat.StoredName())).c_str(), stat.size);
    } else {
      std::printf("%s: disk file %s (%u bytes; in no mounted package)\n", Printable(name).c_str(),
                  Printable((fs::path(root) / stat.diskPath).string()).c_str(), stat.size);
    }
  }
  FlushStandardOutput();
  if (missing > 0) {
    return Fail(options.gameDir,
                std::to_string(missing) + " of " + std::to_string(options.names.size()) +
                    (options.names.size() == 1 ? " name" : " names") + " would not load");
  }
  return ExitOk;
}

// What the game in gameDir mounts, as one chain; every name held by more than one package.
int RunConflicts(const ConflictsOptions& options, const GlobalOptions&) {
  std::string root;
  if (!EnterGameDirectory(options.gameDir, root, options.json)) return ExitFailure;
  CPackageManager manager(nullptr, 0);
  MountTally tally = LoadAndReport(manager, root, options.json);
  CPackageChain chain;
  for (size_t i = 0; i < manager.PackageCount(); ++i) chain.Adopt(*manager.PackageAt(i)->package);
  StopOnSignal stop;
  Status built = chain.Build(stop.Flag());
  if (built.code() == StatusCode::Interrupted) {
    ReportError(options.gameDir, "interrupted");
    return stop.ExitStatus();
  }
  if (!built.ok()) {
    ReportStatus(built);
    return ExitFailure;
  }
  const ChainConflicts conflicts = FindConflicts(chain);
  auto pathOf = [&](uint32_t at) { return ShownPath(root, manager.PackageAt(at)->path); };
  if (options.json) {
    nlohmann::json names = nlohmann::json::array();
    for (uint32_t at : conflicts.names) {
      const ChainName& name = chain.Names()[at];
      const ChainHolder& winner = chain.Winner(name);
      nlohmann::json shadowed = nlohmann::json::array();
      for (uint32_t h = name.first; h != name.last; h = chain.Holder(h).next) {
        shadowed.push_back({{"package", pathOf(chain.Holder(h).package)},
                            {"name", std::string(chain.Holder(h).Name())},
                            {"size", chain.Holder(h).size}});
      }
      names.push_back({{"name", std::string(winner.Name())},
                       {"winner", {{"package", pathOf(winner.package)}, {"size", winner.size}}},
                       {"shadowed", shadowed}});
    }
    nlohmann::json pairs = nlohmann::json::array();
    for (const ChainOverride& pair : conflicts.overrides) {
      pairs.push_back({{"winner", pathOf(pair.winner)},
                       {"shadowed", pathOf(pair.shadowed)},
                       {"names", pair.names}});
    }
    nlohmann::json document;
    document["gameDir"] = root;
    document["packages"] = manager.PackageCount();
    document["names"] = chain.Names().size();
    document["conflicts"] = names;
    document["overrides"] = pairs;
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
  } else {
    for (uint32_t at : conflicts.names) {
      const ChainName& name = chain.Names()[at];
      const ChainHolder& winner = chain.Winner(name);
      std::printf("%s\n  loads    %s\n", Printable(std::string(winner.Name())).c_str(),
                  Printable(pathOf(winner.package)).c_str());
      for (uint32_t h = name.first; h != name.last; h = chain.Holder(h).next) {
        std::printf("  shadows  %s\n", Printable(pathOf(chain.Holder(h).package)).c_str());
      }
    }
    std::printf("%zu of %zu %s held by more than one package\n", conflicts.names.size(),
                chain.Names().size(), chain.Names().size() == 1 ? "name" : "names");
    for (const ChainOverride& pair : conflicts.overrides) {
      std::printf("%s overrides %s %s of %s\n", Printable(pathOf(pair.winner)).c_str(),
                  GroupThousands(pair.names).c_str(), pair.names == 1 ? "name" : "names",
                  Printable(pathOf(pair.shadowed)).c_str());
    }
  }
  FlushStandardOutput();
  return MountsFailure(options.gameDir, tally);
}

}  // namespace

bool GameChain(const std::string& gameDir, std::vector<std::string>& paths) {
  std::string root;
  if (!EnterGameDirectory(gameDir, root, true)) return false;
  CPackageManager manager(nullptr, 0);
  PackageListReport report = LoadPackageListReport(manager, root.c_str(), nullptr);
  if (!report.listStatus.ok()) {
    ReportStatus(report.listStatus);
    return false;
  }
  for (const ListedPackage& listed : report.packages) {
    if (!listed.status.ok()) {
      ReportStatus(listed.status.file().empty()
                       ? Status(listed.status.code(), listed.token, listed.status.systemError(),
                                listed.status.detail())
                       : listed.status);
      return false;
    }
    if (!listed.mount.damage.ok()) {
      ReportStatus(listed.mount.damage);
      return false;
    }
    paths.push_back(listed.path);
  }
  if (paths.empty()) return Fail(report.listPath, "names no package") == ExitOk;
  return true;
}

Command AddMountsCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<MountsOptions> mounts(
      parent, "mounts",
      "Read <game-dir>/package.cfg the way the library does when a game in that directory "
      "starts from that directory, and list the packages it names in mount order: mounted; "
      "mounted in part, when the index breaks after some record (the records before the break "
      "are mounted); or not mounted and why (no such file, a quoted name, an absolute path, a "
      "name too long, not an archive, ...). Relative paths resolve against <game-dir>, the "
      "game's working directory. Exit 1 when a listed package is not mounted or mounted in "
      "part.");
  mounts.app->add_option("game-dir", mounts.options->gameDir, "Directory of the game")->required();
  SetExample(*mounts.app, "korvo mounts ~/games/demo");
  return mounts.Build(global, RunMounts);
}

Command AddWhichCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<WhichOptions> which(
      parent, "which",
      "Tell where a game in <game-dir> would load each name from: the mounts as 'korvo mounts' "
      "shows them, then for each name the package and the entry's stored name, or the disk "
      "file (opened by the name as given from the game's working directory, taken to be "
      "<game-dir>, like the tool form's directory), or that it would not load and why. Exit 1 "
      "when a name would not load.");
  which.app->add_option("game-dir", which.options->gameDir, "Directory of the game")->required();
  which.app->add_option("name", which.options->names, "Resource names as the game asks for them")
      ->required();
  which.app->add_flag("--all", which.options->all,
                      "List every mounted package that holds each name, in mount order, mark "
                      "the one the game loads, and say whether a disk file would be the "
                      "fallback");
  SetExample(*which.app,
             "korvo which ~/games/demo data/ui/button.img\n"
             "korvo which ~/games/demo data/ui/button.img --all");
  return which.Build(global, RunWhich);
}

}  // namespace korvo::tool

namespace korvo::tool {

Command AddConflictsCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<ConflictsOptions> conflicts(
      parent, "conflicts",
      "List every name that more than one package mounted by the game in <game-dir> holds: the "
      "package the game loads it from and the ones it shadows, then for each pair of packages "
      "how many names one overrides of the other. Names that differ only by ASCII case or "
      "slash direction are one name, as the game sees them. Exit 1 when a listed package is "
      "not mounted or mounted in part.");
  conflicts.app->add_option("game-dir", conflicts.options->gameDir, "Directory of the game")
      ->required();
  conflicts.app->add_flag("--json", conflicts.options->json, "Print a JSON document for scripts");
  SetExample(*conflicts.app, "korvo conflicts ~/games/demo\nkorvo conflicts ~/games/demo --json");
  return conflicts.Build(global, RunConflicts);
}

}  // namespace korvo::tool
