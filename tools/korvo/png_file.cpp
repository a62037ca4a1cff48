#include "png_file.h"

#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "tool.h"

namespace korvo::tool {

namespace {

struct ContextDeleter {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

}  // namespace

bool ReadPng(const std::string& path, RgbaImage& image, std::string& cause) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, cause)) return false;
  Context context(spng_ctx_new(0));
  if (!context) {
    cause = "out of memory";
    return false;
  }
  spng_set_chunk_limits(context.get(), 64u << 20, 64u << 20);
  int error = spng_set_png_buffer(context.get(), bytes.data(), bytes.size());
  spng_ihdr header{};
  if (error == 0) error = spng_get_ihdr(context.get(), &header);
  if (error != 0) {
    cause = std::string("not a readable PNG: ") + spng_strerror(error);
    return false;
  }
  // The side limit is checked here rather than by the decoder, so that the message has numbers.
  for (const auto& [side, value] :
       {std::make_pair("width", header.width), std::make_pair("height", header.height)}) {
    if (value > MaxPngSide) {
      cause = std::string("image ") + side + " " + std::to_string(value) +
              " exceeds the limit of " + std::to_string(MaxPngSide) + " pixels";
      return false;
    }
  }
  size_t length = 0;
  error = spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &length);
  if (error != 0) {
    cause = std::string("not a readable PNG: ") + spng_strerror(error);
    return false;
  }
  // The pixels must come out of the file's compressed bytes, which inflate at most about
  // 1032:1: a header claiming more than that is refused before anything is allocated.
  const uint64_t channels = header.color_type == SPNG_COLOR_TYPE_TRUECOLOR         ? 3
                            : header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                            : header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ? 4
                                                                                   : 1;
  const uint64_t pixelBytes =
      (uint64_t{header.width} * header.height * channels * header.bit_depth + 7) / 8;
  if (pixelBytes > uint64_t{bytes.size()} * 1032 + 64) {
    cause = "not a readable PNG: its data cannot hold " + std::to_string(header.width) + "x" +
            std::to_string(header.height) + " pixels";
    return false;
  }
  image.width = header.width;
  image.height = header.height;
  image.rgba.assign(length, 0);
  error =
      spng_decode_image(context.get(), image.rgba.data(), length, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
  if (error != 0) {
    cause = std::string("cannot decode PNG: ") + spng_strerror(error);
    return false;
  }
  return true;
}

bool EncodePng(const RgbaImage& image, std::string& png, std::string& cause) {
  Context context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!context) {
    cause = "out of memory";
    return false;
  }
  spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header{};
  header.width = image.width;
  header.height = image.height;
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  int error = spng_set_ihdr(context.get(), &header);
  if (error == 0) {
    error = spng_encode_image(context.get(), image.rgba.data(), image.rgba.size(), SPNG_FMT_PNG,
                              SPNG_ENCODE_FINALIZE);
  }
  if (error != 0) {
    cause = std::string("cannot encode PNG: ") + spng_strerror(error);
    return false;
  }
  size_t length = 0;
  void* encoded = spng_get_png_buffer(context.get(), &length, &error);
  if (encoded == nullptr) {
    cause = std::string("cannot encode PNG: ") + spng_strerror(error);
    return false;
  }
  png.assign(static_cast<const char*>(encoded), length);
  std::free(encoded);
  return true;
}

bool WritePng(const std::string& path, const RgbaImage& image, std::string& cause) {
  std::string png;
  return EncodePng(image, png, cause) && WriteWholeFile(path, png.data(), png.size(), cause);
}

RgbaImage FrameToRgba(const ImgFrame* frame) {
  RgbaImage image;
  image.width = frame->width;
  image.height = frame->height;
  image.rgba.resize(static_cast<size_t>(frame->width) * frame->height * 4);
  const uint8_t* pixels = reinterpret_cast<const uint8_t*>(frame) + sizeof(ImgFrame);
  for (uint32_t y = 0; y < frame->height; ++y) {
    SwapRedBlue(pixels + static_cast<size_t>(y) * frame->stride,
                image.rgba.data() + static_cast<size_t>(y) * frame->width * 4, frame->width);
  }
  return image;
}

bool FrameSheet(const ImgFrame* const* frames, uint32_t count, RgbaImage& sheet,
                std::string& cause) {
  const ImgFrame* first = frames[0];
  uint64_t sheetWidth = static_cast<uint64_t>(first->width) * count;
  if (sheetWidth > 0x7FFFFFFFu) {
    cause = "sheet would be too wide for a PNG";
    return false;
  }
  sheet.width = static_cast<uint32_t>(sheetWidth);
  sheet.height = first->height;
  sheet.rgba.assign(static_cast<size_t>(sheetWidth) * first->height * 4, 0);
  for (uint32_t f = 0; f < count; ++f) {
    RgbaImage frame = FrameToRgba(frames[f]);
    for (uint32_t y = 0; y < frame.height; ++y) {
      std::memcpy(
          sheet.rgba.data() +
              (static_cast<size_t>(y) * sheet.width + static_cast<size_t>(f) * frame.width) * 4,
          frame.rgba.data() + static_cast<size_t>(y) * frame.width * 4,
          static_cast<size_t>(frame.width) * 4);
    }
  }
  return true;
}

void SwapRedBlue(const uint8_t* in, uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t r = in[4 * i];
    uint8_t g = in[4 * i + 1];
    uint8_t b = in[4 * i + 2];
    uint8_t a = in[4 * i + 3];
    out[4 * i] = b;
    out[4 * i + 1] = g;
    out[4 * i + 2] = r;
    out[4 * i + 3] = a;
  }
}

}  // namespace korvo::tool
