// Turns a stored row into typed values.
//
// Row layout (Jet 4; Jet 3 uses one-byte counts and offsets plus a jump table every 256 bytes):
//   [column count][fixed area, full width][variable data]...
//   ...[end-of-data offset][variable offsets, last first][variable count][null mask]
// The null mask has one bit per column number (set = value present); Boolean values are the bit.
// A row written before a column was added is shorter and reads that column as NULL.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

// The located-but-undecoded parts of one row, shared by the decoder and by callers that only
// need a few columns.
struct RowLayout {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  uint16_t column_count = 0;  // columns the row was written with
  uint32_t fixed_start = 0;
  const uint8_t* null_mask = nullptr;
  std::vector<uint16_t> var_offsets;  // var_count + 1 entries; the last is the end of the data

  bool Present(uint16_t column_number) const {
    return column_number < column_count && (null_mask[column_number / 8] >> (column_number % 8)) & 1;
  }
};

// Locates the parts of a row; `where` names the row in errors.
Result<RowLayout> ParseRowLayout(const Format& format, const TableDef& def, const uint8_t* bytes, uint32_t size,
                                 const std::string& where);
// The same into *row, whose offset buffer is reused: for readers that parse row after row. After
// an error *row is unspecified.
Status ParseRowLayout(const Format& format, const TableDef& def, const uint8_t* bytes, uint32_t size,
                      const std::string& where, RowLayout* row);

// How a column's value lies in a parsed row, as far as it can be had from the row's bytes alone.
enum class InRow : uint8_t {
  kNo,       // a long value kept on other pages, or a row damaged there (DecodeColumn says how)
  kBoolean,  // Yes/No: a bit of the null mask
  kNull,     // absent from the row
  kFixed,    // a fixed-size value inside the row
  kVarText,  // a variable-length Text inside the row
};
inline uint32_t StoredFixedSize(const ColumnDef& column) {
  const int size = FixedSizeOf(column.type);
  return size > 0 && !IsLongValue(column.type) ? static_cast<uint32_t>(size) : column.length;
}
// Inline: a reader that keeps rows asks it for every column of every row.
inline InRow WhereInRow(const ColumnDef& column, const RowLayout& row) {
  if (column.type == ColumnType::kBoolean) return InRow::kBoolean;
  if (!row.Present(column.number)) return InRow::kNull;
  if (column.fixed()) {
    return row.fixed_start + column.fixed_offset + StoredFixedSize(column) <= row.size ? InRow::kFixed : InRow::kNo;
  }
  if (column.type != ColumnType::kText || column.var_index + 1u >= row.var_offsets.size()) return InRow::kNo;
  const uint32_t start = row.var_offsets[column.var_index];
  const uint32_t end = row.var_offsets[column.var_index + 1];
  return start <= end && end <= row.size ? InRow::kVarText : InRow::kNo;
}
// A Byte, Integer or Long column inside the row into *out; false for anything else (NULL,
// another type, a damaged row). Inline: the whole numbers of a list, row after row.
inline bool WholeInRow(const ColumnDef& column, const RowLayout& row, int64_t* out) {
  const uint32_t size = column.type == ColumnType::kLong ? 4 : column.type == ColumnType::kInteger ? 2
                        : column.type == ColumnType::kByte ? 1 : 0;
  if (size == 0 || !column.fixed() || !row.Present(column.number) ||
      row.fixed_start + column.fixed_offset + size > row.size) {
    return false;
  }
  const uint8_t* p = row.bytes + row.fixed_start + column.fixed_offset;
  *out = size == 4 ? static_cast<int32_t>(Get32(p)) : size == 2 ? static_cast<int16_t>(Get16(p)) : p[0];
  return true;
}
// The value of a column that lies in the row (WhereInRow is not kNo) into *value, a text's room
// reused; false for kNo. Needs nothing but the row's bytes, so it cannot fail.
bool DecodeInRow(JetVersion version, const ColumnDef& column, const RowLayout& row, Value* value);

// Decodes one column of a parsed row. Long values are read through `pager`.
Result<Value> DecodeColumn(Pager& pager, const TableDef& def, const ColumnDef& column, const RowLayout& row,
                           const std::string& where);

// The same into *value; a text reuses the buffer of the text *value holds.
Status DecodeColumn(Pager& pager, const TableDef& def, const ColumnDef& column, const RowLayout& row,
                    const std::string& where, Value* value);

// Decodes every column, in the order of def.columns.
Status DecodeRow(Pager& pager, const TableDef& def, const uint8_t* bytes, uint32_t size, const std::string& where,
                 std::vector<Value>* values);

}  // namespace jet
