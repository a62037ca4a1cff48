#include "support/authoring_checks.h"

#include <gtest/gtest.h>

#include <set>

#include "archive/mapped_package.h"
#include "authoring/debug_messages.h"
#include "authoring/package.h"
#include "manager/mounting.h"
#include "manager/package_manager.h"
#include "stream/res_stream.h"

std::vector<NamedBytes> ReadEntriesBack(const std::string& path) {
  std::vector<NamedBytes> result;
  CMappedPackage package;
  EXPECT_TRUE(package.Open(path.c_str())) << path;
  if (::testing::Test::HasFailure()) return result;
  PackageEntry entry;
  if (package.FirstEntry(entry)) {
    do {
      Bytes data(entry.size);
      EXPECT_TRUE(package.Extract(data.data(), entry.size, entry.offset, entry.packedSize))
          << "entry " << entry.name;
      result.emplace_back(entry.name, data);
    } while (package.NextEntry(entry));
  }
  package.Close();
  return result;
}

void ExpectMountsAndReadsBack(const std::string& path, const std::vector<NamedBytes>& expected) {
  CPackageManager manager(nullptr, 0);
  ASSERT_TRUE(manager.MountPackage(path.c_str())) << path;
  manager.FillStreamPools();
  std::set<std::string> keys;
  for (const NamedBytes& item : expected) {
    std::string key;
    NormalizeName(key, item.first.c_str());
    keys.insert(key);
    CResStream* stream = manager.OpenStream(item.first.c_str(), ModeRead, true);
    ASSERT_NE(stream, nullptr) << item.first;
    EXPECT_EQ(stream->size, item.second.size()) << item.first;
    Bytes data(stream->size);
    EXPECT_EQ(stream->Read(data.data(), stream->size), stream->size) << item.first;
    EXPECT_EQ(data, item.second) << item.first;
    stream->Close();
  }
  EXPECT_EQ(manager.entries.size(), keys.size());
}

namespace {

int g_attempts = 0;

int CountingOpen(const char* path) {
  ++g_attempts;
  return platform::OpenForEdit(path);
}

}  // namespace

OpenAttemptCounter::OpenAttemptCounter() {
  g_attempts = 0;
  CPackage::openFunction = &CountingOpen;
}

OpenAttemptCounter::~OpenAttemptCounter() {
  CPackage::openFunction = &platform::OpenForEdit;
}

int OpenAttemptCounter::Attempts() const {
  return g_attempts;
}

namespace {

std::string g_captured;

void RecordMessage(const char* message) {
  g_captured += message;
  g_captured += '\n';
}

}  // namespace

DebugOutputCapture::DebugOutputCapture() {
  g_captured.clear();
  g_debugMessageSink = &RecordMessage;
}

DebugOutputCapture::~DebugOutputCapture() {
  g_debugMessageSink = &platform::DebugOutput;
}

std::string DebugOutputCapture::Text() const {
  return g_captured;
}
