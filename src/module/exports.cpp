// The exported functions and the module's static holder. Built into the shared library only.
// Each export reaches the manager through GetPackageManager and reduces the core's causes to
// the bool and null results of the C interface; nothing is thrown across it.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KorvoLoader.h"
#include "common/version.h"
#include "image/img_loader.h"
#include "manager/package_manager.h"
#include "module/manager_holder.h"

using namespace korvo;

// Constructed when the module is loaded, destroyed when it is unloaded.
static CManagerHolder g_managerHolder;

extern "C" {

KORVO_API bool AddPackage(const char* path) {
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return false;
    return manager->MountPackage(path);
  } catch (...) {
    return false;
  }
}

KORVO_API bool LoadImgFile(const char* name, uint32_t* frameCount, uint32_t** frameValues,
                           ImgFrame*** frames) {
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return false;
    return LoadImageFrames(*manager, name, frameCount, frameValues, frames).ok();
  } catch (...) {
    return false;
  }
}

KORVO_API bool SaveImgFile(const char*, uint32_t, const uint32_t*, ImgFrame* const*) {
  return false;
}

KORVO_API void FreeImgFile(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames) {
  // The value array exists only for more than one frame; whatever the caller holds otherwise
  // was not given by the library.
  FreeImageFrames(frameCount, frameCount > 1 ? frameValues : nullptr, frames);
}

KORVO_API bool LoadResFile(const char* name, void** data, uint32_t* size) {
  if (name == nullptr || data == nullptr || size == nullptr) return false;
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return false;
    unsigned char* block = nullptr;
    uint32_t length = 0;
    if (!manager->ReadResource(name, block, length).ok()) return false;
    *data = block;
    *size = length;
    return true;
  } catch (...) {
    return false;
  }
}

KORVO_API void FreeResFile(void* data) {
  std::free(data);
}

KORVO_API bool StatResFile(const char* name, KorvoResourceInfo* info) {
  if (name == nullptr) return false;
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return false;
    ResourceStat stat = manager->Stat(name);
    if (!stat.found) return false;
    if (info != nullptr) {
      // Every byte of the record is written: three words and the whole path field.
      info->size = stat.size;
      info->packedSize = stat.packedSize;
      info->source = stat.inPackage ? KORVO_FROM_PACKAGE : KORVO_FROM_DISK;
      CopyIntoField(stat.inPackage ? stat.packagePath : stat.diskPath, info->path,
                    sizeof(info->path));
    }
    return true;
  } catch (...) {
    return false;
  }
}

KORVO_API uint32_t EnumResFiles(const char* prefix, KorvoEnumCallback callback, void* context) {
  if (callback == nullptr) return 0;
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return 0;
    // Each key comes with a terminator after it.
    size_t calls =
        manager->EnumerateNames(prefix, [&](std::string_view key, const EntryInfo& entry) {
          return callback(key.data(), entry.size, context);
        });
    return static_cast<uint32_t>(calls);
  } catch (...) {
    return 0;
  }
}

KORVO_API uint32_t EnumResSources(const char* name, KorvoSourceCallback callback, void* context) {
  if (name == nullptr || callback == nullptr) return 0;
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return 0;
    return static_cast<uint32_t>(manager->EnumerateSources(name, callback, context));
  } catch (...) {
    return 0;
  }
}

KORVO_API bool ReloadPackages(void) {
  try {
    CPackageManager* manager = GetPackageManager();
    return manager != nullptr && manager->ReloadPackages().ok();
  } catch (...) {
    return false;
  }
}

KORVO_API bool RemovePackage(const char* path) {
  if (path == nullptr) return false;
  try {
    CPackageManager* manager = GetPackageManager();
    return manager != nullptr && manager->RemovePackage(path).ok();
  } catch (...) {
    return false;
  }
}

KORVO_API void SetReloadCallback(KorvoReloadCallback callback, void* context) {
  try {
    CPackageManager* manager = GetPackageManager();
    if (manager == nullptr) return;
    if (callback == nullptr) {
      (void)manager->SetReloadListener(nullptr);
      return;
    }
    (void)manager->SetReloadListener([callback, context](const std::vector<std::string>& changed) {
      std::vector<const char*> names;
      names.reserve(changed.size());
      for (const std::string& name : changed) names.push_back(name.c_str());
      callback(static_cast<uint32_t>(names.size()), names.data(), context);
    });
  } catch (...) {
  }
}

KORVO_API bool KorvoWatchPackages(int on) {
  try {
    CPackageManager* manager = GetPackageManager();
    return manager != nullptr && manager->WatchPackages(on != 0).ok();
  } catch (...) {
    return false;
  }
}

KORVO_API const char* GetKorvoLoaderVersion(void) {
  return KORVO_VERSION_STRING;
}

}  // extern "C"
