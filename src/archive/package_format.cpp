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

Status CheckHeaderFields(const PackageHeader& header, uint64_t fileSize, const std::string& path) {
  const std::string size = std::to_string(fileSize);
  if (fileSize < PackageHeaderSize) {
    return Status(StatusCode::Corrupt, path, 0,
                  "not a package archive: " + size + " bytes, shorter than its 16-byte header");
  }
  const std::string damaged = "not a package archive or damaged: ";
  if (SignedEntryCount(header) < 0) {
    return Status(
        StatusCode::Corrupt, path, 0,
        damaged + "entry count " + std::to_string(header.entryCount) + " is out of range");
  }
  if (header.indexOffset > fileSize) {
    return Status(StatusCode::Corrupt, path, 0,
                  damaged + "index offset " + std::to_string(header.indexOffset) +
                      " lies outside the file (" + size + " bytes)");
  }
  if (header.indexOffset < PackageHeaderSize) {
    return Status(StatusCode::Corrupt, path, 0,
                  damaged + "index offset " + std::to_string(header.indexOffset) +
                      " lies inside the 16-byte header");
  }
  return Status::Ok();
}

Status CheckHeaderTag(const PackageHeader& header, const std::string& path) {
  if (header.tag == PackageTag) return Status::Ok();
  return Status(StatusCode::Corrupt, path, 0,
                "not a package archive: header tag is " + std::to_string(header.tag) + ", not " +
                    std::to_string(PackageTag));
}

Status CheckPlacement(const PackageEntry& entry, uint32_t indexOffset, const std::string& path) {
  const uint64_t end = static_cast<uint64_t>(entry.offset) + entry.packedSize;
  if (entry.offset >= PackageHeaderSize && end <= indexOffset) return Status::Ok();
  return Status(StatusCode::Corrupt, path, 0,
                "data at offset " + std::to_string(entry.offset) + " (" +
                    std::to_string(entry.packedSize) + " bytes) lies outside the data region " +
                    std::to_string(PackageHeaderSize) + ".." + std::to_string(indexOffset));
}

}  // namespace korvo
