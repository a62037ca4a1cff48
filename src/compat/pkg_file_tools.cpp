#include "compat/pkg_file_tools.h"

#include "authoring/entry_tools.h"

namespace korvo {

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager) {
  return AddPkgFile(packagePath, sourcePath, entryName, manager).ok();
}

bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager) {
  return DelPkgFile(packagePath, entryName, manager).ok();
}

}  // namespace korvo
