// Putting a query's rows in ORDER BY order, only as far as the caller reads them.
//
// Rows are added in table order with a sort key (the bytes of AppendKeyColumn, whose unsigned
// lexicographic order is the ORDER BY order). Taking the rows back puts them in key order, rows
// with equal keys in the order they were added, as a stable sort would. The order is made in
// growing chunks as the rows are taken: the first rows of a large set cost a selection over the
// keys (linear) and a sort of one chunk, so a caller that stops early (a search keeps the first
// thousand rows) never pays for sorting the rest; a caller that takes everything pays about what
// one full sort costs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/table/table_cursor.h"

namespace jet {

class IncrementalSort {
 public:
  void Add(std::string_view key, RowId row);
  void Clear();

  size_t size() const { return entries_.size(); }
  // Rows not taken yet.
  size_t remaining() const { return entries_.size() - taken_; }

  // The next row in order; false once every row was taken.
  bool Next(RowId* row);

 private:
  struct Entry {
    uint64_t head;        // the key's first 8 bytes, big-endian: most comparisons end here
    size_t key_offset;    // the whole key in keys_
    uint32_t key_size;
    uint32_t sequence;    // the order of adding: breaks ties between equal keys
    RowId row;
  };
  bool Less(const Entry& a, const Entry& b) const;
  void OrderNextChunk();

  std::string keys_;  // every key, end to end
  std::vector<Entry> entries_;
  size_t taken_ = 0;
  size_t ordered_ = 0;  // entries_[0, ordered_) are in their final order
};

}  // namespace jet
