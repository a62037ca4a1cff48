// LoadImgFile through the real shared library: from a host program that lives in a directory
// of its own beside a package.cfg, and loaded into this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "KorvoLoader.h"
#include "platform/platform.h"
#include "support/image_bytes.h"

namespace fs = std::filesystem;

namespace {

uint32_t HeroPixel(int32_t frame, int32_t x, int32_t y) {
  return 0x11000000u * static_cast<uint32_t>(frame + 1) + 0x100u * static_cast<uint32_t>(y) +
         static_cast<uint32_t>(x);
}

uint32_t ButtonPixel(int32_t, int32_t x, int32_t y) {
  return static_cast<uint32_t>(0x1234 + x + 16 * y);
}

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

#ifdef _WIN32
const char* kExecutableSuffix = ".exe";
#else
const char* kExecutableSuffix = "";
#endif

}  // namespace

TEST(ImageHost, AHostBesideItsPackageListLoadsFromPackagesAndDisk) {
  TempDir dir;
  const std::string bin = dir / "bin";
  MakeDirectories(bin);
  const std::string host = bin + "/image_host" + kExecutableSuffix;
  fs::copy_file(std::string(KORVO_TEST_PROGRAM_DIR) + "/image_host" + kExecutableSuffix, host);
  fs::permissions(host, fs::perms::owner_all, fs::perm_options::add);
  ASSERT_FALSE(fs::equivalent(fs::path(KORVO_LIBRARY_PATH).parent_path(), bin));

  // The list names a missing package and the one that holds the images.
  WriteFileText(bin + "/package.cfg", "missing.pak\nimages.pak\n");
  WriteFileBytes(bin + "/images.pak",
                 PackageOf({{"Sprites\\Hero.img", GridImage(3, 2, 2, 4, 2, 2, HeroPixel)},
                            {"ui/Button.img", GridImage(1, 4, 4, 8, 4, 1, ButtonPixel)}}));
  const std::string disk = dir / "disk.img";
  WriteFileBytes(
      disk, GridImage(3, 1, 1, 1, 1, 1, [](int32_t, int32_t, int32_t) { return 0xCAFEF00Du; }));

  const std::string output = dir / "output.txt";
  std::string command = Quote(host) + " " + Quote(KORVO_LIBRARY_PATH) + " sprites/HERO.img " +
                        Quote("UI\\button.IMG") + " " + Quote(disk) + " missing.img > " +
                        Quote(output);
#ifdef _WIN32
  command = "\"" + command + "\"";
#endif
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  const Bytes bytes = ReadFileBytes(output);
  std::string text(bytes.begin(), bytes.end());
  // Text-mode output on Windows ends lines with CR LF.
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ(text,
            "sprites/HERO.img: 2 frames"
            " [4x2 stride 16 format 3 value 100 first 11000000 last 11000103]"
            " [4x2 stride 16 format 3 value 100 first 22000000 last 22000103]\n"
            "UI\\button.IMG: 1 frames [8x4 stride 32 format 3 value 0 first 10203040 last "
            "102060b0]\n" +
                disk + ": 1 frames [1x1 stride 4 format 3 value 0 first cafef00d last cafef00d]\n" +
                "missing.img: failed\n"
                "SaveImgFile: 0\n");
}

TEST(ImageHost, TheExportsLoadedIntoThisProcessFollowTheContract) {
  void* library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
  ASSERT_NE(library, nullptr);
  using AddPackageFunction = bool (*)(const char*);
  using LoadFunction = bool (*)(const char*, uint32_t*, uint32_t**, ImgFrame***);
  using SaveFunction = bool (*)(const char*, uint32_t, const uint32_t*, ImgFrame* const*);
  using FreeFunction = void (*)(uint32_t, uint32_t*, ImgFrame**);
  auto addPackage =
      reinterpret_cast<AddPackageFunction>(platform::LibrarySymbol(library, "AddPackage"));
  auto load = reinterpret_cast<LoadFunction>(platform::LibrarySymbol(library, "LoadImgFile"));
  auto save = reinterpret_cast<SaveFunction>(platform::LibrarySymbol(library, "SaveImgFile"));
  auto release = reinterpret_cast<FreeFunction>(platform::LibrarySymbol(library, "FreeImgFile"));
  ASSERT_TRUE(addPackage && load && save && release);

  TempDir dir;
  Bytes bad = GridImage(3, 2, 2, 2, 2, 1, HeroPixel);
  bad[0] = 'k';
  WriteFileBytes(dir / "p.pak", PackageOf({{"hero.img", GridImage(3, 2, 2, 4, 2, 2, HeroPixel)},
                                           {"bad.img", bad}}));
  ASSERT_TRUE(addPackage((dir / "p.pak").c_str()));

  uint32_t count = 7;
  uint32_t* values = nullptr;
  ImgFrame** frames = nullptr;
  ASSERT_TRUE(load("HERO.IMG", &count, &values, &frames));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(values[0], 100u);
  EXPECT_EQ(values[1], 100u);
  EXPECT_EQ(FramePixel(frames[1], 3, 1), HeroPixel(1, 3, 1));
  release(count, values, frames);

  // A failed load leaves the caller's variables alone, again and again.
  for (int i = 0; i < 12; ++i) {
    uint32_t c = 7;
    uint32_t* v = nullptr;
    ImgFrame** fr = nullptr;
    EXPECT_FALSE(load("bad.img", &c, &v, &fr));
    EXPECT_EQ(c, 7u);
    EXPECT_EQ(fr, nullptr);
  }
  ASSERT_TRUE(load("hero.img", &count, &values, &frames));
  release(count, values, frames);
  EXPECT_FALSE(save("hero.img", 0, nullptr, nullptr));
  platform::CloseLibrary(library);
}
