// CNameIndex: the manager's name index. A flat open-addressing hash table over folded names;
// the key bytes live in an arena that only grows, folded once when a package is mounted, so
// mounting allocates nothing per entry and a lookup allocates nothing at all.
//
// The index itself takes no lock: the manager guards it (many readers or one mounting writer).
// Keys stay where they are for the index's whole life, so a key read under the lock may be
// used after it is released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archive/package_format.h"

namespace korvo {

// What the index holds per key: the located entry and where its index record lies in its
// package (for the name as stored).
struct IndexedEntry {
  EntryInfo info;
  uint32_t recordOffset = 0;
};

// Folds length bytes of name into out (length bytes, no terminator): '/' becomes '\' and
// ASCII capitals become lower case; every other byte is kept.
void FoldName(const char* name, size_t length, char* out);

// A name folded into a buffer on the stack (or, for very long names, the heap).
class FoldedName {
 public:
  explicit FoldedName(const char* name);
  std::string_view View() const { return std::string_view(data_, length_); }

 private:
  char inline_[512];
  std::string heap_;
  const char* data_ = inline_;
  size_t length_ = 0;
};

class CNameIndex {
 public:
  CNameIndex() = default;
  CNameIndex(const CNameIndex&) = delete;
  CNameIndex& operator=(const CNameIndex&) = delete;

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Lookups by folded key.
  const IndexedEntry* Find(std::string_view key) const;
  size_t count(std::string_view key) const { return Find(key) != nullptr ? 1 : 0; }
  // The entry of a key; throws std::out_of_range when there is none.
  const EntryInfo& at(std::string_view key) const;

  // Makes room for n more keys without rehashing.
  void Reserve(size_t more);
  // Folds name into the arena (once) and indexes it: a key already present keeps its stored
  // bytes and takes the new value.
  void InsertOrAssign(const char* name, size_t length, const IndexedEntry& value);

  // Calls f(key, entry) for every key, in no particular order.
  template <class F>
  void ForEach(F&& f) const {
    for (const Item& item : items_) f(std::string_view(item.key, item.keyLength), item.value);
  }

 private:
  struct Item {
    const char* key;
    uint32_t keyLength;
    uint32_t hash;
    IndexedEntry value;
  };
  static uint64_t Hash(std::string_view key);
  // The slot that holds key, or the empty slot where it would go.
  size_t Probe(std::string_view key, uint64_t hash) const;
  void Rehash(size_t slotCount);
  char* ArenaAllocate(size_t length);

  std::vector<Item> items_;                      // in insertion order
  std::vector<uint32_t> slots_;                  // item index + 1; 0 is an empty slot
  std::vector<std::unique_ptr<char[]>> blocks_;  // the key arena
  char* blockCursor_ = nullptr;
  size_t blockLeft_ = 0;
};

}  // namespace korvo
