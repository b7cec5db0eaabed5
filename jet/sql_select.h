// Running a SELECT: a forward cursor over the rows it finds.
//
// Rows come out as the caller fetches them, except that an ORDER BY no index provides reads every
// matching row (its sort columns only) first and sorts; the rest of each row is decoded when it
// is fetched. Sorting follows Access: numbers numerically, texts in the General sort order
// (case-insensitive), NULLs first in ascending order and last in descending order; rows that tie
// keep their order in the table. See sql_plan.h for when an index is walked instead.
//
// A cursor reads through the database's pager and must not outlive the Database. It takes no
// lock of its own: a caller that shares the file with writers holds a ReadScope while fetching.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/sql_expression.h"
#include "jet/sql_parser.h"
#include "jet/sql_plan.h"
#include "jet/sql_rows.h"
#include "jet/status.h"
#include "jet/table_cursor.h"
#include "jet/table_def.h"

namespace jet {

struct SelectOptions {
  bool use_indexes = true;  // false: always scan (and sort), to cross-check the index paths
};

class SelectCursor {
 public:
  SelectCursor(const SelectCursor&) = delete;
  SelectCursor& operator=(const SelectCursor&) = delete;
  ~SelectCursor();

  // Moves to the next row; false after the last. Errors name the statement.
  Result<bool> Next();

  // The current row's values, one per selected column.
  const std::vector<Value>& values() const { return values_; }
  // The selected columns: their names as the table spells them, and their definitions.
  const std::vector<std::string>& column_names() const { return names_; }
  const std::vector<ColumnDef>& columns() const { return columns_; }
  // The current row, for TableWriter::Update and Delete: its slot as the index walked names it
  // or, from a scan, the place it was read (a moved row's home), which the writer also takes.
  RowId row_id() const { return row_id_; }

  const TableDef& table() const { return def_; }
  const std::string& plan() const { return plan_text_; }
  // Rows read from the table so far (matching or not).
  uint64_t rows_read() const { return source_ ? source_->rows_read() : 0; }

 private:
  friend Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database&, const SelectStatement&, const std::string&,
                                                             SelectOptions);
  struct SortEntry {
    size_t key_offset;
    uint32_t key_size;
    RowId row;
  };

  SelectCursor(Database& db, std::string sql, TableDef def);
  Status Prepare(const SelectStatement& statement, SelectOptions options);
  Result<bool> Advance();
  Status ReadAndSort();
  Status AppendSortKey(const SortColumn& column, std::string* key);
  Status Emit();

  Database& db_;
  std::string sql_;
  TableDef def_;
  std::vector<size_t> selected_;  // positions in def_.columns
  std::vector<ColumnDef> columns_;
  std::vector<std::string> names_;
  std::unique_ptr<Condition> condition_;
  std::vector<SortColumn> order_;
  AccessPlan plan_;
  std::string plan_text_;
  std::unique_ptr<RowSource> source_;
  std::unique_ptr<LazyRow> row_;
  bool sorted_ = false;
  std::string keys_;  // the sort keys of every matching row, end to end
  std::vector<SortEntry> entries_;
  size_t next_entry_ = 0;
  std::vector<Value> values_;
  RowId row_id_;
};

// Parses and starts a SELECT. Errors name the statement and the position: syntax errors,
// unknown tables and columns (kNotFound), type mismatches.
Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database& db, const std::string& sql, SelectOptions options = {});
// Starts an already parsed SELECT; `sql` is its text, for messages.
Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database& db, const SelectStatement& statement,
                                                    const std::string& sql, SelectOptions options = {});

// Reads the definition of the table a statement names (letter case ignored); kNotFound points
// at the name in the statement.
Result<TableDef> ReadStatementTable(Database& db, const NameRef& table, const std::string& sql);

}  // namespace jet
