#include "manager/read_epochs.h"

#include <cstdint>
#include <thread>

namespace korvo {

namespace {

// Where the calling thread looks for a free slot first, from where its stack lies: threads'
// stacks lie megabytes apart, and one thread's calls land on the same slot, so every thread
// keeps to its own cache line. (No thread-local variable: the library may be loaded at run
// time, where those cost more and trouble some tools.)
static_assert(ReadEpochs::SlotCount == 128, "FirstSlot gives 7 bits");

size_t FirstSlot(const void* stack) {
  const uint64_t page = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(stack)) >> 16;
  return static_cast<size_t>((page * 0x9E3779B97F4A7C15ull) >> 57);
}

}  // namespace

size_t ReadEpochs::Enter(uint64_t& epoch) {
  const size_t first = FirstSlot(&epoch);
  for (;;) {
    for (size_t tried = 0; tried < SlotCount; ++tried) {
      const size_t slot = (first + tried) % SlotCount;
      uint64_t free = 0;
      epoch = epoch_.load(std::memory_order_seq_cst);
      // Sequentially consistent: a writer that misses this entry has already published the
      // replacement, and the load of the object after it sees that.
      if (slots_[slot].epoch.load(std::memory_order_relaxed) == 0 &&
          slots_[slot].epoch.compare_exchange_strong(free, epoch, std::memory_order_seq_cst)) {
        return slot;
      }
    }
    std::this_thread::yield();
  }
}

bool ReadEpochs::Quiet(uint64_t epoch) const {
  for (const Slot& slot : slots_) {
    const uint64_t held = slot.epoch.load(std::memory_order_seq_cst);
    if (held != 0 && held < epoch) return false;
  }
  return true;
}

}  // namespace korvo
