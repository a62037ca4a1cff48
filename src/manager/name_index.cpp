#include "manager/name_index.h"

#include <chrono>
#include <cstring>
#include <new>

#include "archive/names.h"
#include "common/word_load.h"

namespace korvo {

namespace {

constexpr size_t MinimumSlots = 16;
constexpr size_t MinimumArena = 4096;
// Slots hold a record's offset in units of 8 bytes in 32 bits.
constexpr size_t MostArenaBytes = (size_t{UINT32_MAX} - 1) * 8;

inline uint64_t Mix(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

constexpr uint64_t MixA = 0xa0761d6478bd642full;
constexpr uint64_t MixB = 0xe7037ed1a0b428dbull;

// Words that a lock-free reader may read while the writer changes them. Every such store
// releases and every such load acquires: a reader that sees any store of a change also sees
// the odd version that began it, and its closing version check comes after all its loads.
// (Plain moves on x86-64.)
template <class T>
inline T LoadShared(const T& at) {
  return __atomic_load_n(&at, __ATOMIC_ACQUIRE);
}
template <class T>
inline void StoreShared(T& at, T value) {
  __atomic_store_n(&at, value, __ATOMIC_RELEASE);
}

inline uint32_t Tag(uint64_t slot) {
  return static_cast<uint32_t>(slot >> 32);
}

inline void Prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace

char* NameBuffer::Reserve(size_t length) {
  data_ = inline_;
  if (length >= sizeof(inline_)) {
    heap_.resize(length + 1);
    data_ = &heap_[0];
  }
  data_[length] = '\0';
  length_ = length;
  return data_;
}

void NameBuffer::Assign(std::string_view text) {
  char* to = Reserve(text.size());
  if (!text.empty()) std::memcpy(to, text.data(), text.size());
}

FoldedName::FoldedName(const char* name) {
  const size_t length = name != nullptr ? std::strlen(name) : 0;
  char* to = text_.Reserve(length);
  if (length > 0) FoldName(name, length, to);
}

CNameIndex::CNameIndex(size_t mostBytes) : mostBytes_(mostBytes) {
  // Each index hashes with its own seed, so that nobody can prepare names that all collide.
  const uint64_t clock =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  seed_ = Mix(clock ^ MixA, reinterpret_cast<uintptr_t>(this) ^ MixB);
}

uint64_t CNameIndex::Hash(const char* key, size_t length) const {
  uint64_t h = seed_ ^ (length * MixB);
  size_t i = 0;
  for (; i + 16 <= length; i += 16) h = Mix(Load8(key + i) ^ MixA, Load8(key + i + 8) ^ h);
  if (i + 8 <= length) {
    h = Mix(Load8(key + i) ^ MixA, h ^ MixB);
    i += 8;
  }
  if (i < length) {
    const uint64_t last = length >= 8 ? Load8(key + length - 8) : LoadPart(key, length);
    h = Mix(last ^ MixB, h ^ MixA);
  }
  return Mix(h ^ MixA, h ^ MixB ^ length);
}

CNameIndex::Probed CNameIndex::Probe(const Table& table, const char* key, size_t length,
                                     uint32_t tag) {
  size_t i = tag & table.mask;
  for (size_t probes = 0; probes <= table.mask; ++probes, i = (i + 1) & table.mask) {
    const uint64_t slot = LoadShared(table.slots[i]);
    if (slot == 0) return Probed{i, nullptr};
    if (Tag(slot) != tag) continue;
    const size_t at = (static_cast<uint32_t>(slot) - 1) * size_t{8};
    if (at > table.arenaBytes || table.arenaBytes - at < sizeof(Record) + length) continue;
    const Record* record = reinterpret_cast<const Record*>(table.arena + at);
    if (LoadShared(record->keyLength) != length) continue;
    if (std::memcmp(KeyOf(record), key, length) == 0) return Probed{i, record};
  }
  return Probed{ProbedAll, nullptr};
}

bool CNameIndex::Find(std::string_view key, IndexedEntry& found) const {
  // Sizes before addresses: see where they are stored.
  Table table;
  table.mask = sharedMask_.load(std::memory_order_acquire);
  table.slots = sharedSlots_.load(std::memory_order_acquire);
  table.arenaBytes = sharedArenaBytes_.load(std::memory_order_acquire);
  table.arena = sharedArena_.load(std::memory_order_acquire);
  if (table.slots == nullptr || table.arena == nullptr) return false;
  const size_t length = key.size();
  const uint32_t tag = static_cast<uint32_t>(Hash(key.data(), length) >> 32);
  const Record* record = Probe(table, key.data(), length, tag).record;
  if (record == nullptr) return false;
  found = IndexedEntry{
      {LoadShared(record->package), LoadShared(record->flags), LoadShared(record->offset),
       LoadShared(record->size), LoadShared(record->packedSize)},
      LoadShared(record->recordOffset)};
  return true;
}

void CNameIndex::BeginChange() {
  // Needs no fence: every store of the change releases, so it carries this one along.
  version_.store(version_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void CNameIndex::EndChange() {
  version_.store(version_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void CNameIndex::Retire(platform::MemoryBlock& block) {
  if (block.Data() == nullptr) return;
  block.Discard();
  retired_[retiredCount_++] = std::move(block);  // CheckGrowth made sure of the room
}

Status CNameIndex::CheckGrowth(size_t bytes, size_t replacedBytes) const {
  const size_t others = slots_.Size() + arena_.Size() - replacedBytes;
  if (retiredCount_ == MostRetired || bytes > mostBytes_ || others > mostBytes_ - bytes) {
    return Status(StatusCode::TooLarge, std::string(), 0, "the name index is full");
  }
  return Status::Ok();
}

Status CNameIndex::GrowSlots(size_t slotCount) {
  if (slotCount > (size_t{1} << 32)) {
    return Status(StatusCode::TooLarge, std::string(), 0, "the name index is full");
  }
  Status room = CheckGrowth(slotCount * sizeof(uint64_t), slots_.Size());
  if (!room.ok()) return room;
  platform::MemoryBlock grown(slotCount * sizeof(uint64_t));
  if (grown.Data() == nullptr) return Status(StatusCode::NoMemory);
  uint64_t* slots = static_cast<uint64_t*>(grown.Data());
  const size_t mask = slotCount - 1;
  // The position comes from the stored hash bits, so nothing is hashed again.
  const uint64_t* old = Slots();
  for (size_t n = 0; n <= slotMask_ && old != nullptr; ++n) {
    if (old[n] == 0) continue;
    size_t i = Tag(old[n]) & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = old[n];
  }
  sharedSlots_.store(slots, std::memory_order_release);
  sharedMask_.store(mask, std::memory_order_release);
  Retire(slots_);
  slots_ = std::move(grown);
  slotMask_ = mask;
  return Status::Ok();
}

Status CNameIndex::GrowArena(size_t bytes) {
  if (bytes > MostArenaBytes) {
    return Status(StatusCode::TooLarge, std::string(), 0, "the name index is full");
  }
  size_t capacity = arena_.Size() < MinimumArena ? MinimumArena : arena_.Size();
  while (capacity < bytes) capacity *= 2;
  Status room = CheckGrowth(capacity, arena_.Size());
  if (!room.ok()) return room;
  platform::MemoryBlock grown(capacity);
  if (grown.Data() == nullptr) return Status(StatusCode::NoMemory);
  if (pendingEnd_ > 0) std::memcpy(grown.Data(), arena_.Data(), pendingEnd_);
  sharedArena_.store(static_cast<const char*>(grown.Data()), std::memory_order_release);
  sharedArenaBytes_.store(grown.Size(), std::memory_order_release);
  Retire(arena_);
  arena_ = std::move(grown);
  return Status::Ok();
}

Status CNameIndex::EnsureSlots(size_t keys) {
  if (slotMask_ != 0 && keys * 2 <= slotMask_ + 1) return Status::Ok();
  size_t slotCount = slotMask_ == 0 ? MinimumSlots : slotMask_ + 1;
  while (slotCount < keys * 2) slotCount *= 2;  // at most half full
  return GrowSlots(slotCount);
}

Status CNameIndex::Reserve(size_t more, size_t keyBytes) {
  Status slots = EnsureSlots(count_ + pending_ + more);
  if (!slots.ok()) return slots;
  const size_t arenaBytes = pendingEnd_ + more * RecordSize(0) + keyBytes;
  return arenaBytes > arena_.Size() ? GrowArena(arenaBytes) : Status::Ok();
}

void CNameIndex::Drop() {
  pending_ = 0;
  pendingEnd_ = used_;
}

Status CNameIndex::Add(const char* name, size_t length, const IndexedEntry& value) {
  if (length > UINT32_MAX) {
    Drop();
    return Status(StatusCode::TooLarge, std::string(), 0, "a name is too long for the index");
  }
  const size_t size = RecordSize(length);
  if (pendingEnd_ + size > arena_.Size()) {
    Status grown = GrowArena(pendingEnd_ + size);
    if (!grown.ok()) {
      Drop();
      return grown;
    }
  }
  Record* record = RecordAt(pendingEnd_);
  *record = Record{value.info.package,
                   value.info.flags,
                   value.info.offset,
                   value.info.size,
                   value.info.packedSize,
                   value.recordOffset,
                   static_cast<uint32_t>(length)};
  FoldName(name, length, reinterpret_cast<char*>(record + 1));
  pendingEnd_ += size;
  ++pending_;
  return Status::Ok();
}

Status CNameIndex::Commit() {
  if (pending_ == 0) return Status::Ok();
  // The last step that can fail: after it every key of the batch finds a free slot.
  Status room = EnsureSlots(count_ + pending_);
  if (!room.ok()) {
    Drop();
    return room;
  }
  uint64_t* slots = Slots();
  const Table owned = Owned();  // nothing grows while a batch goes in
  // The hashes and places of the next keys, computed PrefetchDistance keys ahead of their
  // insertion so that their slots are on the way in by then.
  uint64_t aheadHash[PrefetchDistance];
  size_t aheadAt[PrefetchDistance];
  size_t hashed = 0;
  size_t next = used_;
  const auto hashNext = [&] {
    const Record* record = RecordAt(next);
    const uint64_t hash = Hash(KeyOf(record), record->keyLength);
    Prefetch(&slots[(hash >> 32) & slotMask_]);
    aheadHash[hashed % PrefetchDistance] = hash;
    aheadAt[hashed % PrefetchDistance] = next;
    next += RecordSize(record->keyLength);
    ++hashed;
  };
  while (hashed < pending_ && hashed < PrefetchDistance) hashNext();
  // Records are kept in order; one whose key is already present hands its value over and
  // leaves no gap, because the records after it move up (never over a record not yet hashed).
  size_t write = used_;
  for (size_t n = 0; n < pending_; ++n) {
    const uint64_t hash = aheadHash[n % PrefetchDistance];
    const size_t at = aheadAt[n % PrefetchDistance];
    Record* record = RecordAt(at);
    const size_t size = RecordSize(record->keyLength);
    // A table at most half full always has a free slot on the probe's way.
    const Probed probed =
        Probe(owned, KeyOf(record), record->keyLength, static_cast<uint32_t>(hash >> 32));
    if (probed.record != nullptr) {
      // The key bytes stay; readers may be copying the fields meanwhile.
      Record* present = const_cast<Record*>(probed.record);
      StoreShared(present->package, record->package);
      StoreShared(present->flags, record->flags);
      StoreShared(present->offset, record->offset);
      StoreShared(present->size, record->size);
      StoreShared(present->packedSize, record->packedSize);
      StoreShared(present->recordOffset, record->recordOffset);
    } else {
      if (write != at) std::memmove(RecordAt(write), record, size);
      // Published last, once the record is in place.
      StoreShared(slots[probed.slot], (hash >> 32 << 32) | (write / 8 + 1));
      write += size;
      ++count_;
    }
    if (hashed < pending_) hashNext();
  }
  used_ = write;
  pendingEnd_ = write;
  pending_ = 0;
  return Status::Ok();
}

}  // namespace korvo
