#include "manager/name_index.h"

#include <cstring>
#include <functional>

namespace korvo {

namespace {
constexpr size_t ArenaBlockSize = 256 * 1024;
constexpr size_t MinimumSlots = 16;
}  // namespace

void FoldName(const char* name, size_t length, char* out) {
  for (size_t i = 0; i < length; ++i) {
    char c = name[i];
    if (c == '/') {
      c = '\\';
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 0x20);
    }
    out[i] = c;
  }
}

FoldedName::FoldedName(const char* name) {
  length_ = name != nullptr ? std::strlen(name) : 0;
  if (length_ > sizeof(inline_)) {
    heap_.resize(length_);
    data_ = heap_.data();
    FoldName(name, length_, heap_.data());
  } else if (length_ > 0) {
    FoldName(name, length_, inline_);
  }
}

uint64_t CNameIndex::Hash(std::string_view key) {
  return std::hash<std::string_view>()(key);
}

size_t CNameIndex::Probe(std::string_view key, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  const uint32_t tag = static_cast<uint32_t>(hash);
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    uint32_t slot = slots_[i];
    if (slot == 0) return i;
    const Item& item = items_[slot - 1];
    if (item.hash == tag && item.keyLength == key.size() &&
        (key.empty() || std::memcmp(item.key, key.data(), key.size()) == 0)) {
      return i;
    }
  }
}

const IndexedEntry* CNameIndex::Find(std::string_view key) const {
  if (items_.empty()) return nullptr;
  uint32_t slot = slots_[Probe(key, Hash(key))];
  return slot != 0 ? &items_[slot - 1].value : nullptr;
}

const EntryInfo& CNameIndex::at(std::string_view key) const {
  const IndexedEntry* found = Find(key);
  if (found == nullptr) throw std::out_of_range("no such key in the name index");
  return found->info;
}

void CNameIndex::Rehash(size_t slotCount) {
  std::vector<uint32_t> slots(slotCount, 0);
  const size_t mask = slotCount - 1;
  for (size_t n = 0; n < items_.size(); ++n) {
    const Item& item = items_[n];
    uint64_t hash = Hash(std::string_view(item.key, item.keyLength));
    size_t i = static_cast<size_t>(hash) & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = static_cast<uint32_t>(n + 1);
  }
  slots_.swap(slots);
}

void CNameIndex::Reserve(size_t more) {
  size_t wanted = items_.size() + more;
  items_.reserve(wanted);
  size_t slotCount = slots_.empty() ? MinimumSlots : slots_.size();
  while (slotCount < wanted * 2) slotCount *= 2;  // at most half full
  if (slotCount != slots_.size()) Rehash(slotCount);
}

char* CNameIndex::ArenaAllocate(size_t length) {
  if (length > blockLeft_) {
    size_t size = length > ArenaBlockSize / 4 ? length : ArenaBlockSize;
    blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
    if (size == length) return blocks_.back().get();  // a long key gets a block of its own
    blockCursor_ = blocks_.back().get();
    blockLeft_ = size;
  }
  char* out = blockCursor_;
  blockCursor_ += length;
  blockLeft_ -= length;
  return out;
}

void CNameIndex::InsertOrAssign(const char* name, size_t length, const IndexedEntry& value) {
  if (slots_.empty() || (items_.size() + 1) * 2 > slots_.size()) {
    Reserve(items_.size() < MinimumSlots ? MinimumSlots : items_.size());
  }
  // Fold onto the stack first; the arena only takes keys that are new.
  char stackKey[512];
  std::string heapKey;
  char* folded = stackKey;
  if (length > sizeof(stackKey)) {
    heapKey.resize(length);
    folded = heapKey.data();
  }
  FoldName(name, length, folded);
  std::string_view key(folded, length);
  uint64_t hash = Hash(key);
  size_t i = Probe(key, hash);
  if (slots_[i] != 0) {
    items_[slots_[i] - 1].value = value;
    return;
  }
  if (items_.size() >= UINT32_MAX - 1) throw std::length_error("name index full");
  char* stored = length > 0 ? ArenaAllocate(length) : nullptr;
  if (length > 0) std::memcpy(stored, folded, length);
  items_.push_back(Item{stored, static_cast<uint32_t>(length), static_cast<uint32_t>(hash), value});
  slots_[i] = static_cast<uint32_t>(items_.size());
}

}  // namespace korvo
