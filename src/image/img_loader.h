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
// Memory and work are bounded by the input. A header is rejected before anything is allocated
// when a value is out of range, when a byte count does not fit in 32 bits, when the load would
// allocate more than 1 GiB in all (ImgMaxLoadBytes), when it announces more than
// ImgMaxEmptyFrames frames without tile records, or when the stream is too short to hold the
// 16-byte header of every tile record it announces. A load of up to 256 MiB in all
// (ImgFreeLoadBytes) is allocated whatever else the stream holds, so sparse images, whose tiles
// cover little of their frames, load. Above that, the stream must also be able to fill the
// frames: every 4 bytes of frame pixels take at least 2 bytes of tile data (format 1, the
// densest encoding), which every file whose tiles cover their frames passes. Tiles that reach
// outside their frame are clipped; a file cut short fails at the first record it lacks.
#pragma once

#include <cstdint>

#include "KorvoLoader.h"
#include "common/status.h"
#include "image/img_format.h"

namespace korvo {

class CPackageManager;
class CResStream;

// Opens name through the manager (package entry first, then disk) and decodes it; the contract
// of the LoadImgFile export. The stream goes back to its pool on every path. The cause says
// whether the name was not found, the entry's data could not be read, the resource is not a
// tiled image, is too large or is damaged.
Status LoadImageFrames(CPackageManager& manager, const char* name, uint32_t* frameCount,
                       uint32_t** frameValues, ImgFrame*** frames);

// Decodes an image from the stream's current position, which must be the file header; the
// stream's size bounds what the header may announce. Reads no further than the last tile
// record and does not close the stream.
Status DecodeImageStream(CResStream& stream, uint32_t* frameCount, uint32_t** frameValues,
                         ImgFrame*** frames);

// Accepts the header's values, or says why not: sizes and counts in range, every byte count
// within 32 bits, the whole load within ImgMaxLoadBytes and at most ImgMaxEmptyFrames frames
// without tile records. The magic and the input size are not looked at.
Status CheckImageHeader(const ImgFileHeader& header);

// The fewest bytes after the file header that a load of an accepted header requires before it
// allocates: the tile headers, and above ImgFreeLoadBytes also 2 bytes of tile data for every 4
// bytes of frame pixels.
uint64_t ImageMinimumDataBytes(const ImgFileHeader& header);

// Frees what a successful load handed over; null arrays are allowed.
void FreeImageFrames(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);

}  // namespace korvo
