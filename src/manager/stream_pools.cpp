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

void StreamPools::Fill() {
  if (!diskPool.empty() || !memPool.empty()) return;
  diskPool.assign(StreamPoolSize, nullptr);
  for (CDiskStream*& slot : diskPool) slot = new (std::nothrow) CDiskStream();
  memPool.assign(StreamPoolSize, nullptr);
  for (CMemStream*& slot : memPool) slot = new (std::nothrow) CMemStream();
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
