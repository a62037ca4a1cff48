// Adding one file to an archive, or deleting one entry, keeping a manager's directory-node
// list in step. The authoring tool's bool entry points over these are in
// compat/pkg_file_tools.h.
#pragma once

#include <atomic>

#include "common/status.h"
#include "platform/env.h"

namespace korvo {

class CPackage;
class CPackageManager;

// The two edits, giving the cause of a failure: the archive that could not be opened or
// written (with the system's error), or the source that could not be read. rolledBack, when
// given, tells whether opening the archive first rolled back an interrupted edit. cancel, when
// given, is watched until the edit is made final: once it is set the edit stops, the archive is
// rolled back to what it was, the manager's list is left alone, and the result is Interrupted.
// Every change on disk, and the message sent when the archive cannot be opened, goes through
// env.
Status AddPkgFile(const char* packagePath, const char* sourcePath, const char* entryName,
                  CPackageManager* manager, bool* rolledBack = nullptr,
                  const std::atomic<bool>* cancel = nullptr,
                  platform::Env* env = platform::Env::Default());
Status DelPkgFile(const char* packagePath, const char* entryName, CPackageManager* manager,
                  bool* rolledBack = nullptr, const std::atomic<bool>* cancel = nullptr,
                  platform::Env* env = platform::Env::Default());

// The two edits on an archive that package has loaded: compress the file at sourcePath into it
// as entryName, or remove the entry of that exact name; then commit. The manager's list and
// cancel as above.
Status AddFileToPackage(CPackage& package, const char* sourcePath, const char* entryName,
                        CPackageManager* manager, const std::atomic<bool>* cancel = nullptr);
Status RemoveFromPackage(CPackage& package, const char* entryName, CPackageManager* manager,
                         const std::atomic<bool>* cancel = nullptr);

}  // namespace korvo
