// korvo which <game-dir> <name>... and korvo mounts <game-dir>: what a game in that directory
// would mount at start-up, and where it would load each name from. The package list is read by
// the library's own start-up code, into a manager of the tool's own.
#include <cstdio>
#include <filesystem>

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
bool EnterGameDirectory(const std::string& gameDir, std::string& root) {
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
  std::printf(
      "game directory: %s (package names in the plain form are joined to it; disk "
      "names and the tool form's directory resolve against it, as for a game started "
      "there)\n",
      Printable(root).c_str());
  return true;
}

// Reads the game directory's package list into manager as the game would at start-up, prints
// what was mounted, in part or not at all, and why.
MountTally LoadAndReport(CPackageManager& manager, const std::string& root) {
  MountTally tally;
  PackageListReport report = LoadPackageListReport(manager, root.c_str(), nullptr);
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

int RunWhich(const WhichOptions& options, const GlobalOptions&) {
  std::string root;
  if (!EnterGameDirectory(options.gameDir, root)) return ExitFailure;
  CPackageManager manager(nullptr, 0);
  LoadAndReport(manager, root);
  size_t missing = 0;
  for (const std::string& name : options.names) {
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

}  // namespace

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
  SetExample(*which.app, "korvo which ~/games/demo data/ui/button.img");
  return which.Build(global, RunWhich);
}

}  // namespace korvo::tool
