#include "manager/read_epochs.h"

#include <thread>

namespace korvo {

namespace {

std::atomic<size_t> nextStart{0};
// Where the calling thread looks for a free slot first: the one it used last, so that every
// thread keeps to its own cache line.
thread_local size_t slotHint = nextStart.fetch_add(1, std::memory_order_relaxed);

}  // namespace

size_t ReadEpochs::Enter(uint64_t& epoch) {
  for (;;) {
    for (size_t tried = 0; tried < SlotCount; ++tried) {
      const size_t slot = (slotHint + tried) % SlotCount;
      uint64_t free = 0;
      epoch = epoch_.load(std::memory_order_seq_cst);
      // Sequentially consistent: a writer that misses this entry has already published the
      // replacement, and the load of the object after it sees that.
      if (slots_[slot].epoch.load(std::memory_order_relaxed) == 0 &&
          slots_[slot].epoch.compare_exchange_strong(free, epoch, std::memory_order_seq_cst)) {
        slotHint = slot;
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
