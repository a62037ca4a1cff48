/* A host for the image tests: loads the library given first, then prints what LoadImgFile gives
 * for each name that follows, one line a name. */
#ifdef _WIN32
#include <windows.h>
#define OPEN_LIBRARY(path) ((void*)LoadLibraryA(path))
#define LIBRARY_SYMBOL(library, name) ((void*)GetProcAddress((HMODULE)(library), name))
#else
#include <dlfcn.h>
#define OPEN_LIBRARY(path) dlopen(path, RTLD_NOW | RTLD_LOCAL)
#define LIBRARY_SYMBOL(library, name) dlsym(library, name)
#endif

#include <stdio.h>

#include "KorvoLoader.h"

static unsigned Pixel(const ImgFrame* frame, uint32_t x, uint32_t y) {
  const unsigned char* p = KORVO_FRAME_PIXELS(frame) + (size_t)y * frame->stride + 4 * (size_t)x;
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned)p[3] << 24);
}

int main(int argc, char** argv) {
  void* library = argc > 1 ? OPEN_LIBRARY(argv[1]) : NULL;
  bool (*load)(const char*, uint32_t*, uint32_t**, ImgFrame***) = NULL;
  void (*release)(uint32_t, uint32_t*, ImgFrame**) = NULL;
  if (library == NULL) return 2;
  *(void**)(&load) = LIBRARY_SYMBOL(library, "LoadImgFile"); /* through a data pointer, as given */
  *(void**)(&release) = LIBRARY_SYMBOL(library, "FreeImgFile");
  if (load == NULL || release == NULL) return 3;
  for (int i = 2; i < argc; ++i) {
    uint32_t count = 0, f, *values = NULL;
    ImgFrame** frames = NULL;
    if (!load(argv[i], &count, &values, &frames)) {
      printf("%s: failed\n", argv[i]);
      continue;
    }
    printf("%s: %u frames", argv[i], count);
    for (f = 0; f < count; ++f)
      printf(" [%ux%u stride %u format %u value %u first %08x last %08x]", frames[f]->width,
             frames[f]->height, frames[f]->stride, frames[f]->format, count > 1 ? values[f] : 0,
             Pixel(frames[f], 0, 0), Pixel(frames[f], frames[f]->width - 1, frames[f]->height - 1));
    printf("\n");
    release(count, count > 1 ? values : NULL, frames);
  }
  return 0;
}
