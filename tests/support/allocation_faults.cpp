#include "support/allocation_faults.h"

#include <cstdlib>
#include <new>

namespace {

thread_local size_t failBytes = 0;  // 0: nothing armed
thread_local int failSkip = 0;
thread_local size_t allocations = 0;

bool ShouldFail(size_t bytes) {
  if (failBytes == 0 || bytes != failBytes) return false;
  if (failSkip > 0) {
    --failSkip;
    return false;
  }
  failBytes = 0;
  return true;
}

void* Allocate(size_t bytes) {
  ++allocations;
  if (ShouldFail(bytes)) return nullptr;
  return std::malloc(bytes != 0 ? bytes : 1);
}

}  // namespace

void FailAllocationOfSize(size_t bytes, int skip) {
  failBytes = bytes;
  failSkip = skip;
}

size_t AllocationsOnThisThread() {
  return allocations;
}

bool DisarmAllocationFailure() {
  const bool pending = failBytes != 0;
  failBytes = 0;
  return pending;
}

void* operator new(size_t bytes) {
  void* block = Allocate(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t bytes) {
  return operator new(bytes);
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
  return Allocate(bytes);
}
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
  return Allocate(bytes);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
