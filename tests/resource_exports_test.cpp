// Reading any resource through the shared library: whole reads, stat, enumeration, the version,
// and FreeImgFile given a value array it never wrote.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KorvoLoader.h"
#include "platform/shared_library.h"
#include "support/image_bytes.h"
#include "support/read_path.h"

using namespace korvo;

namespace {

template <class F>
F Export(void* library, const char* name) {
  return reinterpret_cast<F>(platform::LibrarySymbol(library, name));
}

// a.pak then b.pak mounted through AddPackage; one more file only on disk.
class ResourceExports : public NoManagerTest {
 protected:
  void SetUp() override {
    NoManagerTest::SetUp();
    library = platform::OpenLibrary(KORVO_LIBRARY_PATH);
    ASSERT_NE(library, nullptr) << KORVO_LIBRARY_PATH;
    load = Export<decltype(&LoadResFile)>(library, "LoadResFile");
    release = Export<decltype(&FreeResFile)>(library, "FreeResFile");
    stat = Export<decltype(&StatResFile)>(library, "StatResFile");
    enumerate = Export<decltype(&EnumResFiles)>(library, "EnumResFiles");
    auto addPackage = Export<decltype(&AddPackage)>(library, "AddPackage");
    ASSERT_TRUE(load && release && stat && enumerate && addPackage);
    WritePackage(a, {{"Text/Readme.TXT", ToBytes("only in the first mount")},
                     {"Img/One.img", ToBytes("one")},
                     {"shared.txt", ToBytes("from a")},
                     {"empty", {}}});
    WritePackage(b, {{"SHARED.TXT", ToBytes("from b")}, {"img\\two.img", ToBytes("two!")}});
    WriteFileText(diskOnly, "only on disk");
    ASSERT_TRUE(addPackage(a.c_str()));
    ASSERT_TRUE(addPackage(b.c_str()));
  }
  void TearDown() override {
    platform::CloseLibrary(library);
    NoManagerTest::TearDown();
  }
  // The whole resource, "<false>" when the load fails; checks the terminator.
  std::string Load(const std::string& name) {
    void* data = nullptr;
    uint32_t size = 7;
    if (!load(name.c_str(), &data, &size)) return "<false>";
    std::string text(static_cast<const char*>(data), size);
    EXPECT_EQ(static_cast<const char*>(data)[size], '\0') << name;
    release(data);
    return text;
  }
  std::vector<std::string> Names(const char* prefix, size_t stopAfter = 100) {
    struct Seen {
      std::vector<std::string> names;
      size_t stopAfter;
    } seen{{}, stopAfter};
    uint32_t calls = enumerate(
        prefix,
        [](const char* name, uint32_t size, void* context) {
          auto* s = static_cast<Seen*>(context);
          s->names.push_back(std::string(name) + ":" + std::to_string(size));
          return s->names.size() < s->stopAfter;
        },
        &seen);
    EXPECT_EQ(calls, seen.names.size());
    return seen.names;
  }

  void* library = nullptr;
  decltype(&LoadResFile) load = nullptr;
  decltype(&FreeResFile) release = nullptr;
  decltype(&StatResFile) stat = nullptr;
  decltype(&EnumResFiles) enumerate = nullptr;
  const std::string a = dir / "a.pak", b = dir / "b.pak", diskOnly = dir / "disk-only.txt";
};

}  // namespace

TEST_F(ResourceExports, LoadResFileReadsPackagesFirstThenTheDisk) {
  const std::pair<std::string, std::string> cases[] = {
      {"text/readme.txt", "only in the first mount"},  // only in an earlier mount
      {"Shared.Txt", "from b"},                        // in several: the last mount
      {"IMG/TWO.IMG", "two!"},
      {"empty", ""},
      {diskOnly, "only on disk"},
      {dir / "missing", "<false>"},
  };
  for (const auto& [name, content] : cases) EXPECT_EQ(Load(name), content) << name;
  void* data = &data;
  uint32_t size = 7;
  EXPECT_FALSE(load(nullptr, &data, &size));
  EXPECT_FALSE(load("missing", &data, &size));
  EXPECT_EQ(data, &data);  // untouched on failure
  EXPECT_EQ(size, 7u);
  release(nullptr);
}

// An entry whose data does not inflate counts as absent for a load, as it does for LoadImgFile:
// the disk file of that name is read instead. Stat reports the indexed entry (it inflates
// nothing).
TEST_F(ResourceExports, AnEntryThatDoesNotInflateFallsBackToTheDiskFile) {
  auto addPackage = Export<decltype(&AddPackage)>(library, "AddPackage");
  const std::string both = dir / "broken.txt", onlyBroken = dir / "broken-only.txt";
  RawEntry bad{both, ToBytes("not a zlib stream"), 5}, badOnly{onlyBroken, bad.stored, 5};
  WriteArchive(dir / "c.pak", {bad, badOnly});
  WriteFileText(both, "disk bytes");
  ASSERT_TRUE(addPackage((dir / "c.pak").c_str()));
  EXPECT_EQ(Load(both), "disk bytes");
  EXPECT_EQ(Load(onlyBroken), "<false>");
  KorvoResourceInfo info;
  ASSERT_TRUE(stat(both.c_str(), &info));
  EXPECT_EQ(info.source, uint32_t{KORVO_FROM_PACKAGE});
  EXPECT_EQ(std::string(info.path), dir / "c.pak");
}

// A disk file whose length does not fit 32 bits is refused, never read as a shorter one.
TEST_F(ResourceExports, DiskFilesOf4GiBOrMoreAreRefusedNotTruncated) {
  const std::string big = dir / "big.bin";
  for (uint64_t length : {uint64_t{1} << 32, (uint64_t{1} << 32) + 10, uint64_t{5} << 30}) {
    SCOPED_TRACE(length);
    MakeSparseFile(big, length);
    EXPECT_EQ(Load(big), "<false>");
    EXPECT_FALSE(stat(big.c_str(), nullptr));
  }
  MakeSparseFile(big, 10);  // the same path, small: read as it is
  EXPECT_EQ(Load(big), std::string(10, '\0'));
}

TEST_F(ResourceExports, StatResFileTellsSizeAndWhereANameComesFrom) {
  struct Case {
    std::string name;
    uint32_t size, packedSize, source;
    std::string path;
  };
  const Case cases[] = {
      {"TEXT/README.TXT", 23, uint32_t(Compress(ToBytes("only in the first mount")).size()),
       KORVO_FROM_PACKAGE, a},
      {"shared.txt", 6, uint32_t(Compress(ToBytes("from b")).size()), KORVO_FROM_PACKAGE, b},
      {diskOnly, 12, 12, KORVO_FROM_DISK, diskOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KorvoResourceInfo info;
    std::memset(&info, 0xAB, sizeof(info));  // every byte is written
    ASSERT_TRUE(stat(c.name.c_str(), &info));
    EXPECT_EQ(info.size, c.size);
    EXPECT_EQ(info.packedSize, c.packedSize);
    EXPECT_EQ(info.source, c.source);
    EXPECT_EQ(std::string(info.path, sizeof(info.path)),
              c.path + std::string(sizeof(info.path) - c.path.size(), '\0'));
  }
  EXPECT_TRUE(stat("empty", nullptr));
  EXPECT_FALSE(stat((dir / "missing").c_str(), nullptr));
  EXPECT_FALSE(stat(nullptr, nullptr));
}

TEST_F(ResourceExports, EnumResFilesListsEachNameOnceSortedUnderAFoldedPrefix) {
  EXPECT_EQ(Names("IMG/"), std::vector<std::string>({"img\\one.img:3", "img\\two.img:4"}));
  EXPECT_EQ(Names(nullptr), std::vector<std::string>({"empty:0", "img\\one.img:3", "img\\two.img:4",
                                                      "shared.txt:6", "text\\readme.txt:23"}));
  EXPECT_EQ(Names(""), Names(nullptr));
  EXPECT_EQ(Names("img", 1), std::vector<std::string>({"img\\one.img:3"}));  // stopped early
  EXPECT_TRUE(Names("nothing/").empty());
  EXPECT_TRUE(Names("f").empty());             // between two keys
  EXPECT_TRUE(Names("zz").empty());            // past the last key
  EXPECT_TRUE(Names("shared.txt2").empty());   // longer than the key before it
  EXPECT_TRUE(Names("img/one.img/").empty());  // a whole key and more
  EXPECT_EQ(Names("Shared.TXT"), std::vector<std::string>({"shared.txt:6"}));  // a whole key
  EXPECT_EQ(Names("img/t"), std::vector<std::string>({"img\\two.img:4"}));     // the last one
  EXPECT_EQ(enumerate("", nullptr, nullptr), 0u);
}

// Each change to the mounts shows in the next enumeration: a mount into the current set, a
// removal (a new set), a mount into that set, and a reload.
TEST_F(ResourceExports, EnumResFilesListsWhatTheLastChangeLeft) {
  auto addPackage = Export<decltype(&AddPackage)>(library, "AddPackage");
  auto reload = Export<decltype(&ReloadPackages)>(library, "ReloadPackages");
  auto remove = Export<decltype(&RemovePackage)>(library, "RemovePackage");
  ASSERT_TRUE(addPackage && reload && remove);
  const std::string longName = "img/" + std::string(600, 'L');
  const std::string longKey = "img\\" + std::string(600, 'l') + ":2";
  WritePackage(dir / "c.pak",
               {{"Img/Three.img", ToBytes("three")}, {longName, ToBytes("ll")}, {"a", {}}});
  WritePackage(dir / "d.pak", {{"img/one.img", ToBytes("one, again")}, {"img/aa", ToBytes("")}});
  // c mounted by the callback at the first name, and the names sorted again by an enumeration
  // inside it: the walk goes on after its last name, with the names it began with.
  struct Walk {
    decltype(&AddPackage) addPackage;
    decltype(&EnumResFiles) enumerate;
    std::string package;
    std::vector<std::string> names;
    uint32_t inner = 0;
  } walk{addPackage, enumerate, dir / "c.pak", {}, 0};
  const uint32_t calls = enumerate(
      "img/",
      [](const char* name, uint32_t, void* context) {
        auto* w = static_cast<Walk*>(context);
        w->names.push_back(name);
        if (w->names.size() > 1) return true;
        const auto any = [](const char*, uint32_t, void*) { return true; };
        return w->addPackage(w->package.c_str()) && (w->inner = w->enumerate("", any, nullptr));
      },
      &walk);
  EXPECT_EQ(walk.names, std::vector<std::string>({"img\\one.img", "img\\two.img"}));
  EXPECT_EQ(calls, 2u);
  EXPECT_EQ(walk.inner, 8u);
  EXPECT_EQ(Names("img/"), std::vector<std::string>(
                               {longKey, "img\\one.img:3", "img\\three.img:5", "img\\two.img:4"}));
  EXPECT_EQ(Names(nullptr).front(), "a:0");
  ASSERT_TRUE(remove(b.c_str()));
  EXPECT_EQ(Names("img/"),
            std::vector<std::string>({longKey, "img\\one.img:3", "img\\three.img:5"}));
  ASSERT_TRUE(addPackage((dir / "d.pak").c_str()));
  const std::vector<std::string> last = {"img\\aa:0", longKey, "img\\one.img:10",
                                         "img\\three.img:5"};
  EXPECT_EQ(Names("img/"), last);
  ASSERT_TRUE(reload());
  EXPECT_EQ(Names("img/"), last);
  EXPECT_EQ(Names("").size(), 8u);
}

TEST_F(ResourceExports, VersionIsMajorMinorPatch) {
  auto version = Export<decltype(&GetKorvoLoaderVersion)>(library, "GetKorvoLoaderVersion");
  ASSERT_NE(version, nullptr);
  const std::string text = version();
  EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 2) << text;
  EXPECT_EQ(text.find_first_not_of("0123456789."), std::string::npos) << text;
}

// A one-frame image: FreeImgFile must not free the value array the load never wrote.
TEST_F(ResourceExports, FreeImgFileIgnoresTheValueArrayForOneFrameOrNone) {
  auto loadImg = Export<decltype(&LoadImgFile)>(library, "LoadImgFile");
  auto freeImg = Export<decltype(&FreeImgFile)>(library, "FreeImgFile");
  ASSERT_TRUE(loadImg && freeImg);
  for (int32_t frames : {0, 1}) {
    WriteFileBytes(dir / "one.img", GridImage(3, 2, 2, 2, 2, frames, [](int, int x, int y) {
                     return uint32_t(x + 10 * y);
                   }));
    uint32_t count = 9, stack = 0;
    uint32_t* values = &stack;  // never set by the load: not the library's
    ImgFrame** list = nullptr;
    ASSERT_TRUE(loadImg((dir / "one.img").c_str(), &count, &values, &list));
    EXPECT_EQ(values, &stack);
    freeImg(count, values, list);  // a sanitizer would catch a bad free
  }
}

// Through the exports: a removal and a reload tell the callback the names they changed, and
// loads read the packages left.
TEST_F(ResourceExports, RemoveAndReloadTellTheCallbackWhatChanged) {
  auto reload = Export<decltype(&ReloadPackages)>(library, "ReloadPackages");
  auto remove = Export<decltype(&RemovePackage)>(library, "RemovePackage");
  auto setCallback = Export<decltype(&SetReloadCallback)>(library, "SetReloadCallback");
  auto watch = Export<decltype(&KorvoWatchPackages)>(library, "KorvoWatchPackages");
  ASSERT_TRUE(reload && remove && setCallback && watch);
  std::vector<std::string> told;
  setCallback(
      [](uint32_t count, const char* const* names, void* context) {
        auto* seen = static_cast<std::vector<std::string>*>(context);
        seen->push_back(std::to_string(count));
        for (uint32_t i = 0; i < count; ++i) seen->push_back(names[i]);
      },
      &told);
  EXPECT_TRUE(remove(b.c_str()));
  EXPECT_EQ(told, (std::vector<std::string>{"2", "img\\two.img", "shared.txt"}));
  EXPECT_EQ(Load("shared.txt"), "from a");
  EXPECT_EQ(Load("img/two.img"), "<false>");
  EXPECT_FALSE(remove(b.c_str()));
  EXPECT_FALSE(remove(nullptr));
  told.clear();
  EXPECT_TRUE(reload());  // no list beside the test program: a stays, mapped afresh
  EXPECT_EQ(told, std::vector<std::string>{"0"});
  EXPECT_EQ(Load("Text/Readme.txt"), "only in the first mount");
  setCallback(nullptr, nullptr);
  EXPECT_TRUE(reload());
  EXPECT_EQ(told, std::vector<std::string>{"0"});
  EXPECT_TRUE(watch(0));
}
