// Row changes as a user makes them, keeping the rules Access keeps on every change of a user
// table's rows (Jet 4, inside a pager write):
//   - system tables (MSys*) are kept by the engine itself: their rows cannot be changed here;
//   - a column whose Required property is Yes takes no NULL (an autonumber left NULL gets its
//     number, and a Yes/No column is never NULL);
//   - every enforced relationship holds: a row that refers to another table (its foreign key
//     columns all non-NULL) needs the row it names; a row that others refer to can lose them only
//     where the relationship cascades: deleting it deletes them, changing its key changes theirs.
//     Otherwise the change is refused and says which rows stand in the way.
// Everything else (indexes, long values, counters) is the table writer's (table_writer.h).
//
// Errors: kInvalidArgument (a system table, a value that does not fit), kConstraint (a rule above,
// or a unique index). The rules of the row itself are checked before anything changes; a cascade
// that meets a refusal further on leaves the write half done, so the caller rolls it back, as
// Database::Write does for any error.
#pragma once

#include <memory>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

class RowWriter {
 public:
  // Opens the user table `def` (found by its name) for row changes; reads its Required columns and
  // the database's relationships.
  static Result<std::unique_ptr<RowWriter>> Open(Pager& pager, const TableDef& def);
  ~RowWriter();

  // The definition with its counters as this writer has changed them.
  const TableDef& def() const;

  // As TableWriter's, with the rules above.
  Result<RowId> Insert(std::vector<Value> values);
  Status Update(RowId row, std::vector<Value> values);
  Status Delete(RowId row);
  Result<std::vector<Value>> Read(RowId row);
  Result<RowId> HeaderOf(RowId row);

 private:
  class Rules;
  struct Table;
  struct Link;
  RowWriter(std::unique_ptr<Rules> rules, Table* table);

  std::unique_ptr<Rules> rules_;
  Table* table_;
};

}  // namespace jet
