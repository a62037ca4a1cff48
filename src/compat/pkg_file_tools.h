// The authoring tool's entry points for adding one file to an archive and deleting one entry,
// keeping a manager's directory-node list in step. Each is the Status form of
// authoring/entry_tools.h reduced to a bool.
#pragma once

namespace korvo {

class CPackageManager;

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager);
bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager);

}  // namespace korvo
