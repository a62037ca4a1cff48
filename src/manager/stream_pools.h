// The manager's two pools of lendable streams, and the lease through which a read holds one.
//
// A pooled stream is free while its mode word is 0 and is lent by an atomic claim of that word
// (CResStream::TryClaim), so any number of threads may open at once; the borrower gives it
// back with Close. The pools are filled once and their slots never change afterwards.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "stream/res_stream.h"

namespace korvo {

class CDiskStream;
class CMemStream;
class CPackageManager;

// Number of streams in each pool.
constexpr size_t StreamPoolSize = 10;

// A pool slot table: plain pointers, each stream deleted with the pool. An empty slot is null.
template <class Stream>
class StreamPool : public std::vector<Stream*> {
 public:
  StreamPool() = default;
  ~StreamPool() {
    for (Stream* stream : *this) delete stream;
  }
  StreamPool(const StreamPool&) = delete;
  StreamPool& operator=(const StreamPool&) = delete;
};

class StreamPools {
 public:
  // Creates the 10 streams of each pool, disk streams first; a stream that cannot be allocated
  // leaves its slot null, and a pool whose 10 slots cannot be allocated stays empty (every
  // open from it then finds no free stream). Only the first call on empty pools fills: a later
  // one would lose the streams made.
  void Fill();
  // The first stream of the pool that this call claims (its mode word set), or null when
  // every one is lent or the pools are not filled.
  CDiskStream* ClaimDisk();
  CMemStream* ClaimMemory();
  // The first free stream of the memory pool (true) or the disk pool (false), or null. Only a
  // query: the stream is not claimed.
  CResStream* FindFree(bool memoryPool) const;

  const std::vector<CDiskStream*>& DiskPool() const { return diskPool; }
  const std::vector<CMemStream*>& MemPool() const { return memPool; }

 private:
  StreamPool<CDiskStream> diskPool;
  StreamPool<CMemStream> memPool;
};

// A stream lent for one read, given back when the lease ends. It is a pooled stream, or, when
// every pooled stream of its kind is in use, a stream made for this read alone: a load never
// waits for another to finish, and the memory beyond the pools is held only while such a read
// runs.
class StreamLease {
 public:
  StreamLease() = default;
  ~StreamLease() { Reset(); }
  StreamLease(const StreamLease&) = delete;
  StreamLease& operator=(const StreamLease&) = delete;

  CResStream* get() const { return stream_; }
  CResStream* operator->() const { return stream_; }
  explicit operator bool() const { return stream_ != nullptr; }
  // Closes the stream (a pooled one goes back to its pool).
  void Reset();

 private:
  friend class CPackageManager;
  CResStream* stream_ = nullptr;
  std::unique_ptr<CResStream> own_;
};

}  // namespace korvo
