// The exported functions and the module's static holder. Built into the shared library only.
#include "KorvoLoader.h"
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
    return LoadImageFrames(*manager, name, frameCount, frameValues, frames);
  } catch (...) {
    return false;
  }
}

KORVO_API bool SaveImgFile(const char*, uint32_t, const uint32_t*, ImgFrame* const*) {
  return false;
}

KORVO_API void FreeImgFile(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames) {
  FreeImageFrames(frameCount, frameValues, frames);
}

}  // extern "C"
