#include "manager/stream_pools.h"

#include <new>

#include "stream/disk_stream.h"
#include "stream/mem_stream.h"

namespace korvo {

namespace {

template <class Stream>
Stream* ClaimFree(StreamPool<Stream>& pool) {
  for (Stream* stream : pool) {
    if (stream != nullptr && stream->TryClaim()) return stream;
  }
  return nullptr;
}

template <class Stream>
CResStream* FirstFree(const StreamPool<Stream>& pool) {
  for (Stream* stream : pool) {
    if (stream != nullptr && stream->IsFree()) return stream;
  }
  return nullptr;
}

}  // namespace

namespace {

// Gives the pool its slots and a new stream in each; a slot whose stream cannot be allocated
// stays null, and a pool whose slot table cannot be allocated stays empty.
template <class Stream>
void FillPool(StreamPool<Stream>& pool) {
  try {
    pool.assign(StreamPoolSize, nullptr);
  } catch (const std::exception&) {
    return;
  }
  for (Stream*& slot : pool) slot = new (std::nothrow) Stream();
}

}  // namespace

void StreamPools::Fill() {
  if (!diskPool.empty() || !memPool.empty()) return;
  FillPool(diskPool);
  FillPool(memPool);
}

CDiskStream* StreamPools::ClaimDisk() {
  return ClaimFree(diskPool);
}

CMemStream* StreamPools::ClaimMemory() {
  return ClaimFree(memPool);
}

CResStream* StreamPools::FindFree(bool memoryPool) const {
  return memoryPool ? FirstFree(memPool) : FirstFree(diskPool);
}

void StreamLease::Reset() {
  if (stream_ != nullptr) stream_->Close();
  stream_ = nullptr;
  own_.reset();
}

}  // namespace korvo
