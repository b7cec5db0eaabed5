// The texts of a table's Text columns, folded the way LIKE compares characters, kept end to end in
// one stretch of memory: a search for a word in titles and artists reads them at the speed of
// memory instead of decoding every row.
//
// Contract:
//   - built by one scan of the table, in storage order, under the caller's read lock (or inside a
//     write, where it is not kept); it describes the file as that scan read it;
//   - kept for the other handles of this process on the file (Pager::ShareDecoded) and handed out
//     again only while the file's change stamp stays the one it was built at: any write, by this
//     process or another program, makes the next search build it afresh;
//   - each text is kept as its folded code units (FoldUnit), each unit written as one to three
//     bytes the way UTF-8 writes it, so that a string of folded units is contained in a text
//     exactly when its bytes are contained in the text's bytes; each text is followed by a zero
//     byte; a NULL is kept as an empty text and flagged;
//   - rows are kept with the place the scan read them at (a moved row: its home), as a scan of
//     the table reports them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/sql/sql_like.h"
#include "jet/table/storage_cursor.h"

namespace jet {

struct FoldedColumns {
  std::vector<size_t> columns;  // positions in def.columns, each a Text column
  std::string bytes;            // every row's texts, column after column, each followed by a zero
  // Where each text begins in bytes: row r's text of columns[k] at starts[r * columns.size() + k];
  // one more entry at the end, so that a text ends one byte (its zero) before the next begins.
  std::vector<uint32_t> starts;
  std::vector<uint8_t> nulls;   // per row: bit k set when the row's value of columns[k] is NULL
  std::vector<RowId> places;    // per row, in storage order
  bool moved_rows = false;      // some row lives away from the slot its index entries name

  size_t rows() const { return places.size(); }
  std::string_view Text(size_t row, size_t k) const {
    const size_t f = row * columns.size() + k;
    return std::string_view(bytes).substr(starts[f], starts[f + 1] - starts[f] - 1);
  }
  bool Null(size_t row, size_t k) const { return (nulls[row] >> k & 1) != 0; }
  size_t MemoryBytes() const;
};

// The folded texts of `columns` (at most 8 Text columns of `def`), from what this process keeps
// for the file as it is now, else from a scan of the table (then kept).
Result<std::shared_ptr<const FoldedColumns>> FoldedColumnsOf(Pager& pager, const TableDef& def,
                                                             const std::vector<size_t>& columns);

// Appends the bytes FoldedColumns keeps for folded units `folded`.
void AppendFoldedBytes(std::u16string_view folded, std::string* out);
// The folded units back from such bytes.
void FoldedUnitsOf(std::string_view bytes, std::u16string* out);

// One condition term: rows whose text in columns[k], for a k in `column_mask`, matches `like`.
struct FoldedTerm {
  uint32_t column_mask = 0;
  const LikePattern* like = nullptr;
};

// Sets match[r] for every row r that some term matches (match has rows() entries).
void MarkMatches(const FoldedColumns& folded, const std::vector<FoldedTerm>& terms, std::vector<uint8_t>* match);

// The first place at or after `from` in [from, end) where `needle` begins; end when none.
const char* FindBytes(const char* from, const char* end, std::string_view needle);

}  // namespace jet
