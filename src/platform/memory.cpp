#include "platform/memory.h"

#include <cstdlib>

namespace korvo::platform {

MemoryBlock::MemoryBlock(size_t bytes) {
  if (bytes == 0) return;
  if (bytes < LargeBlockSize) {
    data_ = std::calloc(bytes, 1);
    if (data_ != nullptr) size_ = bytes;
    return;
  }
  const SystemBlock block = AllocateSystemBlock(bytes);
  if (block.data == nullptr) return;
  base_ = block.base;
  baseSize_ = block.baseSize;
  data_ = block.data;
  size_ = block.size;
}

void MemoryBlock::Discard() {
  if (baseSize_ != 0) DiscardSystemBlock(data_, size_);
}

void MemoryBlock::Reset() {
  if (baseSize_ != 0) {
    FreeSystemBlock(base_, baseSize_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = 0;
  base_ = nullptr;
  baseSize_ = 0;
}

}  // namespace korvo::platform
