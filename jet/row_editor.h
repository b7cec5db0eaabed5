// Changing the rows of one table, a row at a time, inside Database::Write: the writer's entry
// point for callers above the engine. Access's rules hold on every change (row_writer.h: system
// tables, Required columns, relationships), and indexes, long values and the table's counters follow
// it; a change that breaks a rule or a unique index fails (kConstraint) and, as any error inside the
// write, leaves the file as it was once the write rolls back.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/database.h"

namespace jet {

class RowWriter;

class RowEditor {
 public:
  // The rows of `def` (as ReadTable gave it) in `db`'s write under way.
  static Result<std::unique_ptr<RowEditor>> Open(Database& db, const TableDef& def);
  ~RowEditor();

  // Where a written row stands: the slot its index entries name, and where its bytes are.
  struct Written {
    RowId header;
    RowId home;
  };
  // A new row: one value per column of the definition (NULL where none).
  Result<Written> Insert(std::vector<Value> values);
  // New values for some columns (positions in the definition's columns) of the row at `row`,
  // its slot or its home.
  Result<Written> Change(RowId row, const std::vector<std::pair<size_t, Value>>& changes);

 private:
  RowEditor(Database& db, std::unique_ptr<RowWriter> writer);
  Database& db_;
  std::unique_ptr<RowWriter> writer_;
};

}  // namespace jet
