#include "support/authoring_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "manager/mounting.h"
#include "stream/res_stream.h"

using namespace korvo;

void ExpectReadsBack(const std::string& path, const std::vector<RawEntry>& entries) {
  std::map<std::string, const RawEntry*> byKey;
  for (const RawEntry& entry : entries) {
    std::string key;
    NormalizeName(key, entry.name.c_str());
    byKey[key] = &entry;
  }
  CPackageManager manager(nullptr, 0);
  ASSERT_TRUE(manager.MountPackage(path.c_str()));
  manager.FillStreamPools();
  EXPECT_EQ(manager.entries.size(), byKey.size());
  for (const auto& item : byKey) {
    const RawEntry& entry = *item.second;
    CResStream* stream = manager.OpenStream(entry.name.c_str(), ModeRead, true);
    ASSERT_NE(stream, nullptr) << entry.name;
    Bytes data(stream->size);
    EXPECT_EQ(stream->Read(data.data(), stream->size), entry.size);
    EXPECT_EQ(Compress(data), entry.stored) << entry.name;
    stream->Close();
  }
}

void ExpectArchive(const std::string& path, const std::vector<RawEntry>& entries) {
  EXPECT_EQ(ReadFileBytes(path), BuildArchive(entries));
  ExpectReadsBack(path, entries);
}

std::string NodeText(const CPackageManager& manager, const std::string& top) {
  std::string text;
  for (int32_t i = 0; i < manager.dirList.count; ++i) {
    const DirNode& node = manager.dirList.nodes.at(static_cast<size_t>(i));
    std::string name(node.name, std::find(node.name, std::end(node.name), '\0'));
    if (name.compare(0, top.size() + 1, top + "\\") == 0) name.erase(0, top.size() + 1);
    text += (i > 0 ? " " : "") + name + ":" + std::to_string(node.parent);
  }
  return text;
}
