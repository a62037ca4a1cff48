/*
 * A tiny host for the image tests: loads the library at run time from the path given first,
 * then loads each image name that follows through LoadImgFile and prints what it got, one
 * line a name. Ends with the result of SaveImgFile.
 *
 *   image_host LIBRARY NAME...
 */
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdio.h>

#include "KorvoLoader.h"

typedef bool (*LoadImgFileFunction)(const char*, uint32_t*, uint32_t**, ImgFrame***);
typedef bool (*SaveImgFileFunction)(const char*, uint32_t, const uint32_t*, ImgFrame* const*);
typedef void (*FreeImgFileFunction)(uint32_t, uint32_t*, ImgFrame**);

#ifdef _WIN32
static void* OpenLibrary(const char* path) {
  return (void*)LoadLibraryA(path);
}
static void* Symbol(void* library, const char* name) {
  return (void*)GetProcAddress((HMODULE)library, name);
}
static void CloseLibrary(void* library) {
  FreeLibrary((HMODULE)library);
}
#else
static void* OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static void* Symbol(void* library, const char* name) {
  return dlsym(library, name);
}
static void CloseLibrary(void* library) {
  dlclose(library);
}
#endif

static uint32_t Pixel(const ImgFrame* frame, uint32_t x, uint32_t y) {
  const unsigned char* p = KORVO_FRAME_PIXELS(frame) + (size_t)y * frame->stride + 4 * (size_t)x;
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

int main(int argc, char** argv) {
  void* library;
  LoadImgFileFunction load;
  SaveImgFileFunction save;
  FreeImgFileFunction release;
  int i;
  if (argc < 2) {
    fprintf(stderr, "usage: image_host LIBRARY NAME...\n");
    return 2;
  }
  library = OpenLibrary(argv[1]);
  if (library == NULL) {
    printf("cannot load the library\n");
    return 3;
  }
  /* Function pointers are fetched through a data pointer, as both platforms hand them out. */
  *(void**)(&load) = Symbol(library, "LoadImgFile");
  *(void**)(&save) = Symbol(library, "SaveImgFile");
  *(void**)(&release) = Symbol(library, "FreeImgFile");
  if (load == NULL || save == NULL || release == NULL) {
    printf("missing exports\n");
    CloseLibrary(library);
    return 4;
  }
  for (i = 2; i < argc; ++i) {
    uint32_t count = 0;
    uint32_t* values = NULL;
    ImgFrame** frames = NULL;
    uint32_t f;
    if (!load(argv[i], &count, &values, &frames)) {
      printf("%s: failed\n", argv[i]);
      continue;
    }
    printf("%s: %u frames", argv[i], (unsigned)count);
    for (f = 0; f < count; ++f) {
      const ImgFrame* frame = frames[f];
      int empty = frame->width == 0 || frame->height == 0;
      printf(" [%ux%u stride %u format %u value %u first %08x last %08x]", (unsigned)frame->width,
             (unsigned)frame->height, (unsigned)frame->stride, (unsigned)frame->format,
             (unsigned)(count > 1 ? values[f] : 0), empty ? 0u : (unsigned)Pixel(frame, 0, 0),
             empty ? 0u : (unsigned)Pixel(frame, frame->width - 1, frame->height - 1));
    }
    printf("\n");
    release(count, count > 1 ? values : NULL, frames);
  }
  printf("SaveImgFile: %d\n", save(NULL, 0, NULL, NULL) ? 1 : 0);
  CloseLibrary(library);
  return 0;
}
