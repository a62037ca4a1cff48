// The package list file read when the manager starts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/status.h"
#include "manager/package_manager.h"
#include "platform/platform.h"

namespace korvo {

// The default name of the package list file.
constexpr const char* DefaultListFileName = "package.cfg";
// The first token of a list written by the packing tool.
constexpr const char* ToolListHeader = "ZuResTool_Config:";

// Writes the directory of the host process's executable, with its trailing separator, into
// buffer; the empty string when the path holds no separator or the directory does not fit.
void GetExeDirectory(char (&buffer)[platform::MaxPath]);

// One package named by the list, and what became of it.
struct ListedPackage {
  std::string token;  // as listed; the tool form's directory and file name joined by '/'
  std::string path;   // the path tried: the root directory and the token, or B/A
  Status status;      // ok: mounted; otherwise why not
  MountReport mount;  // when mounted: what the mount took of the index
};

// What reading a package list did.
struct PackageListReport {
  std::string rootDir;   // the manager's rootDir afterwards
  std::string listPath;  // the list file tried
  Status listStatus;     // ok: the list was read
  bool toolForm = false;
  std::vector<ListedPackage> packages;  // in listed order; later mounts win
};

// How a listed package is mounted: path, what the mount took of its index.
using ListMount = std::function<Status(const char* path, MountReport& report)>;

// Reads the list file at report.listPath and mounts every listed package that exists through
// mount, joined to report.rootDir (plain form) or as B/A (tool form); fills the rest of report.
void ReadPackageList(PackageListReport& report, const ListMount& mount);

// The package list set-up of a manager, reporting each step: the root directory and list file
// name (null for the defaults), the list read, every listed package mounted, the pools filled.
// CPackageManager::LoadPackageList runs exactly this at start-up and drops the report.
PackageListReport LoadPackageListReport(CPackageManager& manager, const char* rootDirectory,
                                        const char* listFile);

}  // namespace korvo
