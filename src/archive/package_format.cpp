#include "archive/package_format.h"

#include "common/byte_order.h"

namespace korvo {

void EncodeHeader(const PackageHeader& header, uint8_t out[PackageHeaderSize]) {
  StoreLE32(out, header.tag);
  StoreLE32(out + 4, header.entryCount);
  StoreLE32(out + 8, header.indexOffset);
  StoreLE32(out + 12, header.indexSize);
}

PackageHeader DecodeHeader(const uint8_t in[PackageHeaderSize]) {
  PackageHeader header;
  header.tag = LoadLE32(in);
  header.entryCount = LoadLE32(in + 4);
  header.indexOffset = LoadLE32(in + 8);
  header.indexSize = LoadLE32(in + 12);
  return header;
}

}  // namespace korvo
