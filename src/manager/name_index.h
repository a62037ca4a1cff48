// CNameIndex: the manager's name index. An open-addressing hash table over folded names.
//
// Layout, chosen for mounting a million entries in a few tens of milliseconds and looking one
// up with two cache misses:
// - the slots are 8 bytes each (32 bits of the key's hash and where its record lies), at most
//   half full, probed linearly; a probe compares hash bits before it touches a record;
// - every record lies in one arena, in insertion order: the entry, then the folded key bytes
//   right behind it, so the record and its key share cache lines;
// - both live in large blocks from the platform (huge pages where the system has them).
// A mount adds its records as one batch: Add folds each key into the arena behind the
// published records, where no lookup sees it, and Commit inserts the batch with the slots of
// later keys prefetched, so that many cache misses are in flight at once instead of one after
// another. Everything that can fail (room in the arena, room in the slots) happens before the
// first key is published, so a batch goes in whole or not at all.
//
// Lookups need no lock. The one writer (the manager, under its own lock) brackets its changes
// with BeginChange and EndChange, which step a version; a reader reads the version, looks up,
// and keeps the answer only when the version is even and unchanged (a sequence lock). So that
// such a reader can never fault, whatever it meets half-way through a change:
// - it reads the slots, the arena and the entry fields with atomic loads, and a record is
//   published (its slot stored with release order) only once its bytes are in place;
// - blocks replaced by growth are kept, their pages given back to the system, until the
//   index dies, so an address a reader still holds stays readable;
// - it checks every record it reads against the arena it loaded and probes at most every
//   slot once.
// Records move when the arena grows, so a reader copies what it needs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/package_format.h"
#include "common/status.h"
#include "platform/memory.h"

namespace korvo {

// What the index holds per key: the located entry and where its index record lies in its
// package (for the name as stored).
struct IndexedEntry {
  EntryInfo info;
  uint32_t recordOffset = 0;
};

// The text of a name with a 0 byte after it: on the stack, or on the heap for a name longer
// than any usual one.
class NameBuffer {
 public:
  NameBuffer() = default;
  NameBuffer(const NameBuffer&) = delete;
  NameBuffer& operator=(const NameBuffer&) = delete;
  // Makes room for length bytes, puts the 0 byte after them and returns where they go.
  char* Reserve(size_t length);
  // Copies text in.
  void Assign(std::string_view text);
  // View().data() is followed by a 0 byte.
  std::string_view View() const { return std::string_view(data_, length_); }

 private:
  char inline_[512];
  std::string heap_;
  char* data_ = inline_;
  size_t length_ = 0;
};

// A name folded into a NameBuffer.
class FoldedName {
 public:
  explicit FoldedName(const char* name);
  std::string_view View() const { return text_.View(); }

 private:
  NameBuffer text_;
};

class CNameIndex {
 public:
  // The most bytes the slots and the arena may take together. Beyond the format's own bounds
  // (a record's place is kept in 32 bits of 8-byte units), a host may hold the index smaller.
  static constexpr size_t MostBytes = (size_t{1} << 32) * 8 * 2;
  explicit CNameIndex(size_t mostBytes = MostBytes);
  CNameIndex(const CNameIndex&) = delete;
  CNameIndex& operator=(const CNameIndex&) = delete;

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Looks up a folded key and copies its entry into found. Safe beside a writer, but then the
  // answer holds only when Unchanged(version) is true for a Version() read before.
  bool Find(std::string_view key, IndexedEntry& found) const;
  uint64_t Version() const { return version_.load(std::memory_order_acquire); }
  // True when no change was under way at version and none began since.
  bool Unchanged(uint64_t version) const {
    return (version & 1) == 0 && version_.load(std::memory_order_acquire) == version;
  }
  // Brackets a writer's changes (one writer at a time); readers meanwhile fall back to a lock.
  void BeginChange();
  void EndChange();
  // BeginChange for the life of the scope.
  class Change {
   public:
    explicit Change(CNameIndex& index) : index_(index) { index_.BeginChange(); }
    ~Change() { index_.EndChange(); }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

   private:
    CNameIndex& index_;
  };

  // Makes room for more keys of keyBytes bytes in all before they are added, so that a large
  // batch grows the slots and the arena once instead of doubling its way up. Only a hint: a
  // failure (TooLarge, NoMemory) changes nothing that lookups see, and Add and Commit still
  // report what does not fit.
  Status Reserve(size_t more, size_t keyBytes);
  // Folds name and adds it to the batch that Commit inserts, in the order added. A key already
  // present then takes the new value (and keeps its key bytes, which fold the same). Lookups
  // do not see the batch before Commit. TooLarge or NoMemory when the arena cannot hold the
  // record; a failure drops the whole batch, leaving the index as it was before it.
  Status Add(const char* name, size_t length, const IndexedEntry& value);
  // Inserts the batch. TooLarge or NoMemory when the slots cannot grow to hold it; then the
  // batch is dropped and nothing of it was published.
  Status Commit();
  // Drops the batch.
  void Drop();

  // A key's position: where its record lies, in 8-byte units from the arena's start. It stays
  // the key's for the life of the index (growth moves the arena, not the records in it), and
  // a key inserted later lies at a greater one. Every key lies below EndPosition. None of
  // these is for use beside a writer.
  uint32_t EndPosition() const { return static_cast<uint32_t>(used_ / 8); }
  std::string_view KeyAt(uint32_t position) const {
    const Record* record = RecordAt(size_t{position} * 8);
    return std::string_view(KeyOf(record), record->keyLength);
  }
  IndexedEntry EntryAt(uint32_t position) const { return Entry(*RecordAt(size_t{position} * 8)); }
  // Calls f(position) for every key at position from or after it, in insertion order.
  template <class F>
  void ForEachPosition(uint32_t from, F&& f) const {
    for (size_t at = size_t{from} * 8; at < used_;) {
      f(static_cast<uint32_t>(at / 8));
      at += RecordSize(RecordAt(at)->keyLength);
    }
  }

  // Calls f(key, entry) for every key, in insertion order of the keys. Not beside a writer.
  template <class F>
  void ForEach(F&& f) const {
    for (size_t at = 0; at < used_;) {
      const Record* record = RecordAt(at);
      f(std::string_view(KeyOf(record), record->keyLength), Entry(*record));
      at += RecordSize(record->keyLength);
    }
  }

 private:
  // One arena record; the folded key follows it, and the whole is padded to 8 bytes.
  struct Record {
    CMappedPackage* package;
    uint32_t flags;
    uint32_t offset;
    uint32_t size;
    uint32_t packedSize;
    uint32_t recordOffset;
    uint32_t keyLength;
  };
  // How many keys ahead Commit hashes, to prefetch the slots it will probe.
  static constexpr size_t PrefetchDistance = 16;
  // Every growth at least doubles a block, so neither can be replaced more often than this.
  static constexpr size_t MostRetired = 128;

  static size_t RecordSize(size_t keyLength) { return (sizeof(Record) + keyLength + 7) & ~7u; }
  const Record* RecordAt(size_t at) const {
    return reinterpret_cast<const Record*>(static_cast<const char*>(arena_.Data()) + at);
  }
  Record* RecordAt(size_t at) {
    return reinterpret_cast<Record*>(static_cast<char*>(arena_.Data()) + at);
  }
  static const char* KeyOf(const Record* record) {
    return reinterpret_cast<const char*>(record + 1);
  }
  static IndexedEntry Entry(const Record& record) {
    return IndexedEntry{
        {record.package, record.flags, record.offset, record.size, record.packedSize},
        record.recordOffset};
  }
  const uint64_t* Slots() const { return static_cast<const uint64_t*>(slots_.Data()); }
  uint64_t* Slots() { return static_cast<uint64_t*>(slots_.Data()); }
  // Keeps a replaced block readable for readers that may still hold its address.
  void Retire(platform::MemoryBlock& block);
  // Ok when a block of bytes may replace one of replacedBytes (TooLarge otherwise).
  Status CheckGrowth(size_t bytes, size_t replacedBytes) const;

  uint64_t Hash(const char* key, size_t length) const;
  // The slots and the arena a probe reads: as the writer holds them, or as a reader loaded them.
  struct Table {
    const uint64_t* slots;
    size_t mask;
    const char* arena;
    size_t arenaBytes;
  };
  Table Owned() const {
    return Table{Slots(), slotMask_, static_cast<const char*>(arena_.Data()), arena_.Size()};
  }
  // Where a probe for a key ends: the slot that holds the key and its record, or the empty
  // slot where it would go (record null).
  struct Probed {
    size_t slot;
    const Record* record;
  };
  static constexpr size_t ProbedAll = SIZE_MAX;
  // Probes for the key as a lock-free reader must: loads that acquire, every record checked
  // against the arena, each slot visited at most once (slot ProbedAll when all were, which a
  // table at most half full never needs).
  static Probed Probe(const Table& table, const char* key, size_t length, uint32_t tag);
  Status GrowSlots(size_t slotCount);
  // Grows the slots so that keys keys leave them at most half full.
  Status EnsureSlots(size_t keys);
  Status GrowArena(size_t bytes);

  platform::MemoryBlock slots_;  // (hash >> 32) << 32 | (record offset / 8 + 1); 0 is empty
  size_t slotMask_ = 0;
  platform::MemoryBlock arena_;  // the records, insertion order
  // What lock-free readers see. A block's address is stored before its size, and a reader
  // loads the size first, so the size it sees never exceeds the block it then loads.
  std::atomic<const uint64_t*> sharedSlots_{nullptr};
  std::atomic<size_t> sharedMask_{0};
  std::atomic<const char*> sharedArena_{nullptr};
  std::atomic<size_t> sharedArenaBytes_{0};
  std::atomic<uint64_t> version_{0};  // odd while a change is under way
  platform::MemoryBlock retired_[MostRetired];
  size_t retiredCount_ = 0;
  size_t mostBytes_;
  size_t used_ = 0;  // arena bytes that hold inserted records
  size_t count_ = 0;
  uint64_t seed_ = 0;
  // The batch: records written to the arena after used_, waiting to be inserted.
  size_t pending_ = 0;
  size_t pendingEnd_ = 0;
};

}  // namespace korvo
