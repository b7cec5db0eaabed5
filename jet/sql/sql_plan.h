// How a SELECT reads its table: which rows to visit in which order, and whether they still need
// sorting afterwards. The rules, in order:
//   1. an index whose first column the condition pins to one value (column = constant) is
//      walked from a seek to that value; the rows are sorted afterwards if ORDER BY asks;
//   2. an index whose columns are exactly the ORDER BY columns (all in the index's directions, or
//      all reversed) is walked forward (or backward), from a seek when the condition bounds its
//      first column, and needs no sort: rows come out as the caller fetches them;
//   3. an index whose first column the condition bounds (column < constant, >= ...) is walked
//      over that range, sorted afterwards if ORDER BY asks;
//   4. an index whose columns are the first ORDER BY columns (ORDER BY Song, Artist with an
//      index on Song) is walked the same way, and only rows with equal keys on it are sorted by
//      the remaining columns: the first rows come out after reading little more than themselves.
//      The executor falls back to a scan when the walk reads many rows and finds few (see
//      SelectOptions in sql_select.h);
//   5. otherwise every row is scanned, then sorted if ORDER BY asks.
// Only conditions that are conjuncts of the WHERE (joined by AND at its top) bound a column.
// An index that leaves out rows with NULLs is used only where its column is bounded (which
// rejects NULLs). Columns of types without an index key (Memo, OLE, ...) never use an index.
#pragma once

#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_rows.h"
#include "jet/pages/table_def.h"

namespace jet {

struct SortColumn {
  size_t column = 0;  // position in def.columns
  bool ascending = true;
};

struct AccessPlan {
  bool use_index = false;
  IndexWalk walk;     // when use_index
  bool sort = false;  // rows are read first, then sorted
  // With use_index and sort: how many leading ORDER BY columns the walk already delivers in
  // order (rule 4); then only runs of rows equal on those are sorted. 0: everything is sorted.
  size_t ordered_prefix = 0;
};

// `where` (may be null) must be bound to `def` and compiled without error.
AccessPlan ChoosePlan(const TableDef& def, JetVersion version, const Expr* where,
                      const std::vector<SortColumn>& order_by, bool use_indexes);

// For messages and tests: "scan", "index \"Num\" backward over a range, then sort", ...
std::string DescribePlan(const TableDef& def, const AccessPlan& plan);

}  // namespace jet
