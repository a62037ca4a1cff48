// korvo png2img <frame.png>... -o <out.img> [--tile WxH] [--format 1|3]: builds a tiled image
// file from one PNG per frame.
#include <algorithm>
#include <cstdio>

#include "image/img_writer.h"
#include "png_file.h"
#include "tool.h"

namespace korvo::tool {

namespace {

struct Png2ImgOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::string tile;
  int format = 3;
};

// "WxH" with both sides from 1 to 2048.
bool ParseTile(const std::string& text, int32_t& width, int32_t& height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  std::string w = text.substr(0, x);
  std::string h = text.substr(x + 1);
  if (w.find_first_not_of("0123456789") != std::string::npos ||
      h.find_first_not_of("0123456789") != std::string::npos || w.size() > 4 || h.size() > 4) {
    return false;
  }
  width = std::stoi(w);
  height = std::stoi(h);
  return width >= 1 && width <= 2048 && height >= 1 && height <= 2048;
}

// Rounds each component to the nearest value the loader gives back for 4 bits (c << 4), so
// that the writer's cut to the top four bits keeps that nearest value.
void RoundToFourBits(std::vector<uint8_t>& bytes) {
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(std::min(15, (byte + 8) >> 4) << 4);
}

int RunPng2Img(const Png2ImgOptions& options, const GlobalOptions& global) {
  ImgWriteOptions writeOptions;
  writeOptions.format = options.format;
  if (!options.tile.empty())
    ParseTile(options.tile, writeOptions.tileWidth, writeOptions.tileHeight);

  std::vector<RgbaImage> images(options.inputs.size());
  std::string cause;
  for (size_t i = 0; i < options.inputs.size(); ++i) {
    if (!ReadPng(options.inputs[i], images[i], cause)) return Fail(options.inputs[i], cause);
    if (i > 0 && (images[i].width != images[0].width || images[i].height != images[0].height)) {
      return Fail(options.inputs[i],
                  std::to_string(images[i].width) + "x" + std::to_string(images[i].height) +
                      " differs from the first frame's " + std::to_string(images[0].width) + "x" +
                      std::to_string(images[0].height) + "; every frame must be the same size");
    }
    SwapRedBlue(images[i].rgba.data(), images[i].rgba.data(), images[i].rgba.size() / 4);
    if (options.format == 1) RoundToFourBits(images[i].rgba);
  }
  std::vector<const uint8_t*> frames;
  for (const RgbaImage& image : images) frames.push_back(image.rgba.data());

  std::vector<uint8_t> encoded;
  const Status encodedStatus =
      EncodeImage(frames, static_cast<int32_t>(images[0].width),
                  static_cast<int32_t>(images[0].height), writeOptions, encoded);
  if (!encodedStatus.ok()) {
    std::string error = encodedStatus.detail();
    // A requested tile size that cannot cover the frames: name one that --tile accepts and
    // that can.
    int32_t width = 0;
    int32_t height = 0;
    ChooseTileSize(static_cast<int32_t>(images[0].width), static_cast<int32_t>(images[0].height),
                   writeOptions, width, height);
    if (!options.tile.empty() &&
        (width != writeOptions.tileWidth || height != writeOptions.tileHeight)) {
      error += "; use --tile " + std::to_string(width) + "x" + std::to_string(height);
    }
    return Fail(options.output, "cannot build the image: " + error);
  }
  if (!WriteWholeFile(options.output, encoded.data(), encoded.size(), cause)) {
    return Fail(options.output, cause);
  }
  if (!global.quiet) {
    std::printf("wrote %s: %zu frame%s of %ux%u, format %d, %zu bytes\n", options.output.c_str(),
                images.size(), images.size() == 1 ? "" : "s", images[0].width, images[0].height,
                options.format, encoded.size());
  }
  return ExitOk;
}

}  // namespace

Command AddPng2ImgCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<Png2ImgOptions> png2img(
      parent, "png2img",
      "Build a tiled image file from one PNG per frame (all the same size). Format 3 keeps "
      "pixels exactly. Format 1 stores 4 bits a component, which the loader expands to c << 4 "
      "(0, 16, ..., 240): each component is rounded to the nearest of those values, so 255, "
      "full alpha included, reads back as 240, and any value is off by at most 8 (up to 15 for "
      "249 and above).");
  Png2ImgOptions& options = *png2img.options;
  CLI::App* app = png2img.app;
  app->add_option("frame.png", options.inputs, "One PNG per frame, in frame order")
      ->required()
      ->expected(1, -1);
  app->add_option("-o,--output", options.output, "Image file to write")->required();
  app->add_option("--tile", options.tile, "Tile size WxH, each 1 to 2048 (default: chosen)")
      ->check([](const std::string& text) {
        int32_t w = 0;
        int32_t h = 0;
        return ParseTile(text, w, h) ? std::string()
                                     : std::string("tile size must be WxH with sides 1 to 2048");
      });
  app->add_option("--format", options.format, "Pixel format: 1 (16-bit) or 3 (32-bit)")
      ->check(CLI::IsMember({1, 3}));
  SetExample(*png2img.app, "korvo png2img walk-0.png walk-1.png -o walk.img --format 1");
  return png2img.Build(global, RunPng2Img);
}

}  // namespace korvo::tool
