// The package list read when a manager starts: both forms, order, roots and long tokens.
#include "manager/package_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "manager/package_manager.h"
#include "platform/platform.h"
#include "stream/disk_stream.h"
#include "stream/mem_stream.h"
#include "stream/res_stream.h"
#include "support/archive_bytes.h"

namespace {

const std::string kSep(1, platform::kPathSeparator);

// A package whose one entry, who.txt, holds its own name.
void WritePackage(const std::string& path, const std::string& name) {
  WriteFileBytes(path, BuildArchive({TextEntry("who.txt", name)}));
}

std::string ReadWho(CPackageManager& manager) {
  CResStream* stream = manager.OpenStream("who.txt", ModeRead, true);
  if (stream == nullptr) return "<none>";
  std::string text(stream->size, '\0');
  text.resize(stream->Read(&text[0], stream->size));
  stream->Close();
  return text;
}

std::vector<std::string> MountedPaths(const CPackageManager& manager) {
  std::vector<std::string> paths;
  for (const PackageRecord& record : manager.packages) paths.push_back(record.path);
  return paths;
}

bool PoolsFullAndFree(const CPackageManager& manager) {
  if (manager.diskPool.size() != kStreamPoolSize || manager.memPool.size() != kStreamPoolSize)
    return false;
  for (const CDiskStream* s : manager.diskPool)
    if (s == nullptr || !s->IsFree()) return false;
  for (const CMemStream* s : manager.memPool)
    if (s == nullptr || !s->IsFree()) return false;
  return true;
}

// A root directory holding a.pak and c.pak (but no b.pak).
class PackageList : public ::testing::Test {
 protected:
  void SetUp() override {
    WritePackage(dir / "a.pak", "a");
    WritePackage(dir / "c.pak", "c");
  }
  std::string Root() const { return dir.Path() + kSep; }
  void WriteList(const std::string& text) { WriteFileText(dir / "package.cfg", text); }

  TempDir dir;
};

}  // namespace

TEST_F(PackageList, AMissingListMountsNothingAndStillFillsThePools) {
  CPackageManager manager(dir.Path().c_str(), nullptr);
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(PoolsFullAndFree(manager));
  EXPECT_EQ(std::string(manager.rootDir), Root());
  EXPECT_STREQ(manager.listFileName, "package.cfg");
}

TEST_F(PackageList, PlainListMountsWhatExistsInListedOrder) {
  WriteList("a.pak\nb.pak\nc.pak\n");
  CPackageManager manager(dir.Path().c_str(), nullptr);
  EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{Root() + "a.pak", Root() + "c.pak"}));
  EXPECT_TRUE(PoolsFullAndFree(manager));
}

TEST_F(PackageList, LinesHaveNoMeaningOfTheirOwn) {
  for (const char* text : {"a.pak b.pak c.pak", "\n\na.pak\n\n\nb.pak\n\nc.pak",
                           "\ta.pak\r\n b.pak\t\tc.pak  \r\n", "a.pak\nb.pak c.pak"}) {
    WriteList(text);
    CPackageManager manager(dir.Path().c_str(), nullptr);
    EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{Root() + "a.pak", Root() + "c.pak"}))
        << text;
  }
}

TEST_F(PackageList, ThePackageListedLastWins) {
  WriteList("a.pak c.pak");
  CPackageManager first(dir.Path().c_str(), nullptr);
  EXPECT_EQ(ReadWho(first), "c");
  WriteList("c.pak a.pak");
  CPackageManager second(dir.Path().c_str(), nullptr);
  EXPECT_EQ(ReadWho(second), "a");
}

TEST_F(PackageList, EmptyOrBlankListsMountNothing) {
  for (const char* text : {"", "   \n\t\r\n"}) {
    WriteList(text);
    CPackageManager manager(dir.Path().c_str(), nullptr);
    EXPECT_TRUE(manager.packages.empty());
    EXPECT_TRUE(PoolsFullAndFree(manager));
  }
}

TEST_F(PackageList, TheToolFormMountsDirectorySlashNameAndNothingElse) {
  MakeDirectories(dir / "sub");
  WritePackage(dir / "sub/x.pak", "x");
  WritePackage(dir / "x.pak", "root x");
  const std::string sub = dir / "sub";
  for (std::string header : {"ZuResTool_Config:", "[ZuResTool_Config:]"}) {
    WriteList(header + "\nx.pak\n" + sub + "\na.pak c.pak\n");
    CPackageManager manager(dir.Path().c_str(), nullptr);
    EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{sub + "/x.pak"})) << header;
    EXPECT_EQ(ReadWho(manager), "x");
    EXPECT_TRUE(PoolsFullAndFree(manager));
  }
}

TEST_F(PackageList, TheToolFormIsCaseSensitiveAndOnlyTheFirstTokenSelectsIt) {
  WriteList("zuRestool_config: a.pak");
  CPackageManager lower(dir.Path().c_str(), nullptr);
  EXPECT_EQ(MountedPaths(lower), (std::vector<std::string>{Root() + "a.pak"}));

  WriteList("a.pak ZuResTool_Config: c.pak");
  CPackageManager later(dir.Path().c_str(), nullptr);
  EXPECT_EQ(MountedPaths(later), (std::vector<std::string>{Root() + "a.pak", Root() + "c.pak"}));
}

TEST_F(PackageList, AToolFormWithoutADirectoryMountsNothingHere) {
  // The path becomes "/" + "a.pak", which is not the root's a.pak.
  WriteList("ZuResTool_Config: a.pak");
  CPackageManager manager(dir.Path().c_str(), nullptr);
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(PoolsFullAndFree(manager));
}

TEST_F(PackageList, AGivenRootGetsOneSeparatorMore) {
  WriteList("a.pak");
  const std::string withSeparator = Root();
  CPackageManager manager(withSeparator.c_str(), nullptr);
  EXPECT_EQ(std::string(manager.rootDir), withSeparator + kSep);
  EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{withSeparator + kSep + "a.pak"}));
}

TEST_F(PackageList, AGivenListNameIsJoinedToTheRootUnchanged) {
  MakeDirectories(dir / "conf");
  WriteFileText(dir / "conf/list.cfg", "c.pak");
  CPackageManager manager(dir.Path().c_str(), "conf/list.cfg");
  EXPECT_STREQ(manager.listFileName, "conf/list.cfg");
  EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{Root() + "c.pak"}));
}

TEST_F(PackageList, WithoutARootTheExecutablesDirectoryIsUsed) {
  CPackageManager manager(nullptr, "no-such-list.cfg");
  const std::string root = manager.rootDir;
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.back(), platform::kPathSeparator);
  // The directory of the running test program, which holds it.
  const std::string self = platform::ExecutablePath();
  EXPECT_EQ(root, self.substr(0, self.find_last_of(platform::kPathSeparator) + 1));
  EXPECT_EQ(self.substr(root.size(), 11), "korvo_tests");
  EXPECT_TRUE(std::filesystem::exists(self));
  char exeDirectory[platform::kMaxPath];
  GetExeDirectory(exeDirectory);
  EXPECT_EQ(root, std::string(exeDirectory));
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(PoolsFullAndFree(manager));
}

TEST_F(PackageList, TokensThatDoNotFitAreSkipped) {
  const std::string overlong(300, 'x');
  const std::string longName(255, 'y');  // fits alone, not joined to the root
  WriteList(overlong + "\n" + longName + "\na.pak\n" + overlong + ".pak c.pak");
  CPackageManager manager(dir.Path().c_str(), nullptr);
  EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{Root() + "a.pak", Root() + "c.pak"}));
}

TEST_F(PackageList, AnOverlongFirstTokenDoesNotSelectTheToolForm) {
  WriteList("ZuResTool_Config:" + std::string(300, 'z') + " a.pak");
  CPackageManager manager(dir.Path().c_str(), nullptr);
  EXPECT_EQ(MountedPaths(manager), (std::vector<std::string>{Root() + "a.pak"}));
}

TEST_F(PackageList, AToolFormPathThatDoesNotFitIsSkipped) {
  WriteList("ZuResTool_Config: " + std::string(300, 'a') + " " + dir.Path());
  CPackageManager longName(dir.Path().c_str(), nullptr);
  EXPECT_TRUE(longName.packages.empty());
  WriteList("ZuResTool_Config: " + std::string(200, 'a') + " " + dir.Path() + kSep +
            std::string(100, 'b'));
  CPackageManager longJoin(dir.Path().c_str(), nullptr);
  EXPECT_TRUE(longJoin.packages.empty());
  EXPECT_TRUE(PoolsFullAndFree(longJoin));
}

TEST_F(PackageList, ARootThatDoesNotFitReadsNoList) {
  const std::string longRoot = dir.Path() + kSep + std::string(300, 'r');
  CPackageManager manager(longRoot.c_str(), "package.cfg");
  EXPECT_STREQ(manager.rootDir, "");
  EXPECT_TRUE(manager.packages.empty());
  EXPECT_TRUE(PoolsFullAndFree(manager));
}
