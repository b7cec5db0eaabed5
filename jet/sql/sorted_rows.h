// The rows of a table's folded texts (folded_columns.h) in the order an ORDER BY puts them: built
// from the texts' keys and kept beside them, or walked along the index of the first ORDER BY
// column. A search that finds many rows walks this order and stops when the caller has what it
// wants, instead of sorting its matches every time.
//
// Contract:
//   - built under the caller's read lock for one FoldedColumns and kept with the same lifetime
//     rule (Pager::ShareDecoded: handed out only while the file's change stamp is unchanged);
//     an order by Text columns of the folded texts alone is carried to the file's next state too,
//     and serves it when the folded texts came through unchanged (the same rows at the same
//     places with the same texts are put in the same order);
//   - `rows` lists every row of the folded texts once, by its number there, in the order the
//     sort columns' keys (AppendKeyColumn) give them, rows with equal keys in the order the
//     folded texts hold them, which is where a scan meets them and how an index orders entries
//     with equal keys when, as SortedRowsOf requires, the rows' places ascend;
//   - a column's order comes from the keys of the column's folded texts, for a Text column the
//     folded texts hold (an order whose first column has an index is walked instead: OrderWalk);
//   - the first column orders every row; a later column is consulted only for the rows that tie
//     on the first, and the order cannot be had only when such rows exist and it cannot order them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/sql/folded_columns.h"
#include "jet/sql/sql_plan.h"

namespace jet {

struct SortedRows {
  std::shared_ptr<const FoldedColumns> folded;  // the rows ordered
  std::vector<SortColumn> order_by;
  std::vector<uint32_t> rows;                   // row numbers of `folded`, in order
  bool usable = true;  // false: kept only to say that this order cannot be had this way

  size_t MemoryBytes() const { return rows.capacity() * sizeof(uint32_t); }
};

// Where the order `order_by` of the rows of folded texts of `columns` is kept (Pager::ShareDecoded,
// Pager::Carry).
std::string SortedRowsKey(uint32_t table_page, const std::vector<size_t>& columns, const std::vector<SortColumn>& order_by);

// The order `order_by` gives the rows of `folded`, kept for the file as it is now or, with
// `build`, built (then kept); null when it cannot be had that way (a column that is not a Text
// column of the folded texts, rows whose places do not ascend) or, without `build`,
// is not kept.
Result<std::shared_ptr<const SortedRows>> SortedRowsOf(Pager& pager, const TableDef& def,
                                                       const std::shared_ptr<const FoldedColumns>& folded,
                                                       const std::vector<SortColumn>& order_by, bool build);

// The rows of folded texts in the order an ORDER BY puts them, walked along the index on its first
// column as far as the caller reads, without building the order of every row: a search that finds
// many rows reads only the stretch of the index that holds the ones it keeps.
//   - the index is on that column alone, in its direction, holding every row; every later ORDER
//     BY column is a Text column of the folded texts, whose keys order the rows that tie on the
//     first; rows that tie on all of them come in the order the folded texts hold them, as the
//     plain plan gives them;
//   - the index's entries, as far as any walk read them, are kept with the folded texts' lifetime
//     rule (Pager::ShareDecoded) and shared by every search of the file as it is, on any thread;
//   - an index entry that names no row of the folded texts, or one named twice, or an index that
//     ends before naming every row, is an error when a walk reaches it: the index does not
//     describe the table.
class OrderWalk {
 public:
  virtual ~OrderWalk() = default;
  // Sets wanted[i] (0 or 1) for each of rows[0, count), at most kTestBatch of them; the rows up to
  // `end` come next.
  static constexpr size_t kTestBatch = 32;
  using Test = std::function<void(const uint32_t* rows, size_t count, const uint32_t* end, uint8_t* wanted)>;
  // Appends the next wanted rows (one or more), in order, to *rows; false when none is left.
  virtual Result<bool> Next(const Test& test, std::vector<uint32_t>* rows) = 0;
  // How many rows of the order are at hand before the walk reads more of the file (SIZE_MAX:
  // every one).
  virtual size_t AtHand() const { return SIZE_MAX; }
};

// Whether folded texts of `columns` can be walked in the order `order_by` gives them (WalkInOrder),
// unless their places do not ascend.
bool OrdersByWalking(const TableDef& def, const std::vector<size_t>& columns, const std::vector<SortColumn>& order_by);
// A walk of the rows of `folded` in the order `order_by` gives them; null when it cannot be had
// that way (no such index, a later column that is not a Text column of the texts, places that
// do not ascend). Texts of one search's matches (FoldedColumns::table_rows) are walked past the
// entries of the other rows.
std::unique_ptr<OrderWalk> WalkInOrder(Pager& pager, const TableDef& def, std::shared_ptr<const FoldedColumns> folded,
                                       const std::vector<SortColumn>& order_by);

// An order carried for folded texts that are about to be spliced (folded_columns.h), held by
// the places of its rows so that the texts it ordered can go meanwhile.
struct OrderByPlaces {
  std::string key;
  std::vector<SortColumn> order_by;
  std::vector<uint32_t> places;  // (page << 8) | row, in order
};

// Takes the orders carried for `folded`, the folded texts of a table at `table_page`.
std::vector<OrderByPlaces> TakeOrdersByPlaces(const Pager& pager, uint32_t table_page, const FoldedColumns& folded);

// Carries each order again, for `spliced`: the rows it held on pages other than `changed`
// (ascending) in the order they had, with the rows `spliced` holds on `changed` pages put where
// their keys belong. An order whose rows `spliced` does not all hold is dropped.
Status CarryRepairedOrders(const Pager& pager, const TableDef& def, const std::shared_ptr<const FoldedColumns>& spliced,
                           const std::vector<uint32_t>& changed, std::vector<OrderByPlaces> orders);

}  // namespace jet
