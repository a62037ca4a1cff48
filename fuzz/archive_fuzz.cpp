// Mounts the input as a package archive, then opens and reads every entry the index names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "manager/package_manager.h"
#include "stream/mem_stream.h"
#include "stream/res_stream.h"

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::ScratchPath("archive.pak");
  if (!fuzz::WriteFileBytes(path, data, size)) return 0;
  CPackageManager manager(path.c_str(), 0);
  std::vector<std::string> names;
  manager.EnumerateNames("", [&](std::string_view key, const EntryInfo&) {
    names.emplace_back(key);
    return true;
  });
  uint8_t buffer[4096];
  for (const std::string& name : names) {
    CResStream* stream = manager.OpenPackageStream(name.c_str(), ModeRead);
    if (stream == nullptr) continue;
    uint64_t total = 0;
    for (uint32_t n; (n = stream->Read(buffer, sizeof(buffer))) > 0;) total += n;
    KORVO_FUZZ_CHECK(total == stream->size);
    const uint32_t size = stream->size;
    stream->Close();
    KORVO_FUZZ_CHECK(stream->IsFree());
    // The whole-resource read gives the same bytes count.
    unsigned char* whole = nullptr;
    uint32_t wholeSize = 0;
    if (manager.ReadResource(name.c_str(), whole, wholeSize).ok()) {
      KORVO_FUZZ_CHECK(wholeSize == size);
      std::free(whole);
    }
  }
  return 0;
}
