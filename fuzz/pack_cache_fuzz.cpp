// Reads the input as the body of a pack cache (the file beside an archive that records each
// source's size, modification time and checksum). The target frames it as a stored cache
// would be, the signature before and a correct checksum after, so that the fuzzer reaches the
// records instead of stopping at the checksum. A cache read back never lists more entries than
// its bytes can hold.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "authoring/pack_cache.h"
#include "common/byte_order.h"
#include "fuzz_support.h"

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  fuzz::Bytes bytes = {'K', 'V', 'C', 'A', 'C', 'H', 'E', '1'};
  bytes.insert(bytes.end(), data, data + size);
  uint8_t crc[4];
  StoreLE32(crc, static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size()))));
  bytes.insert(bytes.end(), crc, crc + 4);
  const std::string path = fuzz::ScratchPath("cache");
  if (!fuzz::WriteFileBytes(path, bytes.data(), bytes.size())) std::abort();
  PackCache cache;
  // Each entry takes at least its name length, size, time and checksum: 22 bytes.
  if (ReadPackCache(path, cache) && cache.entries.size() > size / 22) std::abort();
  return 0;
}
