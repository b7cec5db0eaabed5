#include "jet/table/table_cursor.h"

#include "jet/pages/row_decoder.h"
#include "jet/pages/usage_map.h"

namespace jet {

Result<std::unique_ptr<TableCursor>> TableCursor::Open(Pager& pager, const TableDef& def) {
  Result<std::vector<uint32_t>> owned = ReadUsageMap(pager, def.owned_pages_map);
  if (!owned.ok()) {
    return owned.error().WithContext("table \"" + def.name + "\" (defined on page " + std::to_string(def.page) + ")");
  }
  return std::unique_ptr<TableCursor>(
      new TableCursor(pager, def, std::make_shared<const std::vector<uint32_t>>(std::move(owned).value())));
}

Result<bool> TableCursor::Next() {
  JET_ASSIGN_OR_RETURN(bool more, rows_.Next());
  if (!more) return false;
  const RowId at = rows_.row();
  const std::string where = "page " + std::to_string(at.page) + ", row " + std::to_string(at.row);
  JET_RETURN_IF_ERROR(DecodeRow(pager_, def_, rows_.slot().bytes, rows_.slot().size, where, &values_));
  return true;
}

}  // namespace jet
