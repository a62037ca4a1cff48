// Index keys, and the lock that keeps a mounted archive from being edited. Mounting into the
// index (override order, the directory-node reset, damaged packages) is in manager_test.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive/journal_format.h"
#include "archive/names.h"
#include "stream/res_stream.h"
#include "support/read_path.h"

using namespace korvo;

TEST(NormalizeName, FoldsOnlyAsciiCapitalsAndForwardSlashesOfTheWholeName) {
  std::string high;
  for (int c = 0x80; c <= 0xFF; ++c) high.push_back(static_cast<char>(c));
  const std::pair<std::string, std::string> cases[] = {
      {"Data/Img/A.BMP", "data\\img\\a.bmp"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"},
      {"//\\\\", "\\\\\\\\"},
      {"@[`{ 09_-.~", "@[`{ 09_-.~"},  // the neighbours of the capitals
      {high, high},                    // no case outside ASCII
      {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(Key(c.first), c.second) << c.first;
  std::string out = "stale";
  NormalizeName(out, nullptr);
  EXPECT_EQ(out, "");
  for (size_t length : {258u, 259u, 260u, 5000u, 40000u})  // the whole name, whatever its length
    EXPECT_EQ(Key(std::string(length, 'A') + "/"), std::string(length, 'a') + "\\") << length;
}

// A mounted archive is held with a shared lock until its manager goes: no editor may open it.
TEST(MountLock, MountedArchiveIsLockedAgainstEditingUntilTeardown) {
  TempDir dir;
  std::string path = WriteArchive(dir / "locked.pak", {TextEntry("a", "abc")});
  WriteFileText(dir / "disk.txt", "disk");
  auto manager = std::make_unique<CPackageManager>(path.c_str(), 0);
  EXPECT_TRUE(manager->MountPackage(path.c_str()));  // a second reader is welcome
  EXPECT_FALSE(Editable(path));
  // Streams still lent at teardown are closed with it.
  ASSERT_NE(manager->OpenStream("a", ModeRead, true), nullptr);
  ASSERT_NE(manager->OpenStream((dir / "disk.txt").c_str(), ModeRead, false), nullptr);
  manager.reset();
  EXPECT_TRUE(Editable(path));
  EXPECT_TRUE(platform::RemoveFile((dir / "disk.txt").c_str()).ok());
}

// Only a file can be a journal: a directory of the journal's name is no interrupted edit and
// does not keep the archive from mounting.
TEST(MountLock, ADirectoryNamedLikeTheJournalDoesNotBlockTheMount) {
  TempDir dir;
  std::string path = WriteArchive(dir / "game.pak", {TextEntry("a", "abc")});
  MakeDirectories(path + "-journal");
  EXPECT_EQ(JournalAt(path.c_str()), JournalKind::Directory);
  EXPECT_FALSE(HasHotJournal(path.c_str()));
  CPackageManager manager(nullptr, 0);
  EXPECT_TRUE(manager.MountPackage(path.c_str()));
  EXPECT_EQ(JournalAt((dir / "other.pak").c_str()), JournalKind::None);
}
