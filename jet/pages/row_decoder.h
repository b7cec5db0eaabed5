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
// The same into *row, whose offset buffer is reused: for readers that parse row after row.
Status ParseRowLayout(const Format& format, const TableDef& def, const uint8_t* bytes, uint32_t size,
                      const std::string& where, RowLayout* row);

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
