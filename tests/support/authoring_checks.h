// Checks for archives that the writers produce: reading every entry back through the mapped
// reader and through a mounting manager, capturing the debugger output, and watching the
// archive editor's open attempts.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"

// One entry as read back: its exact name and its inflated bytes.
using NamedBytes = std::pair<std::string, Bytes>;

// Walks the archive's index with the mapped reader and inflates every entry, in index order.
// Fails the test when the archive does not open or an entry does not inflate.
std::vector<NamedBytes> ReadEntriesBack(const std::string& path);

// Mounts the archive in a fresh manager and reads each expected entry by name through
// OpenStream; every byte must match, and the manager must index exactly these names.
void ExpectMountsAndReadsBack(const std::string& path, const std::vector<NamedBytes>& expected);

// Counts the archive editor's open attempts while it lives, and restores the real open.
class OpenAttemptCounter {
 public:
  OpenAttemptCounter();
  ~OpenAttemptCounter();
  OpenAttemptCounter(const OpenAttemptCounter&) = delete;
  OpenAttemptCounter& operator=(const OpenAttemptCounter&) = delete;

  int Attempts() const;
};

// The authoring messages sent while the object lives, one line each ("message\n"); they do
// not reach the debugger output meanwhile.
class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::string Text() const;
};
