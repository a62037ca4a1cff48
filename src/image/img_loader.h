// The image loader behind LoadImgFile.
//
// Contract of every entry point here: nothing is written to the out parameters until the file
// header has been read and accepted. Then *frameCount receives the frame count, *frames an
// array of that many frames (a zero-length allocation for no frame), and, only for more than
// one frame, *frameValues an array of one value (100) per frame. When a load fails after that
// point, everything it allocated is freed and *frameCount becomes 0, *frames null and, when it
// was written, *frameValues null. Frames and arrays come from the global ::operator new(size);
// FreeImageFrames (or ::operator delete on each) releases them.
//
// A header is rejected before anything is allocated when a value is out of range, when a byte
// count does not fit in 32 bits, when the load would allocate more than 1 GiB in all
// (ImgMaxLoadBytes), or when the stream is too short to hold the tile records the header
// announces. Tiles that reach outside their frame are clipped; a short read fails the load.
#pragma once

#include <cstdint>

#include "KorvoLoader.h"
#include "image/img_format.h"

namespace korvo {

class CPackageManager;
class CResStream;

// Opens name through the manager (package entry first, then disk) and decodes it; the contract
// of the LoadImgFile export. The stream goes back to its pool on every path.
bool LoadImageFrames(CPackageManager& manager, const char* name, uint32_t* frameCount,
                     uint32_t** frameValues, ImgFrame*** frames);

// Decodes an image from the stream's current position, which must be the file header. Reads
// no further than the last tile record and does not close the stream.
bool DecodeImageStream(CResStream& stream, uint32_t* frameCount, uint32_t** frameValues,
                       ImgFrame*** frames);

// True when a loader accepts the header's values: sizes and counts in range, every byte count
// within 32 bits and the whole load within ImgMaxLoadBytes. The magic is not looked at.
bool ImageHeaderWithinLimits(const ImgFileHeader& header);

// Frees what a successful load handed over; null arrays are allowed.
void FreeImageFrames(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);

}  // namespace korvo
