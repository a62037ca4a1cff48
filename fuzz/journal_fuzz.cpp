// Rolls back a journal built from the input beside a small archive. The input chooses the
// journal's format, the archive's original length and a sequence of records (ranges, a move,
// progress marks, stray bytes), each framed with a correct checksum unless the input asks for a
// wrong one, so that the fuzzer reaches the rollback rather than stopping at the checks. A
// rollback must never crash or grow the archive beyond what the journal records, and a rolled
// back archive ends at its original length.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/journal_format.h"
#include "authoring/journal.h"
#include "common/byte_order.h"
#include "fuzz_support.h"

using namespace korvo;

namespace {

// Takes input bytes in order; past the end every value is 0.
struct Input {
  const uint8_t* at;
  const uint8_t* end;
  size_t Left() const { return static_cast<size_t>(end - at); }
  uint32_t Byte() { return at < end ? *at++ : 0; }
  uint32_t U16() { return Byte() | (Byte() << 8); }
};

// Ends the record that starts at from with its CRC, spoiled when the input says so.
void Seal(fuzz::Bytes& out, size_t from, bool spoil) {
  uint32_t crc =
      static_cast<uint32_t>(crc32(0, out.data() + from, static_cast<uInt>(out.size() - from)));
  AppendLE32(out, spoil ? ~crc : crc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  Input in{data, data + size};
  const bool first = (in.Byte() & 1) != 0;
  constexpr uint32_t ArchiveSize = 2048;
  const uint64_t originalLength = in.U16() % 4096;

  fuzz::Bytes journal(JournalHeaderSize);
  if (first) {
    std::memcpy(journal.data(), JournalMagicFirst, 8);
    StoreLE64(journal.data() + 8, originalLength);
    StoreLE32(journal.data() + 16, static_cast<uint32_t>(crc32(0, journal.data(), 16)));
  } else {
    EncodeJournalHeader(originalLength, journal.data());
  }
  uint64_t highest = originalLength;  // the furthest the journal may reach into the archive
  while (in.Left() > 0) {
    const uint32_t choice = in.Byte();
    const bool spoil = (choice & 0x80) != 0;
    const size_t from = journal.size();
    const uint32_t kind = first ? 1 : choice % 6;
    if (kind == 0) {  // stray bytes, no record
      const size_t n = in.Byte() % 16;
      for (size_t i = 0; i < n; ++i) journal.push_back(static_cast<uint8_t>(in.Byte()));
      continue;
    }
    if (!first) AppendLE32(journal, kind <= 4 ? kind : in.Byte());
    if (kind == 1 || first) {
      const uint64_t offset = in.U16(), length = in.U16() % 512;
      AppendLE64(journal, offset);
      AppendLE64(journal, length);
      for (uint64_t i = 0; i < length; ++i) journal.push_back(static_cast<uint8_t>(in.Byte()));
      if (offset + length > highest) highest = offset + length;
    } else if (kind == 2) {
      const uint64_t to = in.U16(), shift = in.U16() % 512, tail = in.U16();
      AppendLE64(journal, to);
      AppendLE64(journal, shift);
      AppendLE64(journal, tail);
      for (uint64_t i = 0; i < shift; ++i) journal.push_back(static_cast<uint8_t>(in.Byte()));
      if (to + shift + tail > highest) highest = to + shift + tail;
    } else {
      AppendLE64(journal, in.U16());
    }
    Seal(journal, from, spoil);
  }

  const std::string archive = fuzz::ScratchPath("edited.pak");
  fuzz::Bytes original(ArchiveSize);
  for (uint32_t i = 0; i < ArchiveSize; ++i) original[i] = static_cast<uint8_t>(i * 7 + 1);
  if (!fuzz::WriteFileBytes(archive, original.data(), original.size()) ||
      !fuzz::WriteFileBytes(JournalPath(archive), journal.data(), journal.size())) {
    std::abort();
  }
  bool rolledBack = false;
  const Status status = RecoverArchive(archive, rolledBack);
  const fuzz::Bytes after = fuzz::ReadFileBytes(archive);
  if (rolledBack && !status.ok()) std::abort();
  if (rolledBack && after.size() != originalLength) std::abort();
  if (after.size() > std::max<uint64_t>(ArchiveSize, highest)) std::abort();
  return 0;
}
