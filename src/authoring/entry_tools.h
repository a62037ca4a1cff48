// Adding one file to an archive, or deleting one entry, keeping a manager's directory-node
// list in step.
#pragma once

namespace korvo {

class CPackageManager;

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager);
bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager);

}  // namespace korvo
