// Finding a table's rows by the value of one column, as a user names a row to change or delete:
// equal as Access compares (text by its collation, so letter case and trailing blanks do not
// count; everything else exactly; a NULL matches only a NULL).
//
// An index whose first column is that column finds them with one seek: the entries whose first
// part is the value's key lie together, and each of their rows is checked as a scan checks it.
// Every row is read instead when no index leads with the column, for a NULL (an index may leave
// those out) and for a floating-point zero (its two signs key apart but compare equal).
#pragma once

#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/table/storage_cursor.h"

namespace jet {

class RowWriter;

// Whether a stored value of `column` is the value a user named.
bool SameValue(JetVersion version, const ColumnDef& column, const Value& stored, const Value& wanted);

struct FoundRows {
  std::vector<RowId> rows;  // by the slot their index entries name
  std::string index;        // the index that found them; "" when every row was read
};

// The rows of `def` whose column at `column` (a position in def.columns) holds `wanted`, read
// through `writer`'s view of the table (RowWriter::Open on the same pager). `use_indexes` false
// reads every row, which is how a test holds the seek to the scan's answer.
Result<FoundRows> FindRowsByValue(Pager& pager, const TableDef& def, RowWriter& writer, size_t column, const Value& wanted,
                                  bool use_indexes = true);

}  // namespace jet
