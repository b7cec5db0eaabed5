// Changing the rows of the system tables a design change touches (Jet 4, inside a pager write):
// the catalogue (MSysObjects), the access-control entries (MSysACEs) and the relationships
// (MSysRelationships). Rows go through the table writer, so their indexes follow.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "jet/schema/system_catalogue.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

// A system table's definition, found through the catalogue (MSysObjects itself at page 2).
// kNotFound when the database has no such table.
Result<TableDef> ReadSystemTable(Pager& pager, const std::string& name);

// A full row for the system table `def` of the file `pager` reads from (column name, value) pairs;
// every other column is NULL. kCorrupt when the table lacks one of the columns (every Access
// database's system tables have them: its definition is damaged).
Result<std::vector<Value>> MakeRow(const Pager& pager, const TableDef& def,
                                   const std::vector<std::pair<std::string, Value>>& values);

// The value of the named column in a row of `def` (NULL when the table lacks the column).
Value ColumnValue(const TableDef& def, const std::vector<Value>& row, const std::string& column);
// The same as a whole number (0 when NULL or not a number) and as UTF-8 text ("" when not text).
int64_t ColumnInteger(const TableDef& def, const std::vector<Value>& row, const std::string& column);
std::string ColumnText(const TableDef& def, const std::vector<Value>& row, const std::string& column);

struct FoundRow {
  RowId id;
  std::vector<Value> values;
};

// Every row of `def` that `match` accepts, in storage order.
Result<std::vector<FoundRow>> FindRows(Pager& pager, const TableDef& def,
                                       const std::function<bool(const std::vector<Value>&)>& match);

// Inserts rows into, or deletes rows from, the table `def` through one table writer.
Status InsertRows(Pager& pager, const TableDef& def, const std::vector<std::vector<Value>>& rows);
Status DeleteRows(Pager& pager, const TableDef& def, const std::vector<RowId>& rows);
Status UpdateRow(Pager& pager, const TableDef& def, RowId row, std::vector<Value> values);

// The catalogue row of the table (type 1, in the Tables container) named `name`, regardless of
// letter case. kNotFound when there is none.
Result<FoundRow> FindTableRow(Pager& pager, const TableDef& catalogue, const std::string& name);

// Now as Access stores dates: days since 1899-12-30, local time.
double CurrentOleDate();

}  // namespace jet
