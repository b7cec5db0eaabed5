// A forward cursor over a table's rows in storage order: the table's owned pages in ascending
// order, each page's row slots in order. Deleted slots are skipped. A row that grew and moved
// is read in its new home; the forwarding slot it left behind (where indexes still point) is
// skipped. A slot flagged as a moved row's home counts only when a forwarding slot of this table
// leads to it, so a stray flag never brings back a row.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/pager.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  bool operator==(const RowId&) const = default;
};

// The homes of the table's moved rows: the row pointers ((page << 8) | row) where forwarding
// chains starting on `pages` end, pages being read only when they are data pages of the table
// whose definition is on page `owner`. Reads every such page; a chain of more than 16 hops is
// reported as a cycle.
Result<std::set<uint32_t>> FindMovedHomes(Pager& pager, uint32_t owner, const std::vector<uint32_t>& pages);

class TableCursor {
 public:
  // The cursor keeps references to `pager` and `def`; both must outlive it.
  static Result<std::unique_ptr<TableCursor>> Open(Pager& pager, const TableDef& def);

  // Moves to the next live row. Returns false after the last row.
  Result<bool> Next();

  RowId row_id() const { return {pages_[page_index_], static_cast<uint8_t>(row_)}; }
  // Values of the current row, one per column of the definition, in definition order.
  const std::vector<Value>& values() const { return values_; }

 private:
  TableCursor(Pager& pager, const TableDef& def, std::vector<uint32_t> pages)
      : pager_(pager), def_(def), pages_(std::move(pages)) {}

  // Whether (page, row) is the home of a row moved there by a forwarding slot of this table.
  Result<bool> IsLiveMovedHome(uint32_t page, uint32_t row);

  Pager& pager_;
  const TableDef& def_;
  std::set<uint32_t> moved_homes_;  // row pointers; filled on first need
  bool moved_homes_known_ = false;
  std::vector<uint32_t> pages_;  // owned data pages of this table
  size_t page_index_ = 0;
  int row_ = -1;
  std::vector<Value> values_;
};

}  // namespace jet
