// The operating-system layer, the same cases on every platform (POSIX natively, Windows under
// Wine): mapping, the lock between a mounted package and an archive open for editing,
// existence tests, listings, descriptor I/O, character steps and run-time library loading.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::pair<std::string, bool>> Listing(const std::vector<platform::DirItem>& items) {
  std::vector<std::pair<std::string, bool>> out;
  for (const platform::DirItem& item : items) out.emplace_back(item.name, item.isDirectory);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(PlatformMapping, MapsTheWholeFileReadOnly) {
  TempDir dir;
  const std::string path = dir / "a.pak";
  WriteFileText(path, "0123456789abcdef!");
  platform::FileMapping mapping;
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), mapping));
  ASSERT_NE(mapping.view, nullptr);
  EXPECT_EQ(mapping.size, 17u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapping.view), mapping.size),
            "0123456789abcdef!");
  platform::UnmapFile(mapping);
  EXPECT_EQ(mapping.view, nullptr);
  // Unmapping twice is harmless.
  platform::UnmapFile(mapping);
}

TEST(PlatformMapping, RefusesWhatCannotBeMapped) {
  TempDir dir;
  WriteFileBytes(dir / "empty.pak", Bytes());
  MakeDirectories(dir / "folder.pak");
  platform::FileMapping mapping;
  EXPECT_FALSE(platform::MapFileReadOnly(nullptr, mapping));
  EXPECT_FALSE(platform::MapFileReadOnly((dir / "missing.pak").c_str(), mapping));
  EXPECT_FALSE(platform::MapFileReadOnly((dir / "empty.pak").c_str(), mapping));
  EXPECT_FALSE(platform::MapFileReadOnly((dir / "folder.pak").c_str(), mapping));
  EXPECT_FALSE(platform::MapFileReadOnly(dir.Path().c_str(), mapping));
  EXPECT_EQ(mapping.view, nullptr);
}

TEST(PlatformMapping, SameFileNameInTwoDirectoriesMapsEachFile) {
  TempDir dir;
  MakeDirectories(dir / "one");
  MakeDirectories(dir / "two");
  WriteFileText(dir / "one/data.pak", "first");
  WriteFileText(dir / "two/data.pak", "second!");
  platform::FileMapping first;
  platform::FileMapping second;
  ASSERT_TRUE(platform::MapFileReadOnly((dir / "one/data.pak").c_str(), first));
  ASSERT_TRUE(platform::MapFileReadOnly((dir / "two/data.pak").c_str(), second));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.view), first.size), "first");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(second.view), second.size), "second!");
  platform::UnmapFile(first);
  platform::UnmapFile(second);
}

TEST(PlatformMapping, MountedFileIsReadableButNotEditable) {
  TempDir dir;
  const std::string path = dir / "a.pak";
  WriteFileText(path, "package bytes");
  platform::FileMapping mapping;
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), mapping));
  // A second reader is welcome, an editor is not.
  platform::FileMapping again;
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), again));
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
  EXPECT_EQ(ReadFileBytes(path), ToBytes("package bytes"));
  platform::UnmapFile(again);
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
  platform::UnmapFile(mapping);
  // Once no mapping is left, the archive can be edited.
  int fd = platform::OpenForEdit(path.c_str());
  ASSERT_NE(fd, platform::kNoFile);
  platform::CloseFd(fd);
}

TEST(PlatformMapping, FileOpenForEditingCannotBeMountedOrEditedTwice) {
  TempDir dir;
  const std::string path = dir / "a.pak";
  WriteFileText(path, "package bytes");
  int fd = platform::OpenForEdit(path.c_str());
  ASSERT_NE(fd, platform::kNoFile);
  platform::FileMapping mapping;
  EXPECT_FALSE(platform::MapFileReadOnly(path.c_str(), mapping));
  EXPECT_EQ(platform::OpenForEdit(path.c_str()), platform::kNoFile);
  platform::CloseFd(fd);
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), mapping));
  platform::UnmapFile(mapping);
}

TEST(PlatformFiles, ExistenceAndDirectoryTests) {
  TempDir dir;
  WriteFileText(dir / "file.txt", "x");
  MakeDirectories(dir / "sub");
  EXPECT_TRUE(platform::PathExists((dir / "file.txt").c_str()));
  EXPECT_TRUE(platform::PathExists((dir / "sub").c_str()));
  EXPECT_TRUE(platform::PathExists((dir / "sub/").c_str()));
  EXPECT_FALSE(platform::PathExists((dir / "file.txt/").c_str()));  // not a directory
  EXPECT_TRUE(platform::PathExists(dir.Path().c_str()));
  EXPECT_FALSE(platform::PathExists((dir / "missing").c_str()));
  EXPECT_FALSE(platform::PathExists((dir / "missing/file.txt").c_str()));
  EXPECT_FALSE(platform::PathExists(""));
  EXPECT_FALSE(platform::PathExists(nullptr));

  EXPECT_TRUE(platform::IsDirectory((dir / "sub").c_str()));
  EXPECT_FALSE(platform::IsDirectory((dir / "file.txt").c_str()));
  EXPECT_FALSE(platform::IsDirectory((dir / "missing").c_str()));
  EXPECT_FALSE(platform::IsDirectory(nullptr));
}

TEST(PlatformFiles, RemoveFileDeletesOnlyExistingFiles) {
  TempDir dir;
  WriteFileText(dir / "file.txt", "x");
  EXPECT_TRUE(platform::RemoveFile((dir / "file.txt").c_str()));
  EXPECT_FALSE(FileExists(dir / "file.txt"));
  EXPECT_FALSE(platform::RemoveFile((dir / "file.txt").c_str()));
  EXPECT_FALSE(platform::RemoveFile(nullptr));
}

TEST(PlatformFiles, ExecutablePathNamesTheTestProgram) {
  const std::string path = platform::ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(platform::PathExists(path.c_str()));
  EXPECT_FALSE(platform::IsDirectory(path.c_str()));
  const size_t cut = path.find_last_of(platform::kPathSeparator);
  ASSERT_NE(cut, std::string::npos) << path;
  EXPECT_EQ(path.substr(cut + 1, 11), "korvo_tests") << path;
}

TEST(PlatformFiles, IsTerminalIsFalseForFilesAndNull) {
  TempDir dir;
  std::FILE* file = std::fopen((dir / "out.txt").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(platform::IsTerminal(file));
  std::fclose(file);
  EXPECT_FALSE(platform::IsTerminal(nullptr));
}

TEST(PlatformListing, ListsFilesAndDirectoriesWithoutDotEntries) {
  TempDir dir;
  WriteFileText(dir / "b.txt", "b");
  WriteFileText(dir / "a.bin", "");
  MakeDirectories(dir / "sub/deeper");
  WriteFileText(dir / "sub/inner.txt", "i");
  std::vector<platform::DirItem> items;
  ASSERT_TRUE(platform::ListDirectory(dir.Path().c_str(), items));
  const std::vector<std::pair<std::string, bool>> expected = {
      {"a.bin", false}, {"b.txt", false}, {"sub", true}};
  EXPECT_EQ(Listing(items), expected);

  ASSERT_TRUE(platform::ListDirectory((dir / "sub").c_str(), items));
  const std::vector<std::pair<std::string, bool>> inner = {{"deeper", true}, {"inner.txt", false}};
  EXPECT_EQ(Listing(items), inner);

  // A trailing separator lists the same directory.
  ASSERT_TRUE(platform::ListDirectory((dir / "sub/").c_str(), items));
  EXPECT_EQ(Listing(items), inner);

  ASSERT_TRUE(platform::ListDirectory((dir / "sub/deeper").c_str(), items));
  EXPECT_TRUE(items.empty());
}

TEST(PlatformListing, FailsForMissingDirectoriesAndFiles) {
  TempDir dir;
  WriteFileText(dir / "file.txt", "x");
  std::vector<platform::DirItem> items = {{"stale", false}};
  EXPECT_FALSE(platform::ListDirectory((dir / "missing").c_str(), items));
  EXPECT_TRUE(items.empty());
  EXPECT_FALSE(platform::ListDirectory((dir / "file.txt").c_str(), items));
  EXPECT_FALSE(platform::ListDirectory(nullptr, items));
}

TEST(PlatformListing, LeavesOutLinksToDirectoriesAndListsLinksToFiles) {
  // A link to a directory may lead back up the tree, so a walk never descends it.
#ifdef KORVO_TEST_LINK_FIXTURE
  // Windows under Wine: a ready tree from the build (real/, real/file.txt, loop -> real,
  // file-link -> real/file.txt).
  const std::string root = KORVO_TEST_LINK_FIXTURE;
#else
  TempDir dir;
  MakeDirectories(dir / "real");
  WriteFileText(dir / "real/file.txt", "x");
  fs::create_directory_symlink("real", dir / "loop");
  fs::create_symlink("real/file.txt", dir / "file-link");
  const std::string root = dir.Path();
#endif
  ASSERT_TRUE(platform::PathExists((root + "/loop").c_str()));
  std::vector<platform::DirItem> items;
  ASSERT_TRUE(platform::ListDirectory(root.c_str(), items));
  const std::vector<std::pair<std::string, bool>> expected = {{"file-link", false}, {"real", true}};
  EXPECT_EQ(Listing(items), expected);
}

TEST(PlatformDescriptors, ReadWriteSeekTruncateAndCommit) {
  TempDir dir;
  const std::string path = dir / "edit.bin";
  WriteFileText(path, "0123456789");
  int fd = platform::OpenForEdit(path.c_str());
  ASSERT_NE(fd, platform::kNoFile);
  EXPECT_EQ(platform::FileLengthFd(fd), 10);

  char buffer[16] = {};
  EXPECT_EQ(platform::ReadFd(fd, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(platform::SeekFd(fd, 0, 1), 4);
  EXPECT_EQ(platform::SeekFd(fd, -3, 2), 7);
  EXPECT_EQ(platform::ReadFd(fd, buffer, 16), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(platform::ReadFd(fd, buffer, 16), 0);

  // Writing past the end grows the file; binary bytes pass unchanged (no newline translation).
  EXPECT_EQ(platform::SeekFd(fd, 8, 0), 8);
  const char bytes[] = {'A', '\n', '\r', 0x1A, 'Z'};
  EXPECT_EQ(platform::WriteFd(fd, bytes, sizeof(bytes)), 5);
  EXPECT_EQ(platform::FileLengthFd(fd), 13);
  EXPECT_TRUE(platform::CommitFd(fd));

  EXPECT_TRUE(platform::TruncateFd(fd, 11));
  EXPECT_EQ(platform::FileLengthFd(fd), 11);
  EXPECT_FALSE(platform::TruncateFd(fd, -1));
  platform::CloseFd(fd);

  Bytes expected = ToBytes("01234567A\n\r");
  EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(PlatformDescriptors, OpenNeitherCreatesNorTruncates) {
  TempDir dir;
  EXPECT_EQ(platform::OpenForEdit((dir / "missing.pak").c_str()), platform::kNoFile);
  EXPECT_FALSE(FileExists(dir / "missing.pak"));
  EXPECT_EQ(platform::OpenForEdit(dir.Path().c_str()), platform::kNoFile);
  EXPECT_EQ(platform::OpenForEdit(nullptr), platform::kNoFile);

  WriteFileText(dir / "keep.pak", "keep");
  int fd = platform::OpenForEdit((dir / "keep.pak").c_str());
  ASSERT_NE(fd, platform::kNoFile);
  platform::CloseFd(fd);
  EXPECT_EQ(ReadFileBytes(dir / "keep.pak"), ToBytes("keep"));
  platform::CloseFd(platform::kNoFile);  // harmless
}

TEST(PlatformText, CharacterStepsStopAtBothEnds) {
  const char text[] = "ab";
  EXPECT_EQ(platform::CharNext(text), text + 1);
  EXPECT_EQ(platform::CharNext(text + 1), text + 2);
  EXPECT_EQ(platform::CharNext(text + 2), text + 2);  // no move at the terminator
  EXPECT_EQ(platform::CharPrev(text, text + 2), text + 1);
  EXPECT_EQ(platform::CharPrev(text, text + 1), text);
  EXPECT_EQ(platform::CharPrev(text, text), text);  // no move before the start
  EXPECT_EQ(platform::CharNext(nullptr), nullptr);
}

TEST(PlatformLibrary, LoadsTheModuleAndFindsItsExports) {
  void* library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
  ASSERT_NE(library, nullptr) << KORVO_LIBRARY_PATH;
  for (const char* name : {"AddPackage", "LoadImgFile", "SaveImgFile", "FreeImgFile"}) {
    EXPECT_NE(platform::LibrarySymbol(library, name), nullptr) << name;
  }
  // Internal names stay hidden.
  EXPECT_EQ(platform::LibrarySymbol(library, "GetPackageManager"), nullptr);
  EXPECT_EQ(platform::LibrarySymbol(library, "NoSuchExport"), nullptr);
  EXPECT_EQ(platform::LibrarySymbol(nullptr, "AddPackage"), nullptr);
  platform::CloseLibrary(library);
}

TEST(PlatformLibrary, MissingLibraryGivesNull) {
  TempDir dir;
  EXPECT_EQ(platform::OpenLibrary((dir / "missing.dll").c_str()), nullptr);
  platform::CloseLibrary(nullptr);  // harmless
}
