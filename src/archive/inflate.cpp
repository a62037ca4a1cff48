#include "archive/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

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

const char* InflateBackend() {
#ifdef KORVO_HAVE_LIBDEFLATE
  return "libdeflate";
#else
  return "zlib";
#endif
}

}  // namespace korvo
