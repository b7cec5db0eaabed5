// Where the SQL executor gets its rows: a scan of the table in storage order, or a walk along an
// index, possibly from a seek and stopping where a range ends. Rows are decoded one column at a
// time, so that a condition reads only the columns it needs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/pages/data_page.h"
#include "jet/file/pager.h"
#include "jet/pages/row_decoder.h"
#include "jet/sql/sql_expression.h"
#include "jet/base/status.h"
#include "jet/table/storage_cursor.h"
#include "jet/text/text_codec.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

// A variable-length Text column's stored bytes in a parsed row; kUnavailable for other columns
// and where the offsets lie outside the row (DecodeColumn reports the damage).
inline Stored StoredTextIn(const ColumnDef& column, const RowLayout& layout, StoredText* text) {
  if (column.type != ColumnType::kText || column.fixed()) return Stored::kUnavailable;
  // A row written before the column was added has no offsets for it: NULL, as DecodeColumn says.
  if (!layout.Present(column.number) || column.var_index + 1u >= layout.var_offsets.size()) return Stored::kNull;
  const uint32_t start = layout.var_offsets[column.var_index];
  const uint32_t end = layout.var_offsets[column.var_index + 1];
  if (start > end || end > layout.size) return Stored::kUnavailable;
  text->bytes = layout.bytes + start;
  text->size = end - start;
  return Stored::kText;
}

// StoredTextIn's text as UTF-8 into *out (its room reused) when it is kText; *out is left alone
// otherwise. What every reader of a row's texts for a list goes through.
// Inline: a list's every text, row after row.
inline Stored TextUtf8In(JetVersion version, const ColumnDef& column, const RowLayout& layout, std::string* out) {
  StoredText text;
  const Stored kind = StoredTextIn(column, layout, &text);
  if (kind == Stored::kText) DecodeStoredTextUtf8(version, text.bytes, text.size, out);
  return kind;
}

// A row's bytes copied out of its page, so that a reader converts the columns it reads after the
// source has moved on, and never the rest: a list shows some columns of a row, not all. Only what
// lies in the row itself is had from the copy (InRow); a long value is read from its own pages
// while the row is current.
class KeptRow {
 public:
  // Moved, never copied: the layout points into the bytes, which a move takes along.
  KeptRow() = default;
  KeptRow(KeptRow&&) noexcept = default;
  KeptRow& operator=(KeptRow&&) noexcept = default;
  KeptRow(const KeptRow&) = delete;
  KeptRow& operator=(const KeptRow&) = delete;

  // Whether a column of this type can be had from the copy (unless the row is damaged there): a
  // long value cannot.
  static bool MayHold(const ColumnDef& column) {
    return column.type == ColumnType::kBoolean || column.fixed() || column.type == ColumnType::kText;
  }
  // `column` (of the table the row was read from) into *out, a text's room reused; false where
  // the copy does not hold it (a long value, or a row damaged there).
  bool Decode(const ColumnDef& column, Value* out) const { return DecodeInRow(version_, column, layout_, out); }
  // WholeInRow of the kept bytes.
  bool Whole(const ColumnDef& column, int64_t* out) const { return WholeInRow(column, layout_, out); }
  // A Yes/No column: its bit.
  bool YesNo(const ColumnDef& column) const { return layout_.Present(column.number); }
  // A variable-length Text column as UTF-8 into *out when it is not NULL (kText); kNull leaves
  // *out alone, and where the copy does not hold it (a row damaged there) it is kUnavailable.
  Stored TextUtf8(const ColumnDef& column, std::string* out) const;

 private:
  friend class LazyRow;
  JetVersion version_ = JetVersion::kJet4;
  std::vector<uint8_t> bytes_;
  RowLayout layout_;  // pointing into bytes_
};

// One row of a table, located but decoded only as its columns are asked for.
class LazyRow final : public RowValues {
 public:
  // Keeps references to `pager` and `def`; both must outlive it.
  LazyRow(Pager& pager, const TableDef& def);

  // Points at the row stored in `slot` (whose bytes stay valid until the pager writes) and
  // forgets the values of the previous row.
  Status Load(RowId id, const RowSlot& slot);
  RowId id() const { return id_; }

  Result<const Value*> Get(size_t column_index) override;
  // Get without the Result, for a reader that takes values row after row: null when the value
  // cannot be had (Get says why).
  const Value* Decoded(size_t column_index);
  // Variable-length Text columns only; the rest are kUnavailable.
  Result<Stored> GetStored(size_t column_index, StoredText* text) override;
  // A variable-length Text column as UTF-8 into *out (its room reused), straight from the stored
  // bytes (when kText; *out is left alone otherwise).
  Stored TextUtf8(size_t column_index, std::string* out) const;
  // GetStored for a reader that takes texts row after row: an index past the columns is
  // kUnavailable too (Get reports it).
  Stored StoredOf(size_t column_index, StoredText* text) const {
    if (column_index >= def_.columns.size()) return Stored::kUnavailable;
    return StoredTextIn(def_.columns[column_index], layout_, text);
  }
  // Where the row's columns lie (valid until the next Load), for a reader that copies them out
  // straight from the page: a list, row after row.
  const RowLayout& layout() const { return layout_; }
  // Copies the row's bytes into *kept, its room reused.
  void Keep(KeptRow* kept) const;
  // The value of a column into *out, whose text room is reused: decoded straight there when the
  // row has not decoded it yet.
  Status CopyTo(size_t column_index, Value* out);
  // The value of a column, moved out of the row (decoded now if it was not yet).
  Result<Value> Take(size_t column_index);

 private:
  Pager& pager_;
  const TableDef& def_;
  RowId id_;
  RowLayout layout_;
  std::vector<Value> values_;
  // Per column: the Load whose value values_ holds (0: none). load_ counts the Loads, never 0.
  std::vector<uint32_t> decoded_;
  uint32_t load_ = 1;

  static const std::string kUnnamed;
  std::string Where() const;  // "page P, row R", for errors
};

// A stream of rows.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Loads the next row into `row`; false after the last (or where a range ends).
  virtual Result<bool> Next(LazyRow* row) = 0;
  // Rows loaded so far.
  uint64_t rows_read() const { return rows_read_; }

 protected:
  uint64_t rows_read_ = 0;
};

// Every live row in storage order (as StorageCursor walks them), or those on pages that pass
// `page_test` (a scan passes over the rows of a page that fails it unread). `pager` and `def`
// must outlive it.
Result<std::unique_ptr<RowSource>> OpenScan(Pager& pager, const TableDef& def, PageTest page_test = nullptr);

// A walk along one index. The bounds restrict the index's first column; they come from the
// query's condition, which the caller still applies to every row (but see bounds_are_condition):
// the walk only seeks to where the range starts and stops where it ends, in the order of the walk. Rows whose first column is
// NULL never lie inside a range. Walking backward yields rows with equal keys in the same order
// as walking forward would, so that both directions agree with a stable sort.
struct IndexWalk {
  struct Bound {
    Value literal;  // compared with the column's values as a condition would
    bool inclusive = true;
  };
  size_t logical_index = 0;  // position in def.logical_indexes
  bool backward = false;
  std::optional<Bound> low, high;  // in value order, whatever the direction of the index
  // The bounds are the query's whole condition: the walk then also tests every row against the
  // bound it starts from (its seek only finds where that lies), so that it yields exactly the
  // rows inside both and the caller tests nothing more.
  bool bounds_are_condition = false;
};

Result<std::unique_ptr<RowSource>> OpenIndexWalk(Pager& pager, const TableDef& def, const IndexWalk& walk);

}  // namespace jet
