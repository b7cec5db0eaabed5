// The songs of the last search, as the list shows them and the commands write them back.
#pragma once

#include <cstdint>
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
class ResultSet {
 public:
  int count() const { return static_cast<int>(rows_.size()) - 1; }
  bool empty() const { return count() == 0; }
  ResultRow& operator[](int i) { return rows_.at(static_cast<size_t>(i)); }
  const ResultRow& operator[](int i) const { return rows_.at(static_cast<size_t>(i)); }

  void Clear() { rows_.resize(1); rows_[0] = ResultRow{}; }
  // Keeps rows 1..n (n <= count()); dropping what lies beyond.
  void Truncate(int n) { rows_.resize(static_cast<size_t>(n) + 1); }
  // Row n, grown into when n is one past the end.
  ResultRow& Grow(int n) {
    if (n > count()) rows_.resize(static_cast<size_t>(n) + 1);
    return rows_.at(static_cast<size_t>(n));
  }

 private:
  std::vector<ResultRow> rows_{ResultRow{}};
};

}  // namespace velloran
