#include "jet/table/row_at.h"

#include <string>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/row_decoder.h"

namespace jet {

namespace {

std::string Where(const Pager& pager, RowId id) {
  return pager.path() + ", page " + std::to_string(id.page) + ", row " + std::to_string(id.row);
}

}  // namespace

Result<bool> ReadRowAt(Pager& pager, const TableDef& def, RowId id, const std::vector<size_t>& columns,
                       std::vector<Value>* values) {
  if (id.page >= pager.page_count()) return false;
  JET_ASSIGN_OR_RETURN(const uint8_t* page, pager.ReadPage(id.page));
  if (page[0] != kPageData || Get32(page + 4) != def.page) return false;
  if (id.row >= DataPageRowCount(pager.format(), page)) return false;
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(pager, id.page, id.row));
  if (slot.deleted()) return false;
  // Rows are nearly always sound: their place is spelled out only for a message.
  static const std::string kUnnamed;
  const auto named = [&](const Status& unnamed, const Status& again) { return again.ok() ? unnamed.error() : again.error(); };
  RowLayout layout;
  Status parsed = ParseRowLayout(pager.format(), def, slot.bytes, slot.size, kUnnamed, &layout);
  if (!parsed.ok()) return named(parsed, ParseRowLayout(pager.format(), def, slot.bytes, slot.size, Where(pager, id), &layout));
  values->resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const ColumnDef& column = def.columns.at(columns[i]);
    Status decoded = DecodeColumn(pager, def, column, layout, kUnnamed, &(*values)[i]);
    if (!decoded.ok()) return named(decoded, DecodeColumn(pager, def, column, layout, Where(pager, id), &(*values)[i]));
  }
  return true;
}

Result<RowId> RowHome(Pager& pager, RowId id) {
  uint32_t home = 0;
  JET_RETURN_IF_ERROR(ReadRowFollowingOverflow(pager, id.page, id.row, &home).status());
  return RowId{RowPointerPage(home), RowPointerRow(home)};
}

}  // namespace jet
