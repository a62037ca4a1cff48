#include "archive/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#ifdef KORVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace korvo {

namespace {

#ifdef KORVO_HAVE_LIBDEFLATE
// Decompressors hold their decoding tables, so one serves one thread at a time. A few are kept
// for reuse; a thread that finds none free makes its own and keeps it only if a place is free.
// (No thread_local: a library loaded at run time is better off without dynamic TLS.)
class DecompressorPool {
 public:
  DecompressorPool() = default;
  DecompressorPool(const DecompressorPool&) = delete;
  DecompressorPool& operator=(const DecompressorPool&) = delete;
  ~DecompressorPool() {
    for (auto& slot : slots_) libdeflate_free_decompressor(slot.exchange(nullptr));
  }
  libdeflate_decompressor* Take() {
    for (auto& slot : slots_) {
      if (libdeflate_decompressor* d = slot.exchange(nullptr, std::memory_order_acquire)) return d;
    }
    return libdeflate_alloc_decompressor();
  }
  void Give(libdeflate_decompressor* d) {
    if (d == nullptr) return;
    for (auto& slot : slots_) {
      libdeflate_decompressor* empty = nullptr;
      if (slot.compare_exchange_strong(empty, d, std::memory_order_release)) return;
    }
    libdeflate_free_decompressor(d);
  }

 private:
  std::atomic<libdeflate_decompressor*> slots_[16] = {};
};

DecompressorPool& Decompressors() {
  static DecompressorPool pool;
  return pool;
}

// A decompressor taken from the pool for one inflation.
class DecompressorLease {
 public:
  DecompressorLease() : decompressor_(Decompressors().Take()) {}
  ~DecompressorLease() { Decompressors().Give(decompressor_); }
  DecompressorLease(const DecompressorLease&) = delete;
  DecompressorLease& operator=(const DecompressorLease&) = delete;
  libdeflate_decompressor* get() const { return decompressor_; }

 private:
  libdeflate_decompressor* decompressor_;
};
#endif

InflateResult InflateWithZlib(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                              uint32_t capacity, uint32_t& produced) {
  uint8_t spare = 0;
  uLongf length = capacity;
  uLong consumed = sourceSize;
  int result = uncompress2(capacity > 0 ? destination : &spare, &length, source, &consumed);
  if (result == Z_OK) {
    produced = static_cast<uint32_t>(length);
    return InflateResult::Ok;
  }
  // uncompress2 reports a truncated stream as a data error and a full output as Z_BUF_ERROR.
  return result == Z_BUF_ERROR ? InflateResult::NoRoom : InflateResult::Corrupt;
}

}  // namespace

InflateResult InflateBlock(const uint8_t* source, uint32_t sourceSize, uint8_t* destination,
                           uint32_t capacity, uint32_t& produced) {
  produced = 0;
  if (source == nullptr || sourceSize == 0) return InflateResult::Corrupt;
#ifdef KORVO_HAVE_LIBDEFLATE
  DecompressorLease lease;
  if (libdeflate_decompressor* decompressor = lease.get()) {
    uint8_t spare = 0;
    size_t length = 0;
    libdeflate_result result = libdeflate_zlib_decompress(
        decompressor, source, sourceSize, capacity > 0 ? destination : &spare, capacity, &length);
    if (result == LIBDEFLATE_SUCCESS) {
      produced = static_cast<uint32_t>(length);
      return InflateResult::Ok;
    }
    return result == LIBDEFLATE_INSUFFICIENT_SPACE ? InflateResult::NoRoom : InflateResult::Corrupt;
  }
#endif
  return InflateWithZlib(source, sourceSize, destination, capacity, produced);
}

bool InflateExact(const uint8_t* source, uint32_t sourceSize, uint8_t* destination, uint32_t size) {
  uint32_t produced = 0;
  return InflateBlock(source, sourceSize, destination, size, produced) == InflateResult::Ok &&
         produced == size;
}

Status InflateBounded(const uint8_t* source, uint32_t sourceSize, uint32_t size,
                      InflateBuffer buffer) {
  // What the block can plausibly give: believed at once up to this, doubled from there.
  const uint64_t plausible =
      std::max<uint64_t>(TrustedInflateSize, static_cast<uint64_t>(sourceSize) * 8);
  uint32_t attempt = static_cast<uint32_t>(std::min<uint64_t>(size, plausible));
  for (;;) {
    if (buffer.data == nullptr || buffer.capacity < attempt) {
      std::free(buffer.data);
      buffer.capacity = 0;
      buffer.data = static_cast<unsigned char*>(
          std::malloc(static_cast<size_t>(attempt) + buffer.extra + (attempt > 0 ? 0 : 1)));
      if (buffer.data == nullptr) return Status(StatusCode::NoMemory);
      buffer.capacity = attempt;
    }
    uint32_t produced = 0;
    InflateResult result = InflateBlock(source, sourceSize, buffer.data, attempt, produced);
    if (result == InflateResult::Ok) {
      if (produced == size) return Status::Ok();
      return Status(StatusCode::Corrupt, std::string(), 0,
                    "the entry inflates to " + std::to_string(produced) + " bytes, not " +
                        std::to_string(size));
    }
    if (result == InflateResult::Corrupt || attempt >= size) {
      return Status(StatusCode::Corrupt, std::string(), 0,
                    result == InflateResult::Corrupt
                        ? "the entry's data is not a complete zlib stream"
                        : "the entry inflates to more than " + std::to_string(size) + " bytes");
    }
    attempt = static_cast<uint32_t>(std::min<uint64_t>(size, static_cast<uint64_t>(attempt) * 2));
  }
}

Status CheckInflate(const uint8_t* source, uint32_t sourceSize, uint32_t size) {
  const auto corrupt = [](std::string detail) {
    return Status(StatusCode::Corrupt, std::string(), 0, std::move(detail));
  };
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    return Status(StatusCode::NoMemory, std::string(), 0, "cannot start zlib");
  }
  stream.next_in = const_cast<Bytef*>(source);
  stream.avail_in = sourceSize;
  uint8_t scratch[16384];
  int result = Z_OK;
  uint64_t produced = 0;
  while (result == Z_OK) {
    stream.next_out = scratch;
    stream.avail_out = sizeof(scratch);
    result = inflate(&stream, Z_NO_FLUSH);
    produced += sizeof(scratch) - stream.avail_out;
    if (produced > size) break;
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  const std::string message = stream.msg != nullptr ? stream.msg : "";
  inflateEnd(&stream);
  if (produced > size) {
    return corrupt("inflates to more than its recorded size of " + std::to_string(size) + " bytes");
  }
  if (result == Z_DATA_ERROR || result == Z_NEED_DICT) {
    return corrupt("zlib data is corrupt" +
                   (message.empty() ? std::string() : " (" + message + ")"));
  }
  if (result != Z_STREAM_END) {
    return corrupt("zlib data is cut short after " + std::to_string(produced) + " bytes");
  }
  if (produced != size) {
    return corrupt("inflates to " + std::to_string(produced) + " bytes, index records " +
                   std::to_string(size));
  }
  return Status::Ok();
}

namespace {

uint32_t Adler32(uint32_t adler, const uint8_t* data, uint32_t length) {
#ifdef KORVO_HAVE_LIBDEFLATE
  return libdeflate_adler32(adler, data, length);
#else
  return static_cast<uint32_t>(adler32(adler, data, length));
#endif
}

}  // namespace

StoredView::StoredView(StoredView&& other) noexcept {
  *this = std::move(other);
}

StoredView& StoredView::operator=(StoredView&& other) noexcept {
  if (this != &other) {
    Release();
    std::swap(pieces_, other.pieces_);
    std::swap(count_, other.count_);
    std::swap(capacity_, other.capacity_);
    std::swap(size_, other.size_);
    std::swap(hint_, other.hint_);
  }
  return *this;
}

void StoredView::Clear() {
  count_ = 0;
  size_ = 0;
  hint_ = 0;
}

void StoredView::Release() {
  Clear();
  std::free(pieces_);
  pieces_ = nullptr;
  capacity_ = 0;
}

bool StoredView::Append(uint32_t output, const uint8_t* data) {
  if (count_ == capacity_) {
    const uint32_t grown = capacity_ == 0 ? 16 : capacity_ * 2;
    void* larger = std::realloc(pieces_, static_cast<size_t>(grown) * sizeof(Piece));
    if (larger == nullptr) return false;
    pieces_ = static_cast<Piece*>(larger);
    capacity_ = grown;
  }
  pieces_[count_++] = Piece{output, data};
  return true;
}

bool StoredView::Open(const uint8_t* source, uint32_t sourceSize, uint32_t size) {
  Clear();
  if (Scan(source, sourceSize, size)) return true;
  Clear();
  return false;
}

bool StoredView::Scan(const uint8_t* source, uint32_t sourceSize, uint32_t size) {
  // The two-byte zlib header: deflate, a window of at most 32 KiB, no preset dictionary.
  if (source == nullptr || size == 0 || sourceSize < 2) return false;
  const uint32_t method = source[0], flags = source[1];
  if ((method & 0x0F) != 8 || (method >> 4) > 7 || (method << 8 | flags) % 31 != 0 ||
      (flags & 0x20) != 0) {
    return false;
  }
  // Each stored block begins on a byte: its first three bits (the last-block bit and type 0),
  // padding, then its length and the length's complement, both 16-bit little-endian. The check
  // value is summed block by block while the block is at hand; a compressed block ends the
  // walk (after at most one pass over the stored blocks before it).
  uint32_t at = 2;
  uint64_t produced = 0;
  uint32_t check = 1;
  for (bool last = false; !last;) {
    if (sourceSize - at < 5 || (source[at] & 0x06) != 0) return false;
    last = (source[at] & 1) != 0;
    const uint32_t length = source[at + 1] | uint32_t{source[at + 2]} << 8;
    const uint32_t complement = source[at + 3] | uint32_t{source[at + 4]} << 8;
    at += 5;
    if ((length ^ complement) != 0xFFFF || sourceSize - at < length || produced + length > size) {
      return false;
    }
    if (length > 0) {
      if (!Append(static_cast<uint32_t>(produced), source + at)) return false;
      check = Adler32(check, source + at, length);
    }
    produced += length;
    at += length;
  }
  // The check value, big-endian after the last block: the Adler-32 of the output.
  if (produced != size || sourceSize - at < 4) return false;
  const uint32_t stored = uint32_t{source[at]} << 24 | uint32_t{source[at + 1]} << 16 |
                          uint32_t{source[at + 2]} << 8 | source[at + 3];
  size_ = size;
  return check == stored;
}

uint32_t StoredView::Find(uint32_t at) {
  const auto holds = [&](uint32_t i) {
    return pieces_[i].output <= at && (i + 1 == count_ || at < pieces_[i + 1].output);
  };
  if (hint_ < count_ && holds(hint_)) return hint_;
  if (hint_ + 1 < count_ && holds(hint_ + 1)) return ++hint_;
  const Piece* after =
      std::upper_bound(pieces_, pieces_ + count_, at,
                       [](uint32_t value, const Piece& piece) { return value < piece.output; });
  hint_ = static_cast<uint32_t>(after - pieces_) - 1;
  return hint_;
}

void StoredView::Copy(uint32_t at, void* destination, uint32_t n) {
  uint8_t* out = static_cast<uint8_t*>(destination);
  for (uint32_t i = n > 0 ? Find(at) : 0; n > 0; hint_ = i++) {
    const uint32_t end = i + 1 < count_ ? pieces_[i + 1].output : size_;
    const uint32_t chunk = std::min(n, end - at);
    std::memcpy(out, pieces_[i].data + (at - pieces_[i].output), chunk);
    out += chunk;
    at += chunk;
    n -= chunk;
  }
}

const uint8_t* StoredView::Span(uint32_t at, uint32_t n) {
  if (count_ == 0 || at > size_ || n > size_ - at) return nullptr;
  if (at == size_) {
    return n == 0 ? pieces_[count_ - 1].data + (size_ - pieces_[count_ - 1].output) : nullptr;
  }
  const uint32_t i = Find(at);
  const uint32_t end = i + 1 < count_ ? pieces_[i + 1].output : size_;
  if (n > end - at) return nullptr;
  return pieces_[i].data + (at - pieces_[i].output);
}

const char* InflateBackend() {
#ifdef KORVO_HAVE_LIBDEFLATE
  return "libdeflate";
#else
  return "zlib";
#endif
}

}  // namespace korvo
