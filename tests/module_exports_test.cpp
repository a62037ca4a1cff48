// The shared library as a host sees it: loaded at run time, reached only through its exports.
#include <gtest/gtest.h>

#include <string>

#include "KorvoLoader.h"
#include "manager/package_manager.h"
#include "platform/platform.h"
#include "support/read_path.h"

namespace {

using AddPackageFn = bool (*)(const char*);
using LoadImgFileFn = bool (*)(const char*, uint32_t*, uint32_t**, ImgFrame***);
using SaveImgFileFn = bool (*)(const char*, uint32_t, const uint32_t*, ImgFrame* const*);

// Loads the built library for one test and unloads it afterwards.
class ModuleExports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_packageManager, nullptr);
    library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
    ASSERT_NE(library, nullptr) << KORVO_LIBRARY_PATH;
    addPackage = reinterpret_cast<AddPackageFn>(platform::LibrarySymbol(library, "AddPackage"));
    loadImgFile = reinterpret_cast<LoadImgFileFn>(platform::LibrarySymbol(library, "LoadImgFile"));
    saveImgFile = reinterpret_cast<SaveImgFileFn>(platform::LibrarySymbol(library, "SaveImgFile"));
    ASSERT_NE(addPackage, nullptr);
    ASSERT_NE(loadImgFile, nullptr);
    ASSERT_NE(saveImgFile, nullptr);
  }
  void TearDown() override {
    Unload();
    // The library keeps its own manager: this process's one was never created.
    EXPECT_EQ(g_packageManager, nullptr);
  }
  void Unload() {
    if (library != nullptr) platform::CloseLibrary(library);
    library = nullptr;
  }

  void* library = nullptr;
  AddPackageFn addPackage = nullptr;
  LoadImgFileFn loadImgFile = nullptr;
  SaveImgFileFn saveImgFile = nullptr;
};

}  // namespace

TEST_F(ModuleExports, OnlyTheExportsAreVisible) {
  EXPECT_EQ(platform::LibrarySymbol(library, "GetPackageManager"), nullptr);
  EXPECT_EQ(platform::LibrarySymbol(library, "g_packageManager"), nullptr);
  EXPECT_EQ(platform::LibrarySymbol(library, "NormalizeName"), nullptr);
}

TEST_F(ModuleExports, AddPackageMountsARealArchive) {
  TempDir dir;
  std::string path = WriteArchive(dir / "host.pak", {TextEntry("Data/Hero.img", "x")});
  std::string empty = WriteArchive(dir / "empty.pak", {});
  EXPECT_TRUE(addPackage(path.c_str()));
  EXPECT_TRUE(addPackage(empty.c_str()));
  EXPECT_TRUE(addPackage(path.c_str()));  // again: a second mount
  EXPECT_EQ(g_packageManager, nullptr);   // not this process's manager
}

TEST_F(ModuleExports, AddPackageFailsForWhatCannotBeMounted) {
  TempDir dir;
  WriteFileBytes(dir / "zero.pak", {});
  EXPECT_FALSE(addPackage((dir / "missing.pak").c_str()));
  EXPECT_FALSE(addPackage((dir / "zero.pak").c_str()));
  EXPECT_FALSE(addPackage(dir.Path().c_str()));
  EXPECT_FALSE(addPackage(nullptr));
}

TEST_F(ModuleExports, LoadImgFileOfAMissingNameFails) {
  TempDir dir;
  uint32_t frameCount = 0;
  uint32_t* frameValues = nullptr;
  ImgFrame** frames = nullptr;
  EXPECT_FALSE(
      loadImgFile((dir / "no/such/image.img").c_str(), &frameCount, &frameValues, &frames));
  EXPECT_EQ(frameCount, 0u);
  EXPECT_EQ(frameValues, nullptr);
  EXPECT_EQ(frames, nullptr);
}

TEST_F(ModuleExports, SaveImgFileAlwaysFails) {
  EXPECT_FALSE(saveImgFile(nullptr, 0, nullptr, nullptr));
  EXPECT_FALSE(saveImgFile("anything.img", 3, nullptr, nullptr));
}

TEST_F(ModuleExports, UnloadingTearsTheManagerDownAndReleasesThePackages) {
  TempDir dir;
  std::string path = WriteArchive(dir / "held.pak", {TextEntry("a", "abc")});
  ASSERT_TRUE(addPackage(path.c_str()));
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
  Unload();
  int fd = platform::OpenForEdit(path.c_str());
  EXPECT_NE(fd, platform::kNoFile);
  platform::CloseFd(fd);
}

TEST_F(ModuleExports, ReloadingStartsWithAFreshManager) {
  TempDir dir;
  std::string path = WriteArchive(dir / "again.pak", {TextEntry("a", "abc")});
  ASSERT_TRUE(addPackage(path.c_str()));
  Unload();
  library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
  ASSERT_NE(library, nullptr);
  addPackage = reinterpret_cast<AddPackageFn>(platform::LibrarySymbol(library, "AddPackage"));
  ASSERT_NE(addPackage, nullptr);
  int fd = platform::OpenForEdit(path.c_str());  // nothing holds it after the reload
  EXPECT_NE(fd, platform::kNoFile);
  platform::CloseFd(fd);
  EXPECT_TRUE(addPackage(path.c_str()));
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
}
