#include "jet/sql/sql_sort.h"

#include <algorithm>

namespace jet {

namespace {

// The first chunk covers what a search keeps (a thousand rows and the few a record set reads
// ahead) in one selection; later chunks double, so that taking everything stays O(n log n).
constexpr size_t kFirstChunk = 2048;

uint64_t Head(std::string_view key) {
  uint64_t head = 0;
  for (size_t i = 0; i < 8; ++i) head = head << 8 | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
  return head;
}

}  // namespace

void IncrementalSort::Add(std::string_view key, RowId row) {
  entries_.push_back(Entry{Head(key), keys_.size(), static_cast<uint32_t>(key.size()),
                           static_cast<uint32_t>(entries_.size()), row});
  keys_.append(key);
}

void IncrementalSort::Clear() {
  keys_.clear();
  entries_.clear();
  taken_ = 0;
  ordered_ = 0;
}

bool IncrementalSort::Less(const Entry& a, const Entry& b) const {
  if (a.head != b.head) return a.head < b.head;
  const std::string_view keys(keys_);
  const int c = keys.substr(a.key_offset, a.key_size).compare(keys.substr(b.key_offset, b.key_size));
  if (c != 0) return c < 0;
  return a.sequence < b.sequence;
}

void IncrementalSort::OrderNextChunk() {
  const auto less = [this](const Entry& a, const Entry& b) { return Less(a, b); };
  const size_t chunk = std::max(kFirstChunk, ordered_);
  const size_t end = entries_.size() - ordered_ <= chunk ? entries_.size() : ordered_ + chunk;
  const auto first = entries_.begin() + static_cast<std::ptrdiff_t>(ordered_);
  const auto last = entries_.begin() + static_cast<std::ptrdiff_t>(end);
  // Sequences make every key distinct, so the selection and the sort agree on one order.
  if (last != entries_.end()) std::nth_element(first, last, entries_.end(), less);
  std::sort(first, last, less);
  ordered_ = end;
}

bool IncrementalSort::Next(RowId* row) {
  if (taken_ == entries_.size()) return false;
  if (taken_ == ordered_) OrderNextChunk();
  *row = entries_[taken_++].row;
  return true;
}

}  // namespace jet
