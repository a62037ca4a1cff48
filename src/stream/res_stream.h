// CResStream: the stream interface through which every resource is read, whether it comes from
// a disk file or from a package entry. Streams belong to the manager's pools and are lent out;
// a stream is free exactly while its mode word is 0. The mode word is atomic: the manager lends
// a stream by claiming it (0 to LentMode) and a borrower gives it back by storing 0, so no lock
// guards the pools. Everything else belongs to the one borrower between open and Close.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace korvo {

// Mode word bits.
constexpr uint32_t ModeRead = 1;
constexpr uint32_t ModeWrite = 2;
constexpr uint32_t ModeText = 4;

// Seek origins. Every origin other than SeekBegin and SeekCurrent counts from the end.
constexpr int32_t SeekBegin = 5;
constexpr int32_t SeekCurrent = 6;
constexpr int32_t SeekEnd = 7;

// The mode word of a stream claimed by the manager while its open runs.
constexpr uint32_t LentMode = 0x80000000u;

class CResStream {
 public:
  CResStream() = default;
  CResStream(const CResStream&) = delete;
  CResStream& operator=(const CResStream&) = delete;
  virtual ~CResStream() = default;

  // Gives the stream back to its pool. Overrides call this as their last step.
  virtual void Close() { mode = 0; }
  // Copies up to count bytes into buffer; returns the number copied.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // True when all count bytes were written.
  virtual bool Write(const void* buffer, uint32_t count) = 0;
  // Moves the position; returns the new position.
  virtual int32_t Seek(int32_t offset, int32_t origin) = 0;
  virtual bool Eof() = 0;
  // Lends the next count bytes where the stream already holds them, and moves the position
  // past them: the pointer stays valid until the stream is opened again or closed. Null, with
  // the position unchanged, when the stream keeps no such buffer (its bytes are only copied out
  // by Read) or fewer than count bytes remain. Lets a reader consume a whole resource without
  // a second copy of it.
  virtual const uint8_t* Borrow(uint32_t /*count*/) { return nullptr; }

  bool IsFree() const { return mode == 0; }

  // Claims a free stream for an open: true when it was free (the mode word is then LentMode).
  bool TryClaim() {
    uint32_t expected = 0;
    return mode.compare_exchange_strong(expected, LentMode, std::memory_order_acquire);
  }

  std::atomic<uint32_t> mode{0};  // mode word of the last successful open; 0 while free
  std::string name;               // name the stream was last opened under, set by the manager
  uint32_t size = 0;              // byte length of the data while open
};

}  // namespace korvo
