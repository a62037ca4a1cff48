// Adding one file to an archive, or deleting one entry, keeping a manager's directory-node
// list in step.
#pragma once

#include "common/status.h"

namespace korvo {

class CPackageManager;

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager);
bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager);

// The same two edits, giving the cause of a failure: the archive that could not be opened or
// written (with the system's error), or the source that could not be read. rolledBack, when
// given, tells whether opening the archive first rolled back an interrupted edit.
Status AddPkgFile(const char* packagePath, const char* sourcePath, const char* entryName,
                  CPackageManager* manager, bool* rolledBack = nullptr);
Status DelPkgFile(const char* packagePath, const char* entryName, CPackageManager* manager,
                  bool* rolledBack = nullptr);

}  // namespace korvo
