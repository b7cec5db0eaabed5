// Values to stored Jet 4 rows: the inverse of the row decoder.
//
// Row layout: [u16 column count][fixed area][variable data][u16 end of data]
//             [u16 variable offsets, last first][u16 variable count][null mask].
// The column count is the definition's maximum column count and the variable count its variable
// slot count, so that deleted columns keep their places; the fixed area is always full width, a
// NULL variable column has an empty slot, and a Boolean is its null-mask bit. A table without
// variable columns stores no offset table.
//
// Text is UTF-16, or "compressed" (FF FE, then one byte a character) when the column allows it,
// every character is 0x01..0xFF and compression saves space; Memo text is compressed only up to
// 1024 characters. Fixed-length text is never compressed and is padded with blanks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

// One column's contribution to a row.
struct StoredColumn {
  bool present = false;  // the null-mask bit (for a Boolean: its value)
  std::string bytes;     // fixed columns: the full-width bytes; variable columns: the slot's bytes
};

// Checks that `value` belongs to `column` (type, range, length) and returns its stored form.
// Memo and OLE values come back as their payload (the text encoded as stored), which the caller
// then places inline or in long-value rows and replaces by the row field.
// Errors: kInvalidArgument naming the column.
Result<StoredColumn> EncodeColumn(const ColumnDef& column, const Value& value);

// The stored bytes of a Jet 4 text value for `column`, compressed when allowed.
std::string EncodeText(const ColumnDef& column, const Text& text);

// Builds the row from one StoredColumn per column of `def`, in definition order.
// Errors: kInvalidArgument when the row exceeds the largest row a page holds.
Result<std::string> AssembleRow(const TableDef& def, const std::vector<StoredColumn>& columns);

// The row's size before it is built.
uint32_t AssembledRowSize(const TableDef& def, const std::vector<StoredColumn>& columns);

}  // namespace jet
