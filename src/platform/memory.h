// Large zero-filled blocks for the big in-memory tables (the name index). Where the system
// allows it, a large block is backed by huge pages: touching it for the first time then costs
// one fault per 2 MiB instead of one per 4 KiB, which dominates building a big index.
#pragma once

#include <cstddef>
#include <utility>

namespace korvo::platform {

// Blocks from this size on come straight from the system; smaller ones from the C heap.
constexpr size_t LargeBlockSize = size_t{2} << 20;

// What the system handed out for a large block: the whole reservation and the usable part.
struct SystemBlock {
  void* base = nullptr;
  size_t baseSize = 0;
  void* data = nullptr;
  size_t size = 0;
};
// Zero-filled memory of at least bytes bytes straight from the system (huge pages where the
// system has them); an empty block when it refuses. Each system layer implements these three.
SystemBlock AllocateSystemBlock(size_t bytes);
void FreeSystemBlock(void* base, size_t baseSize);
// Gives the pages of part of a system block back but keeps the addresses readable: reads then
// see zeros or the old bytes.
void DiscardSystemBlock(void* data, size_t size);

// An owned block of zero-filled memory; freed by the destructor. Move-only. Empty (null data)
// when allocation failed or nothing was asked for.
class MemoryBlock {
 public:
  MemoryBlock() = default;
  // At least bytes bytes, zero-filled; empty when the system refuses.
  explicit MemoryBlock(size_t bytes);
  ~MemoryBlock() { Reset(); }
  MemoryBlock(MemoryBlock&& other) noexcept { Swap(other); }
  MemoryBlock& operator=(MemoryBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      Swap(other);
    }
    return *this;
  }
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;

  void* Data() const { return data_; }
  // The usable size: at least what was asked for.
  size_t Size() const { return size_; }
  void Reset();
  // Gives the memory of a system block back while its addresses stay readable (zeros or the
  // old bytes): for a block that lock-free readers may still be reading. A heap block stays.
  void Discard();

 private:
  void Swap(MemoryBlock& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(base_, other.base_);
    std::swap(baseSize_, other.baseSize_);
  }

  void* data_ = nullptr;
  size_t size_ = 0;
  void* base_ = nullptr;  // what the system handed out (may lie before data_)
  size_t baseSize_ = 0;   // 0 when the block came from the C heap
};

}  // namespace korvo::platform
