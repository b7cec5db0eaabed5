// Running a SELECT: a forward cursor over the rows it finds.
//
// Rows come out as the caller fetches them, except that an ORDER BY no index provides reads every
// matching row (its sort columns only) first and sorts, as far as the caller reads (sql_sort.h);
// the rest of each row is decoded when it is fetched. Where an index provides the first ORDER BY
// columns, only runs of rows equal on them are read and sorted at a time. Sorting follows Access:
// numbers numerically, texts in the General sort order (case-insensitive), NULLs first in
// ascending order and last in descending order; rows that tie keep their order in the table (in
// an index walk: the order of their index entries). See sql_plan.h for when an index is walked.
// TOP ends the rows as sql_parser.h says; TOP n PERCENT counts the matching rows first.
//
// A cursor reads through the database's pager and must not outlive the Database. It takes no
// lock of its own: a caller that shares the file with writers holds a ReadScope while fetching.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/sql/folded_columns.h"
#include "jet/sql/sql_expression.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_plan.h"
#include "jet/sql/sql_rows.h"
#include "jet/sql/sql_sort.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"

namespace jet {

struct SelectOptions {
  bool use_indexes = true;  // false: always scan (and sort), to cross-check the index paths
  // A walk that sorts runs of equal keys (sql_plan.h, rule 4) is cheap while rows match often;
  // a condition that rarely matches makes it read the table in index order, which costs more
  // than a scan. After reading this many rows the walk gives way to a scan that sorts every
  // matching row not yet handed out; after a quarter of them it already does when fewer than
  // one row in kSparseMatches matched. 0: a twelfth of the table, at least kDefaultWalkBudget.
  uint64_t walk_budget = 0;
  // A condition of LIKEs on Text columns joined by OR is matched against the table's folded
  // texts (folded_columns.h), kept while the file stays as it is, instead of row by row; only the
  // matching rows are read, in the ORDER BY's order kept beside the texts (sorted_rows.h) where it
  // can be had, else sorted. false: always read the rows, to cross-check it.
  bool use_folded_texts = true;
};

inline constexpr uint64_t kDefaultWalkBudget = 4096;
inline constexpr uint64_t kSparseMatches = 256;

class SelectCursor {
 public:
  SelectCursor(const SelectCursor&) = delete;
  SelectCursor& operator=(const SelectCursor&) = delete;
  ~SelectCursor();

  // Moves to the next row; false after the last. Errors name the statement.
  Result<bool> Next();

  // The current row's values, one per selected column.
  const std::vector<Value>& values() const { return values_; }
  // From now on Next leaves values() alone: the caller reads the columns it wants of each row
  // with Column, DecodedColumn and TextColumnUtf8, and nothing is copied for it.
  void ReadColumnsOnDemand() { fill_values_ = false; }
  // Selected column `j` of the current row, decoded now; valid until Next.
  Result<const Value*> Column(size_t j) {
    Result<const Value*> value = row_->Get(selected_[j]);
    if (!value.ok()) return value.error().WithContext("running " + sql_);
    return value;
  }
  // Column without the Result: null where Column gives an error.
  const Value* DecodedColumn(size_t j) { return row_->Decoded(selected_[j]); }
  // Selected column `j` as UTF-8 when it is variable-length Text (LazyRow::TextUtf8).
  Stored TextColumnUtf8(size_t j, std::string* out) const { return row_->TextUtf8(selected_[j], out); }
  // Where the current row's columns lie (LazyRow::layout); columns()[j] finds selected column j.
  const RowLayout& row_layout() const { return row_->layout(); }
  // The current row's bytes into *kept (KeptRow), for a reader that converts its columns later.
  void KeepRow(KeptRow* kept) const { row_->Keep(kept); }
  // The selected columns: their names as the table spells them, and their definitions.
  const std::vector<std::string>& column_names() const { return names_; }
  const std::vector<ColumnDef>& columns() const { return columns_; }
  // The current row, for TableWriter::Update and Delete: its slot as its index entries name it,
  // whatever the plan (a moved row's first slot, not where its bytes are now).
  RowId row_id() const { return row_id_; }

  const TableDef& table() const { return def_; }
  const std::string& plan() const { return plan_text_; }
  // Rows read from the table so far (matching or not).
  uint64_t rows_read() const { return rows_read_before_ + (source_ ? source_->rows_read() : 0); }
  // Whether a walk that sorts runs of equal keys gave way to a scan (SelectOptions::walk_budget).
  bool walk_gave_way() const { return gave_way_; }

 private:
  friend Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database&, const SelectStatement&, const std::string&,
                                                             SelectOptions);
  // A row the walk read past the end of a run: the first of the next one.
  struct Carried {
    RowId row;
    std::string prefix_key, rest_key;
  };

  SelectCursor(Database& db, std::string sql, TableDef def);
  Status Prepare(const SelectStatement& statement, SelectOptions options);
  Result<bool> Advance();
  Result<bool> NextSortedRow();
  Result<bool> NextRunRow();
  Result<bool> Matches();
  // Reads every matching row's sort key into sorted_; with `after`, only rows whose ordered
  // prefix sorts after it (the rows a walk has not handed out).
  Status ReadAndSort(const std::string* after);
  // Fills sorted_ with the next run of rows equal on the ordered prefix; false after the last.
  Result<bool> NextRun();
  bool WalkShouldGiveWay() const;
  Status GiveWayToScan();
  // Appends the keys of ORDER BY columns [first, last) of the current row.
  Status AppendSortKeys(size_t first, size_t last, std::string* key);
  Status AppendSortKey(const SortColumn& column, std::string* key);
  Status LoadAndEmit(RowId id);
  // With options.use_folded_texts: when the condition allows, finds the matching rows in the
  // folded texts and sets up the source (or the sorted rows) to hand out only them.
  Status PrepareFolded();
  Status SortFolded(const FoldedColumns& folded, const std::vector<uint32_t>& matches);
  Status PrepareMatched(const std::shared_ptr<const FoldedColumns>& matches, std::unique_ptr<FoldedSearch> search);
  // Hands out `rows` of `folded` in storage order, or sorted by order_ when there is one; `plan`
  // names where they came from.
  Status ListOrSort(const FoldedColumns& folded, const std::vector<uint32_t>& rows, const std::string& plan);
  PageTest ScanPageTest();
  // Emit is inline: every row a walk hands out passes it, and most readers want no values copied.
  Status Emit() {
    row_id_ = row_->id();
    return fill_values_ ? FillValues() : Status::Ok();
  }
  Status FillValues();
  // TOP: whether the row just read is one the statement keeps.
  Result<bool> WithinTop();

  Database& db_;
  std::string sql_;
  TableDef def_;
  std::vector<size_t> selected_;  // positions in def_.columns
  std::vector<ColumnDef> columns_;
  std::vector<std::string> names_;
  std::unique_ptr<Condition> condition_;
  bool prefiltered_ = false;  // the source hands out matching rows only
  // A first search that reads rows instead of folded texts: begins folding them once it is done.
  std::function<void()> fold_later_;
  std::vector<SortColumn> order_;
  AccessPlan plan_;
  std::string plan_text_;
  std::unique_ptr<RowSource> source_;
  std::unique_ptr<LazyRow> row_;
  std::vector<Value> values_;
  bool fill_values_ = true;  // Next copies every selected value into values_
  RowId row_id_;

  // Sorting: the rows still to hand out, in order (every matching row, or the current run).
  IncrementalSort sorted_;
  bool keys_read_ = false;  // the whole-set sort has its keys
  std::string key_, rest_key_;  // scratch
  // Runs (plan_.ordered_prefix > 0).
  uint64_t walk_budget_ = 0;
  uint64_t walk_matches_ = 0;      // matching rows the walk has read
  bool walk_done_ = false;
  bool gave_way_ = false;          // the walk was replaced by a scan
  std::string run_key_;            // the ordered-prefix key of the run in sorted_
  std::optional<std::string> last_run_key_;  // of the last run a row was handed out from
  std::optional<Carried> carried_;
  uint64_t rows_read_before_ = 0;  // by the walk, once a scan replaced it
  // TOP: the rows kept before ties (none: every row), those handed out, and the ORDER BY key of
  // the last of them, which later rows must tie with.
  std::optional<uint64_t> top_rows_;
  uint64_t handed_out_ = 0;
  std::optional<std::string> top_boundary_;
  bool top_done_ = false;
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
