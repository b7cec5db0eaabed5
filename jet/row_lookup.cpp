#include "jet/row_lookup.h"

#include "jet/pages/index_key.h"
#include "jet/row_writer.h"
#include "jet/table/index_cursor.h"
#include "jet/table/table_cursor.h"

namespace jet {

bool SameValue(JetVersion version, const ColumnDef& column, const Value& stored, const Value& wanted) {
  if (IsNull(stored) || IsNull(wanted)) return IsNull(stored) && IsNull(wanted);
  if (column.type == ColumnType::kText) {
    const std::vector<KeyColumn> key{{ColumnType::kText, true}};
    auto a = EncodeIndexKey(version, key, {stored});
    auto b = EncodeIndexKey(version, key, {wanted});
    if (a.ok() && b.ok()) return a.value() == b.value();
  }
  return stored == wanted;
}

namespace {

// Values whose key is the only key of every value equal to them.
bool KeyedExactly(const Value& v) {
  if (IsNull(v)) return false;
  if (const double* d = std::get_if<double>(&v)) return *d != 0;
  if (const float* f = std::get_if<float>(&v)) return *f != 0;
  if (const DateTime* t = std::get_if<DateTime>(&v)) return t->days != 0;
  return true;
}

// An index led by `column`: a unique one before others, then the one with fewest columns. An
// index that leaves out rows with NULLs serves only alone on the column (the value is not NULL).
const LogicalIndex* LeadingIndex(const TableDef& def, size_t column, KeyColumn* key) {
  const LogicalIndex* best = nullptr;
  size_t best_width = 0;
  bool best_unique = false;
  for (const LogicalIndex& logical : def.logical_indexes) {
    if (logical.physical_index >= def.physical_indexes.size()) continue;
    const PhysicalIndex& index = def.physical_indexes[logical.physical_index];
    const IndexKeyColumns columns = KeyColumnsOf(def, index);
    if (columns.positions.empty() || columns.positions.size() != index.columns.size() || columns.positions[0] != column) continue;
    if (index.ignore_nulls() && index.columns.size() > 1) continue;
    const bool better = best == nullptr || (index.unique() && !best_unique) ||
                        (index.unique() == best_unique && index.columns.size() < best_width);
    if (!better) continue;
    best = &logical;
    best_width = index.columns.size();
    best_unique = index.unique();
    *key = columns.columns[0];
  }
  return best;
}

Result<std::vector<RowId>> Seek(Pager& pager, const TableDef& def, RowWriter& writer, const PhysicalIndex& index,
                                const std::string& prefix, size_t column, const Value& wanted) {
  std::vector<RowId> rows;
  IndexCursor cursor(pager, def.page, index);
  JET_ASSIGN_OR_RETURN(bool on, cursor.SeekAtOrAfter(prefix));
  while (on && cursor.entry().key.compare(0, prefix.size(), prefix) == 0) {
    const RowId row = cursor.row();
    JET_ASSIGN_OR_RETURN(std::vector<Value> values, writer.Read(row));
    if (column < values.size() && SameValue(pager.format().version, def.columns[column], values[column], wanted)) {
      rows.push_back(row);
    }
    JET_ASSIGN_OR_RETURN(on, cursor.Next());
  }
  return rows;
}

Result<std::vector<RowId>> Scan(Pager& pager, const TableDef& def, RowWriter& writer, size_t column, const Value& wanted) {
  std::vector<RowId> rows;
  JET_ASSIGN_OR_RETURN(auto cursor, TableCursor::Open(pager, def));
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    if (!SameValue(pager.format().version, def.columns[column], cursor->values()[column], wanted)) continue;
    JET_ASSIGN_OR_RETURN(RowId header, writer.HeaderOf(cursor->row_id()));
    rows.push_back(header);
  }
  return rows;
}

}  // namespace

Result<FoundRows> FindRowsByValue(Pager& pager, const TableDef& def, RowWriter& writer, size_t column, const Value& wanted,
                                  bool use_indexes) {
  if (column >= def.columns.size()) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\" has no column " + std::to_string(column));
  }
  FoundRows found;
  KeyColumn key{def.columns[column].type, true};
  const LogicalIndex* index = use_indexes && KeyedExactly(wanted) ? LeadingIndex(def, column, &key) : nullptr;
  std::string prefix;
  if (index != nullptr && AppendKeyColumn(pager.format().version, key, wanted, &prefix).ok()) {
    JET_ASSIGN_OR_RETURN(found.rows, Seek(pager, def, writer, def.physical_indexes[index->physical_index], prefix, column, wanted));
    found.index = index->name;
    return found;
  }
  JET_ASSIGN_OR_RETURN(found.rows, Scan(pager, def, writer, column, wanted));
  return found;
}

}  // namespace jet
