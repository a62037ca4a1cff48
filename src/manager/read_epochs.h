// ReadEpochs: how readers keep a published object alive without a lock, so that a writer can
// replace it and free the old one once the last reader of it has left.
//
// A reader enters by writing the current epoch into a free slot of its own (one atomic
// exchange on a cache line that no other thread normally touches) and leaves by clearing it.
// The writer publishes the replacement first and then advances the epoch: every reader that
// entered at the new epoch or later reads the replacement, so the old object may go once no
// slot holds an epoch older than the one Advance returned (Quiet). Readers never wait for the
// writer and the writer never waits for readers. A thread may enter again while inside (each
// entry takes its own slot); when every slot is taken, a reader yields until one is free.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace korvo {

class ReadEpochs {
 public:
  static constexpr size_t SlotCount = 128;

  ReadEpochs() = default;
  ReadEpochs(const ReadEpochs&) = delete;
  ReadEpochs& operator=(const ReadEpochs&) = delete;

  // Marks the calling reader inside at the current epoch (written to epoch); returns its slot
  // for Leave.
  size_t Enter(uint64_t& epoch);
  void Leave(size_t slot) { slots_[slot].epoch.store(0, std::memory_order_release); }
  // Called by the one writer after publishing a replacement: the epoch that readers of the
  // replacement hold at least.
  uint64_t Advance() { return epoch_.fetch_add(1, std::memory_order_seq_cst) + 1; }
  // True when no reader that entered before epoch is still inside.
  bool Quiet(uint64_t epoch) const;

 private:
  struct alignas(64) Slot {
    std::atomic<uint64_t> epoch{0};  // 0: free
  };
  Slot slots_[SlotCount];
  alignas(64) std::atomic<uint64_t> epoch_{1};
};

}  // namespace korvo
