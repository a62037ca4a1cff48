#include "compat/pkg_file_tools.h"

#include "authoring/entry_tools.h"
#include "authoring/file_compress.h"
#include "authoring/pack_tree.h"
#include "authoring/package_builder.h"

namespace korvo {

bool AddPkgFile_Tool(const char* packagePath, const char* sourcePath, const char* entryName,
                     CPackageManager* manager) {
  return AddPkgFile(packagePath, sourcePath, entryName, manager).ok();
}

bool DelPkgFile_Tool(const char* packagePath, const char* entryName, CPackageManager* manager) {
  return DelPkgFile(packagePath, entryName, manager).ok();
}

namespace {

PackSettings SkippingUnreadable() {
  PackSettings settings;
  settings.skipUnreadable = true;
  return settings;
}

}  // namespace

void CreatePkg_Tool(const char* packagePath, const char* dir, PackObserver* observer) {
  (void)PackTree(packagePath, dir, nullptr, observer, SkippingUnreadable());
}

void CreatePkgTree_Tool(const char* packagePath, const char* dir, CPackageManager* manager,
                        PackObserver* observer) {
  (void)PackTree(packagePath, dir, manager, observer, SkippingUnreadable());
}

void AddFileToPkg(const char* path, CPackageBuilder& builder, PackObserver* observer) {
  if (path == nullptr) return;
  CompressedFile compressed;
  bool packed =
      CompressFile(path, compressed).ok() &&
      builder.AddFile(path, compressed.packed.get(), compressed.size, compressed.packedSize, 0);
  if (observer != nullptr) {
    observer->OnFile(path, packed ? compressed.size : 0, packed ? compressed.packedSize : 0,
                     packed);
  }
}

void AddDirToPkg(const char* dir, CPackageBuilder& builder, PackObserver* observer) {
  PackDirectoryInto(dir, builder, nullptr, -1, observer);
}

void AddDirToPkgTree(const char* dir, CPackageBuilder& builder, CPackageManager* manager,
                     int32_t parentIndex, PackObserver* observer) {
  PackDirectoryInto(dir, builder, manager, parentIndex, observer);
}

}  // namespace korvo
