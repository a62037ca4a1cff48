/*
 * KorvoLoader: read access to a game's resources, from package archives or from the disk.
 *
 * The library builds one resource manager when it is loaded. The manager reads "package.cfg"
 * in the host executable's directory and mounts the package archives named there. Resources
 * are then found by name: package entries first (names compared ignoring ASCII case and
 * slash direction), then files on disk.
 *
 * Every function may be called from any number of threads at once, AddPackage while loads are
 * running included. Loads run in parallel: no lock is held while an entry is inflated or an
 * image decoded. A load that starts after AddPackage has returned sees that package's entries.
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

/*
 * Mounts one more package archive. Its entries win over those of every earlier mount. False
 * when the file cannot be mapped or is no archive: shorter than the 16-byte header, an entry
 * count of 2^31 or more, an index offset outside the file, or a first index record that does
 * not lie within the file. An index whose later records run past the end of the file is
 * mounted with the records before the first such one (true); the rest are not.
 */
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
 * Frees what a successful LoadImgFile handed over: every frame of the array, the array and,
 * when frameCount is greater than 1, the value array. For one frame or none, frameValues is
 * ignored (LoadImgFile wrote none), so a variable the caller never set may be passed. Either
 * array may be null.
 */
KORVO_API void FreeImgFile(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);

/*
 * Reads the whole resource called name: a package entry first, then a file on disk, by the
 * same lookup as LoadImgFile. An entry that is indexed but whose data does not inflate (a
 * damaged archive) counts as absent: the file on disk of that name is read instead. On success
 * *data points to *size bytes followed by one extra 0 byte (so a text resource is a C string),
 * and the caller frees it with FreeResFile. On failure (including a disk file of 4 GiB or more,
 * whose size does not fit *size) the variables are untouched and false is returned.
 */
KORVO_API bool LoadResFile(const char* name, void** data, uint32_t* size);

/* Frees what LoadResFile handed over. Null is allowed. */
KORVO_API void FreeResFile(void* data);

/* Where a resource comes from (KorvoResourceInfo.source). */
#define KORVO_FROM_PACKAGE 1
#define KORVO_FROM_DISK 2

typedef struct KorvoResourceInfo {
  uint32_t size;       /* bytes LoadResFile would hand over */
  uint32_t packedSize; /* bytes it takes in its package; equal to size for a disk file */
  uint32_t source;     /* KORVO_FROM_PACKAGE or KORVO_FROM_DISK */
  char path[260];      /* the package's mount path, or the disk path; cut at 259 bytes */
} KorvoResourceInfo;

/*
 * Tells whether name exists and where LoadResFile and LoadImgFile would read it from, without
 * reading it. True when it exists; *info (which may be null) is then filled. An indexed package
 * entry is reported as found without being inflated, so StatResFile cannot know that its data
 * is damaged: it reports the entry, while a load that fails to inflate it falls back to the disk
 * file of that name. A disk file of 4 GiB or more is reported as absent (false): no load can
 * hand it over.
 */
KORVO_API bool StatResFile(const char* name, KorvoResourceInfo* info);

/*
 * Called once per name by EnumResFiles: the name in its index form (ASCII lower case, '\'
 * as separator, terminated) and its size. The name is valid during the call only. Return true
 * to go on, false to stop.
 */
typedef bool (*KorvoEnumCallback)(const char* name, uint32_t size, void* context);

/*
 * Calls callback for every package entry name that starts with prefix (folded like a lookup;
 * null or "" for all), in byte order of the index names. Each name comes once, as the last
 * mount left it; the names are those mounted when the call began. Files on disk are not
 * listed. The callback may call into the library, AddPackage included. Allocates nothing,
 * except in the first call after a mount, which sorts the names the mount added.
 * Returns the number of calls made.
 */
KORVO_API uint32_t EnumResFiles(const char* prefix, KorvoEnumCallback callback, void* context);

/*
 * Called once per package by EnumResSources: the package's mount path (as given to AddPackage
 * or the package list), the entry's name as that package stores it (storedNameLength bytes, NOT
 * terminated), the entry's size and packed size, and whether this is the package a load takes
 * the name from. The pointers are valid during the call only. Return true to go on, false to
 * stop.
 */
typedef bool (*KorvoSourceCallback)(const char* packagePath, const char* storedName,
                                    uint32_t storedNameLength, uint32_t size, uint32_t packedSize,
                                    bool winner, void* context);

/*
 * Calls callback for every mounted package that holds name (compared as a lookup compares it,
 * ignoring ASCII case and slash direction), in mount order, so a mod menu can show which package
 * wins and which ones it shadows. Each package comes once, with its last record of the name.
 * Files on disk are not reported. Allocates nothing. The callback may call into the library,
 * AddPackage included (a package it mounts may or may not be reported).
 * Returns the number of calls made.
 */
KORVO_API uint32_t EnumResSources(const char* name, KorvoSourceCallback callback, void* context);

/*
 * Reloading in a running host. A reload or removal builds the new set of mounted packages off
 * to the side and puts it in place in one step: a load sees the packages before it or after
 * it, never a mix, and a name present in both never fails to load meanwhile. Loads running at
 * that moment finish on the packages they started with; an archive is unmapped once the last
 * load that used it has ended.
 */

/*
 * Reads "package.cfg" again and mounts what it names, then every package mounted by
 * AddPackage since start-up (in their order, so they stay on top). Every archive is mapped
 * afresh, so one replaced on disk (as korvo pack replaces it) is read anew; one that exists
 * but cannot be mounted now keeps its previous mapping, one that is gone is dropped. A missing
 * "package.cfg" names nothing, as at start-up. False, changing nothing, when the list exists
 * but cannot be read or memory runs out.
 */
KORVO_API bool ReloadPackages(void);

/*
 * Unmounts every package mounted under path: the path as given to AddPackage, or for a listed
 * package the executable's directory joined with the listed name. False when none was. A
 * listed package comes back with the next ReloadPackages while the list names it.
 */
KORVO_API bool RemovePackage(const char* path);

/*
 * Called after each ReloadPackages or RemovePackage that changed the mounts (also those of the
 * watcher), on the thread that made it, with the index names (ASCII lower case, '\' as
 * separator) whose bytes changed: added, removed or different; count may be 0. The names are
 * valid during the call only. The callback may call into the library, except to turn the
 * watcher off (it may be running on the watcher's thread, which that call waits for).
 */
typedef void (*KorvoReloadCallback)(uint32_t count, const char* const* names, void* context);

/* Sets the callback and its context; a null callback turns it off. */
KORVO_API void SetReloadCallback(KorvoReloadCallback callback, void* context);

/*
 * Turns the watcher on (non-zero) or off (0). While on, a thread of the library watches the
 * directories of the mounted archives and of "package.cfg"; when one of those files is
 * replaced (renamed into place, or written and closed) or removed, it calls ReloadPackages
 * once no further change has come for a while: 10 ms after a file renamed into place (as
 * korvo pack replaces an archive: whole at once), 100 ms after any other change (a writer in
 * place may not be done). Linux and Windows; false where it cannot run. Turn it off before
 * unloading the library.
 */
KORVO_API bool KorvoWatchPackages(int on);

/* The library's version, "major.minor.patch". */
KORVO_API const char* GetKorvoLoaderVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_LOADER_H */
