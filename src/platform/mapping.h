// Read-only memory mapping of a whole file: how packages are mounted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/status.h"

namespace korvo::platform {

// A whole file mapped read-only; unmapped and closed by the destructor. Move-only. While it
// exists, other openers may read the file but not write it (Windows: share mode; POSIX: a shared
// advisory lock that the archive editor's exclusive lock respects).
class Mapping {
 public:
  Mapping() = default;
  ~Mapping() { Reset(); }
  Mapping(Mapping&& other) noexcept { Swap(other); }
  Mapping& operator=(Mapping&& other) noexcept {
    if (this != &other) {
      Reset();
      Swap(other);
    }
    return *this;
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  const uint8_t* View() const { return view_; }
  uint32_t Size() const { return size_; }
  bool IsMapped() const { return view_ != nullptr; }
  // A hint that bytes [offset, offset + length) of the view are about to be read: the system
  // may map them now, in one call, instead of one page fault at a time. Clipped to the view:
  // returns the number of bytes the hint covers, 0 when offset lies at or past the end of the
  // view or nothing is mapped. The system may ignore the hint.
  uint32_t WillRead(uint32_t offset, uint32_t length) const;
  // Unmaps the view and closes the handles; errors are ignored.
  void Reset();

 private:
  friend Status MapFileReadOnly(const char* path, Mapping& mapping);
  void Swap(Mapping& other) noexcept;

  intptr_t fileHandle_ = -1;
  intptr_t mappingHandle_ = 0;
  const uint8_t* view_ = nullptr;
  uint32_t size_ = 0;
};

// Views mapped by MapFileReadOnly and not yet unmapped, in the whole process: a reader of it
// can tell that every mapping given up has really been unmapped.
inline std::atomic<size_t> openMappings{0};
inline size_t OpenMappingCount() {
  return openMappings.load(std::memory_order_acquire);
}

// Maps the file at path, replacing what mapping held. A refusal names path and says why in its
// detail: "no such file" (NotFound), "is a directory" or "not a regular file"
// (InvalidArgument), "empty file" (Corrupt), "file of 4 GiB or more" (TooLarge), LockedDetail
// (Locked), or "cannot open" or "cannot map" with the system's error (IoError).
Status MapFileReadOnly(const char* path, Mapping& mapping);

}  // namespace korvo::platform
