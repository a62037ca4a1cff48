// Imports the input as a PNG file. An accepted image has its declared size, within the limit,
// and exactly 4 bytes a pixel.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = korvo::fuzz::ScratchPath("input.png");
  if (!korvo::fuzz::WriteFileBytes(path, data, size)) return 0;
  korvo::tool::RgbaImage image;
  std::string cause;
  if (!korvo::tool::ReadPng(path, image, cause)) {
    KORVO_FUZZ_CHECK(!cause.empty());
    return 0;
  }
  KORVO_FUZZ_CHECK(image.width <= korvo::tool::MaxPngSide);
  KORVO_FUZZ_CHECK(image.height <= korvo::tool::MaxPngSide);
  KORVO_FUZZ_CHECK(image.rgba.size() == size_t{4} * image.width * image.height);
  return 0;
}
