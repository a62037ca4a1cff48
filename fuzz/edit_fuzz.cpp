// Edits the input as a package archive: open, add an entry, delete the first one, close, and
// read the result back. An archive that opened soundly (distinct names, data blocks that do
// not overlap) must come back holding exactly the expected entries with their data unchanged;
// one that did not open must be left byte for byte as it was.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "authoring/package.h"
#include "fuzz_support.h"
#include "manager/package_manager.h"
#include "stream/mem_stream.h"
#include "stream/res_stream.h"

using namespace korvo;

namespace {

constexpr const char* AddedName = "fuzz\\added.bin";
const fuzz::Bytes AddedData = {'a', 'd', 'd', 'e', 'd', ' ', 'b', 'y', ' ', 'f', 'u', 'z', 'z'};

struct Entry {
  std::string name;
  uint32_t flags, size;
  fuzz::Bytes packed;
  bool operator<(const Entry& o) const {
    return std::tie(name, flags, size, packed) < std::tie(o.name, o.flags, o.size, o.packed);
  }
  bool operator==(const Entry& o) const {
    return std::tie(name, flags, size, packed) == std::tie(o.name, o.flags, o.size, o.packed);
  }
};

// The entries of an opened archive with their packed bytes taken from file.
std::vector<Entry> Entries(CPackage& package, const fuzz::Bytes& file) {
  std::vector<Entry> out;
  PackageEntry e;
  for (bool more = package.FirstEntry(e); more; more = package.NextEntry(e)) {
    fuzz::Bytes packed;
    if (uint64_t(e.offset) + e.packedSize <= file.size())
      packed.assign(file.begin() + e.offset, file.begin() + e.offset + e.packedSize);
    out.push_back({e.name, e.flags, e.size, packed});
  }
  return out;
}

// Names distinct, usable as C strings and short enough to edit; data blocks apart.
bool Sound(CPackage& package) {
  std::vector<PackageEntry> entries;
  PackageEntry e;
  for (bool more = package.FirstEntry(e); more; more = package.NextEntry(e)) entries.push_back(e);
  std::set<std::string> names;
  for (const PackageEntry& entry : entries) {
    if (entry.name.empty() || entry.name.size() > 200) return false;
    if (entry.name.find('\0') != std::string::npos || entry.name == AddedName) return false;
    if (!names.insert(entry.name).second) return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const PackageEntry& a, const PackageEntry& b) { return a.offset < b.offset; });
  for (size_t i = 1; i < entries.size(); ++i)
    if (uint64_t(entries[i - 1].offset) + entries[i - 1].packedSize > entries[i].offset)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::ScratchPath("edit.pak");
  if (!fuzz::WriteFileBytes(path, data, size)) return 0;
  const fuzz::Bytes before(data, data + size);

  CPackage package;
  if (!package.Open(path.c_str())) {
    KORVO_FUZZ_CHECK(fuzz::ReadFileBytes(path) == before);
    return 0;
  }
  const bool sound = Sound(package);
  std::vector<Entry> expected = Entries(package, before);
  const fuzz::Bytes packed = fuzz::Compress(AddedData.data(), AddedData.size());
  const bool added = package.AddFile(AddedName, packed.data(), uint32_t(AddedData.size()),
                                     uint32_t(packed.size()), 0);
  bool deleted = true;
  if (!expected.empty()) deleted = package.DelFile(expected.front().name.c_str());
  const bool closed = package.Close();
  if (!sound) return 0;

  KORVO_FUZZ_CHECK(added && deleted && closed);
  if (!expected.empty()) expected.erase(expected.begin());
  expected.push_back({AddedName, 0, uint32_t(AddedData.size()), packed});
  std::sort(expected.begin(), expected.end());

  const fuzz::Bytes after = fuzz::ReadFileBytes(path);
  CPackage reread;
  KORVO_FUZZ_CHECK(reread.Open(path.c_str()));
  std::vector<Entry> found = Entries(reread, after);
  reread.CloseUnchanged();
  std::sort(found.begin(), found.end());
  KORVO_FUZZ_CHECK(found == expected);

  // The added entry reads back through a mount.
  CPackageManager manager(path.c_str(), 0);
  CResStream* stream = manager.OpenPackageStream(AddedName, ModeRead);
  KORVO_FUZZ_CHECK(stream != nullptr);
  fuzz::Bytes content(AddedData.size() + 1);
  KORVO_FUZZ_CHECK(stream->Read(content.data(), uint32_t(content.size())) == AddedData.size());
  content.pop_back();
  stream->Close();
  KORVO_FUZZ_CHECK(content == AddedData);
  return 0;
}
