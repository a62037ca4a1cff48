#include "image/img_loader.h"

#include <new>

bool LoadImageFrames(CPackageManager&, const char*, uint32_t*, uint32_t**, ImgFrame***) {
  return false;
}

void FreeImageFrames(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames) {
  if (frames != nullptr) {
    for (uint32_t i = 0; i < frameCount; ++i) ::operator delete(frames[i]);
    ::operator delete(frames);
  }
  ::operator delete(frameValues);
}
