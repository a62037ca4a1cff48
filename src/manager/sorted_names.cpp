#include "manager/sorted_names.h"

#include <algorithm>
#include <new>
#include <string>

namespace korvo {

Status CSortedNames::Update(const CNameIndex& index) {
  const size_t had = positions_.size();
  const size_t count = index.size();
  if (count == had) return Status::Ok();
  // The keys inserted since the last update lie from end_ on. Room for them first, so that
  // nothing changes when there is none; the view takes exactly one position a key.
  std::vector<uint32_t> added;
  try {
    added.reserve(count - had);
    positions_.reserve(count);
  } catch (const std::bad_alloc&) {
    return Status(StatusCode::NoMemory, std::string(), 0, "no room to sort the names");
  }
  index.ForEachPosition(end_, [&](uint32_t position) { added.push_back(position); });
  const auto less = [&](uint32_t a, uint32_t b) { return index.KeyAt(a) < index.KeyAt(b); };
  std::sort(added.begin(), added.end(), less);
  // Merged from the back, in place: the keys are distinct, so neither side's order needs a
  // tie rule.
  positions_.resize(count);
  size_t old = had, fresh = added.size(), out = count;
  while (fresh > 0) {
    if (old > 0 && less(added[fresh - 1], positions_[old - 1])) {
      positions_[--out] = positions_[--old];
    } else {
      positions_[--out] = added[--fresh];
    }
  }
  end_ = index.EndPosition();
  return Status::Ok();
}

size_t CSortedNames::LowerBound(const CNameIndex& index, std::string_view key) const {
  return static_cast<size_t>(
      std::lower_bound(positions_.begin(), positions_.end(), key,
                       [&](uint32_t at, std::string_view k) { return index.KeyAt(at) < k; }) -
      positions_.begin());
}

size_t CSortedNames::UpperBound(const CNameIndex& index, std::string_view key) const {
  return static_cast<size_t>(
      std::upper_bound(positions_.begin(), positions_.end(), key,
                       [&](std::string_view k, uint32_t at) { return k < index.KeyAt(at); }) -
      positions_.begin());
}

}  // namespace korvo
