#include "archive_writers.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/byte_order.h"

namespace korvo::peer {

namespace {

constexpr uint32_t PackageTag = 100;
constexpr uint32_t PackageHeaderBytes = 16;
constexpr uint64_t FourGiB = uint64_t{1} << 32;

constexpr uint32_t ZipLocalSignature = 0x04034b50;
constexpr uint32_t ZipCentralSignature = 0x02014b50;
constexpr uint32_t ZipEndSignature = 0x06054b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint16_t ZipVersion = 20;    // deflate
constexpr uint16_t Zip64Version = 45;  // zip64 end records
constexpr uint16_t ZipDeflate = 8;
constexpr uint16_t ZipDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, time 00:00
constexpr uint16_t ZipMaxClassicCount = 0xffff;
// zlib framing around the deflate body: a 2-byte header (no preset dictionary) and the
// 4-byte Adler-32 after it.
constexpr size_t ZlibHeaderBytes = 2;
constexpr size_t ZlibTrailerBytes = 4;

void PutName(std::vector<uint8_t>& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
}

// The fields that a local header and a central directory record share, from the flags to the
// extra field's length.
void PutZipEntryFields(std::vector<uint8_t>& out, const PackedBlob& blob, uint64_t bodySize,
                       const std::string& name) {
  AppendLE16(out, 0);  // general purpose flags
  AppendLE16(out, ZipDeflate);
  AppendLE16(out, 0);  // time
  AppendLE16(out, ZipDosDate);
  AppendLE32(out, blob.crc);
  AppendLE32(out, static_cast<uint32_t>(bodySize));
  AppendLE32(out, blob.size);
  AppendLE16(out, static_cast<uint16_t>(name.size()));
  AppendLE16(out, 0);  // extra field length
}

}  // namespace

bool PackBlob(const uint8_t* data, size_t size, PackedBlob& out) {
  if (size > std::numeric_limits<uint32_t>::max()) return false;
  uLongf bound = compressBound(static_cast<uLong>(size));
  out.zlib.resize(bound);
  if (compress2(out.zlib.data(), &bound, data, static_cast<uLong>(size), Z_DEFAULT_COMPRESSION) !=
      Z_OK) {
    return false;
  }
  out.zlib.resize(bound);
  out.size = static_cast<uint32_t>(size);
  out.crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
  return out.zlib.size() >= ZlibHeaderBytes + ZlibTrailerBytes;
}

namespace {

// Writes are gathered up to this many bytes before they go to the file.
constexpr size_t StagedBufferBytes = size_t{1} << 20;

}  // namespace

bool StagedFile::Create(const std::string& path) {
  (void)file_.Close();
  buffer_.clear();
  position_ = 0;
  platform::ReplaceTarget target;
  failed_ = !platform::ResolveReplaceTarget(path.c_str(), target).ok() || target.writeThrough ||
            !replacement_.Begin(platform::Env::Default(), target, ".part-", file_).ok();
  return !failed_;
}

bool StagedFile::Drain() {
  if (!failed_ && !buffer_.empty()) {
    failed_ = !file_.Write(buffer_.data(), static_cast<uint32_t>(buffer_.size())).ok();
  }
  buffer_.clear();
  return !failed_;
}

bool StagedFile::Write(const void* data, size_t length) {
  if (failed_) return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (buffer_.size() + length > StagedBufferBytes && !Drain()) return false;
  if (length >= StagedBufferBytes) {
    for (size_t done = 0; done < length && !failed_;) {
      const size_t chunk = std::min(length - done, StagedBufferBytes);
      failed_ = !file_.Write(bytes + done, static_cast<uint32_t>(chunk)).ok();
      done += chunk;
    }
  } else {
    buffer_.insert(buffer_.end(), bytes, bytes + length);
  }
  position_ += length;
  return !failed_;
}

bool StagedFile::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (!Drain()) return false;
  failed_ = !file_.Seek(static_cast<int64_t>(offset)).ok() ||
            (length != 0 && !file_.Write(data, static_cast<uint32_t>(length)).ok()) ||
            !file_.Seek(static_cast<int64_t>(position_)).ok();
  return !failed_;
}

bool StagedFile::Commit() {
  if (!Drain() || !replacement_.Commit(file_).ok()) {
    failed_ = true;
    (void)file_.Close();
    replacement_.Abandon();
    return false;
  }
  failed_ = true;  // a committed file takes no more writes
  return true;
}

bool PackageWriter::Create(const std::string& path) {
  index_.clear();
  count_ = 0;
  uint8_t header[PackageHeaderBytes] = {};  // filled in by Finish
  return out_.Create(path) && out_.Write(header, sizeof(header));
}

bool PackageWriter::Add(const std::string& name, const PackedBlob& blob, uint32_t* offset) {
  uint64_t at = out_.Position();
  if (name.size() > 0x7fff || at + blob.zlib.size() >= FourGiB) return false;
  if (!out_.Write(blob.zlib.data(), blob.zlib.size())) return false;
  AppendLE16(index_, static_cast<uint32_t>(name.size()));
  PutName(index_, name);
  AppendLE32(index_, 0);  // flags
  AppendLE32(index_, static_cast<uint32_t>(at));
  AppendLE32(index_, blob.size);
  AppendLE32(index_, static_cast<uint32_t>(blob.zlib.size()));
  ++count_;
  if (offset != nullptr) *offset = static_cast<uint32_t>(at);
  return true;
}

bool PackageWriter::Finish() {
  uint64_t indexOffset = out_.Position();
  if (indexOffset + index_.size() >= FourGiB) return false;
  std::vector<uint8_t> header;
  AppendLE32(header, PackageTag);
  AppendLE32(header, count_);
  AppendLE32(header, static_cast<uint32_t>(indexOffset));
  AppendLE32(header, static_cast<uint32_t>(index_.size()));
  return out_.Write(index_.data(), index_.size()) &&
         out_.WriteAt(0, header.data(), header.size()) && out_.Commit();
}

bool ZipWriter::Create(const std::string& path) {
  central_.clear();
  count_ = 0;
  return out_.Create(path);
}

bool ZipWriter::Add(const std::string& name, const PackedBlob& blob) {
  uint64_t at = out_.Position();
  size_t bodySize = blob.zlib.size() - ZlibHeaderBytes - ZlibTrailerBytes;
  if (name.size() > 0xffff || at + 30 + name.size() + bodySize >= FourGiB) return false;

  std::vector<uint8_t> local;
  AppendLE32(local, ZipLocalSignature);
  AppendLE16(local, ZipVersion);
  PutZipEntryFields(local, blob, bodySize, name);
  PutName(local, name);
  if (!out_.Write(local.data(), local.size()) ||
      !out_.Write(blob.zlib.data() + ZlibHeaderBytes, bodySize)) {
    return false;
  }

  AppendLE32(central_, ZipCentralSignature);
  AppendLE16(central_, ZipVersion);  // made by
  AppendLE16(central_, ZipVersion);  // needed
  PutZipEntryFields(central_, blob, bodySize, name);
  AppendLE16(central_, 0);  // comment length
  AppendLE16(central_, 0);  // disk number
  AppendLE16(central_, 0);  // internal attributes
  AppendLE32(central_, 0);  // external attributes
  AppendLE32(central_, static_cast<uint32_t>(at));
  PutName(central_, name);
  ++count_;
  return true;
}

bool ZipWriter::Finish() {
  uint64_t centralOffset = out_.Position();
  if (centralOffset + central_.size() >= FourGiB) return false;
  if (!out_.Write(central_.data(), central_.size())) return false;

  std::vector<uint8_t> end;
  bool zip64 = count_ >= ZipMaxClassicCount;
  if (zip64) {
    uint64_t recordOffset = out_.Position();
    AppendLE32(end, Zip64EndSignature);
    AppendLE64(end, 44);  // size of the rest of the record
    AppendLE16(end, Zip64Version);
    AppendLE16(end, Zip64Version);
    AppendLE32(end, 0);  // this disk
    AppendLE32(end, 0);  // disk of the central directory
    AppendLE64(end, count_);
    AppendLE64(end, count_);
    AppendLE64(end, central_.size());
    AppendLE64(end, centralOffset);
    AppendLE32(end, Zip64LocatorSignature);
    AppendLE32(end, 0);  // disk of the zip64 end record
    AppendLE64(end, recordOffset);
    AppendLE32(end, 1);  // total disks
  }
  uint32_t classicCount = zip64 ? ZipMaxClassicCount : static_cast<uint32_t>(count_);
  AppendLE32(end, ZipEndSignature);
  AppendLE16(end, 0);
  AppendLE16(end, 0);
  AppendLE16(end, classicCount);
  AppendLE16(end, classicCount);
  AppendLE32(end, static_cast<uint32_t>(central_.size()));
  AppendLE32(end, static_cast<uint32_t>(centralOffset));
  AppendLE16(end, 0);  // comment length
  return out_.Write(end.data(), end.size()) && out_.Commit();
}

}  // namespace korvo::peer
