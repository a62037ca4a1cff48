#include "authoring/file_compress.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/directories.h"
#include "platform/files.h"
#include "platform/process.h"

namespace korvo {

namespace {

// Compression buffers at most this large keep their spare room.
constexpr uLong ShrinkFrom = 64 * 1024;

}  // namespace

struct Deflater::State {
  z_stream stream;
  bool ready = false;  // deflateInit succeeded; deflateEnd is owed
};

Deflater::Deflater() = default;

Deflater::~Deflater() {
  if (state_ != nullptr && state_->ready) deflateEnd(&state_->stream);
}

Deflater::Deflater(Deflater&& other) noexcept = default;

Deflater& Deflater::operator=(Deflater&& other) noexcept {
  if (this != &other) {
    if (state_ != nullptr && state_->ready) deflateEnd(&state_->stream);
    state_ = std::move(other.state_);
  }
  return *this;
}

bool Deflater::Compress(const uint8_t* data, uint32_t length, uint8_t* out, uint32_t capacity,
                        uint32_t& packedLength) {
  packedLength = 0;
  if (state_ == nullptr) {
    state_.reset(new (std::nothrow) State());
    if (state_ == nullptr) return false;
  }
  z_stream& stream = state_->stream;
  if (!state_->ready) {
    std::memset(&stream, 0, sizeof(stream));
    // What compress does: the default level with the default window and memory level.
    if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) return false;
    state_->ready = true;
  } else if (deflateReset(&stream) != Z_OK) {
    return false;
  }
  // zlib's input pointer is not const in every version it builds against.
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = length;
  stream.next_out = out;
  stream.avail_out = capacity;
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return false;
  packedLength = capacity - stream.avail_out;
  return true;
}

Status CompressFile(const char* path, CompressedFile& out) {
  out = CompressedFile();
  if (path == nullptr) return Status(StatusCode::InvalidArgument, std::string(), 0, "no path");
  // Only a regular file is read: opening a FIFO or a device could wait for ever.
  if (!platform::IsRegularFile(path)) {
    if (!platform::PathExists(path)) return Status(StatusCode::NotFound, path, 0, "no such file");
    return Status(StatusCode::InvalidArgument, path, 0, "not a regular file");
  }
  platform::File file;
  Status opened = platform::OpenForRead(path, file);
  if (!opened.ok()) return Status(opened.code(), path, opened.systemError(), "cannot open");
  Deflater deflater;
  return CompressOpenFile(file, path, out, deflater);
}

Status CompressOpenFile(platform::File& file, const char* path, CompressedFile& out,
                        Deflater& deflater, const uint32_t* expectedCrc, uint32_t expectedSize) {
  out = CompressedFile();
  std::string name = path != nullptr ? path : "";
  int64_t end = 0;
  Status measured = file.Length(end);
  if (!measured.ok()) return CannotRead(name, measured);
  if (end > UINT32_MAX) {
    return Status(StatusCode::TooLarge, name, 0, "larger than 4 GiB; an entry cannot hold it");
  }
  uint32_t length = static_cast<uint32_t>(end);
  // One byte at least, so that an empty file still has a buffer to hand to zlib.
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[length > 0 ? length : 1]);
  if (data == nullptr) return Status(StatusCode::NoMemory, name, 0, "no memory to read it");
  if (length > 0) {
    uint32_t got = 0;
    Status read = file.Read(data.get(), length, got);
    if (!read.ok()) return CannotRead(name, read);
    if (got != length) {
      return Status(StatusCode::IoError, name, 0, "became shorter while it was read");
    }
  }
  (void)file.Close();
  out.size = length;
  out.crc = static_cast<uint32_t>(crc32(0, data.get(), static_cast<uInt>(length)));
  if (expectedCrc != nullptr && *expectedCrc == out.crc && expectedSize == length) {
    out.unchanged = true;
    return Status::Ok();
  }

  uLong bound = compressBound(static_cast<uLong>(length));
  // A bound below the length means it wrapped where uLong is 32 bits.
  if (bound < length || bound > UINT32_MAX) {
    return Status(StatusCode::TooLarge, name, 0, "too large to compress into an entry");
  }
  std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[bound]);
  if (packed == nullptr) return Status(StatusCode::NoMemory, name, 0, "no memory to compress it");
  uint32_t packedLength = 0;
  if (!deflater.Compress(data.get(), length, packed.get(), static_cast<uint32_t>(bound),
                         packedLength)) {
    return Status(StatusCode::IoError, name, 0, "zlib could not compress it");
  }
  // A buffer much larger than the stream (text compresses to a fraction of its bound) is
  // traded for one of the stream's size, so that files waiting to be written hold about what
  // they will write.
  if (bound > ShrinkFrom && bound - packedLength > bound / 8) {
    std::unique_ptr<uint8_t[]> exact(new (std::nothrow)
                                         uint8_t[packedLength > 0 ? packedLength : 1]);
    if (exact != nullptr) {
      std::memcpy(exact.get(), packed.get(), packedLength);
      packed = std::move(exact);
    }
  }
  out.packed = std::move(packed);
  out.packedSize = packedLength;
  out.size = length;
  return Status::Ok();
}

}  // namespace korvo
