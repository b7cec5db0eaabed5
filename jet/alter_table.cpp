// Changing an existing table's design: columns and indexes added and dropped.
#include "jet/schema_editor.h"
#include "jet/schema/schema_support.h"
#include "jet/table/table_storage.h"

namespace jet {

namespace {

constexpr uint16_t kMaxColumnNumber = 255;
constexpr uint16_t kGeneralSortOrder = 0x0409;

Error Invalid(const std::string& message) { return Error(ErrorCode::kInvalidArgument, message); }

std::string Where(const DesignTarget& target) { return "table \"" + target.stored.def.name + "\""; }

// The first byte past every fixed-length column, where a new one goes.
uint16_t EndOfFixedArea(const TableDef& def) {
  uint16_t end = 0;
  for (const ColumnDef& c : def.columns)
    if (c.fixed() && c.type != ColumnType::kBoolean) end = std::max<uint16_t>(end, c.fixed_offset + FixedAreaSize(c));
  return end;
}

// Whether any table's relationship entry points to the table at `page`, or the table has one.
Result<bool> InRelationship(Pager& pager, const DesignTarget& target) {
  for (const DefinitionExtras::Logical& l : target.stored.extras.logical)
    if (TakesPartInRelationship(l)) return true;
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> tables, UserTableRows(pager, target.catalogue));
  for (const FoundRow& row : tables) {
    uint32_t page = DefinitionPageOf(target.catalogue, row);
    if (page == target.stored.def.page) continue;
    JET_ASSIGN_OR_RETURN(StoredTableDef other, ReadStoredTableDef(pager, page));
    for (const DefinitionExtras::Logical& l : other.extras.logical)
      if (TakesPartInRelationship(l) && RelatedTablePage(l) == target.stored.def.page) return true;
  }
  return false;
}

}  // namespace

namespace {
Status AddColumnSteps(Pager& pager, const std::string& table, const ColumnDesign& design) {
  JET_ASSIGN_OR_RETURN(DesignTarget target, LoadDesignTarget(pager, table));
  TableDef& def = target.stored.def;
  JET_RETURN_IF_ERROR(CheckColumnDesign(design));
  JET_RETURN_IF_ERROR(CheckSingleAutonumber(def, design));
  for (const ColumnDef& c : def.columns) {
    if (SameObjectName(c.name, design.name)) return Invalid(Where(target) + " already has a column named \"" + c.name + "\"");
  }
  if (def.max_columns >= kMaxColumnNumber) {
    return Invalid(Where(target) + " has used all 255 column numbers; compact the database in Access first");
  }
  if (design.autonumber && def.row_count > 0) {
    return Invalid(Where(target) + ": an autonumber column can only be added while the table is empty");
  }
  if (design.required && def.row_count > 0) {
    return Error(ErrorCode::kConstraint, Where(target) + ": its rows have no value for the new required column \"" + design.name + "\"");
  }
  uint16_t sort_order = pager.header().sort_order != 0 ? pager.header().sort_order : kGeneralSortOrder;
  ColumnDef column = MakeColumnDef(design, def.max_columns, def.var_column_count, EndOfFixedArea(def), sort_order);
  def.columns.push_back(column);
  ++def.max_columns;
  if (IsVariableType(design.type)) ++def.var_column_count;
  target.stored.extras.columns.push_back({kDefinitionMagic, column.number, 0});
  if (IsLongValue(design.type)) JET_RETURN_IF_ERROR(AllocateLongValueStorage(pager, &target.stored, column.number));
  JET_RETURN_IF_ERROR(WriteTableDef(pager, def, target.stored.extras));
  return EditProperties(pager, &target, [&](std::vector<PropertySet>* sets) { sets->push_back(ColumnProperties(design)); });
}
}  // namespace

Status AddColumn(Pager& pager, const std::string& table, const ColumnDesign& design) { return NamingFile(pager, AddColumnSteps(pager, table, design)); }

namespace {
Status DropColumnSteps(Pager& pager, const std::string& table, const std::string& column) {
  JET_ASSIGN_OR_RETURN(DesignTarget target, LoadDesignTarget(pager, table));
  TableDef& def = target.stored.def;
  size_t position = def.columns.size();
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (SameObjectName(def.columns[i].name, column)) position = i;
  if (position == def.columns.size()) return Error(ErrorCode::kNotFound, Where(target) + " has no column \"" + column + "\"");
  const ColumnDef dropped = def.columns[position];
  for (const LogicalIndex& li : def.logical_indexes) {
    for (const IndexColumn& ic : def.physical_indexes[li.physical_index].columns) {
      if (ic.column_number == dropped.number) {
        return Invalid(Where(target) + ": column \"" + dropped.name + "\" is part of index \"" + li.name + "\"; drop the index first");
      }
    }
  }
  if (def.columns.size() == 1) return Invalid(Where(target) + " must keep at least one column");
  def.columns.erase(def.columns.begin() + static_cast<long>(position));
  target.stored.extras.columns.erase(target.stored.extras.columns.begin() + static_cast<long>(position));
  auto& maps = target.stored.extras.long_value_maps;
  for (size_t i = 0; i < maps.size(); ++i) {
    if (maps[i].column_number != dropped.number) continue;
    JET_RETURN_IF_ERROR(DropUsageMap(pager, maps[i].owned, true));
    JET_RETURN_IF_ERROR(DropUsageMap(pager, maps[i].free_space, false));
    maps.erase(maps.begin() + static_cast<long>(i));
    break;
  }
  JET_RETURN_IF_ERROR(WriteTableDef(pager, def, target.stored.extras));
  return EditProperties(pager, &target, [&](std::vector<PropertySet>* sets) {
    std::erase_if(*sets, [&](const PropertySet& s) { return !s.object.empty() && SameObjectName(s.object, dropped.name); });
  });
}
}  // namespace

Status DropColumn(Pager& pager, const std::string& table, const std::string& column) { return NamingFile(pager, DropColumnSteps(pager, table, column)); }

namespace {
Status AddIndexSteps(Pager& pager, const std::string& table, const IndexDesign& design) {
  JET_ASSIGN_OR_RETURN(DesignTarget target, LoadDesignTarget(pager, table));
  TableDef& def = target.stored.def;
  JET_RETURN_IF_ERROR(CheckIndexDesign(def, design));
  std::optional<size_t> added = AddIndexEntries(&target.stored, design);
  if (!added) return WriteTableDef(pager, def, target.stored.extras);
  PhysicalIndex& index = def.physical_indexes[*added];
  JET_RETURN_IF_ERROR(AllocateIndexStorage(pager, &target.stored, &index));
  JET_RETURN_IF_ERROR(WriteTableDef(pager, def, target.stored.extras));
  JET_ASSIGN_OR_RETURN(uint32_t unique, FillIndex(pager, def, index, design.name, design.primary || design.required));
  // Filling may have split the root's pages, but the root keeps its number; only the count changes.
  index.unique_entry_count = unique;
  return WriteTableDef(pager, def, target.stored.extras);
}
}  // namespace

Status AddIndex(Pager& pager, const std::string& table, const IndexDesign& design) { return NamingFile(pager, AddIndexSteps(pager, table, design)); }

namespace {
Status DropIndexSteps(Pager& pager, const std::string& table, const std::string& index) {
  JET_ASSIGN_OR_RETURN(DesignTarget target, LoadDesignTarget(pager, table));
  TableDef& def = target.stored.def;
  size_t position = def.logical_indexes.size();
  for (size_t i = 0; i < def.logical_indexes.size(); ++i)
    if (SameObjectName(def.logical_indexes[i].name, index)) position = i;
  if (position == def.logical_indexes.size()) return Error(ErrorCode::kNotFound, Where(target) + " has no index \"" + index + "\"");
  JET_ASSIGN_OR_RETURN(bool related, InRelationship(pager, target));
  if (related) {
    return Error(ErrorCode::kUnsupported, Where(target) + " takes part in a relationship; its indexes cannot be dropped here");
  }
  JET_RETURN_IF_ERROR(RemoveLogicalIndex(pager, &target.stored, position));
  return WriteTableDef(pager, def, target.stored.extras);
}
}  // namespace

Status DropIndex(Pager& pager, const std::string& table, const std::string& index) { return NamingFile(pager, DropIndexSteps(pager, table, index)); }

Status AddColumn(WritableDatabase& db, const std::string& table, const ColumnDesign& column) {
  return db.Write([&] { return AddColumn(db.pager(), table, column); });
}

Status DropColumn(WritableDatabase& db, const std::string& table, const std::string& column) {
  return db.Write([&] { return DropColumn(db.pager(), table, column); });
}

Status AddIndex(WritableDatabase& db, const std::string& table, const IndexDesign& index) {
  return db.Write([&] { return AddIndex(db.pager(), table, index); });
}

Status DropIndex(WritableDatabase& db, const std::string& table, const std::string& index) {
  return db.Write([&] { return DropIndex(db.pager(), table, index); });
}

}  // namespace jet
