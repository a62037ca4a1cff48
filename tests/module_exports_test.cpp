// The shared library as a host sees it: loaded at run time, reached only through its exports.
// The image suite's host program drives LoadImgFile through it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "KorvoLoader.h"
#include "platform/shared_library.h"
#include "support/read_path.h"

using namespace korvo;

namespace {

// Loads the built library for one test and unloads it afterwards. The library keeps its own
// manager: this process's one is never created.
class ModuleExports : public NoManagerTest {
 protected:
  void SetUp() override {
    NoManagerTest::SetUp();
    Load();
  }
  void TearDown() override {
    platform::CloseLibrary(library);
    NoManagerTest::TearDown();
  }
  void Load() {
    library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
    ASSERT_NE(library, nullptr) << KORVO_LIBRARY_PATH;
    addPackage = reinterpret_cast<decltype(&AddPackage)>(Symbol("AddPackage"));
    ASSERT_NE(addPackage, nullptr);
  }
  void* Symbol(const char* name) { return platform::LibrarySymbol(library, name); }

  void* library = nullptr;
  decltype(&AddPackage) addPackage = nullptr;
};

}  // namespace

TEST_F(ModuleExports, OnlyTheExportsAreVisibleAndAddPackageMountsWhatCanBeMapped) {
  for (const char* name : {"AddPackage", "LoadImgFile", "SaveImgFile", "FreeImgFile"})
    EXPECT_NE(Symbol(name), nullptr) << name;
  for (const char* name : {"GetPackageManager", "g_packageManager", "NormalizeName", "NoSuch"})
    EXPECT_EQ(Symbol(name), nullptr) << name;
  EXPECT_EQ(platform::LibrarySymbol(nullptr, "AddPackage"), nullptr);
  EXPECT_EQ(platform::OpenLibrary((dir / "missing.dll").c_str()), nullptr);
  auto save = reinterpret_cast<decltype(&SaveImgFile)>(Symbol("SaveImgFile"));
  ASSERT_NE(save, nullptr);
  EXPECT_FALSE(save("any.img", 3, nullptr, nullptr));  // saving: not supported
  std::string path = WriteArchive(dir / "host.pak", {TextEntry("Data/Hero.img", "x")});
  WriteFileBytes(dir / "zero.pak", {});
  for (const std::string& good : {path, WriteArchive(dir / "empty.pak", {}), path})
    EXPECT_TRUE(addPackage(good.c_str())) << good;
  // Files that are no archives: a ZIP, a PNG, random bytes. The tag is never looked at; the
  // index offset of each lies outside the file.
  Bytes zip = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0, 0, 0x60, 0x21, 0x5A};
  for (int i = 0; i < 3; ++i) PutU32(zip, 0x1234 + i);
  PutU16(zip, 5);
  PutU16(zip, 0);
  PutText(zip, "a.txt");
  zip.resize(200, 0x4B);
  WriteFileBytes(dir / "not.zip", zip);
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  png.resize(300, 0x11);
  WriteFileBytes(dir / "not.png", png);
  std::mt19937 random(19);
  Bytes noise(4096);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
  WriteFileBytes(dir / "noise.bin", noise);
  for (const std::string& bad : {dir / "missing.pak", dir / "zero.pak", dir.Path(), dir / "not.zip",
                                 dir / "not.png", dir / "noise.bin"})
    EXPECT_FALSE(addPackage(bad.c_str())) << bad;
  EXPECT_FALSE(addPackage(nullptr));
}

// Unloading tears the library's manager down and releases its packages; a reload starts with
// a fresh manager that holds nothing.
TEST_F(ModuleExports, UnloadingReleasesThePackagesAndReloadingStartsAfresh) {
  std::string path = WriteArchive(dir / "held.pak", {TextEntry("a", "abc")});
  ASSERT_TRUE(addPackage(path.c_str()));
  EXPECT_FALSE(Editable(path));
  platform::CloseLibrary(library);
  library = nullptr;
  EXPECT_TRUE(Editable(path));
  Load();
  EXPECT_TRUE(Editable(path));
  ASSERT_TRUE(addPackage(path.c_str()));
  EXPECT_FALSE(Editable(path));
}

// EnumResSources names every mounted package that holds a name, in mount order, with that
// package's stored name and sizes, and marks the one a load takes it from.
TEST_F(ModuleExports, EnumResSourcesListsEveryHolderInMountOrderAndMarksTheWinner) {
  auto sources = reinterpret_cast<decltype(&EnumResSources)>(Symbol("EnumResSources"));
  ASSERT_NE(sources, nullptr);
  const std::string base = WriteArchive(
      dir / "base.pak", {TextEntry("Data/Hero.img", "one"), TextEntry("data/hero.IMG", "two!")});
  const std::string other = WriteArchive(dir / "other.pak", {TextEntry("ui/x", "x")});
  const std::string mod = WriteArchive(dir / "mod.pak", {TextEntry("DATA\\HERO.img", "three")});
  for (const std::string& path : {base, other, mod}) ASSERT_TRUE(addPackage(path.c_str()));
  std::vector<std::string> seen;
  auto record = [](const char* path, const char* name, uint32_t length, uint32_t size, uint32_t,
                   bool winner, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(
        std::string(path) + "|" + std::string(name, length) + "|" + std::to_string(size) +
        (winner ? "|wins" : ""));
    return true;
  };
  EXPECT_EQ(sources("data/HERO.img", record, &seen), 2u);
  EXPECT_EQ(seen,
            (std::vector<std::string>{base + "|data/hero.IMG|4", mod + "|DATA\\HERO.img|5|wins"}));
  seen.clear();
  EXPECT_EQ(sources("data/none", record, &seen), 0u);
  EXPECT_EQ(
      sources(
          "data/hero.img",
          [](const char*, const char*, uint32_t, uint32_t, uint32_t, bool, void*) { return false; },
          nullptr),
      1u);
  // The callback may mount: the enumeration holds no lock while it runs.
  struct Mounting {
    decltype(&AddPackage) add;
    std::string path;
    bool mounted = false;
  } mounting{addPackage, other};
  auto mount = [](const char*, const char*, uint32_t, uint32_t, uint32_t, bool, void* context) {
    auto* state = static_cast<Mounting*>(context);
    state->mounted = state->add(state->path.c_str());
    return true;
  };
  EXPECT_EQ(sources("data/hero.img", mount, &mounting), 2u);
  EXPECT_TRUE(mounting.mounted);
  EXPECT_EQ(sources(nullptr, record, &seen), 0u);
  EXPECT_EQ(sources("data/hero.img", nullptr, nullptr), 0u);
  EXPECT_TRUE(seen.empty());
}
