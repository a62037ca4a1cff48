// korvo img2png <image> -o <out.png> [--package <archive>] [--sheet]: decodes a tiled image
// through the same loader as LoadImgFile and writes its frames as PNG.
#include <cstdio>
#include <filesystem>

#include "archive_file.h"
#include "image/img_loader.h"
#include "manager/package_manager.h"
#include "png_file.h"
#include "tool.h"

namespace korvo::tool {

namespace {

namespace fs = std::filesystem;

struct Img2PngOptions {
  std::string image;
  std::string output;
  std::string package;
  bool sheet = false;
};

// Frames handed over by the loader, freed on every path.
struct LoadedFrames {
  uint32_t count = 0;
  uint32_t* values = nullptr;
  ImgFrame** frames = nullptr;
  ~LoadedFrames() {
    if (frames != nullptr || values != nullptr) FreeImageFrames(count, values, frames);
  }
};

// out.png with frame number n: out-n.png.
std::string NumberedPath(const std::string& output, uint32_t n) {
  fs::path path(output);
  fs::path extension = path.extension();
  path.replace_extension();
  return path.string() + "-" + std::to_string(n) + extension.string();
}

int RunImg2Png(const Img2PngOptions& options, const GlobalOptions& global) {
  std::string cause;
  std::string subject = options.image;
  if (!options.package.empty()) {
    subject = EntrySubject(options.package, options.image);
    ArchiveFile archive;
    if (!OpenArchive(archive, options.package)) return ExitFailure;
    // The entry the manager will load: the last of those that match.
    std::vector<int> matches = archive.FindAll(options.image);
    if (matches.empty()) return Fail(options.package, NoEntryNamed(options.image));
    // The entry must inflate before its bytes can be an image: say so when they do not.
    const PackageEntry& entry = archive.Entries()[static_cast<size_t>(matches.back())];
    std::vector<uint8_t> data;
    const Status read = archive.ReadEntry(entry, data);
    if (!read.ok()) {
      return Fail(EntrySubject(options.package, entry.name), read.detail());
    }
  } else {
    std::string data;
    if (!ReadWholeFile(options.image, data, cause)) return Fail(options.image, cause);
  }

  // An empty manager, as a host sees it: the one package (if any) mounted, disk files after.
  CPackageManager manager(nullptr, 0);
  if (!options.package.empty() && !manager.MountPackage(options.package.c_str())) {
    return Fail(options.package, "cannot mount the archive");
  }
  manager.FillStreamPools();

  LoadedFrames loaded;
  const Status status = LoadImageFrames(manager, options.image.c_str(), &loaded.count,
                                        &loaded.values, &loaded.frames);
  if (!status.ok()) {
    loaded.count = 0;
    loaded.values = nullptr;
    loaded.frames = nullptr;
    return Fail(subject, status.detail().empty() ? StatusCodeText(status.code()) : status.detail());
  }
  if (loaded.count <= 1) loaded.values = nullptr;  // written only for several frames
  if (loaded.count == 0) return Fail(subject, "image has no frames; nothing written");
  const ImgFrame* first = loaded.frames[0];
  if (first->width == 0 || first->height == 0) {
    return Fail(subject, "frames are " + std::to_string(first->width) + "x" +
                             std::to_string(first->height) + " pixels; a PNG cannot be empty");
  }

  if (options.sheet || loaded.count == 1) {
    RgbaImage sheet;
    if (!FrameSheet(loaded.frames, loaded.count, sheet, cause)) return Fail(subject, cause);
    if (!WritePng(options.output, sheet, cause)) return Fail(options.output, cause);
    if (!global.quiet) {
      std::printf("wrote %s: %u frame%s of %ux%u\n", options.output.c_str(), loaded.count,
                  loaded.count == 1 ? "" : "s side by side", first->width, first->height);
    }
    return ExitOk;
  }

  for (uint32_t f = 0; f < loaded.count; ++f) {
    std::string path = NumberedPath(options.output, f);
    if (!WritePng(path, FrameToRgba(loaded.frames[f]), cause)) return Fail(path, cause);
    if (!global.quiet) {
      std::printf("wrote %s: frame %u of %u, %ux%u\n", path.c_str(), f, loaded.count, first->width,
                  first->height);
    }
  }
  return ExitOk;
}

}  // namespace

Command AddImg2PngCommand(CLI::App& parent, const GlobalOptions& global) {
  Subcommand<Img2PngOptions> img2png(
      parent, "img2png",
      "Decode a tiled image (a disk file, or an entry with --package) through the library's "
      "loader and write it as PNG: one file per frame (out-0.png, out-1.png, ... when there "
      "are several), or all frames side by side with --sheet.");
  Img2PngOptions& options = *img2png.options;
  img2png.app->add_option("image", options.image, "Image file, or entry name with --package")
      ->required();
  img2png.app->add_option("-o,--output", options.output, "PNG file to write")->required();
  img2png.app->add_option("--package", options.package, "Read the image from this archive");
  img2png.app->add_flag("--sheet", options.sheet, "All frames side by side in one PNG");
  SetExample(*img2png.app,
             "korvo img2png anim.img -o anim.png --sheet\n"
             "korvo img2png data/ui/button.img --package game.pak -o button.png");
  return img2png.Build(global, RunImg2Png);
}

}  // namespace korvo::tool
