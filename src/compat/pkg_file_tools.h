// The authoring tool's bool entry points: packing a directory tree, adding one file to an
// archive and deleting one entry, keeping a manager's directory-node list in step. Each is a
// thin form of authoring/pack_tree.h or authoring/entry_tools.h.
#pragma once

#include <cstdint>

namespace korvo {

class CPackageBuilder;
class CPackageManager;
class PackObserver;

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager);
bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager);

// These pass over files that cannot be read, as PackTree does with skipUnreadable.
void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer = nullptr);
// The same, and fills manager's directory-node list with one node per item met.
void CreatePkgTree_Tool(const char* packagePath, const char* dir, CPackageManager* manager,
                        PackObserver* observer = nullptr);
void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer = nullptr);
void AddDirToPkg(const char* dir, CPackageBuilder& builder, PackObserver* observer = nullptr);
void AddDirToPkgTree(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                     int32_t parentIndex, PackObserver* observer = nullptr);

}  // namespace korvo
