#include "stream/mem_stream.h"

#include <cstdlib>
#include <cstring>

#include "archive/mapped_package.h"

namespace korvo {

CMemStream::~CMemStream() {
  std::free(buffer);
  buffer = nullptr;
  capacity = 0;
}

bool CMemStream::Reserve(uint32_t n) {
  if (buffer != nullptr && capacity >= n) return true;
  std::free(buffer);
  capacity = 0;
  buffer = static_cast<unsigned char*>(std::malloc(n > 0 ? n : 1));
  if (buffer == nullptr) return false;
  capacity = n;
  return true;
}

bool CMemStream::OpenEntry(const EntryInfo& info, uint32_t openMode) {
  return OpenEntryWithStatus(info, openMode).ok();
}

Status CMemStream::OpenEntryWithStatus(const EntryInfo& info, uint32_t openMode) {
  if (openMode == 0 || info.package == nullptr) return Status(StatusCode::InvalidArgument);
  stored_.Clear();
  const bool inPlace =
      info.size >= InPlaceMinimum &&
      stored_.Open(info.package->Block(info.offset, info.packedSize), info.packedSize, info.size);
  if (info.size > 0 && !inPlace) {
    Status status = info.package->ExtractBounded(info, InflateBuffer{buffer, capacity});
    if (!status.ok()) return status;
  }
  size = info.size;
  position = 0;
  mode = openMode;  // last: from here on the stream is in use
  return Status::Ok();
}

void CMemStream::Close() {
  if (capacity > KeptBufferLimit) {
    std::free(buffer);
    buffer = nullptr;
    capacity = 0;
  }
  if (stored_.TableBytes() > KeptTableLimit) stored_.Release();
  CResStream::Close();
}

uint32_t CMemStream::Read(void* destination, uint32_t count) {
  if (position >= size) return 0;
  uint32_t n = count;
  if (n > size - position) n = size - position;
  if (n > 0 && InPlace()) {
    stored_.Copy(position, destination, n);
  } else if (n > 0) {
    std::memcpy(destination, buffer + position, n);
  }
  position += n;
  return n;
}

const uint8_t* CMemStream::Borrow(uint32_t count) {
  if (position > size || count > size - position) return nullptr;
  const uint8_t* at = nullptr;
  if (InPlace()) {
    at = stored_.Span(position, count);
  } else if (buffer != nullptr) {
    at = buffer + position;
  }
  if (at == nullptr) return nullptr;
  position += count;
  return at;
}

bool CMemStream::Write(const void*, uint32_t) {
  return false;
}

int32_t CMemStream::Seek(int32_t offset, int32_t origin) {
  if (origin == SeekBegin) {
    position = static_cast<uint32_t>(offset);
  } else if (origin == SeekCurrent) {
    position += static_cast<uint32_t>(offset);
  } else {
    position = size - static_cast<uint32_t>(offset);
  }
  return static_cast<int32_t>(position);
}

bool CMemStream::Eof() {
  return static_cast<int32_t>(position) >= static_cast<int32_t>(size);
}

}  // namespace korvo
