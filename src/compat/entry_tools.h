// Adding one file to an archive, or deleting one entry, keeping a manager's directory-node
// list in step.
#pragma once

#include <atomic>

#include "common/status.h"
#include "platform/env.h"

namespace korvo {

class CPackageManager;

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager);
bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager);

// The same two edits, giving the cause of a failure: the archive that could not be opened or
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

}  // namespace korvo
