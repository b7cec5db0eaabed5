#include "jet/schema/schema_support.h"

#include "jet/base/bytes.h"
#include "jet/pages/index_key.h"
#include "jet/table/index_writer.h"
#include "jet/schema/system_tables.h"
#include "jet/table/table_storage.h"
#include "jet/table/table_writer.h"

namespace jet {

namespace {

int64_t IntegerOr(const Value& v, int64_t fallback) {
  const int64_t* i = std::get_if<int64_t>(&v);
  return i ? *i : fallback;
}

bool IsSystemObject(uint32_t flags) { return (flags & (kObjectFlagSystem | kObjectFlagSystemTable)) != 0; }

}  // namespace

Status NamingFile(const Pager& pager, Status status) {
  if (status.ok() || status.error().message().find(pager.path()) != std::string::npos) return status;
  return status.error().WithContext(pager.path());
}

Status RequireDesignWrite(Pager& pager) {
  if (!pager.format().jet4()) {
    return Error(ErrorCode::kReadOnly, pager.path() + ": the design of Access 97 databases cannot be changed here");
  }
  if (!pager.writable() || !pager.in_write()) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": a design change needs an open write");
  }
  return Status::Ok();
}

Result<DesignTarget> LoadDesignTarget(Pager& pager, const std::string& name) {
  JET_RETURN_IF_ERROR(RequireDesignWrite(pager));
  DesignTarget target;
  JET_ASSIGN_OR_RETURN(target.catalogue, ReadSystemTable(pager, "MSysObjects"));
  JET_ASSIGN_OR_RETURN(target.row, FindTableRow(pager, target.catalogue, name));
  uint32_t flags = static_cast<uint32_t>(IntegerOr(ColumnValue(target.catalogue, target.row.values, "Flags"), 0));
  std::string stored_name = name;
  Value name_value = ColumnValue(target.catalogue, target.row.values, "Name");
  if (const Text* t = std::get_if<Text>(&name_value)) stored_name = ToUtf8(*t);
  if (IsSystemObject(flags)) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": \"" + stored_name + "\" is a system table and cannot be changed");
  }
  JET_ASSIGN_OR_RETURN(target.stored, ReadStoredTableDef(pager, DefinitionPageOf(target.catalogue, target.row)));
  target.stored.def.name = stored_name;
  return target;
}

PropertySet ColumnProperties(const ColumnDesign& design) {
  PropertySet set{design.name, {BooleanProperty("Required", design.required, true)}};
  if (design.type == ColumnType::kText || design.type == ColumnType::kMemo) {
    set.properties.push_back(BooleanProperty("AllowZeroLength", design.allow_zero_length, true));
  }
  return set;
}

Status EditProperties(Pager& pager, DesignTarget* target, const std::function<void(std::vector<PropertySet>*)>& edit) {
  std::vector<PropertySet> sets;
  Value blob = ColumnValue(target->catalogue, target->row.values, "LvProp");
  if (const Bytes* bytes = std::get_if<Bytes>(&blob); bytes != nullptr && !bytes->empty()) {
    auto decoded = DecodePropertyBlob(*bytes);
    if (!decoded.ok()) {
      return pager.Corrupt(target->row.id.page, "table \"" + target->stored.def.name + "\": the properties in its catalogue row (row " +
                                                    std::to_string(target->row.id.row) + ") cannot be read: " + decoded.error().message());
    }
    sets = std::move(decoded).value();
  }
  edit(&sets);
  Value encoded = sets.empty() ? Value(Null{}) : Value(Bytes(EncodePropertyBlob(sets)));
  std::vector<Value> values = target->row.values;
  JET_ASSIGN_OR_RETURN(auto changes, MakeRow(pager, target->catalogue, {{"LvProp", encoded}, {"DateUpdate", DateTime{CurrentOleDate()}}}));
  for (size_t i = 0; i < target->catalogue.columns.size(); ++i) {
    const std::string& column = target->catalogue.columns[i].name;
    if (column == "LvProp" || column == "DateUpdate") values[i] = changes[i];
  }
  JET_RETURN_IF_ERROR(UpdateRow(pager, target->catalogue, target->row.id, values));
  target->row.values = std::move(values);
  return Status::Ok();
}

Result<uint32_t> FillIndex(Pager& pager, const TableDef& def, const PhysicalIndex& index, const std::string& index_name,
                           bool values_required) {
  const auto [key_columns, positions] = KeyColumnsOf(def, index);
  // Keys first, entries after: the cursor must not see index pages change under it.
  std::vector<std::pair<std::string, RowId>> entries;
  JET_ASSIGN_OR_RETURN(auto writer, TableWriter::Open(pager, def));
  JET_ASSIGN_OR_RETURN(auto cursor, TableCursor::Open(pager, def));
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    std::vector<Value> values;
    size_t nulls = 0;
    for (size_t p : positions) {
      values.push_back(cursor->values()[p]);
      nulls += IsNull(values.back()) ? 1 : 0;
    }
    if (nulls == values.size() && index.ignore_nulls()) continue;
    if (nulls > 0 && values_required) {
      return Error(ErrorCode::kConstraint, "index \"" + index_name + "\" of table \"" + def.name +
                                               "\" requires values, but a row has none in its columns");
    }
    JET_ASSIGN_OR_RETURN(std::string key, EncodeIndexKey(pager.format().version, key_columns, values));
    JET_ASSIGN_OR_RETURN(RowId header, writer->HeaderOf(cursor->row_id()));
    entries.emplace_back(std::move(key), header);
  }
  uint32_t unique = 0;
  for (const auto& [key, row] : entries) {
    auto fresh = InsertIndexEntry(pager, def, index, key, row);
    if (!fresh.ok()) return fresh.error().WithContext("index \"" + index_name + "\" of table \"" + def.name + "\"");
    if (fresh.value()) ++unique;
  }
  return unique;
}

bool TakesPartInRelationship(const DefinitionExtras::Logical& logical) { return logical.relationship[0] != 0; }

uint32_t RelatedTablePage(const DefinitionExtras::Logical& logical) { return Get32(logical.relationship.data() + 5); }

uint32_t DefinitionPageOf(const TableDef& catalogue, const FoundRow& row) {
  return static_cast<uint32_t>(IntegerOr(ColumnValue(catalogue, row.values, "Id"), 0)) & 0x00FFFFFF;
}

Result<std::vector<FoundRow>> UserTableRows(Pager& pager, const TableDef& catalogue) {
  return FindRows(pager, catalogue, [&](const std::vector<Value>& row) {
    return IntegerOr(ColumnValue(catalogue, row, "Type"), 0) == static_cast<int64_t>(ObjectType::kTable) &&
           IntegerOr(ColumnValue(catalogue, row, "ParentId"), 0) == kTablesContainerId &&
           !IsSystemObject(static_cast<uint32_t>(IntegerOr(ColumnValue(catalogue, row, "Flags"), 0)));
  });
}

Status RemoveLogicalIndex(Pager& pager, StoredTableDef* stored, size_t position) {
  TableDef& def = stored->def;
  const LogicalIndex removed = def.logical_indexes[position];
  def.logical_indexes.erase(def.logical_indexes.begin() + static_cast<long>(position));
  stored->extras.logical.erase(stored->extras.logical.begin() + static_cast<long>(position));
  for (LogicalIndex& li : def.logical_indexes)
    if (li.number > removed.number) --li.number;
  bool shared = false;
  for (const LogicalIndex& li : def.logical_indexes) shared = shared || li.physical_index == removed.physical_index;
  if (shared) return Status::Ok();
  const PhysicalIndex physical = def.physical_indexes[removed.physical_index];
  JET_RETURN_IF_ERROR(DropUsageMap(pager, physical.usage_map, true));
  const auto at = static_cast<long>(removed.physical_index);
  def.physical_indexes.erase(def.physical_indexes.begin() + at);
  stored->extras.physical.erase(stored->extras.physical.begin() + at);
  stored->extras.index_counts.erase(stored->extras.index_counts.begin() + at);
  for (PhysicalIndex& pi : def.physical_indexes)
    if (pi.number > removed.physical_index) --pi.number;
  for (LogicalIndex& li : def.logical_indexes)
    if (li.physical_index > removed.physical_index) --li.physical_index;
  return Status::Ok();
}

}  // namespace jet
