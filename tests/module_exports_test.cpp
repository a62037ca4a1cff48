// The shared library as a host sees it: loaded at run time, reached only through its exports.
// The image suite's host program drives LoadImgFile through it.
#include <gtest/gtest.h>

#include <string>

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
  for (const std::string& bad : {dir / "missing.pak", dir / "zero.pak", dir.Path()})
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
