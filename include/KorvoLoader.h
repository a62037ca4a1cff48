/*
 * KorvoLoader: read access to a game's resources, from package archives or from the disk.
 *
 * The library builds one resource manager when it is loaded. The manager reads "package.cfg"
 * in the host executable's directory and mounts the package archives named there. Resources
 * are then found by name: package entries first (names compared ignoring ASCII case and
 * slash direction), then files on disk.
 *
 * All calls into the library come from one thread at a time.
 */
#ifndef KORVO_LOADER_H
#define KORVO_LOADER_H

#include <stdint.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#define KORVO_API __declspec(dllimport)
#elif defined(__GNUC__)
#define KORVO_API __attribute__((visibility("default")))
#else
#define KORVO_API
#endif

#ifdef KORVO_BUILDING_LIBRARY
#undef KORVO_API
#if defined(_WIN32)
#define KORVO_API
#elif defined(__GNUC__)
#define KORVO_API __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One decoded frame: this 16-byte header, then height rows of stride bytes, 4 bytes a pixel.
 * Pixel (x, y) lies at byte 16 + y * stride + 4 * x of the allocation. The library does not
 * interpret the four bytes; the korvo tool and the examples read them as blue, green, red and
 * alpha (the little-endian value 0xAARRGGBB).
 */
typedef struct ImgFrame {
  uint32_t width;
  uint32_t height;
  uint32_t stride; /* 4 * width */
  uint32_t format; /* always 3: 32-bit pixels */
} ImgFrame;

/* The first pixel byte of a frame. */
#define KORVO_FRAME_PIXELS(frame) ((unsigned char*)(frame) + sizeof(ImgFrame))

/* Mounts one more package archive. Its entries win over those of every earlier mount. */
KORVO_API bool AddPackage(const char* path);

/*
 * Loads a tiled image by resource name and hands its frames to the caller.
 *
 * On success *frameCount holds the number of frames and *frames an array of that many frame
 * pointers (a zero-length allocation for zero frames). Only when there is more than one frame
 * is *frameValues written: an array of one value per frame, each 100; otherwise it keeps what
 * it held. On failure the caller's variables are either untouched or reset to 0 and null, and
 * nothing is left for the caller to free.
 *
 * Everything handed over belongs to the caller. A C++ host frees each frame, the frame array
 * and the value array with ::operator delete; a C host calls FreeImgFile.
 */
KORVO_API bool LoadImgFile(const char* name, uint32_t* frameCount, uint32_t** frameValues,
                           ImgFrame*** frames);

/* Saving is not supported: reads no argument and always returns false. */
KORVO_API bool SaveImgFile(const char* name, uint32_t frameCount, const uint32_t* frameValues,
                           ImgFrame* const* frames);

/*
 * Frees what a successful LoadImgFile handed over: every frame of the array, the array and
 * the value array. Either array may be null.
 */
KORVO_API void FreeImgFile(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_LOADER_H */
