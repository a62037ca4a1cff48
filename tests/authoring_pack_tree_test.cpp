// Packing directory trees into new archives, with and without the directory-node list.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "authoring/pack_tree.h"
#include "compat/pkg_file_tools.h"
#include "support/authoring_checks.h"

using namespace korvo;

namespace {

// Collects the problems a pack reports, one message each.
class Problems : public PackObserver {
 public:
  void OnFile(const char*, uint32_t, uint32_t, bool) override {}
  void OnProblem(const Status& problem) override { text.push_back(problem.Message()); }
  std::vector<std::string> text;
};

}  // namespace

TEST(PackTree, TheExampleTreeGivesTwoEntriesAndFourNodesNamedByTheDirectoryText) {
  ExampleTree ex;
  EXPECT_EQ(ex.Nodes(), "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2");
  EXPECT_TRUE(ArchiveHolds(ex.archive, {ex.a, ex.b}));
  // Names follow the text as given: with a detour, and relative to the working directory where
  // one exists (on Windows the two may lie on different drives).
  std::string relative = std::filesystem::relative(ex.top).generic_string();
  for (const std::string& t : {ex.top + "/../D", relative.empty() ? ex.top : relative}) {
    CreatePkg_Tool(ex.archive.c_str(), t.c_str());
    EXPECT_TRUE(ArchiveHolds(ex.archive,
                             {TextEntry(t + "\\a.txt", "a"), TextEntry(t + "\\sub\\b.txt", "b")}));
  }
  // An archive written inside the tree never packs itself nor the file it replaces, however
  // its path is spelled, with one thread or several.
  for (unsigned threads : {1u, 2u}) {
    PackSettings settings;
    settings.threads = threads;
    for (const std::string& self : {ex.top + "/sub/../self.pak", ex.top + "/self.pak"}) {
      ASSERT_TRUE(PackTree(self.c_str(), ex.top.c_str(), nullptr, nullptr, settings).ok());
      EXPECT_TRUE(ArchiveHolds(ex.top + "/self.pak", {ex.a, ex.b})) << self << threads;
    }
    std::filesystem::remove(ex.top + "/self.pak");
  }
}

TEST(PackTree, EmptyFilesDirectoriesAndMissingOnes) {
  ExampleTree ex;
  std::string hollow = ex.top + "/sub/hollow", nodes = "*.*:-1 a.txt:0 sub:0 sub\\b.txt:2";
  MakeDirectories(hollow);
  WriteFileText(ex.top + "/sub/nothing", "");
  CreatePkgTree_Tool(ex.archive.c_str(), ex.top.c_str(), &ex.manager);
  EXPECT_EQ(ex.Nodes(), nodes + " sub\\hollow:2 sub\\nothing:2");
  // An empty file is stored as the 8-byte stream of no input.
  EXPECT_TRUE(ArchiveHolds(
      ex.archive, {ex.a, ex.b, {ex.N("sub\\nothing"), {0x78, 0x9C, 3, 0, 0, 0, 0, 1}, 0}}));

  // A missing top directory gives the empty archive and leaves the list; an empty one gives the
  // root node alone; a missing archive directory, nothing at all.
  CreatePkgTree_Tool(ex.archive.c_str(), (ex.dir / "absent").c_str(), &ex.manager);
  EXPECT_TRUE(ArchiveHolds(ex.archive, {}));
  EXPECT_EQ(ex.Nodes(), nodes + " sub\\hollow:2 sub\\nothing:2");
  CreatePkg_Tool(ex.archive.c_str(), ex.top.c_str());  // full again, to be replaced
  CreatePkgTree_Tool(ex.archive.c_str(), hollow.c_str(), &ex.manager);
  EXPECT_TRUE(ArchiveHolds(ex.archive, {}));
  CreatePkgTree_Tool((ex.dir / "no/such.pak").c_str(), ex.top.c_str(), &ex.manager);
  EXPECT_EQ(NodeText(ex.manager, hollow), "*.*:-1");
  EXPECT_FALSE(FileExists(ex.dir / "no"));
}

#ifndef _WIN32
// POSIX lists each directory sorted byte-wise, does not descend a link to a directory and packs
// a link to a file as that file. A file that cannot be read refuses the pack unless it is to be
// skipped, as CreatePkg_Tool does; a name over 259 bytes refuses it in any case.
TEST(PackTree, PosixWalkSortsByteWiseSkipsDirectoryLinksAndRefusesWhatCannotBeStored) {
  ExampleTree ex;
  ASSERT_LT(ex.top.size(), 130u);
  std::string x(120, 'x'), y(259 - ex.top.size() - 1 - 120 - 1, 'y'), xy = ex.N(x + "\\" + y);
  ASSERT_EQ(xy.size(), 259u);
  MakeDirectories(ex.top + "/" + x);
  WriteFileText(ex.top + "/" + x + "/" + y, "z");
  WriteFileText(ex.top + "/B", "B");
  WriteFileText(ex.top + "/_", "_");
  std::filesystem::create_directory_symlink(ex.top, ex.top + "/loop");
  std::filesystem::create_symlink(ex.top + "/a.txt", ex.top + "/link");
  std::filesystem::create_symlink(ex.dir / "nowhere", ex.top + "/dangling");
  CreatePkgTree_Tool(ex.archive.c_str(), ex.top.c_str(), &ex.manager);
  const std::vector<RawEntry> all = {TextEntry(ex.N("B"), "B"),
                                     TextEntry(ex.N("_"), "_"),
                                     ex.a,
                                     TextEntry(ex.N("link"), "a"),
                                     ex.b,
                                     TextEntry(xy, "z")};
  EXPECT_TRUE(ArchiveHolds(ex.archive, all));
  const std::string nodes = "*.*:-1 B:0 _:0 a.txt:0 dangling:0 link:0 sub:0 sub\\b.txt:6 " + x +
                            ":0 " + x + "\\" + y + ":8";
  EXPECT_EQ(ex.Nodes(), nodes);
  const Bytes before = ReadFileBytes(ex.archive);

  // By default the unreadable link refuses the pack: the archive and the list stay.
  for (unsigned threads : {1u, 2u}) {
    Problems problems;
    PackSettings settings;
    settings.threads = threads;
    Status status = PackTree(ex.archive.c_str(), ex.top.c_str(), &ex.manager, &problems, settings);
    EXPECT_EQ(status.Message(), ex.archive + ": not written: 1 file cannot be read");
    EXPECT_EQ(problems.text, std::vector<std::string>{
                                 ex.top + "/dangling: cannot be read: " + std::strerror(ENOENT)});
    EXPECT_EQ(ReadFileBytes(ex.archive), before);
    settings.skipUnreadable = true;
    problems.text.clear();
    EXPECT_TRUE(
        PackTree(ex.archive.c_str(), ex.top.c_str(), &ex.manager, &problems, settings).ok());
    EXPECT_EQ(problems.text.size(), 1u);
    EXPECT_TRUE(ArchiveHolds(ex.archive, all));
    EXPECT_EQ(ex.Nodes(), nodes);
  }

  // One byte more than 259, and two names the loader cannot tell apart, refuse the pack before
  // anything is written, whatever the settings; each is named.
  std::string longer = ex.top + "/" + x + "/" + y + "y";
  WriteFileText(longer, "too long");
  WriteFileText(ex.top + "/sub\\B.TXT", "b");
  Problems problems;
  PackSettings settings;
  settings.skipUnreadable = true;
  Status status = PackTree(ex.archive.c_str(), ex.top.c_str(), &ex.manager, &problems, settings);
  EXPECT_EQ(status.Message(),
            ex.archive + ": not written: 2 files have names that cannot be stored");
  EXPECT_EQ(problems.text,
            (std::vector<std::string>{
                ex.top + "/sub\\B.TXT: entry name '" + ex.N("sub\\B.TXT") + "' collides with '" +
                    ex.N("sub\\b.txt") + "' of " + ex.top + "/sub/b.txt" +
                    " (the game ignores case and slash direction); rename one",
                longer + ": its entry name is 260 bytes long; entry names hold at most 259"}));
  EXPECT_EQ(ReadFileBytes(ex.archive), before);
  EXPECT_EQ(ex.Nodes(), nodes);
  for (const auto& item : std::filesystem::directory_iterator(ex.dir.Path())) {
    EXPECT_EQ(item.path().filename().string().find(".tmp-"), std::string::npos);
  }
}
#endif

namespace {

// Counts the files a pack reused.
class Reuses : public PackObserver {
 public:
  void OnFile(const char*, uint32_t, uint32_t, bool) override {}
  void OnReused(const char*) override { ++reused; }
  int reused = 0;
};

PackSettings Incremental(PackReuse reuse, unsigned threads = 1) {
  PackSettings settings;
  settings.reuse = reuse;
  settings.writeCache = true;
  settings.threads = threads;
  return settings;
}

}  // namespace

// A pack that keeps a cache copies the block of every unchanged file from the archive it
// replaces: the archive is the same, byte for byte, as one that compresses everything.
TEST(PackTree, AnIncrementalPackReusesUnchangedFilesAndWritesTheBytesOfAFullPack) {
  TempDir dir;
  std::string tree = dir / "tree", archive = dir / "out.pak", full = dir / "full.pak";
  MakeDirectories(tree + "/sub");
  for (int i = 0; i < 6; ++i) {
    WriteFileText(tree + (i % 2 ? "/sub/f" : "/f") + std::to_string(i),
                  std::string(500 + i, 'a' + i));
  }
  auto packFull = [&] {
    EXPECT_TRUE(PackTree(full.c_str(), tree.c_str(), nullptr, nullptr).ok());
    return ReadFileBytes(full);
  };
  Reuses first;
  ASSERT_TRUE(
      PackTree(archive.c_str(), tree.c_str(), nullptr, &first, Incremental(PackReuse::Stamp)).ok());
  EXPECT_EQ(first.reused, 0);
  EXPECT_TRUE(FileExists(archive + ".korvo-cache"));
  EXPECT_EQ(ReadFileBytes(archive), packFull());

  // Nothing changed: every file reused, and the archive is left as it is.
  platform::FileIdentity before, after;
  {
    platform::File file;
    ASSERT_TRUE(platform::OpenForRead(archive.c_str(), file).ok());
    ASSERT_TRUE(platform::IdentifyFile(file, before).ok());
  }
  Reuses again;
  ASSERT_TRUE(
      PackTree(archive.c_str(), tree.c_str(), nullptr, &again, Incremental(PackReuse::Stamp)).ok());
  EXPECT_EQ(again.reused, 6);
  {
    platform::File file;
    ASSERT_TRUE(platform::OpenForRead(archive.c_str(), file).ok());
    ASSERT_TRUE(platform::IdentifyFile(file, after).ok());
  }
  EXPECT_EQ(after, before);
  EXPECT_EQ(ReadFileBytes(archive), packFull());

  // One file changed, one added: the other five are reused; packed again (on two threads),
  // all seven.
  WriteFileText(tree + "/f0", "changed");
  WriteFileText(tree + "/sub/new", "new");
  for (unsigned threads : {1u, 2u}) {
    Reuses changed;
    ASSERT_TRUE(PackTree(archive.c_str(), tree.c_str(), nullptr, &changed,
                         Incremental(PackReuse::Stamp, threads))
                    .ok());
    EXPECT_EQ(changed.reused, threads == 1 ? 5 : 7) << threads;
    EXPECT_EQ(ReadFileBytes(archive), packFull()) << threads;
  }

  // A cache that does not belong to the archive beside it is ignored.
  Bytes kept = ReadFileBytes(archive);
  WriteFileBytes(archive, kept);  // the same bytes, but a new modification time
  Reuses stale;
  ASSERT_TRUE(
      PackTree(archive.c_str(), tree.c_str(), nullptr, &stale, Incremental(PackReuse::Stamp)).ok());
  EXPECT_EQ(stale.reused, 0);
  EXPECT_EQ(ReadFileBytes(archive), kept);

  // A change that keeps the size and the modification time is found by its content.
  auto stamp = std::filesystem::last_write_time(tree + "/f2");
  WriteFileText(tree + "/f2", std::string(502, 'z'));
  std::filesystem::last_write_time(tree + "/f2", stamp);
  Reuses content;
  ASSERT_TRUE(
      PackTree(archive.c_str(), tree.c_str(), nullptr, &content, Incremental(PackReuse::Content))
          .ok());
  EXPECT_EQ(content.reused, 6);
  EXPECT_EQ(ReadFileBytes(archive), packFull());

  // Without reuse everything is compressed again; the cache file itself is never packed.
  Reuses none;
  ASSERT_TRUE(PackTree((tree + "/self.pak").c_str(), tree.c_str(), nullptr, nullptr,
                       Incremental(PackReuse::None))
                  .ok());
  ASSERT_TRUE(PackTree((tree + "/self.pak").c_str(), tree.c_str(), nullptr, &none,
                       Incremental(PackReuse::None))
                  .ok());
  EXPECT_EQ(none.reused, 0);
  EXPECT_EQ(GetU32(ReadFileBytes(tree + "/self.pak"), 4), 7u);
}

// Random edits of a tree, each followed by an incremental pack: the archive is always exactly
// what a full pack of the same tree writes.
TEST(PackTree, RandomEditsAndIncrementalPacksAlwaysGiveTheBytesOfAFullPack) {
  TempDir dir;
  std::string tree = dir / "tree", archive = dir / "out.pak", full = dir / "full.pak";
  MakeDirectories(tree + "/a");
  MakeDirectories(tree + "/b/c");
  const std::string places[] = {"/a/", "/b/", "/b/c/", "/"};
  uint32_t x = 12345;
  auto next = [&](uint32_t n) {
    x = x * 1103515245u + 12345u;
    return (x >> 16) % n;
  };
  int reused = 0;
  for (int step = 0; step < 40; ++step) {
    std::string file = tree + places[next(4)] + "f" + std::to_string(next(6));
    switch (next(4)) {
      case 0:
        std::filesystem::remove(file);
        break;
      case 1: {  // same size, new content
        size_t size = 100 + next(3) * 50;
        WriteFileText(file, std::string(size, static_cast<char>('a' + next(26))));
        break;
      }
      default:
        WriteFileText(file, std::string(next(3000), static_cast<char>('a' + next(26))));
        break;
    }
    PackReuse reuse = step % 3 == 2 ? PackReuse::Content : PackReuse::Stamp;
    Reuses observer;
    ASSERT_TRUE(PackTree(archive.c_str(), tree.c_str(), nullptr, &observer,
                         Incremental(reuse, 1 + step % 2))
                    .ok())
        << step;
    reused += observer.reused;
    ASSERT_TRUE(PackTree(full.c_str(), tree.c_str(), nullptr, nullptr).ok());
    ASSERT_EQ(ReadFileBytes(archive), ReadFileBytes(full)) << "step " << step;
  }
  EXPECT_GT(reused, 100);
}
