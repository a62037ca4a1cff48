// The image loader behind LoadImgFile.
#pragma once

#include <cstdint>

#include "KorvoLoader.h"

class CPackageManager;
class CResStream;

// Opens name through the manager (package entry first, then disk) and decodes it; the contract
// of the LoadImgFile export.
bool LoadImageFrames(CPackageManager& manager, const char* name, uint32_t* frameCount,
                     uint32_t** frameValues, ImgFrame*** frames);

// Frees what a successful load handed over; null arrays are allowed.
void FreeImageFrames(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);
