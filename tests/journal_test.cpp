// Edits that never lose an archive: every write-family call of an add, a delete or a pack is
// made to fail (error mode) or to stop the process there (crash mode: that call tears its
// write and every later one fails, as if the process had died), and after recovery the archive
// must be byte for byte the old one or the expected new one. Also the journal's hot/cold rule,
// mounting's refusal, packing on several threads giving the same bytes, the deflate state kept
// between files giving compress's bytes, and the flushes of a long pack.
#include "authoring/journal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "archive/journal_format.h"
#include "authoring/entry_tools.h"
#include "authoring/file_compress.h"
#include "authoring/pack_tree.h"
#include "authoring/package.h"
#include "manager/package_manager.h"
#include "platform/process.h"
#include "support/authoring_checks.h"
#include "support/fault_env.h"

using namespace korvo;

namespace {

enum class FaultMode { Error, Crash };

// Counts write-family calls and fails the k-th one (k = 0: none).
struct FaultCounter {
  static FaultDecision Hook(WriteCall) {
    ++calls;
    if (mode == FaultMode::Crash && dead) return {EIO, false};
    if (calls != failAt) return {};
    if (mode == FaultMode::Crash) {
      dead = true;
      return {EIO, true};
    }
    return {ENOSPC, false};
  }
  FaultCounter(FaultMode m, int k) {
    mode = m;
    failAt = k;
    calls = 0;
    dead = false;
  }
  FaultInjectionEnv env{&Hook};
  inline static FaultMode mode = FaultMode::Error;
  inline static int failAt = 0, calls = 0;
  inline static bool dead = false;
};

// Files in dir whose names start with prefix (leftover temporary files and journals).
std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    std::string name = item.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) found.push_back(name);
  }
  return found;
}

struct Edit {
  const char* name;
  std::function<Status(const std::string& archive, platform::Env* env)> run;
};

Bytes SampleData(size_t size, uint32_t seed) {
  Bytes data(size);
  uint32_t x = seed;
  for (uint8_t& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>((x >> 16) % 7);  // compressible, but not trivially
  }
  return data;
}

// Bytes that deflate cannot shrink.
Bytes NoiseData(size_t size, uint64_t seed) {
  Bytes data(size);
  uint64_t x = seed | 1;
  for (uint8_t& b : data) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<uint8_t>(x >> 24);
  }
  return data;
}

class JournalSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirectories(dir / "tree/sub");
    for (int i = 0; i < 4; ++i) {
      Bytes data = SampleData(3000 + 977 * i, i + 1);
      entries.push_back(
          {"e" + std::to_string(i), Compress(data), static_cast<uint32_t>(data.size())});
    }
    old = BuildArchive(entries);
    WriteFileBytes(source, SampleData(2500, 99));
    WriteFileBytes(dir / "tree/a.bin", SampleData(4000, 5));
    WriteFileBytes(dir / "tree/sub/b.bin", SampleData(1500, 6));
  }

  // Sweeps every k over the edit in both modes; the archive after recovery is old or expected.
  void Sweep(const Edit& edit) {
    WriteFileBytes(archive, old);
    ASSERT_TRUE(edit.run(archive, platform::Env::Default()).ok()) << edit.name;
    const Bytes expected = ReadFileBytes(archive);
    ASSERT_NE(expected, old) << edit.name;
    int total = 0;
    {
      WriteFileBytes(archive, old);
      FaultCounter count(FaultMode::Error, 0);
      ASSERT_TRUE(edit.run(archive, &count.env).ok());
      total = FaultCounter::calls;
    }
    for (FaultMode mode : {FaultMode::Error, FaultMode::Crash}) {
      int damaged = 0, oldStates = 0, newStates = 0;
      for (int k = 1; k <= total; ++k) {
        WriteFileBytes(archive, old);
        std::filesystem::remove(archive + "-journal");
        Status result;
        {
          FaultCounter fault(mode, k);
          result = edit.run(archive, &fault.env);
        }
        if (mode == FaultMode::Error && result.ok()) {
          EXPECT_EQ(ReadFileBytes(archive), expected) << edit.name << " ok at k=" << k;
        }
        // A crash may leave a hot journal; the next opener rolls it back.
        bool rolledBack = false;
        EXPECT_TRUE(RecoverArchive(archive, rolledBack).ok()) << edit.name << " k=" << k;
        Bytes after = ReadFileBytes(archive);
        if (after == old) {
          ++oldStates;
        } else if (after == expected) {
          ++newStates;
        } else {
          ++damaged;
          ADD_FAILURE() << edit.name << (mode == FaultMode::Crash ? " crash" : " error")
                        << " at write call " << k << " of " << total << " damaged the archive";
        }
        EXPECT_FALSE(FileExists(archive + "-journal")) << edit.name << " k=" << k;
        if (mode == FaultMode::Error) {
          EXPECT_EQ(FilesStartingWith(dir.Path(), "out.pak.tmp-").size(), 0u) << "k=" << k;
        }
        for (const std::string& leftover : FilesStartingWith(dir.Path(), "out.pak.tmp-")) {
          std::filesystem::remove(dir / leftover);  // what a crash of a pack leaves
        }
      }
      EXPECT_EQ(damaged, 0) << edit.name;
      EXPECT_GT(oldStates, 0) << edit.name;
      EXPECT_EQ(oldStates + newStates, total) << edit.name;
    }
  }

  TempDir dir;
  std::string archive = dir / "out.pak", source = dir / "source.bin";
  std::vector<RawEntry> entries;
  Bytes old;
};

TEST_F(JournalSweep, AddDeleteAndPackLeaveTheOldOrTheNewArchiveAtEveryFailedOrCrashedWrite) {
  const Edit edits[] = {
      {"add new name",
       [&](const std::string& a, platform::Env* env) {
         return AddPkgFile(a.c_str(), source.c_str(), "new", nullptr, nullptr, nullptr, env);
       }},
      {"add replacing",
       [&](const std::string& a, platform::Env* env) {
         return AddPkgFile(a.c_str(), source.c_str(), "e1", nullptr, nullptr, nullptr, env);
       }},
      {"delete first",
       [&](const std::string& a, platform::Env* env) {
         return DelPkgFile(a.c_str(), "e0", nullptr, nullptr, nullptr, env);
       }},
      {"delete middle",
       [&](const std::string& a, platform::Env* env) {
         return DelPkgFile(a.c_str(), "e2", nullptr, nullptr, nullptr, env);
       }},
      {"delete last",
       [&](const std::string& a, platform::Env* env) {
         return DelPkgFile(a.c_str(), "e3", nullptr, nullptr, nullptr, env);
       }},
      {"pack over",
       [&](const std::string& a, platform::Env* env) {
         PackSettings settings;
         settings.env = env;
         return PackTree(a.c_str(), (dir / "tree").c_str(), nullptr, nullptr, settings);
       }},
  };
  for (const Edit& edit : edits) Sweep(edit);
}

// Only a complete, checked journal is hot; a cut one is discarded and the archive kept as is.
TEST_F(JournalSweep, OnlyACompleteJournalIsHotAndMountingRefusesAnArchiveWithOne) {
  WriteFileBytes(archive, old);
  {
    // Calls 1-11 make the journal; 12 tears the first write of the data move.
    FaultCounter crash(FaultMode::Crash, 12);
    EXPECT_FALSE(DelPkgFile(archive.c_str(), "e0", nullptr, nullptr, nullptr, &crash.env).ok());
  }
  ASSERT_TRUE(FileExists(archive + "-journal"));
  EXPECT_TRUE(HasHotJournal(archive.c_str()));
  EXPECT_NE(ReadFileBytes(archive), old);
  CPackageManager manager(nullptr, 0);
  EXPECT_FALSE(manager.MountPackage(archive.c_str()));

  // The records a reader accepts, up to the first cut short or failing its CRC; only a journal
  // with one is hot. This one saves the header's 16 bytes, then the move over the removed
  // block, with the block's bytes from byte 88 of the journal.
  const Bytes journal = ReadFileBytes(archive + "-journal");
  const size_t block = entries[0].stored.size();
  ASSERT_EQ(journal.size(),
            JournalHeaderSize + JournalRangeFixedSize + 16 + JournalMoveFixedSize + block);
  EXPECT_EQ(Bytes(journal.begin() + 88, journal.begin() + 88 + block), entries[0].stored);
  auto changed = [&](size_t at) {
    Bytes bytes = journal;
    bytes[at] ^= 0x01;
    return bytes;
  };
  const std::tuple<const char*, Bytes, size_t> variants[] = {
      {"complete", journal, 2},
      {"cut inside its last record's CRC", Bytes(journal.begin(), journal.end() - 1), 1},
      {"last record's CRC wrong", changed(journal.size() - 1), 1},
      {"a saved byte of the first record changed", changed(JournalHeaderSize + 16), 0},
      {"a saved byte of the last record changed", changed(journal.size() - 5), 1},
      {"header only", Bytes(journal.begin(), journal.begin() + JournalHeaderSize), 0},
  };
  for (const auto& [what, bytes, records] : variants) {
    WriteFileBytes(archive + "-journal", bytes);
    platform::File file;
    ASSERT_TRUE(platform::OpenForRead((archive + "-journal").c_str(), file).ok()) << what;
    JournalContents contents;
    ASSERT_TRUE(ReadJournal(file, archive + "-journal", contents).ok()) << what;
    ASSERT_TRUE(file.Close().ok()) << what;
    EXPECT_EQ(contents.ranges.size() + (contents.move.present ? 1 : 0), records) << what;
    EXPECT_EQ(HasHotJournal(archive.c_str()), records > 0) << what;
  }
  WriteFileBytes(archive + "-journal", journal);

  // Opening for an edit rolls it back and says so.
  CPackage package;
  ASSERT_TRUE(package.Open(archive.c_str()));
  EXPECT_TRUE(package.RecoveredJournal());
  package.CloseUnchanged();
  EXPECT_EQ(ReadFileBytes(archive), old);
  EXPECT_FALSE(FileExists(archive + "-journal"));
  EXPECT_TRUE(manager.MountPackage(archive.c_str()));
}

// A small block before a long tail would take too many journalled steps: the move then saves
// everything it overwrites first, and still leaves the old or the new archive.
TEST_F(JournalSweep, DeletingATinyBlockBeforeALongTailLeavesTheOldOrTheNewArchive) {
  std::vector<RawEntry> tiny = {{"empty", Compress(Bytes()), 0}};
  Bytes data = NoiseData(10000, 3);
  tiny.push_back({"noise", Compress(data), static_cast<uint32_t>(data.size())});
  old = BuildArchive(tiny);
  Sweep({"delete tiny first", [&](const std::string& a, platform::Env* env) {
           return DelPkgFile(a.c_str(), "empty", nullptr, nullptr, nullptr, env);
         }});
}

// A rollback of a half-done move that itself stops at any write is finished by the next one.
TEST_F(JournalSweep, ARollbackOfAMoveStoppedAtAnyWriteIsFinishedByTheNextOne) {
  auto interrupt = [&] {
    WriteFileBytes(archive, old);
    // Call 12 is the move's first write; each step takes four calls, and 26 tears the fourth
    // step's record of its progress.
    FaultCounter crash(FaultMode::Crash, 26);
    EXPECT_FALSE(DelPkgFile(archive.c_str(), "e0", nullptr, nullptr, nullptr, &crash.env).ok());
  };
  interrupt();
  JournalContents contents;
  {
    platform::File file;
    ASSERT_TRUE(platform::OpenForRead((archive + "-journal").c_str(), file).ok());
    ASSERT_TRUE(ReadJournal(file, archive + "-journal", contents).ok());
  }
  ASSERT_TRUE(contents.move.present);
  EXPECT_EQ(contents.move.moved, 3 * contents.move.shift);
  int total = 0;
  {
    bool rolledBack = false;
    FaultCounter count(FaultMode::Error, 0);
    ASSERT_TRUE(RecoverArchive(archive, rolledBack, &count.env).ok());
    total = FaultCounter::calls;
    EXPECT_EQ(ReadFileBytes(archive), old);
  }
  EXPECT_GT(total, 8);
  for (int k = 1; k <= total; ++k) {
    interrupt();
    bool rolledBack = false;
    {
      FaultCounter crash(FaultMode::Crash, k);
      EXPECT_FALSE(RecoverArchive(archive, rolledBack, &crash.env).ok()) << k;
    }
    ASSERT_TRUE(RecoverArchive(archive, rolledBack).ok()) << k;
    EXPECT_EQ(ReadFileBytes(archive), old) << "rollback stopped at write " << k;
    EXPECT_FALSE(FileExists(archive + "-journal")) << k;
  }
}

// An incremental pack that fails or stops at any write leaves the old archive or the new one,
// and never a cache that a later pack would trust for the wrong archive.
TEST_F(JournalSweep, AnIncrementalPackLeavesTheOldOrTheNewArchiveAtEveryFailedOrCrashedWrite) {
  const std::string tree = dir / "tree", full = dir / "full.pak";
  PackSettings settings;
  settings.reuse = PackReuse::Stamp;
  settings.writeCache = true;
  settings.threads = 1;
  auto start = [&] {
    WriteFileBytes(dir / "tree/a.bin", SampleData(4000, 5));
    std::filesystem::remove(archive);
    std::filesystem::remove(archive + ".korvo-cache");
    PackSettings first = settings;
    ASSERT_TRUE(PackTree(archive.c_str(), tree.c_str(), nullptr, nullptr, first).ok());
    WriteFileBytes(dir / "tree/a.bin", SampleData(4100, 7));  // changed; sub/b.bin is reused
  };
  start();
  const Bytes before = ReadFileBytes(archive);
  ASSERT_TRUE(PackTree(full.c_str(), tree.c_str(), nullptr, nullptr).ok());
  const Bytes expected = ReadFileBytes(full);
  int total = 0;
  {
    FaultCounter count(FaultMode::Error, 0);
    PackSettings counted = settings;
    counted.env = &count.env;
    ASSERT_TRUE(PackTree(archive.c_str(), tree.c_str(), nullptr, nullptr, counted).ok());
    total = FaultCounter::calls;
    EXPECT_EQ(ReadFileBytes(archive), expected);
  }
  for (FaultMode mode : {FaultMode::Error, FaultMode::Crash}) {
    int oldStates = 0;
    for (int k = 1; k <= total; ++k) {
      start();
      {
        FaultCounter fault(mode, k);
        PackSettings faulty = settings;
        faulty.env = &fault.env;
        (void)PackTree(archive.c_str(), tree.c_str(), nullptr, nullptr, faulty);
      }
      Bytes after = ReadFileBytes(archive);
      if (after == before) ++oldStates;
      EXPECT_TRUE(after == before || after == expected) << "write call " << k << " of " << total;
      for (const std::string& leftover : FilesStartingWith(dir.Path(), "out.pak.")) {
        if (leftover != "out.pak.korvo-cache") std::filesystem::remove(dir / leftover);
      }
      // Whatever cache is left, the next pack writes the bytes of a full pack.
      ASSERT_TRUE(PackTree(archive.c_str(), tree.c_str(), nullptr, nullptr, settings).ok()) << k;
      EXPECT_EQ(ReadFileBytes(archive), expected) << "after write call " << k;
    }
    EXPECT_GT(oldStates, 0);
  }
}

TEST_F(JournalSweep, AFullDiskNamesTheFileWrittenAndTheSystemsCause) {
  // Write call 2 creates the journal; call 12 writes the new entry's data into the archive.
  const std::pair<int, std::string> cases[] = {{2, archive + "-journal"}, {12, archive}};
  for (const auto& [k, file] : cases) {
    WriteFileBytes(archive, old);
    FaultCounter full(FaultMode::Error, k);
    Status status =
        AddPkgFile(archive.c_str(), source.c_str(), "new", nullptr, nullptr, nullptr, &full.env);
    EXPECT_EQ(status.Message(), file + ": " + platform::ErrorText(ENOSPC));
    EXPECT_EQ(ReadFileBytes(archive), old) << k;
  }
}

// A delete of "a" from the archive of a, b and c that stopped in its move, as an earlier version
// left it: the archive half moved, and a journal of the first format saving the header and the
// whole tail. It is still rolled back.
TEST(JournalFormats, AJournalOfTheFirstFormatIsStillRolledBack) {
  const std::vector<RawEntry> entries = {TextEntry("a", "first entry text"),
                                         TextEntry("b", "second one"), TextEntry("c", "third")};
  const Bytes interrupted = {
      0x64, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x47, 0x00, 0x00, 0x00, 0x39, 0x00, 0x00,
      0x00, 0x78, 0x9c, 0x2b, 0x4e, 0x4d, 0xce, 0xcf, 0x4b, 0x51, 0xc8, 0xcf, 0x4b, 0x05, 0x00,
      0x15, 0xcc, 0x03, 0xdf, 0x78, 0x9c, 0x2b, 0xc9, 0xc8, 0x2c, 0x4a, 0x01, 0x00, 0x06, 0x6c,
      0x02, 0x1c, 0x01, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00,
      0x2b, 0xc9, 0xc8, 0x2c, 0x4a, 0x01, 0x00, 0x06, 0x6c, 0x02, 0x1c, 0x01, 0x00, 0x61, 0x00,
      0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00,
      0x01, 0x00, 0x62, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00,
      0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x63, 0x00, 0x00, 0x00, 0x00, 0x3a, 0x00, 0x00, 0x00,
      0x05, 0x00, 0x00, 0x00, 0x0d, 0x00, 0x00, 0x00,
  };
  const Bytes journal = {
      0x4b, 0x56, 0x4a, 0x52, 0x4e, 0x4c, 0x30, 0x31, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x37, 0x35, 0xa7, 0xc9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x47,
      0x00, 0x00, 0x00, 0x39, 0x00, 0x00, 0x00, 0xbf, 0x45, 0xf4, 0x52, 0x10, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x70, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x9c, 0x4b,
      0xcb, 0x2c, 0x2a, 0x2e, 0x51, 0x48, 0xcd, 0x2b, 0x29, 0xaa, 0x54, 0x28, 0x49, 0xad, 0x28,
      0x01, 0x00, 0x35, 0xe1, 0x06, 0x60, 0x78, 0x9c, 0x2b, 0x4e, 0x4d, 0xce, 0xcf, 0x4b, 0x51,
      0xc8, 0xcf, 0x4b, 0x05, 0x00, 0x15, 0xcc, 0x03, 0xdf, 0x78, 0x9c, 0x2b, 0xc9, 0xc8, 0x2c,
      0x4a, 0x01, 0x00, 0x06, 0x6c, 0x02, 0x1c, 0x01, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x10,
      0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x01, 0x00, 0x62, 0x00,
      0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00,
      0x01, 0x00, 0x63, 0x00, 0x00, 0x00, 0x00, 0x3a, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
      0x0d, 0x00, 0x00, 0x00, 0xbb, 0xe1, 0xaf, 0x06,
  };
  TempDir dir;
  const std::string archive = dir / "old.pak";
  WriteFileBytes(archive, interrupted);
  WriteFileBytes(archive + "-journal", journal);
  EXPECT_TRUE(HasHotJournal(archive.c_str()));
  bool rolledBack = false;
  ASSERT_TRUE(RecoverArchive(archive, rolledBack).ok());
  EXPECT_TRUE(rolledBack);
  EXPECT_EQ(ReadFileBytes(archive), BuildArchive(entries));
  EXPECT_FALSE(FileExists(archive + "-journal"));
}

TEST(PackThreads, SeveralThreadsWriteTheSameBytesAsOne) {
  TempDir dir;
  for (int i = 0; i < 40; ++i) {
    std::string sub = dir / ("tree/d" + std::to_string(i % 5));
    MakeDirectories(sub);
    WriteFileBytes(sub + "/f" + std::to_string(i), SampleData(static_cast<size_t>(i) * 701, i));
  }
  std::vector<Bytes> results;
  for (unsigned threads : {1u, 2u, 4u, 7u}) {
    PackSettings settings;
    settings.threads = threads;
    settings.memoryBudget = threads == 7 ? 1 : size_t{1} << 20;  // 1: one file at a time
    std::string out = dir / ("t" + std::to_string(threads) + ".pak");
    ASSERT_TRUE(PackTree(out.c_str(), (dir / "tree").c_str(), nullptr, nullptr, settings).ok());
    results.push_back(ReadFileBytes(out));
  }
  for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]) << i;
}

TEST(Deflater, OneStateKeptAcrossFilesGivesExactlyTheBytesOfCompress) {
  const Bytes inputs[] = {Bytes(),           ToBytes("a"),          SampleData(300, 1),
                          NoiseData(700, 2), SampleData(200000, 3), NoiseData(70000, 4)};
  Deflater deflater;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t k = 0; k < std::size(inputs); ++k) {
      // The second pass goes backwards: a large input before a small one.
      const Bytes& input = inputs[pass == 0 ? k : std::size(inputs) - 1 - k];
      Bytes out(input.size() + input.size() / 1000 + 64);
      uint32_t length = 0;
      ASSERT_TRUE(deflater.Compress(input.data(), static_cast<uint32_t>(input.size()), out.data(),
                                    static_cast<uint32_t>(out.size()), length));
      out.resize(length);
      EXPECT_EQ(out, Compress(input)) << "pass " << pass << " input of " << input.size();
    }
  }
  // Too little room fails; the state is still good for the next file.
  Bytes input = NoiseData(5000, 5), small(100);
  uint32_t length = 0;
  EXPECT_FALSE(deflater.Compress(input.data(), 5000, small.data(), 100, length));
  Bytes out(6000);
  ASSERT_TRUE(deflater.Compress(input.data(), 5000, out.data(), 6000, length));
  out.resize(length);
  EXPECT_EQ(out, Compress(input));
}

TEST(PackThreads, MoreFilesThanWorkersRunAheadAndNoBudgetStillGiveTheBytesOfOneThread) {
  TempDir dir;
  for (int i = 0; i < 1100; ++i) {
    std::string sub = dir / ("tree/s" + std::to_string(i / 100));
    if (i % 100 == 0) MakeDirectories(sub);
    WriteFileBytes(sub + "/f" + std::to_string(i), SampleData(static_cast<size_t>(i % 37) * 11, i));
  }
  std::vector<Bytes> results;
  for (unsigned threads : {1u, 2u, 3u}) {
    PackSettings settings;
    settings.threads = threads;
    settings.memoryBudget = threads == 3 ? 0 : size_t{1} << 20;
    std::string out = dir / ("t" + std::to_string(threads) + ".pak");
    ASSERT_TRUE(PackTree(out.c_str(), (dir / "tree").c_str(), nullptr, nullptr, settings).ok());
    results.push_back(ReadFileBytes(out));
  }
  EXPECT_EQ(GetU32(results[0], 4), 1100u);
  for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]) << i;
}

// Fails the k-th flush or write-back (1 for the first; 0 for none), and counts each kind.
struct SyncFault {
  static FaultDecision Hook(WriteCall call) {
    if (call != WriteCall::Sync && call != WriteCall::WriteBack) return {};
    ++(call == WriteCall::Sync ? syncs : writeBacks);
    return syncs + writeBacks == failAt ? FaultDecision{EIO, false} : FaultDecision{};
  }
  explicit SyncFault(int k) {
    failAt = k;
    syncs = 0;
    writeBacks = 0;
  }
  FaultInjectionEnv env{&Hook};
  inline static int failAt = 0, syncs = 0, writeBacks = 0;
};

TEST(PackFlush, ALongPackWritesBackAsItGoesAndAFailedWriteBackOrFlushLeavesTheOldArchive) {
  TempDir dir;
  MakeDirectories(dir / "tree");
  for (int i = 0; i < 3; ++i)
    WriteFileBytes(dir / ("tree/f" + std::to_string(i)), NoiseData(4 << 20, i + 1));
  std::string archive = dir / "out.pak";
  WriteFileText(archive, "old");
  for (unsigned threads : {1u, 2u}) {
    PackSettings settings;
    settings.threads = threads;
    {
      // The first two files make more than 8 MiB: the disk starts writing them then, without
      // the writer waiting for it, and the one flush comes at the end.
      SyncFault count(0);
      settings.env = &count.env;
      ASSERT_TRUE(
          PackTree(archive.c_str(), (dir / "tree").c_str(), nullptr, nullptr, settings).ok());
      EXPECT_EQ(SyncFault::writeBacks, 1) << threads;
      EXPECT_EQ(SyncFault::syncs, 1) << threads;
    }
    Bytes packed = ReadFileBytes(archive);
    EXPECT_EQ(GetU32(packed, 4), 3u);
    // The write-back that fails, then the flush at the end.
    for (int k : {1, 2}) {
      WriteFileText(archive, "old");
      SyncFault fail(k);
      settings.env = &fail.env;
      Status status = PackTree(archive.c_str(), (dir / "tree").c_str(), nullptr, nullptr, settings);
      EXPECT_EQ(status.code(), StatusCode::IoError) << threads << k;
      EXPECT_EQ(status.systemError(), EIO) << threads << k;
      EXPECT_EQ(ReadFileBytes(archive), ToBytes("old")) << threads << k;
      EXPECT_EQ(FilesStartingWith(dir.Path(), "out.pak.tmp-").size(), 0u) << threads << k;
    }
  }
}

// Raises the cancel flag once it has been told about a number of files.
class CancelAfter : public PackObserver {
 public:
  CancelAfter(std::atomic<bool>& cancel, int files) : cancel_(cancel), left_(files) {}
  void OnFile(const char*, uint32_t, uint32_t, bool) override {
    ++told;
    if (--left_ == 0) cancel_.store(true);
  }
  int told = 0;

 private:
  std::atomic<bool>& cancel_;
  int left_;
};

TEST(PackCancel, ACancelledPackStopsBetweenFilesAndLeavesTheOldArchive) {
  TempDir dir;
  for (int i = 0; i < 300; ++i) {
    std::string sub = dir / ("tree/s" + std::to_string(i / 30));
    if (i % 30 == 0) MakeDirectories(sub);
    WriteFileBytes(sub + "/f" + std::to_string(i), SampleData(100 + i, i));
  }
  std::string archive = dir / "out.pak";
  for (unsigned threads : {1u, 2u, 4u}) {
    WriteFileText(archive, "old");
    std::atomic<bool> cancel{false};
    CancelAfter observer(cancel, 3);
    PackSettings settings;
    settings.threads = threads;
    settings.cancel = &cancel;
    CPackageManager manager(nullptr, 0);
    Status status =
        PackTree(archive.c_str(), (dir / "tree").c_str(), &manager, &observer, settings);
    EXPECT_EQ(status.code(), StatusCode::Interrupted) << threads;
    EXPECT_EQ(observer.told, 3) << threads;
    EXPECT_EQ(ReadFileBytes(archive), ToBytes("old")) << threads;
    EXPECT_EQ(FilesStartingWith(dir.Path(), "out.pak.tmp-").size(), 0u) << threads;
  }
}

// Raises a cancel flag at the k-th write-family call (k = 0: never).
struct CancelAt {
  static FaultDecision Hook(WriteCall) {
    if (++calls == at) flag->store(true);
    return {};
  }
  CancelAt(std::atomic<bool>& cancel, int k) {
    flag = &cancel;
    at = k;
    calls = 0;
  }
  FaultInjectionEnv env{&Hook};
  inline static std::atomic<bool>* flag = nullptr;
  inline static int at = 0, calls = 0;
};

// A cancel raised at any write of an add or a delete, or before it starts, either comes too
// late (the edit is made) or rolls the archive back byte for byte and leaves no journal. The
// delete moves 3 MiB, so a cancel also lands between chunks of its move.
TEST(PackCancel, ACancelledAddOrDeleteLeavesTheOldArchiveOrTheNewOne) {
  TempDir dir;
  std::vector<RawEntry> entries;
  for (int i = 0; i < 3; ++i) {
    Bytes data = NoiseData(1 << 20, i + 1);
    entries.push_back(
        {"e" + std::to_string(i), Compress(data), static_cast<uint32_t>(data.size())});
  }
  const Bytes old = BuildArchive(entries);
  const std::string archive = dir / "out.pak", source = dir / "source.bin";
  WriteFileBytes(source, SampleData(2500, 99));
  using Run = std::function<Status(const std::atomic<bool>*, platform::Env*)>;
  const std::pair<const char*, Run> edits[] = {
      {"add",
       [&](const std::atomic<bool>* cancel, platform::Env* env) {
         return AddPkgFile(archive.c_str(), source.c_str(), "new", nullptr, nullptr, cancel, env);
       }},
      {"delete", [&](const std::atomic<bool>* cancel, platform::Env* env) {
         return DelPkgFile(archive.c_str(), "e0", nullptr, nullptr, cancel, env);
       }}};
  for (const auto& edit : edits) {
    WriteFileBytes(archive, old);
    std::atomic<bool> never{false};
    int total = 0;
    {
      CancelAt count(never, 0);
      ASSERT_TRUE(edit.second(&never, &count.env).ok()) << edit.first;
      total = CancelAt::calls;
    }
    const Bytes expected = ReadFileBytes(archive);
    int interrupted = 0;
    for (int k = -1; k <= total; ++k) {
      WriteFileBytes(archive, old);
      std::atomic<bool> cancel{k == -1};
      Status status;
      {
        CancelAt at(cancel, k);
        status = edit.second(&cancel, &at.env);
      }
      if (status.code() == StatusCode::Interrupted) {
        ++interrupted;
        EXPECT_EQ(ReadFileBytes(archive), old) << edit.first << " cancelled at write " << k;
      } else {
        EXPECT_TRUE(status.ok()) << edit.first << " k=" << k << ": " << status.Message();
        EXPECT_EQ(ReadFileBytes(archive), expected) << edit.first << " k=" << k;
      }
      EXPECT_FALSE(FileExists(archive + "-journal")) << edit.first << " k=" << k;
    }
    EXPECT_GT(interrupted, 1) << edit.first;
  }
  // The editor itself stops the move of a delete before its next chunk and rolls it back.
  WriteFileBytes(archive, old);
  std::atomic<bool> cancel{true};
  CPackage package;
  ASSERT_TRUE(package.Open(archive.c_str()));
  EXPECT_EQ(package.Remove("e0", &cancel).code(), StatusCode::Interrupted);
  EXPECT_FALSE(package.file.IsOpen());
  EXPECT_EQ(ReadFileBytes(archive), old);
  EXPECT_FALSE(FileExists(archive + "-journal"));
}

}  // namespace
