#include "archive/view_cursor.h"

#include <cstring>

namespace korvo {

bool ViewCursor::SeekTo(uint32_t p) {
  if (p > limit) return false;
  position = p;
  return true;
}

bool ViewCursor::Skip(uint32_t n) {
  if (n > Remaining()) return false;
  position += n;
  return true;
}

bool ViewCursor::ReadBytes(void* destination, uint32_t n) {
  if (n > Remaining()) return false;
  if (n > 0) std::memcpy(destination, base + position, n);
  position += n;
  return true;
}

}  // namespace korvo
