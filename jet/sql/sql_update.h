// UPDATE bound to a table, ready for whoever runs the write: the new values converted to what
// their columns store, the compiled WHERE, and the rows it selects.
//
// ExecuteUpdate runs it inside the caller's pager write: the rows are collected before anything
// changes, so an index walk never meets a row it has already updated, and each changes through a
// RowWriter, so that Access's rules hold (a system table is refused, relationships cascade).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jet/database.h"
#include "jet/sql/sql_expression.h"
#include "jet/sql/sql_parser.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"

namespace jet {

struct PreparedUpdate {
  TableDef table;
  // Column positions in table.columns and their new values, as the columns store them.
  std::vector<std::pair<size_t, Value>> assignments;
  std::unique_ptr<Condition> where;  // null: every row

  // Whether a row (one value per column, in definition order) is one the statement updates.
  Result<bool> Selects(const std::vector<Value>& row) const;
  // Writes the new values into a row's values.
  void Apply(std::vector<Value>* row) const;
};

// Binds an UPDATE to its table. Values must be constants (Null, True/False, numbers, strings);
// they convert as Access assigns them (a number rounds to a whole-number column, a text that
// spells a number fills a number column). Errors name the statement and the position: unknown
// table or column (kNotFound), a column assigned twice, a value that does not fit its column.
Result<PreparedUpdate> PrepareUpdate(Database& db, const UpdateStatement& statement, const std::string& sql);

// The rows the statement updates, found as the same SELECT would find them (using an index when
// the condition allows), in that order.
Result<std::vector<RowId>> RowsToUpdate(Database& db, const UpdateStatement& statement, const std::string& sql);

// The rows a DELETE selects, found as for an UPDATE; then each deleted through `pager` as
// ExecuteUpdate changes them (relationships cascade or refuse); returns how many.
Result<size_t> ExecuteDelete(Database& db, Pager& pager, const DeleteStatement& statement, const std::string& sql);

// Binds the statement and finds its rows through `db`, and changes them through `pager` (db's
// own, or another handle's that holds the write); returns how many rows it changed. Inside a
// write: after an error the caller rolls it back.
Result<size_t> ExecuteUpdate(Database& db, Pager& pager, const UpdateStatement& statement, const std::string& sql);

}  // namespace jet
