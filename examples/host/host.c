/*
 * A game host in plain C. It loads KorvoLoader at run time, as a game does, and uses only the
 * public header's types and the exported functions:
 *
 *   - the library mounts the packages listed in "package.cfg" beside this executable as soon
 *     as it is loaded;
 *   - AddPackage mounts each further archive given with -p;
 *   - LoadImgFile loads every image named on the command line (package entries first, then
 *     files on disk, relative to the current directory);
 *   - FreeImgFile gives the frames back.
 *
 * Each image is written as a PNG (all frames side by side) into the output directory, and a
 * table of what was loaded is printed.
 *
 * Usage: korvo_host [-l library] [-p package]... [-o outdir] name...
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
#endif

#include "KorvoLoader.h"

typedef bool (*AddPackageFn)(const char* path);
typedef bool (*LoadImgFileFn)(const char* name, uint32_t* frameCount, uint32_t** frameValues,
                              ImgFrame*** frames);
typedef void (*FreeImgFileFn)(uint32_t frameCount, uint32_t* frameValues, ImgFrame** frames);

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

static double NowMs(void) {
  struct timespec now;
  timespec_get(&now, TIME_UTC);
  return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
}

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

int main(int argc, char** argv) {
  char libraryPath[1024];
  const char* outdir = "out";
  const char* packages[64];
  int packageCount = 0;
  const char* names[256];
  int nameCount = 0;
  DefaultLibraryPath(argv[0], libraryPath, sizeof(libraryPath));

  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-l") == 0 && i + 1 < argc) {
      snprintf(libraryPath, sizeof(libraryPath), "%s", argv[++i]);
    } else if (strcmp(argv[i], "-p") == 0 && i + 1 < argc && packageCount < 64) {
      packages[packageCount++] = argv[++i];
    } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      outdir = argv[++i];
    } else if (argv[i][0] == '-' || nameCount == 256) {
      fprintf(stderr, "usage: korvo_host [-l library] [-p package]... [-o outdir] name...\n");
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
  if (addPackage == NULL || loadImgFile == NULL || freeImgFile == NULL) {
    fprintf(stderr, "korvo_host: %s: an export is missing\n", libraryPath);
    CloseLibrary(library);
    return 1;
  }
  printf("loaded %s in %.2f ms (package.cfg beside the host mounted)\n", libraryPath,
         loaded - start);

  int failures = 0;
  for (int i = 0; i < packageCount; ++i) {
    if (addPackage(packages[i])) {
      printf("AddPackage %s: mounted\n", packages[i]);
    } else {
      fprintf(stderr, "korvo_host: %s: AddPackage failed\n", packages[i]);
      ++failures;
    }
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
    if (frameCount <= 1) frameValues = NULL; /* written only for several frames */
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
  CloseLibrary(library);
  return failures == 0 ? 0 : 1;
}
