// Edits that never lose an archive: every write-family call of an add, a delete or a pack is
// made to fail (error mode) or to stop the process there (crash mode: that call tears its
// write and every later one fails, as if the process had died), and after recovery the archive
// must be byte for byte the old one or the expected new one. Also the journal's hot/cold rule,
// mounting's refusal, and packing on several threads giving the same bytes.
#include "authoring/journal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/journal_format.h"
#include "authoring/entry_tools.h"
#include "authoring/pack_tree.h"
#include "manager/package_manager.h"
#include "platform/fault_hook.h"
#include "platform/process.h"
#include "support/authoring_checks.h"

using namespace korvo;

namespace {

enum class FaultMode { Error, Crash };

// Counts write-family calls and fails the k-th one (k = 0: none).
struct FaultCounter {
  static platform::FaultDecision Hook(platform::WriteCall) {
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
    platform::g_faultHook = &Hook;
  }
  ~FaultCounter() { platform::g_faultHook = nullptr; }
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
  std::function<Status(const std::string& archive)> run;
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
    ASSERT_TRUE(edit.run(archive).ok()) << edit.name;
    const Bytes expected = ReadFileBytes(archive);
    ASSERT_NE(expected, old) << edit.name;
    int total = 0;
    {
      WriteFileBytes(archive, old);
      FaultCounter count(FaultMode::Error, 0);
      ASSERT_TRUE(edit.run(archive).ok());
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
          result = edit.run(archive);
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
       [&](const std::string& a) { return AddPkgFile(a.c_str(), source.c_str(), "new", nullptr); }},
      {"add replacing",
       [&](const std::string& a) { return AddPkgFile(a.c_str(), source.c_str(), "e1", nullptr); }},
      {"delete first", [&](const std::string& a) { return DelPkgFile(a.c_str(), "e0", nullptr); }},
      {"delete middle", [&](const std::string& a) { return DelPkgFile(a.c_str(), "e2", nullptr); }},
      {"delete last", [&](const std::string& a) { return DelPkgFile(a.c_str(), "e3", nullptr); }},
      {"pack over",
       [&](const std::string& a) {
         return PackTree(a.c_str(), (dir / "tree").c_str(), nullptr, nullptr);
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
    EXPECT_FALSE(DelPkgFile(archive.c_str(), "e0", nullptr).ok());
  }
  ASSERT_TRUE(FileExists(archive + "-journal"));
  EXPECT_TRUE(HasHotJournal(archive.c_str()));
  EXPECT_NE(ReadFileBytes(archive), old);
  CPackageManager manager(nullptr, 0);
  EXPECT_FALSE(manager.MountPackage(archive.c_str()));

  // Cut inside its last record's CRC: that record no longer counts.
  Bytes journal = ReadFileBytes(archive + "-journal");
  Bytes cut(journal.begin(), journal.end() - 1);
  WriteFileBytes(archive + "-journal", cut);
  Bytes headerOnly(journal.begin(), journal.begin() + JournalHeaderSize);
  WriteFileBytes(archive + "-journal", headerOnly);
  EXPECT_FALSE(HasHotJournal(archive.c_str()));
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

TEST_F(JournalSweep, AFullDiskNamesTheFileWrittenAndTheSystemsCause) {
  // Write call 2 creates the journal; call 12 writes the new entry's data into the archive.
  const std::pair<int, std::string> cases[] = {{2, archive + "-journal"}, {12, archive}};
  for (const auto& [k, file] : cases) {
    WriteFileBytes(archive, old);
    FaultCounter full(FaultMode::Error, k);
    Status status = AddPkgFile(archive.c_str(), source.c_str(), "new", nullptr);
    EXPECT_EQ(status.Message(), file + ": " + platform::ErrorText(ENOSPC));
    EXPECT_EQ(ReadFileBytes(archive), old) << k;
  }
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

}  // namespace
