// Decodes the input as a tiled image three ways: from memory, from a disk file and from an
// entry of a package. All three must agree, and a decoded frame must have the header's size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "image/img_loader.h"
#include "manager/package_manager.h"
#include "stream/mem_stream.h"

using namespace korvo;

namespace {

struct Frames {
  Status status;
  uint32_t count = 0;
  uint32_t* values = nullptr;
  ImgFrame** frames = nullptr;
  ~Frames() {
    if (status.ok()) FreeImageFrames(count, count > 1 ? values : nullptr, frames);
  }
};

void CheckDecoded(const Frames& f) {
  if (!f.status.ok()) {
    KORVO_FUZZ_CHECK(f.count == 0 && f.frames == nullptr && f.values == nullptr);
    return;
  }
  for (uint32_t i = 0; i < f.count; ++i) {
    const ImgFrame* frame = f.frames[i];
    KORVO_FUZZ_CHECK(frame->format == 3 && frame->stride == 4 * frame->width);
    if (f.count > 1) KORVO_FUZZ_CHECK(f.values[i] == 100);
  }
}

// Frames decoded from the same bytes must hold the same pixels where tiles wrote them; pixels
// that no tile reaches are not written, so only the headers and the outcome are compared.
void CheckSame(const Frames& a, const Frames& b) {
  KORVO_FUZZ_CHECK(a.status.ok() == b.status.ok());
  KORVO_FUZZ_CHECK(a.count == b.count);
  if (!a.status.ok()) return;
  for (uint32_t i = 0; i < a.count; ++i)
    KORVO_FUZZ_CHECK(std::memcmp(a.frames[i], b.frames[i], sizeof(ImgFrame)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  Frames fromMemory;
  {
    CMemStream stream;
    if (!stream.Reserve(static_cast<uint32_t>(size))) return 0;
    if (size > 0) std::memcpy(stream.buffer, data, size);
    stream.size = static_cast<uint32_t>(size);
    stream.mode = ModeRead;
    fromMemory.status =
        DecodeImageStream(stream, &fromMemory.count, &fromMemory.values, &fromMemory.frames);
  }
  CheckDecoded(fromMemory);

  const std::string image = fuzz::ScratchPath("image.img");
  const std::string package = fuzz::ScratchPath("image.pak");
  if (!fuzz::WriteFileBytes(image, data, size)) return 0;
  const fuzz::Bytes archive =
      fuzz::BuildPackage({{"Art\\Image.img", fuzz::Bytes(data, data + size)}});
  if (!fuzz::WriteFileBytes(package, archive.data(), archive.size())) return 0;

  CPackageManager manager(package.c_str(), 0);
  Frames fromDisk, fromPackage;
  fromDisk.status =
      LoadImageFrames(manager, image.c_str(), &fromDisk.count, &fromDisk.values, &fromDisk.frames);
  fromPackage.status = LoadImageFrames(manager, "art/image.img", &fromPackage.count,
                                       &fromPackage.values, &fromPackage.frames);
  CheckDecoded(fromDisk);
  CheckDecoded(fromPackage);
  CheckSame(fromMemory, fromDisk);
  CheckSame(fromMemory, fromPackage);
  return 0;
}
