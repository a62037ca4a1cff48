#include "support/authoring_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "archive/names.h"
#include "stream/res_stream.h"

using namespace korvo;

::testing::AssertionResult ReadsBack(const std::string& path,
                                     const std::vector<RawEntry>& entries) {
  std::map<std::string, const RawEntry*> byKey;
  for (const RawEntry& entry : entries) {
    std::string key;
    NormalizeName(key, entry.name.c_str());
    byKey[key] = &entry;
  }
  CPackageManager manager(nullptr, 0);
  if (!manager.MountPackage(path.c_str()))
    return ::testing::AssertionFailure() << path << " does not mount";
  manager.FillStreamPools();
  if (manager.EntryCount() != byKey.size())
    return ::testing::AssertionFailure()
           << path << " indexes " << manager.EntryCount() << " names, not " << byKey.size();
  for (const auto& item : byKey) {
    const RawEntry& entry = *item.second;
    CResStream* stream = manager.OpenStream(entry.name.c_str(), ModeRead, true);
    if (stream == nullptr) return ::testing::AssertionFailure() << entry.name << " does not open";
    Bytes data(stream->size);
    uint32_t got = stream->Read(data.data(), stream->size);
    stream->Close();
    if (got != entry.size)
      return ::testing::AssertionFailure()
             << entry.name << " reads " << got << " bytes, not " << entry.size;
    if (Compress(data) != entry.stored)
      return ::testing::AssertionFailure() << entry.name << " reads other bytes";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ArchiveHolds(const std::string& path,
                                        const std::vector<RawEntry>& entries) {
  if (ReadFileBytes(path) != BuildArchive(entries))
    return ::testing::AssertionFailure() << path << " differs from the expected archive bytes";
  return ReadsBack(path, entries);
}

std::string NodeText(const CPackageManager& manager, const std::string& top) {
  std::string text;
  for (int32_t i = 0; i < manager.DirNodes().count; ++i) {
    const DirNode& node = manager.DirNodes().nodes.at(static_cast<size_t>(i));
    std::string name(node.name, std::find(node.name, std::end(node.name), '\0'));
    if (name.compare(0, top.size() + 1, top + "\\") == 0) name.erase(0, top.size() + 1);
    text += (i > 0 ? " " : "") + name + ":" + std::to_string(node.parent);
  }
  return text;
}
