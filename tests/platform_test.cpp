// The operating-system layer, the same on every platform (POSIX natively, Windows under Wine):
// mappings and their lock against editing, existence tests and listings. Library loading is in
// module_exports_test; the authoring suites check in-place descriptor I/O byte for byte.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/terminal.h"
#include "platform/watch.h"
#include "support/read_path.h"

using namespace korvo;

// Each mapping reads its own file, also when two paths end in the same file name. Readers
// share a file; an editor excludes readers and other editors, and readers exclude it.
TEST(PlatformMapping, MapsWholeFilesReadOnlyAndLocksThemAgainstEditing) {
  TempDir dir;
  const std::string path = dir / "one/data.pak", other = dir / "two/data.pak";
  MakeDirectories(dir / "one");
  MakeDirectories(dir / "two");
  WriteFileText(path, "0123456789abcdef!");
  WriteFileText(other, "second");
  platform::Mapping first, second, again;
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), first).ok());
  ASSERT_TRUE(platform::MapFileReadOnly(other.c_str(), second).ok());
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), again).ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.View()), first.Size()) +
                std::string(reinterpret_cast<const char*>(second.View()), second.Size()),
            "0123456789abcdef!second");
  EXPECT_FALSE(Editable(path));
  EXPECT_EQ(ReadFileBytes(path), ToBytes("0123456789abcdef!"));
  again.Reset();
  EXPECT_FALSE(Editable(path));
  {
    platform::Mapping moved(std::move(first));
    EXPECT_FALSE(first.IsMapped());
    EXPECT_FALSE(Editable(path));
  }  // the moved-to mapping unmaps here
  second.Reset();
  second.Reset();  // harmless
  {
    platform::File file;
    ASSERT_TRUE(platform::OpenForEdit(path.c_str(), file).ok());
    EXPECT_EQ(platform::MapFileReadOnly(path.c_str(), first).code(), StatusCode::Locked);
    EXPECT_FALSE(Editable(path));
  }  // the file closes here
  EXPECT_TRUE(Editable(path));

  WriteFileBytes(dir / "empty.pak", Bytes());
  // Path, then the cause of the refusal in a code and in words.
  const std::tuple<std::string, StatusCode, std::string> refused[] = {
      {dir / "missing.pak", StatusCode::NotFound, "no such file"},
      {dir / "empty.pak", StatusCode::Corrupt, "empty file"},
      {dir / "one", StatusCode::InvalidArgument, "is a directory"},
      {dir.Path(), StatusCode::InvalidArgument, "is a directory"}};
  for (const auto& [bad, code, cause] : refused) {
    Status status = platform::MapFileReadOnly(bad.c_str(), first);
    EXPECT_EQ(status.code(), code) << bad;
    EXPECT_EQ(status.file(), bad);
    EXPECT_EQ(status.Cause(), cause) << bad;
  }
  EXPECT_EQ(platform::MapFileReadOnly(nullptr, first).code(), StatusCode::InvalidArgument);
  EXPECT_EQ(first.View(), nullptr);
}

// A read hint never reaches outside the view, whatever range it names.
TEST(PlatformMapping, ReadHintsAreClippedToTheView) {
  TempDir dir;
  const std::string path = dir / "hint.pak";
  WriteFileText(path, std::string(10000, 'h'));
  platform::Mapping mapping;
  ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), mapping).ok());
  EXPECT_EQ(mapping.WillRead(0, 10000), 10000u);
  EXPECT_EQ(mapping.WillRead(0, 10001), 10000u);
  EXPECT_EQ(mapping.WillRead(9999, UINT32_MAX), 1u);  // offset + length wraps in 32 bits
  EXPECT_EQ(mapping.WillRead(10000, 1), 0u);
  EXPECT_EQ(mapping.WillRead(UINT32_MAX, UINT32_MAX), 0u);
  EXPECT_EQ(mapping.View()[9999], 'h');
  EXPECT_EQ(platform::Mapping().WillRead(0, 1), 0u);  // nothing mapped
}

// Small blocks come from the heap, large ones from the system; all are zero-filled, at least
// as large as asked, and owned by exactly one block.
TEST(PlatformMemory, BlocksAreZeroFilledAndMoveOnly) {
  for (size_t bytes : {size_t{1}, size_t{4096}, size_t{3} << 20}) {
    platform::MemoryBlock block(bytes);
    ASSERT_NE(block.Data(), nullptr) << bytes;
    EXPECT_GE(block.Size(), bytes);
    const unsigned char* data = static_cast<const unsigned char*>(block.Data());
    EXPECT_TRUE(std::all_of(data, data + bytes, [](unsigned char c) { return c == 0; })) << bytes;
    static_cast<unsigned char*>(block.Data())[bytes - 1] = 7;
    platform::MemoryBlock moved(std::move(block));
    EXPECT_EQ(block.Data(), nullptr);
    EXPECT_EQ(block.Size(), 0u);
    EXPECT_EQ(static_cast<const unsigned char*>(moved.Data())[bytes - 1], 7);
  }
  EXPECT_EQ(platform::MemoryBlock(0).Data(), nullptr);
}

// A discarded block keeps its addresses and size and stays readable: every byte reads as
// what was written or as zero (a heap block keeps its bytes).
TEST(PlatformMemory, ADiscardedBlockStaysReadable) {
  for (size_t bytes : {size_t{4096}, size_t{3} << 20}) {
    platform::MemoryBlock block(bytes);
    ASSERT_NE(block.Data(), nullptr) << bytes;
    unsigned char* data = static_cast<unsigned char*>(block.Data());
    std::fill(data, data + bytes, 7);
    block.Discard();
    EXPECT_EQ(block.Data(), data) << bytes;
    EXPECT_GE(block.Size(), bytes);
    EXPECT_TRUE(std::all_of(data, data + bytes, [](unsigned char c) { return c == 0 || c == 7; }))
        << bytes;
    if (bytes < platform::LargeBlockSize) {
      EXPECT_EQ(data[bytes - 1], 7);
    }
  }
}

TEST(PlatformFiles, ExistenceDirectoriesAndRemoval) {
  TempDir dir;
  WriteFileText(dir / "file.txt", "x");
  MakeDirectories(dir / "sub");
  // Path, then what PathExists and IsDirectory say.
  const std::tuple<std::string, bool, bool> cases[] = {
      {dir / "file.txt", true, false},   {dir / "sub", true, true}, {dir / "sub/", true, true},
      {dir / "file.txt/", false, false}, {dir.Path(), true, true},  {dir / "missing", false, false},
      {dir / "missing/x", false, false}, {"", false, false}};
  for (const auto& [path, exists, directory] : cases) {
    EXPECT_EQ(platform::PathExists(path.c_str()), exists) << path;
    EXPECT_EQ(platform::IsDirectory(path.c_str()), directory) << path;
  }
  EXPECT_FALSE(platform::PathExists(nullptr));
  EXPECT_FALSE(platform::IsDirectory(nullptr));
  platform::FileStamp stamp;
  EXPECT_TRUE(platform::StampPath((dir / "file.txt").c_str(), stamp).ok());
  EXPECT_EQ(platform::StampPath((dir / "missing").c_str(), stamp).code(), StatusCode::NotFound);
  EXPECT_EQ(platform::StampPath((dir / "sub").c_str(), stamp).Message(),
            dir / "sub" + ": is a directory");
  EXPECT_TRUE(platform::RemoveFile((dir / "file.txt").c_str()).ok());
  EXPECT_FALSE(FileExists(dir / "file.txt"));
  // Already gone.
  EXPECT_EQ(platform::RemoveFile((dir / "file.txt").c_str()).code(), StatusCode::NotFound);
  EXPECT_EQ(platform::RemoveFile(nullptr).code(), StatusCode::InvalidArgument);
  EXPECT_FALSE(platform::IsTerminal(nullptr));
}

// A file's failures name the path it was opened by, with the system's error; reading past its
// end is no failure, but a read that must fill its buffer fails there.
TEST(PlatformFiles, AFailureNamesTheFileAndAShortReadIsCorrupt) {
  TempDir dir;
  const std::string path = dir / "abc.txt";
  WriteFileText(path, "abc");
  platform::File file;
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), file).ok());
  EXPECT_EQ(file.Path(), path);
  char buffer[8] = {};
  uint32_t got = 0;
  EXPECT_TRUE(file.Read(buffer, 5, got).ok());
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(buffer, got), "abc");
  ASSERT_TRUE(file.Seek(1).ok());
  const Status cut = file.ReadExactly(buffer, 5);
  EXPECT_EQ(cut.code(), StatusCode::Corrupt);
  EXPECT_EQ(cut.Message(), path + ": unexpected end of file");
  ASSERT_TRUE(file.Seek(0).ok());
  EXPECT_TRUE(file.ReadExactly(buffer, 3).ok());
  const Status refused = file.Write("x", 1);  // opened for reading only
  EXPECT_EQ(refused.code(), StatusCode::IoError);
  EXPECT_EQ(refused.file(), path);
  EXPECT_NE(refused.systemError(), 0);
  int64_t length = 0;
  ASSERT_TRUE(file.Length(length).ok());
  EXPECT_EQ(length, 3);
  EXPECT_TRUE(file.Close().ok());
  EXPECT_TRUE(file.Close().ok());  // a closed file stays closed
  EXPECT_EQ(ReadFileBytes(path), ToBytes("abc"));
  // A directory is no file to read.
  EXPECT_EQ(platform::OpenForRead(dir.Path().c_str(), file).Message(),
            dir.Path() + ": is a directory");
}

// A link to a directory may lead back up the tree: it is left out; a link to a file is a file.
#ifndef _WIN32
// The watch names each changed file of a watched directory, in order, and tells a file renamed
// into place (whole at once) from one written and closed, renamed away or removed.
TEST(PlatformWatch, TellsAFileRenamedIntoPlaceFromOtherChanges) {
  TempDir dir;
  platform::DirectoryWatch watch;
  ASSERT_TRUE(watch.Open().ok());
  ASSERT_TRUE(watch.Watch({dir.Path()}).ok());
  WriteFileText(dir / "next.tmp", "new");
  ASSERT_EQ(std::rename((dir / "next.tmp").c_str(), (dir / "game.pak").c_str()), 0);
  ASSERT_EQ(std::remove((dir / "game.pak").c_str()), 0);
  std::vector<platform::DirectoryWatch::Change> changes;
  for (int i = 0; i < 100 && changes.size() < 4; ++i) (void)watch.Wait(100, changes);
  std::vector<std::tuple<size_t, std::string, bool>> seen;
  for (const auto& [place, name, renamedIn] : changes) seen.emplace_back(place, name, renamedIn);
  const std::vector<std::tuple<size_t, std::string, bool>> expected = {{0, "next.tmp", false},
                                                                       {0, "next.tmp", false},
                                                                       {0, "game.pak", true},
                                                                       {0, "game.pak", false}};
  EXPECT_EQ(seen, expected);
}
#endif

TEST(PlatformListing, LeavesOutLinksToDirectoriesAndFailsForNonDirectories) {
  TempDir dir;
#ifdef KORVO_TEST_LINK_FIXTURE
  // Windows under Wine: a ready tree from the build (real/, real/file.txt, loop -> real,
  // file-link -> real/file.txt).
  const std::string root = KORVO_TEST_LINK_FIXTURE;
#else
  const std::string root = dir.Path();
  MakeDirectories(root + "/real");
  WriteFileText(root + "/real/file.txt", "x");
  std::filesystem::create_directory_symlink("real", root + "/loop");
  std::filesystem::create_symlink("real/file.txt", root + "/file-link");
#endif
  ASSERT_TRUE(platform::PathExists((root + "/loop").c_str()));
  std::vector<platform::DirItem> items;
  ASSERT_TRUE(platform::ListDirectory(root.c_str(), items));
  std::vector<std::string> names;
  for (const auto& item : items) names.push_back(item.name + (item.isDirectory ? "/" : ""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"file-link", "real/"}));
  for (const std::string& bad : {root + "/missing", root + "/real/file.txt"}) {
    EXPECT_FALSE(platform::ListDirectory(bad.c_str(), items)) << bad;
    EXPECT_TRUE(items.empty());
  }
  EXPECT_FALSE(platform::ListDirectory(nullptr, items));
}
