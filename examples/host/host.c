/*
 * A game host in plain C. It loads KorvoLoader at run time, as a game does, and uses only the
 * public header's types and the exported functions:
 *
 *   - the library mounts the packages listed in "package.cfg" beside this executable as soon
 *     as it is loaded;
 *   - AddPackage mounts each further archive given with -p;
 *   - LoadImgFile loads every image named on the command line (package entries first, then
 *     files on disk, relative to the current directory);
 *   - FreeImgFile gives the frames back;
 *   - with -t, StatResFile and LoadResFile print a text resource;
 *   - with -e, EnumResFiles lists the images under a prefix, which worker threads (-j, 4 by
 *     default) then load at once, each thread with its own LoadImgFile calls;
 *   - with --watch, KorvoWatchPackages turns the library's watcher on and SetReloadCallback
 *     prints every reload and the names whose bytes it changed, until standard input ends
 *     (Enter or end of file): repack an archive meanwhile to see it.
 *
 * Each image named on the command line is written as a PNG (all frames side by side) into the
 * output directory, and a table of what was loaded is printed.
 *
 * Usage: korvo_host [-l library] [-p package]... [-o outdir] [-t text] [-e prefix [-j threads]]
 *                   [--watch] name...
 *
 * Decoded frames hold B, G, R, A bytes per pixel (the little-endian value 0xAARRGGBB).
 */
#include <spng.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <pthread.h>
#endif

#include "KorvoLoader.h"

typedef bool (*AddPackageFn)(const char* path);
typedef bool (*LoadImgFileFn)(const char* name, uint32_t* frameCount, uint32_t** frameValues,
                              ImgFrame*** frames);
typedef void (*FreeImgFileFn)(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);
typedef bool (*LoadResFileFn)(const char* name, void** data, uint32_t* size);
typedef void (*FreeResFileFn)(void* data);
typedef bool (*StatResFileFn)(const char* name, KorvoResourceInfo* info);
typedef uint32_t (*EnumResFilesFn)(const char* prefix, KorvoEnumCallback callback, void* context);
typedef const char* (*GetVersionFn)(void);
typedef void (*SetReloadCallbackFn)(KorvoReloadCallback callback, void* context);
typedef bool (*WatchPackagesFn)(int on);

/* Called on the library's watching thread after each reload. */
static void PrintReload(uint32_t count, const char* const* names, void* context) {
  (void)context;
  printf("reloaded: %u %s changed\n", count, count == 1 ? "name" : "names");
  for (uint32_t i = 0; i < count; ++i) printf("  %s\n", names[i]);
  fflush(stdout);
}

#ifdef _WIN32
#define LIBRARY_FILE "KorvoLoader.dll"
static void* OpenLibrary(const char* path) {
  return (void*)LoadLibraryA(path);
}
static void* Symbol(void* library, const char* name) {
  return (void*)GetProcAddress((HMODULE)library, name);
}
static void CloseLibrary(void* library) {
  FreeLibrary((HMODULE)library);
}
static const char* LibraryError(void) {
  return "LoadLibraryA failed";
}
#else
#define LIBRARY_FILE "libKorvoLoader.so"
static void* OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static void* Symbol(void* library, const char* name) {
  return dlsym(library, name);
}
static void CloseLibrary(void* library) {
  dlclose(library);
}
static const char* LibraryError(void) {
  const char* text = dlerror();
  return text != NULL ? text : "unknown error";
}
#endif

/* Runs body(argument) on count threads and waits for them all. */
#define MAX_WORKERS 16
#ifdef _WIN32
typedef struct {
  void (*body)(void*);
  void* argument;
} ThreadStart;
static DWORD WINAPI ThreadMain(LPVOID start) {
  ThreadStart* s = (ThreadStart*)start;
  s->body(s->argument);
  return 0;
}
static void RunThreads(int count, void (*body)(void*), void* argument) {
  HANDLE threads[MAX_WORKERS];
  ThreadStart start = {body, argument};
  int started = 0;
  for (int i = 0; i < count; ++i) {
    threads[started] = CreateThread(NULL, 0, ThreadMain, &start, 0, NULL);
    if (threads[started] != NULL) ++started;
  }
  WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
  for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
}
#else
typedef struct {
  void (*body)(void*);
  void* argument;
} ThreadStart;
static void* ThreadMain(void* start) {
  ThreadStart* s = (ThreadStart*)start;
  s->body(s->argument);
  return NULL;
}
static void RunThreads(int count, void (*body)(void*), void* argument) {
  pthread_t threads[MAX_WORKERS];
  ThreadStart start = {body, argument};
  int started = 0;
  for (int i = 0; i < count; ++i) {
    if (pthread_create(&threads[started], NULL, ThreadMain, &start) == 0) ++started;
  }
  for (int i = 0; i < started; ++i) pthread_join(threads[i], NULL);
}
#endif

/* Milliseconds from a fixed point, for the timings printed. timespec_get is C11, but the C
 * runtime a MinGW program links by default (msvcrt) does not have it: Windows uses its
 * performance counter. */
#ifdef _WIN32
static double NowMs(void) {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}
#else
static double NowMs(void) {
  struct timespec now;
  timespec_get(&now, TIME_UTC);
  return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
}
#endif

/* The library beside this executable: the directory part of argv[0]. */
static void DefaultLibraryPath(const char* argv0, char* out, size_t size) {
  const char* slash = strrchr(argv0, '/');
  const char* backslash = strrchr(argv0, '\\');
  if (backslash != NULL && (slash == NULL || backslash > slash)) slash = backslash;
  size_t directory = slash != NULL ? (size_t)(slash - argv0) + 1 : 0;
  if (directory + sizeof(LIBRARY_FILE) > size) directory = 0;
  memcpy(out, argv0, directory);
  memcpy(out + directory, LIBRARY_FILE, sizeof(LIBRARY_FILE));
}

/* Writes the frames side by side as one RGBA PNG. */
static int WriteSheet(const char* path, uint32_t count, ImgFrame** frames) {
  uint32_t width = frames[0]->width, height = frames[0]->height;
  size_t sheetWidth = (size_t)width * count;
  unsigned char* rgba = malloc(sheetWidth * height * 4);
  if (rgba == NULL) return 0;
  for (uint32_t f = 0; f < count; ++f) {
    const unsigned char* pixels = KORVO_FRAME_PIXELS(frames[f]);
    for (uint32_t y = 0; y < height; ++y) {
      const unsigned char* in = pixels + (size_t)y * frames[f]->stride;
      unsigned char* out = rgba + ((size_t)y * sheetWidth + (size_t)f * width) * 4;
      for (uint32_t x = 0; x < width; ++x) {
        out[4 * x + 0] = in[4 * x + 2];
        out[4 * x + 1] = in[4 * x + 1];
        out[4 * x + 2] = in[4 * x + 0];
        out[4 * x + 3] = in[4 * x + 3];
      }
    }
  }
  int ok = 0;
  spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
  FILE* file = fopen(path, "wb");
  if (context != NULL && file != NULL) {
    struct spng_ihdr header = {0};
    header.width = (uint32_t)sheetWidth;
    header.height = height;
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    ok = spng_set_png_file(context, file) == 0 && spng_set_ihdr(context, &header) == 0 &&
         spng_encode_image(context, rgba, sheetWidth * height * 4, SPNG_FMT_PNG,
                           SPNG_ENCODE_FINALIZE) == 0;
  }
  spng_ctx_free(context);
  if (file != NULL && fclose(file) != 0) ok = 0;
  free(rgba);
  return ok;
}

/* out/<name with separators as '_' and without its extension>.png */
static void OutputPath(const char* outdir, const char* name, char* out, size_t size) {
  char flat[260];
  size_t n = 0;
  for (const char* p = name; *p != '\0' && n + 1 < sizeof(flat); ++p) {
    flat[n++] = (*p == '/' || *p == '\\' || *p == ':') ? '_' : *p;
  }
  flat[n] = '\0';
  char* dot = strrchr(flat, '.');
  if (dot != NULL && dot != flat) *dot = '\0';
  snprintf(out, size, "%s/%s.png", outdir, flat);
}

/* The library looks in packages first. A name that is not on disk came from a package. */
static const char* Source(const char* name) {
  FILE* file = fopen(name, "rb");
  if (file == NULL) return "package";
  fclose(file);
  return "disk";
}

/* The image names under a prefix, gathered by EnumResFiles. */
#define MAX_LISTED 256
typedef struct {
  char* names[MAX_LISTED];
  uint32_t sizes[MAX_LISTED];
  int count;
} Listing;

static bool ListImage(const char* name, uint32_t size, void* context) {
  Listing* listing = (Listing*)context;
  size_t length = strlen(name);
  if (length < 4 || strcmp(name + length - 4, ".img") != 0) return true; /* not an image */
  char* copy = malloc(length + 1);
  if (copy == NULL) return false;
  memcpy(copy, name, length + 1);
  listing->names[listing->count] = copy;
  listing->sizes[listing->count] = size;
  return ++listing->count < MAX_LISTED; /* stop when the table is full */
}

/* The worker threads share one counter of the next image to load. */
typedef struct {
  Listing* listing;
  LoadImgFileFn load;
  FreeImgFileFn release;
  volatile long next;
  volatile long frames;
  volatile long failures;
} Work;

#ifdef _WIN32
#define ATOMIC_ADD(p, v) InterlockedExchangeAdd((volatile LONG*)(p), (v))
#else
#define ATOMIC_ADD(p, v) __atomic_fetch_add((p), (v), __ATOMIC_SEQ_CST)
#endif

static void LoadListed(void* argument) {
  Work* work = (Work*)argument;
  for (;;) {
    long i = ATOMIC_ADD(&work->next, 1);
    if (i >= work->listing->count) return;
    uint32_t frameCount = 0;
    uint32_t* frameValues = NULL;
    ImgFrame** frames = NULL;
    if (!work->load(work->listing->names[i], &frameCount, &frameValues, &frames)) {
      ATOMIC_ADD(&work->failures, 1);
      continue;
    }
    ATOMIC_ADD(&work->frames, (long)frameCount);
    work->release(frameCount, frameValues, frames); /* frameValues ignored for one frame */
  }
}

int main(int argc, char** argv) {
  char libraryPath[1024];
  const char* outdir = "out";
  const char* packages[64];
  int packageCount = 0;
  const char* names[256];
  int nameCount = 0;
  const char* textName = NULL;
  const char* prefix = NULL;
  int workers = 4;
  int watch = 0;
  DefaultLibraryPath(argv[0], libraryPath, sizeof(libraryPath));

  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-l") == 0 && i + 1 < argc) {
      snprintf(libraryPath, sizeof(libraryPath), "%s", argv[++i]);
    } else if (strcmp(argv[i], "-p") == 0 && i + 1 < argc && packageCount < 64) {
      packages[packageCount++] = argv[++i];
    } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      outdir = argv[++i];
    } else if (strcmp(argv[i], "-t") == 0 && i + 1 < argc) {
      textName = argv[++i];
    } else if (strcmp(argv[i], "-e") == 0 && i + 1 < argc) {
      prefix = argv[++i];
    } else if (strcmp(argv[i], "-j") == 0 && i + 1 < argc) {
      workers = atoi(argv[++i]);
      if (workers < 1) workers = 1;
      if (workers > MAX_WORKERS) workers = MAX_WORKERS;
    } else if (strcmp(argv[i], "--watch") == 0) {
      watch = 1;
    } else if (argv[i][0] == '-' || nameCount == 256) {
      fprintf(stderr,
              "usage: korvo_host [-l library] [-p package]... [-o outdir] [-t text] "
              "[-e prefix [-j threads]] [--watch] name...\n");
      return 2;
    } else {
      names[nameCount++] = argv[i];
    }
  }

  double start = NowMs();
  void* library = OpenLibrary(libraryPath);
  if (library == NULL) {
    fprintf(stderr, "korvo_host: %s: cannot load: %s\n", libraryPath, LibraryError());
    return 1;
  }
  double loaded = NowMs();
  AddPackageFn addPackage = (AddPackageFn)Symbol(library, "AddPackage");
  LoadImgFileFn loadImgFile = (LoadImgFileFn)Symbol(library, "LoadImgFile");
  FreeImgFileFn freeImgFile = (FreeImgFileFn)Symbol(library, "FreeImgFile");
  LoadResFileFn loadResource = (LoadResFileFn)Symbol(library, "LoadResFile");
  FreeResFileFn freeResource = (FreeResFileFn)Symbol(library, "FreeResFile");
  StatResFileFn statResource = (StatResFileFn)Symbol(library, "StatResFile");
  EnumResFilesFn enumResources = (EnumResFilesFn)Symbol(library, "EnumResFiles");
  GetVersionFn getVersion = (GetVersionFn)Symbol(library, "GetKorvoLoaderVersion");
  if (addPackage == NULL || loadImgFile == NULL || freeImgFile == NULL || loadResource == NULL ||
      freeResource == NULL || statResource == NULL || enumResources == NULL || getVersion == NULL) {
    fprintf(stderr, "korvo_host: %s: an export is missing\n", libraryPath);
    CloseLibrary(library);
    return 1;
  }
  printf("loaded %s %s in %.2f ms (package.cfg beside the host mounted)\n", libraryPath,
         getVersion(), loaded - start);

  int failures = 0;
  for (int i = 0; i < packageCount; ++i) {
    if (addPackage(packages[i])) {
      printf("AddPackage %s: mounted\n", packages[i]);
    } else {
      fprintf(stderr, "korvo_host: %s: AddPackage failed\n", packages[i]);
      ++failures;
    }
  }

  if (textName != NULL) {
    KorvoResourceInfo info;
    void* text = NULL;
    uint32_t size = 0;
    if (statResource(textName, &info) && loadResource(textName, &text, &size)) {
      printf("\n-- %s (%u bytes, %u packed, from %s %s):\n%s", textName, size, info.packedSize,
             info.source == KORVO_FROM_PACKAGE ? "package" : "disk", info.path, (char*)text);
      freeResource(text); /* the text ends with a 0 byte: printable as it is */
    } else {
      fprintf(stderr, "korvo_host: %s: no such resource\n", textName);
      ++failures;
    }
  }

  if (prefix != NULL) {
    Listing listing;
    listing.count = 0;
    enumResources(prefix, ListImage, &listing);
    printf("\n%d images under '%s':\n", listing.count, prefix);
    for (int i = 0; i < listing.count; ++i)
      printf("  %-40s %9u bytes\n", listing.names[i], listing.sizes[i]);
    Work work = {&listing, loadImgFile, freeImgFile, 0, 0, 0};
    double before = NowMs();
    RunThreads(workers, LoadListed, &work);
    printf("loaded them on %d threads in %.2f ms: %ld frames, %ld failed\n", workers,
           NowMs() - before, work.frames, work.failures);
    failures += (int)work.failures;
    for (int i = 0; i < listing.count; ++i) free(listing.names[i]);
  }

  printf("\n%-24s %6s %9s  %-8s %8s  %s\n", "name", "frames", "size", "source", "load ms",
         "written");
  for (int i = 0; i < nameCount; ++i) {
    uint32_t frameCount = 0;
    uint32_t* frameValues = NULL;
    ImgFrame** frames = NULL;
    double before = NowMs();
    bool ok = loadImgFile(names[i], &frameCount, &frameValues, &frames);
    double took = NowMs() - before;
    if (!ok) {
      printf("%-24s %6s %9s  %-8s %8.3f  %s\n", names[i], "-", "-", "-", took, "NOT LOADED");
      ++failures;
      continue;
    }
    char size[32] = "-";
    char path[512] = "-";
    if (frameCount > 0 && frames[0]->width > 0 && frames[0]->height > 0) {
      snprintf(size, sizeof(size), "%ux%u", frames[0]->width, frames[0]->height);
      OutputPath(outdir, names[i], path, sizeof(path));
      if (!WriteSheet(path, frameCount, frames)) {
        fprintf(stderr, "korvo_host: %s: cannot write the PNG\n", path);
        snprintf(path, sizeof(path), "%s", "WRITE FAILED");
        ++failures;
      }
    }
    printf("%-24s %6u %9s  %-8s %8.3f  %s\n", names[i], frameCount, size, Source(names[i]), took,
           path);
    freeImgFile(frameCount, frameValues, frames);
  }

  if (watch) {
    SetReloadCallbackFn setReloadCallback =
        (SetReloadCallbackFn)Symbol(library, "SetReloadCallback");
    WatchPackagesFn watchPackages = (WatchPackagesFn)Symbol(library, "KorvoWatchPackages");
    if (setReloadCallback == NULL || watchPackages == NULL) {
      fprintf(stderr, "korvo_host: %s: an export is missing\n", libraryPath);
      ++failures;
    } else {
      setReloadCallback(PrintReload, NULL);
      if (watchPackages(1)) {
        printf("\nwatching the mounted packages; Enter or end of input stops\n");
        fflush(stdout);
        char line[64];
        if (fgets(line, sizeof(line), stdin) == NULL) printf("end of input\n");
        watchPackages(0); /* before the library goes */
      } else {
        fprintf(stderr, "korvo_host: the packages cannot be watched here\n");
        ++failures;
      }
      setReloadCallback(NULL, NULL);
    }
  }
  CloseLibrary(library);
  return failures == 0 ? 0 : 1;
}
