// The songs of the last search, as the list shows them and the commands write them back.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velloran {

struct ResultRow {
  int32_t ID = 0;  // the row's ID field: how commands find the song again
  std::string DiskID;
  std::string SongNumber;  // the field's value as text
  std::string Song;
  std::string Artist;
  bool PrintYN = false;

  bool operator==(const ResultRow&) const = default;
};

// Rows 1..N of the last search; row 0 never holds a song. N = 0 means no rows.
//
// Rows given up by Clear and Truncate are kept, emptied, for the next search to fill: their texts
// keep their room, so a search that lists a thousand songs again allocates little.
class ResultSet {
 public:
  int count() const { return count_; }
  bool empty() const { return count_ == 0; }
  ResultRow& operator[](int i) { return rows_.at(Checked(i)); }
  const ResultRow& operator[](int i) const { return rows_.at(Checked(i)); }

  void Clear() {
    count_ = 0;
    Empty(rows_[0]);
  }
  // Keeps rows 1..n (n <= count()); dropping what lies beyond.
  void Truncate(int n) {
    if (n >= 0 && n < count_) count_ = n;
  }
  // Row count() + 1, added for a caller that sets every field of it: its texts keep the room,
  // and until set the characters, of a row an earlier search left.
  ResultRow& Append() {
    if (rows_.size() <= static_cast<size_t>(count_) + 1) rows_.resize(rows_.size() * 2);
    return rows_[static_cast<size_t>(++count_)];
  }
  // Row n; rows up to n are added (empty) when n is past the end.
  ResultRow& Grow(int n) {
    if (n > count_) {
      if (rows_.size() <= static_cast<size_t>(n)) rows_.resize(static_cast<size_t>(n) + 1);
      for (int i = count_ + 1; i <= n; ++i) Empty(rows_[static_cast<size_t>(i)]);
      count_ = n;
    }
    return rows_.at(Checked(n));
  }

 private:
  size_t Checked(int i) const {
    if (i < 0 || i > count_) throw std::out_of_range("result row " + std::to_string(i) + " of " + std::to_string(count_));
    return static_cast<size_t>(i);
  }
  static void Empty(ResultRow& row) {
    row.ID = 0;
    row.PrintYN = false;
    for (std::string* text : {&row.DiskID, &row.SongNumber, &row.Song, &row.Artist}) text->clear();
  }

  std::vector<ResultRow> rows_{ResultRow{}};
  int count_ = 0;
};

}  // namespace velloran
