// A forward cursor over a table's rows in storage order, each row decoded: the rows a
// StorageCursor walks (see there for which rows count), for the readers that want every row's
// values (the integrity check, exports, the catalogue).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/table/storage_cursor.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

class TableCursor {
 public:
  // The cursor keeps references to `pager` and `def`; both must outlive it.
  static Result<std::unique_ptr<TableCursor>> Open(Pager& pager, const TableDef& def);

  // Moves to the next live row and decodes it. Returns false after the last row.
  Result<bool> Next();

  RowId row_id() const { return rows_.row(); }
  // Values of the current row, one per column of the definition, in definition order.
  const std::vector<Value>& values() const { return values_; }

 private:
  TableCursor(Pager& pager, const TableDef& def, std::shared_ptr<const std::vector<uint32_t>> owned)
      : pager_(pager), def_(def), rows_(pager, def.page, std::move(owned)) {}

  Pager& pager_;
  const TableDef& def_;
  StorageCursor rows_;
  std::vector<Value> values_;
};

}  // namespace jet
