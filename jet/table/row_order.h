// The order a table set walks its rows in, as a cursor that can find its place again.
//
// A place is where a row stands in the order: in an index's order its entry (key bytes and the row
// pointer the entry names), in storage order the slot that holds the row's bytes (key empty).
// Places are totally ordered, so a walk that remembers the place of its current row can, after
// the file changed under it, seek to that place and go on from there, without having listed the
// rows it has not reached yet. An order object is good for one state of the file: the table set
// opens a new one when the pager's pages changed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/table/storage_cursor.h"

namespace jet {

struct OrderPlace {
  std::string key;  // the index entry's key bytes; empty in storage order
  RowId row;

  bool operator==(const OrderPlace&) const = default;
};

class RowOrder {
 public:
  virtual ~RowOrder() = default;

  // Each returns whether the order is on a row; when not, it is before the first or after the
  // last, and Next (Prev) from there reaches the first (last) row.
  virtual Result<bool> First() = 0;
  virtual Result<bool> Last() = 0;
  virtual Result<bool> Next() = 0;
  virtual Result<bool> Prev() = 0;
  // The first row whose place is at or after `place`.
  virtual Result<bool> SeekAtOrAfter(const OrderPlace& place) = 0;
  // Index orders: the first row whose key starts at or after `value` in the index's first column
  // (`value` as the column stores it); from the first row when the value has no key.
  // kInvalidArgument in storage order.
  virtual Result<bool> SeekValueAtOrAfter(const Value& value) = 0;
  // The current row's place; only valid while the last move returned true. Its row is the slot
  // to read the row from (an index names the row's first slot, which may forward to its bytes).
  virtual OrderPlace place() const = 0;
};

// The pages tables own, as their usage maps list them (ascending), kept while the pager's pages
// stay as they are: a check of the design opens many table sets, each wanting its first row.
class OwnedPagesCache {
 public:
  Result<std::shared_ptr<const std::vector<uint32_t>>> Get(Pager& pager, const TableDef& def);

 private:
  uint64_t generation_ = 0;
  std::map<uint32_t, std::shared_ptr<const std::vector<uint32_t>>> by_table_;  // by definition page
};

// Storage order: the table's data pages in ascending order, each page's live rows in slot order
// (StorageCursor says which rows are live). Needs `def` only while opening.
Result<std::unique_ptr<RowOrder>> OpenStorageOrder(Pager& pager, const TableDef& def, OwnedPagesCache* cache);

// The order of one of the table's indexes (`physical_index` indexes def.physical_indexes).
Result<std::unique_ptr<RowOrder>> OpenIndexOrder(Pager& pager, const TableDef& def, size_t physical_index);

}  // namespace jet
