// The package list read when a manager starts: both forms, order, roots and long tokens.
#include "manager/package_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

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

// What a manager reads for name, "-" when nothing.
std::string Read(const CPackageManager& manager, const char* name) {
  unsigned char* data = nullptr;
  uint32_t size = 0;
  if (!manager.ReadResource(name, data, size).ok()) return "-";
  std::string text(reinterpret_cast<char*>(data), size);
  std::free(data);
  return text;
}

// A manager of dir and the changed names its listener was told, one list per call.
struct Reloading {
  explicit Reloading(const std::string& root) : manager(root.c_str(), nullptr) {
    EXPECT_TRUE(manager
                    .SetReloadListener([this](const std::vector<std::string>& names) {
                      std::lock_guard<std::mutex> hold(lock);
                      told.push_back(names);
                      toldMappings = platform::OpenMappingCount();
                    })
                    .ok());
  }
  std::vector<Paths> Told() {
    std::lock_guard<std::mutex> hold(lock);
    return std::exchange(told, {});
  }
  Paths Mounted() const {
    Paths paths;
    for (size_t i = 0; i < manager.PackageCount(); ++i) paths.push_back(manager.PackageAt(i)->path);
    return paths;
  }
  CPackageManager manager;
  std::mutex lock;
  std::vector<Paths> told;
  size_t toldMappings = 0;  // open mappings during the last call
};

TEST_F(PackageList, AReloadReadsTheListAgainUnderTheAddedMountsAndTellsWhatChanged) {
  WritePackage(a, {{"One.txt", ToBytes("1a")}, {"same.txt", ToBytes("s")}});
  WritePackage(c, {{"two.txt", ToBytes("2")}, {"same.txt", ToBytes("s")}});
  const std::string added = WritePackage(dir / "added.pak", {{"ONE.txt", ToBytes("added")}});
  WriteFileText(dir / "package.cfg", "a.pak");
  const size_t mappings = platform::OpenMappingCount();
  {
    Reloading host(dir.Path());
    ASSERT_TRUE(host.manager.MountPackage(added.c_str()));
    EXPECT_EQ(Read(host.manager, "one.txt"), "added");
    WriteFileText(dir / "package.cfg", "cc.pak");
    ASSERT_TRUE(host.manager.ReloadPackages().ok());
    EXPECT_EQ(host.Mounted(), (Paths{c, added}));  // the added mount stays on top
    EXPECT_EQ(Read(host.manager, "one.txt"), "added");
    EXPECT_EQ(Read(host.manager, "two.txt"), "2");
    // one.txt and same.txt read as before; two.txt is new.
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{"two.txt"}}));
    ASSERT_TRUE(host.manager.ReloadPackages().ok());
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{}}));
    EXPECT_EQ(platform::OpenMappingCount(), mappings + 2);
#ifndef _WIN32  // a mapped file cannot be replaced there
    // Replaced by a rename: read anew. Replaced by something that is no archive: kept.
    WritePackage(dir / "next.pak", {{"two.txt", ToBytes("2b")}});
    ASSERT_EQ(std::rename((dir / "next.pak").c_str(), c.c_str()), 0);
    ASSERT_TRUE(host.manager.ReloadPackages().ok());
    EXPECT_EQ(Read(host.manager, "two.txt"), "2b");
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{"same.txt", "two.txt"}}));
    // The listener hears of the change before the replaced set (both archives) is unmapped.
    EXPECT_EQ(host.toldMappings, mappings + 4);
    EXPECT_EQ(platform::OpenMappingCount(), mappings + 2);
    WriteFileText(dir / "next.pak", "no archive");
    ASSERT_EQ(std::rename((dir / "next.pak").c_str(), c.c_str()), 0);
    ASSERT_TRUE(host.manager.ReloadPackages().ok());
    EXPECT_EQ(Read(host.manager, "two.txt"), "2b");
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{}}));
#endif
    // A list that is gone names nothing, as at start-up.
    std::remove((dir / "package.cfg").c_str());
    ASSERT_TRUE(host.manager.ReloadPackages().ok());
    EXPECT_EQ(host.Mounted(), Paths{added});
#ifndef _WIN32
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{"two.txt"}}));
#else
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{"same.txt", "two.txt"}}));
#endif
    EXPECT_EQ(platform::OpenMappingCount(), mappings + 1);
  }
  EXPECT_EQ(platform::OpenMappingCount(), mappings);
}

TEST_F(PackageList, RemovingAPackageUnmountsItUntilTheListNamesItAgain) {
  WritePackage(a, {{"one.txt", ToBytes("1a")}, {"two.txt", ToBytes("2a")}});
  const std::string added = WritePackage(dir / "added.pak", {{"one.txt", ToBytes("added")}});
  WriteFileText(dir / "package.cfg", "a.pak");
  const size_t mappings = platform::OpenMappingCount();
  {
    Reloading host(dir.Path());
    ASSERT_TRUE(host.manager.MountPackage(added.c_str()));
    ASSERT_TRUE(host.manager.RemovePackage(added.c_str()).ok());
    EXPECT_EQ(host.Mounted(), Paths{a});
    EXPECT_EQ(Read(host.manager, "one.txt"), "1a");
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{"one.txt"}}));
    EXPECT_EQ(host.manager.RemovePackage(added.c_str()).code(), StatusCode::NotFound);
    EXPECT_EQ(host.manager.RemovePackage(nullptr).code(), StatusCode::InvalidArgument);
    ASSERT_TRUE(host.manager.RemovePackage(a.c_str()).ok());
    EXPECT_EQ(host.Mounted(), Paths{});
    EXPECT_EQ(Read(host.manager, "two.txt"), "-");
    EXPECT_EQ(host.Told(), (std::vector<Paths>{{"one.txt", "two.txt"}}));
    EXPECT_EQ(platform::OpenMappingCount(), mappings);
    ASSERT_TRUE(host.manager.ReloadPackages().ok());  // listed: back; added: gone for good
    EXPECT_EQ(host.Mounted(), Paths{a});
  }
  EXPECT_EQ(platform::OpenMappingCount(), mappings);
}

// The watcher reloads once the list file has been written; waiting for it is bounded.
TEST_F(PackageList, TheWatcherReloadsWhenTheListIsRewritten) {
  WritePackage(a, {{"one.txt", ToBytes("1a")}});
  WritePackage(c, {{"one.txt", ToBytes("1c")}});
  WriteFileText(dir / "package.cfg", "a.pak");
  Reloading host(dir.Path());
  const Status watching = host.manager.WatchPackages(true);
  if (!watching.ok()) GTEST_SKIP() << watching.Message();
  EXPECT_TRUE(host.manager.WatchPackages(true).ok());  // once is enough
  WriteFileText(dir / "package.cfg", "cc.pak");
  std::vector<Paths> told;
  for (int i = 0; i < 3000 && told.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    told = host.Told();
  }
  EXPECT_EQ(told, std::vector<Paths>{{"one.txt"}});
  EXPECT_EQ(Read(host.manager, "one.txt"), "1c");
  EXPECT_TRUE(host.manager.WatchPackages(false).ok());
}
