// The package list read when a manager starts: both forms, order, roots and long tokens.
#include "manager/package_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "compat/image_utils.h"
#include "support/image_bytes.h"

using namespace korvo;

using Paths = std::vector<std::string>;

// A root holding a.pak, cc.pak, x.pak and sub/x.pak (but no b.pak).
class PackageList : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirectories(dir / "sub");
    for (const char* name : {"a", "cc", "x", "sub/x"}) WritePackage(dir / name + ".pak", {});
  }
  // A manager's root, then what it mounts in order (later wins), once list is the package.cfg.
  Paths Mount(const char* list, const std::string& root) {
    if (list != nullptr) WriteFileText(dir / "package.cfg", list);
    CPackageManager manager(root.c_str(), nullptr);
    EXPECT_TRUE(StreamPoolsFree(manager));
    Paths paths = {manager.RootDir()};
    for (size_t i = 0; i < manager.PackageCount(); ++i) paths.push_back(manager.PackageAt(i)->path);
    return paths;
  }
  TempDir dir;
  const std::string sep = std::string(1, platform::PathSeparator), root = dir.Path() + sep,
                    a = root + "a.pak", c = root + "cc.pak";
};

TEST_F(PackageList, BothFormsMountWhatExistsInListedOrderAndSkipWhatDoesNotFit) {
  const std::string sub = dir / "sub", x = sub + "/x.pak", overlong(300, 'x'), longName(250, 'y');
  const std::string longDir = root + std::string(100, 'b');
#ifndef _WIN32  // these exist, but their joined paths do not fit: skipped all the same
  MakeDirectories(longDir);
  WritePackage(longDir + "/" + longName, {});
  WritePackage(root + longName, {});
#endif
  const std::pair<std::string, Paths> cases[] = {
      {"\n\tcc.pak\r\n b.pak\n\n\ta.pak  \r\n", {root, c, a}},
      {"   \n\t\r\n", {root}},
      {overlong + "\n" + longName + "\na.pak\n" + overlong + ".pak cc.pak", {root, a, c}},
      // The tool form, chosen by the exact first token, mounts directory + "/" + name.
      {"zuRestool_config: a.pak", {root, a}},
      {"a.pak ZuResTool_Config: cc.pak", {root, a, c}},
      {"ZuResTool_Config:" + std::string(300, 'z') + " a.pak", {root, a}},
      {"ZuResTool_Config:\nx.pak\n" + sub + "\na.pak cc.pak\n", {root, x}},
      {"[ZuResTool_Config:] x.pak " + sub, {root, x}},
      {"ZuResTool_Config: a.pak", {root}},
      {"ZuResTool_Config: " + overlong + " " + sub, {root}},
      {"ZuResTool_Config: " + longName + " " + longDir, {root}}};
  for (const auto& c : cases) EXPECT_EQ(Mount(c.first.c_str(), dir.Path()), c.second) << c.first;
}

TEST_F(PackageList, GivenRootsListNamesAndTheExecutablesDirectory) {
  EXPECT_EQ(Mount(nullptr, dir.Path()), Paths{root});  // no list: the pools are filled the same
  EXPECT_EQ(Mount("a.pak", root), (Paths{root + sep, root + sep + "a.pak"}));  // one more separator
  EXPECT_EQ(Mount("a.pak", root + std::string(300, 'r')), Paths{""});  // too long: no list read
  WriteFileText(dir / "sub/list.cfg", "cc.pak");  // a given list name is joined unchanged
  CPackageManager given(dir.Path().c_str(), "sub/list.cfg");
  EXPECT_STREQ(given.ListFileName(), "sub/list.cfg");
  ASSERT_EQ(given.PackageCount(), 1u);
  EXPECT_EQ(given.PackageAt(0)->path, c);
  // Without a root, the executable's directory, which is cached.
  CPackageManager manager(nullptr, "no-such-list.cfg");
  const std::string self = platform::ExecutablePath(), home = manager.RootDir();
  char exeDirectory[platform::MaxPath], *cached = GetExeDirectoryCached();
  GetExeDirectory(exeDirectory);
  EXPECT_EQ(home, self.substr(0, self.find_last_of(platform::PathSeparator) + 1));
  EXPECT_EQ(home, exeDirectory);
  EXPECT_EQ(home, cached);
  EXPECT_TRUE(StreamPoolsFree(manager));
  std::strcpy(cached, "marked");  // later calls do not ask the platform again
  EXPECT_EQ(GetExeDirectoryCached(), cached);
  EXPECT_STREQ(GetExeDirectoryCached(), "marked");
  std::strcpy(cached, home.c_str());
}
