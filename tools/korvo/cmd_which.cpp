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

// Reads the game directory's package list into manager as the game would at start-up, prints
// what was mounted and what was not, and returns the number of listed packages that were not.
size_t LoadAndReport(CPackageManager& manager, const std::string& gameDir) {
  PackageListReport report = LoadPackageListReport(manager, gameDir.c_str(), nullptr);
  if (!report.listStatus.ok()) {
    std::printf("package list: %s; no package is mounted\n",
                Printable(report.listStatus.Message()).c_str());
    return 0;
  }
  size_t count = report.packages.size();
  std::printf("package list: %s (%s form, %zu %s%s)\n", Printable(report.listPath).c_str(),
              report.toolForm ? "tool" : "plain", count, count == 1 ? "package" : "packages",
              count > 1 ? "; a later package wins for a name" : "");
  size_t failed = 0;
  for (size_t i = 0; i < count; ++i) {
    const ListedPackage& listed = report.packages[i];
    if (listed.status.ok()) {
      std::printf("%3zu  mounted      %s\n", i + 1, Printable(listed.path).c_str());
    } else {
      ++failed;
      std::printf("%3zu  not mounted  %s: %s\n", i + 1, Printable(listed.token).c_str(),
                  Printable(listed.status.Message()).c_str());
    }
  }
  return failed;
}

int RunMounts(const MountsOptions& options, const GlobalOptions&) {
  std::error_code ec;
  if (!fs::is_directory(options.gameDir, ec)) return Fail(options.gameDir, "no such directory");
  CPackageManager manager(nullptr, 0);
  size_t failed = LoadAndReport(manager, options.gameDir);
  FlushStandardOutput();
  if (failed > 0) {
    return Fail(options.gameDir, std::to_string(failed) + " listed " +
                                     (failed == 1 ? "package" : "packages") + " not mounted");
  }
  return ExitOk;
}

int RunWhich(const WhichOptions& options, const GlobalOptions&) {
  std::error_code ec;
  if (!fs::is_directory(options.gameDir, ec)) return Fail(options.gameDir, "no such directory");
  CPackageManager manager(nullptr, 0);
  LoadAndReport(manager, options.gameDir);
  // Disk files are opened by the name as given, from the game's working directory: taken here
  // to be the game directory.
  fs::path before = fs::current_path(ec);
  fs::current_path(options.gameDir, ec);
  if (ec) return Fail(options.gameDir, "cannot change to the directory: " + ec.message());
  size_t missing = 0;
  for (const std::string& name : options.names) {
    ResourceStat stat = manager.Stat(name.c_str());
    if (!stat.found) {
      ++missing;
      std::printf(
          "%s: would not load: no mounted package holds it, and there is no disk file "
          "of that name in %s\n",
          Printable(name).c_str(), Printable(options.gameDir).c_str());
    } else if (stat.inPackage) {
      std::printf("%s: package %s, entry '%s' (%u bytes)\n", Printable(name).c_str(),
                  Printable(stat.packagePath).c_str(), Printable(stat.storedName).c_str(),
                  stat.size);
    } else {
      std::printf("%s: disk file %s (%u bytes; in no mounted package)\n", Printable(name).c_str(),
                  Printable((fs::path(options.gameDir) / stat.diskPath).string()).c_str(),
                  stat.size);
    }
  }
  fs::current_path(before, ec);
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
      "starts, and list the packages it names in mount order: mounted, or not mounted and why "
      "(no such file, a quoted name, an absolute path, a name too long, a damaged archive, "
      "...). Exit 1 when a listed package is not mounted.");
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
      "<game-dir>), or that it would not load. Exit 1 when a name would not load.");
  which.app->add_option("game-dir", which.options->gameDir, "Directory of the game")->required();
  which.app->add_option("name", which.options->names, "Resource names as the game asks for them")
      ->required();
  SetExample(*which.app, "korvo which ~/games/demo data/ui/button.img");
  return which.Build(global, RunWhich);
}

}  // namespace korvo::tool
