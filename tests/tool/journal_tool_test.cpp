// The korvo binary killed in the middle of edits and packs: after recovery the archive is the
// old one or the new one, byte for byte, and nothing else; an interrupted pack leaves the old
// archive and no temporary file. Also a hot journal named by verify, and read-only targets.
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "tool/tool_runner.h"

namespace {

class ToolCrash : public ToolTest {
 protected:
  void SetUp() override {
    std::mt19937 random(11);
    std::vector<RawEntry> entries;
    // About 4 MB: 24 entries of half-compressible bytes.
    for (int i = 0; i < 24; ++i) {
      Bytes data(350000);
      for (uint8_t& b : data) b = static_cast<uint8_t>(random() % 16);
      entries.push_back(
          {"data\\e" + std::to_string(i), Compress(data), static_cast<uint32_t>(data.size())});
    }
    old = BuildArchive(entries);
    Bytes source(1 << 20);
    for (uint8_t& b : source) b = static_cast<uint8_t>(random() % 16);
    WriteFileBytes(dir / "source.bin", source);
  }
  std::vector<std::string> Leftovers() {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
      std::string name = item.path().filename().string();
      if (name.find(".tmp-") != std::string::npos || name.find("-journal") != std::string::npos)
        names.push_back(name);
    }
    return names;
  }
  // What a command the signal stopped leaves: nothing stray, its exit status, the one line and
  // the old archive. False, after saying so, when it finished before the signal.
  bool LeftTheOldArchive(const ToolResult& result, const std::pair<std::string, int>& signal,
                         const char* command) {
    EXPECT_TRUE(Leftovers().empty()) << signal.first;
    if (result.code == 0) {
      std::printf("SIG%s: the %s finished before the signal\n", signal.first.c_str(), command);
      return false;
    }
    EXPECT_EQ(result.code, signal.second) << signal.first;
    EXPECT_EQ(result.err, "korvo: a.pak: interrupted; the archive was not changed\n");
    EXPECT_EQ(ReadFileBytes(dir / "a.pak"), old) << signal.first;
    return true;
  }
  Bytes old;
};

TEST_F(ToolCrash, KilledAddsAndDeletesLeaveTheOldOrTheNewArchive) {
  const std::vector<std::string> edits[] = {{"del", "a.pak", "data\\e0"},
                                            {"add", "a.pak", "source.bin", "data\\new"}};
  std::mt19937 random(2024);
  for (const std::vector<std::string>& edit : edits) {
    WriteFileBytes(dir / "a.pak", old);
    ASSERT_EQ(Run(edit).code, 0);
    const Bytes expected = ReadFileBytes(dir / "a.pak");
    std::string command = Quote(KORVO_TOOL_PATH);
    for (const std::string& arg : edit) command += " " + Quote(arg);
    int oldStates = 0, newStates = 0;
    for (int round = 0; round < 10; ++round) {
      WriteFileBytes(dir / "a.pak", old);
      // Killed at a moment from 0 to 60 ms into the edit.
      int micros = static_cast<int>(random() % 60000);
      Shell(command + " & pid=$!; sleep " + std::to_string(micros / 1e6) +
            "; kill -9 $pid; wait $pid");
      ToolResult repair = Run({"verify", "--repair", "a.pak"});
      EXPECT_EQ(repair.code, 0) << edit[0] << " killed at " << micros << " us: " << repair.err;
      Bytes after = ReadFileBytes(dir / "a.pak");
      oldStates += after == old;
      newStates += after == expected;
      EXPECT_TRUE(after == old || after == expected) << edit[0] << " killed at " << micros;
      EXPECT_TRUE(Leftovers().empty()) << edit[0];
    }
    EXPECT_EQ(oldStates + newStates, 10) << edit[0];
  }
}

TEST_F(ToolCrash, AHotJournalIsNamedByVerifyAndRolledBackByAnEdit) {
  // An edit killed after its journal holds the saved bytes and before it finishes. The kill is
  // timed from the moment the journal appears (so a slow start under a sanitizer does not
  // matter), a little later on each attempt, until it leaves a hot journal that verify names.
  ToolResult verify;
  bool hot = false;
  for (int attempt = 0; attempt < 40 && !hot; ++attempt) {
    WriteFileBytes(dir / "a.pak", old);
    std::filesystem::remove(dir / "a.pak-journal");
    Shell(Quote(KORVO_TOOL_PATH) +
          " del a.pak 'data\\e0' & pid=$!; while [ ! -e a.pak-journal ] && kill -0 $pid "
          "2>/dev/null; do :; done; sleep " +
          std::to_string(attempt * 0.002) + "; kill -9 $pid; wait");
    if (!FileExists(dir / "a.pak-journal")) continue;
    verify = Run({"verify", "a.pak"});
    hot = verify.code == 1;
  }
  if (!hot) GTEST_SKIP() << "no kill landed while the journal was hot";
  EXPECT_NE(verify.err.find("korvo verify --repair"), std::string::npos) << verify.err;
  ToolResult list = Run({"del", "a.pak", "data\\e1"});
  EXPECT_EQ(list.code, 0);
  EXPECT_NE(list.err.find("rolled back an interrupted edit"), std::string::npos) << list.err;
}

// The signals that stop a command, and the status it then exits with. Under Wine only SIGINT
// reaches a Windows program (as Ctrl-C).
const std::pair<std::string, int> StopSignals[] = {{"INT", 130}, {"TERM", 143}, {"HUP", 129}};
bool Delivered(const std::pair<std::string, int>& signal) {
  return !KORVO_TOOL_ON_WINDOWS || signal.first == "INT";
}

TEST_F(ToolCrash, AnInterruptedPackLeavesTheOldArchiveAndNoTemporaryFile) {
  MakeDirectories(dir / "tree");
  std::mt19937 random(5);
  int made = 0;
  for (const auto& signal : StopSignals) {
    if (!Delivered(signal)) continue;
    // The signal must land while the pack runs, after korvo has set up its handler (until then
    // a background job ignores SIGINT, and SIGTERM or SIGHUP would end it unhandled): it is
    // sent once the temporary archive exists, which the pack creates after the handler. A pack
    // that finished first gets a tree twice as large and the original archive back.
    ToolResult result;
    for (int files = 200; files <= 800; files *= 2) {
      for (; made < files; ++made) {
        Bytes data(60000);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random() % 16);
        WriteFileBytes(dir / ("tree/f" + std::to_string(made)), data);
      }
      WriteFileBytes(dir / "a.pak", old);
      result = Shell(Quote(KORVO_TOOL_PATH) +
                     " pack a.pak tree & pid=$!; while kill -0 $pid 2>/dev/null; do set -- "
                     "a.pak.tmp-*; [ -e \"$1\" ] && break; done; kill -" +
                     signal.first + " $pid; wait $pid");
      if (result.code != 0) break;
    }
    LeftTheOldArchive(result, signal, "pack");
  }
}

TEST_F(ToolCrash, AnInterruptedDeleteRollsBackSaysSoAndExitsWithTheSignal) {
  // Signalled once its journal exists, while it saves and moves 4 MB; a delete that finished
  // first is run again.
  for (const auto& signal : StopSignals) {
    if (!Delivered(signal)) continue;
    ToolResult result;
    for (int attempt = 0; attempt < 10 && (attempt == 0 || result.code == 0); ++attempt) {
      WriteFileBytes(dir / "a.pak", old);
      result = Shell(Quote(KORVO_TOOL_PATH) +
                     " del a.pak 'data\\e0' & pid=$!; while [ ! -e a.pak-journal ] && kill -0 "
                     "$pid 2>/dev/null; do :; done; kill -" +
                     signal.first + " $pid; wait $pid");
    }
    if (LeftTheOldArchive(result, signal, "delete")) {
      EXPECT_EQ(Run({"verify", "a.pak"}).code, 0) << signal.first;
    }
  }
}

TEST_F(ToolCrash, AnInterruptedExtractLeavesWholeFilesOnlyAndSaysHowMany) {
  // Signalled once it has made the first entry's folder, while it writes 24 flushed files.
  const auto& signal = StopSignals[KORVO_TOOL_ON_WINDOWS ? 0 : 1];
  WriteFileBytes(dir / "a.pak", old);
  ToolResult result;
  for (int attempt = 0; attempt < 10 && (attempt == 0 || result.code == 0); ++attempt) {
    std::filesystem::remove_all(dir / "out");
    result = Shell(Quote(KORVO_TOOL_PATH) +
                   " extract a.pak -o out & pid=$!; while [ ! -e out/data ] && kill -0 $pid "
                   "2>/dev/null; do :; done; kill -" +
                   signal.first + " $pid; wait $pid");
  }
  if (result.code == 0) GTEST_SKIP() << "the extraction finished before the signal";
  EXPECT_EQ(result.code, signal.second);
  size_t whole = 0;
  std::vector<std::string> others;
  for (const auto& item : std::filesystem::directory_iterator(dir / "out/data")) {
    if (std::filesystem::file_size(item.path()) == 350000) {
      ++whole;
    } else {
      others.push_back(item.path().filename().string());
    }
  }
  EXPECT_EQ(others, std::vector<std::string>());
  EXPECT_EQ(result.err, "korvo: a.pak: interrupted; extracted " + std::to_string(whole) +
                            " of 24 entries, no partial file left\n");
}

TEST_F(ToolCrash, PackRefusesAReadOnlyArchiveAndKeepsTheModeOfAWritableOne) {
  if (KORVO_TOOL_ON_WINDOWS) GTEST_SKIP() << "POSIX permission bits";
  MakeDirectories(dir / "tree");
  WriteFileText(dir / "tree/a.txt", "a");
  WriteFileBytes(dir / "a.pak", old);
  chmod((dir / "a.pak").c_str(), 0444);
  Expect({"pack", "a.pak", "tree"}, 1, "", "korvo: a.pak: Permission denied\n");
  EXPECT_EQ(ReadFileBytes(dir / "a.pak"), old);
  chmod((dir / "a.pak").c_str(), 0640);
  EXPECT_EQ(Run({"pack", "-q", "a.pak", "tree"}).code, 0);
  struct stat st {};
  stat((dir / "a.pak").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
