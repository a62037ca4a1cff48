// Helpers for the read-path suites: hand-made headers and index records, repeatable contents,
// scratch packages mapped for a scope, walking or draining what the library hands out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/mapped_package.h"
#include "archive/names.h"
#include "manager/package_manager.h"
#include "stream/res_stream.h"
#include "support/archive_bytes.h"

using namespace korvo;  // NOLINT: test support

// The 16 header bytes: tag, entryCount, indexOffset, indexSize.
inline Bytes HeaderBytes(uint32_t entryCount, uint32_t indexOffset, uint32_t indexSize,
                         uint32_t tag = 100) {
  Bytes out;
  for (uint32_t value : {tag, entryCount, indexOffset, indexSize}) PutU32(out, value);
  return out;
}

// Appends one index record: the u16 name length, the name, then the four u32 fields.
inline void PutRecord(Bytes& out, const std::string& name, uint32_t flags, uint32_t offset,
                      uint32_t size, uint32_t packedSize) {
  PutU16(out, static_cast<uint16_t>(name.size()));
  PutText(out, name);
  for (uint32_t value : {flags, offset, size, packedSize}) PutU32(out, value);
}

// n bytes of a repeatable pattern that differs by seed.
inline std::string Pattern(size_t n, char seed) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(seed + i * 7 + (i >> 8));
  return out;
}

// Writes BuildArchive(entries) to path and returns path.
inline std::string WriteArchive(const std::string& path, const std::vector<RawEntry>& entries) {
  WriteFileBytes(path, BuildArchive(entries));
  return path;
}

// A package file in a temporary directory of its own, mapped while the object lives.
struct ScratchPackage {
  explicit ScratchPackage(const Bytes& bytes) {
    WriteFileBytes(dir / "scratch.pak", bytes);
    opened = package.Open((dir / "scratch.pak").c_str());
  }
  ~ScratchPackage() {
    if (opened) package.Close();
  }
  TempDir dir;
  CMappedPackage package;
  bool opened = false;
};

// Runs FirstEntry and NextEntry on one PackageEntry, as mounting does, and gives the entry as
// "name flags offset size packedSize" after each call that reported a record. Stops after limit
// records, so that a walk that never ends fails its test instead of hanging.
inline std::vector<std::string> WalkIndex(CMappedPackage& package, size_t limit = 1000) {
  std::vector<std::string> seen;
  PackageEntry e;
  for (bool more = package.FirstEntry(e); more && seen.size() < limit; more = package.NextEntry(e))
    seen.push_back(e.name + " " + std::to_string(e.flags) + " " + std::to_string(e.offset) + " " +
                   std::to_string(e.size) + " " + std::to_string(e.packedSize));
  return seen;
}

// Reads a stream to its end in small steps.
inline std::string ReadAll(CResStream& stream) {
  std::string out;
  char chunk[7];
  while (uint32_t n = stream.Read(chunk, sizeof(chunk))) out.append(chunk, n);
  return out;
}

// The index key of a name.
inline std::string Key(const std::string& name) {
  std::string key;
  NormalizeName(key, name.c_str());
  return key;
}

// The entry the manager indexes under name (a zero entry, and a failed test, when none).
inline EntryInfo IndexedAt(const CPackageManager& manager, const char* name) {
  IndexedEntry found;
  if (!manager.Lookup(name, found)) ADD_FAILURE() << "no entry named " << name;
  return found.info;
}

// Whether the manager indexes an entry under name.
inline bool Indexed(const CPackageManager& manager, const char* name) {
  IndexedEntry found;
  return manager.Lookup(name, found);
}

// The name with its ASCII letters in capitals.
inline std::string Upper(std::string name) {
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
  return name;
}

// True when the file can be opened for editing: nothing has it mounted or open for editing.
inline bool Editable(const std::string& path) {
  platform::File file;
  return platform::OpenForEdit(path.c_str(), file).ok();
}

// A test that starts and ends with no current manager, with a temporary directory.
class NoManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(g_packageManager, nullptr); }
  void TearDown() override { EXPECT_EQ(g_packageManager, nullptr); }
  TempDir dir;
};
