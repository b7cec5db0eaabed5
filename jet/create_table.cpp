// CreateTable, and the index bookkeeping that AddIndex shares with it.
#include <algorithm>
#include <set>

#include "jet/schema_editor.h"
#include "jet/schema/schema_support.h"
#include "jet/schema/system_tables.h"
#include "jet/table/table_storage.h"
#include "jet/pages/usage_map_writer.h"

namespace jet {

namespace {

constexpr size_t kMaxColumns = 255;
constexpr uint16_t kGeneralSortOrder = 0x0409;

Error Invalid(const std::string& message) { return Error(ErrorCode::kInvalidArgument, message); }

Result<StoredTableDef> DefinitionFor(Pager& pager, const TableDesign& design) {
  JET_RETURN_IF_ERROR(CheckObjectName(design.name, "table"));
  if (design.columns.empty()) return Invalid("table \"" + design.name + "\" needs at least one column");
  if (design.columns.size() > kMaxColumns) return Invalid("table \"" + design.name + "\" has more than 255 columns");
  uint16_t sort_order = pager.header().sort_order != 0 ? pager.header().sort_order : kGeneralSortOrder;
  StoredTableDef stored;
  TableDef& def = stored.def;
  def.name = design.name;
  def.table_type = kTableTypeUser;
  uint16_t fixed_offset = 0;
  for (const ColumnDesign& cs : design.columns) {
    JET_RETURN_IF_ERROR(CheckColumnDesign(cs));
    JET_RETURN_IF_ERROR(CheckSingleAutonumber(def, cs));
    for (const ColumnDef& existing : def.columns) {
      if (SameObjectName(existing.name, cs.name)) return Invalid("table \"" + design.name + "\" names column \"" + cs.name + "\" twice");
    }
    uint16_t number = static_cast<uint16_t>(def.columns.size());
    ColumnDef c = MakeColumnDef(cs, number, def.var_column_count, fixed_offset, sort_order);
    if (IsVariableType(cs.type)) ++def.var_column_count;
    fixed_offset = static_cast<uint16_t>(fixed_offset + FixedAreaSize(c));
    def.columns.push_back(c);
  }
  def.max_columns = static_cast<uint16_t>(def.columns.size());
  stored.extras = NewDefinitionExtras(def);
  for (const IndexDesign& is : design.indexes) {
    JET_RETURN_IF_ERROR(CheckIndexDesign(def, is));
    AddIndexEntries(&stored, is);
  }
  return stored;
}

Status CheckTableNameFree(Pager& pager, const TableDef& catalogue, const std::string& name) {
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> clash, FindRows(pager, catalogue, [&](const std::vector<Value>& row) {
    const Value parent = ColumnValue(catalogue, row, "ParentId");
    const Value stored = ColumnValue(catalogue, row, "Name");
    const int64_t* p = std::get_if<int64_t>(&parent);
    const Text* t = std::get_if<Text>(&stored);
    return p && *p == kTablesContainerId && t && SameObjectName(ToUtf8(*t), name);
  }));
  if (!clash.empty()) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": a table or query named \"" + name + "\" already exists");
  }
  return Status::Ok();
}

// The owner of new objects: MSysDb's owner, as Access records it, or the Admin user.
Result<std::string> NewObjectOwner(Pager& pager, const TableDef& catalogue) {
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> db, FindRows(pager, catalogue, [&](const std::vector<Value>& row) {
    const Value id = ColumnValue(catalogue, row, "Id");
    return std::get_if<int64_t>(&id) && std::get<int64_t>(id) == kDatabasePropertiesId;
  }));
  if (!db.empty()) {
    Value owner = ColumnValue(catalogue, db.front().values, "Owner");
    if (const Bytes* b = std::get_if<Bytes>(&owner); b != nullptr && !b->empty()) return *b;
  }
  return kAdminUserSid;
}

// One full-rights row for the owner and for every other SID with rights on the Tables container.
Status GrantAccess(Pager& pager, uint32_t object, const std::string& owner) {
  JET_ASSIGN_OR_RETURN(TableDef aces, ReadSystemTable(pager, "MSysACEs"));
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> container, FindRows(pager, aces, [&](const std::vector<Value>& row) {
    const Value id = ColumnValue(aces, row, "ObjectId");
    return std::get_if<int64_t>(&id) && std::get<int64_t>(id) == kTablesContainerId;
  }));
  std::vector<std::string> sids{owner};
  for (const FoundRow& r : container) {
    Value sid = ColumnValue(aces, r.values, "SID");
    const Bytes* b = std::get_if<Bytes>(&sid);
    if (b != nullptr && !b->empty() && std::find(sids.begin(), sids.end(), *b) == sids.end()) sids.push_back(*b);
  }
  std::vector<std::vector<Value>> rows;
  for (const std::string& sid : sids) {
    JET_ASSIGN_OR_RETURN(auto row, MakeRow(pager, aces, {{"ObjectId", int64_t{static_cast<int32_t>(object)}},
                                                  {"ACM", int64_t{kFullAccessRights}},
                                                  {"FInheritable", false},
                                                  {"SID", Bytes(sid)}}));
    rows.push_back(std::move(row));
  }
  return InsertRows(pager, aces, rows);
}

}  // namespace

std::optional<size_t> AddIndexEntries(StoredTableDef* stored, const IndexDesign& design) {
  TableDef& def = stored->def;
  std::vector<IndexColumn> columns = IndexColumnsOf(def, design);
  const uint8_t flags = PhysicalIndexFlags(design);
  std::optional<size_t> added;
  size_t physical = def.physical_indexes.size();
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    const PhysicalIndex& pi = def.physical_indexes[i];
    bool same_columns = pi.columns.size() == columns.size();
    for (size_t c = 0; same_columns && c < columns.size(); ++c) {
      same_columns = pi.columns[c].column_number == columns[c].column_number && pi.columns[c].ascending == columns[c].ascending;
    }
    if (same_columns && pi.flags == flags) physical = i;
  }
  if (physical == def.physical_indexes.size()) {
    PhysicalIndex pi;
    pi.number = static_cast<uint32_t>(physical);
    pi.columns = columns;
    pi.flags = flags;
    def.physical_indexes.push_back(pi);
    stored->extras.physical.emplace_back();
    stored->extras.index_counts.emplace_back();
    added = physical;
  }
  LogicalIndex li;
  li.name = design.name;
  li.number = static_cast<uint32_t>(def.logical_indexes.size());
  li.physical_index = static_cast<uint32_t>(physical);
  li.type = design.primary ? kIndexTypePrimary : 0;
  def.logical_indexes.push_back(li);
  stored->extras.logical.emplace_back();
  return added;
}

namespace {
Status CreateTableSteps(Pager& pager, const TableDesign& design) {
  JET_RETURN_IF_ERROR(RequireDesignWrite(pager));
  JET_ASSIGN_OR_RETURN(StoredTableDef stored, DefinitionFor(pager, design));
  JET_ASSIGN_OR_RETURN(TableDef catalogue, ReadSystemTable(pager, "MSysObjects"));
  JET_RETURN_IF_ERROR(CheckTableNameFree(pager, catalogue, design.name));
  JET_ASSIGN_OR_RETURN(stored.def.page, AllocatePage(pager));
  JET_RETURN_IF_ERROR(AllocateTableStorage(pager, &stored, 0));
  JET_RETURN_IF_ERROR(WriteTableDef(pager, stored.def, stored.extras));
  JET_ASSIGN_OR_RETURN(std::string owner, NewObjectOwner(pager, catalogue));
  std::vector<PropertySet> properties;
  for (const ColumnDesign& cs : design.columns) properties.push_back(ColumnProperties(cs));
  const double now = CurrentOleDate();
  JET_ASSIGN_OR_RETURN(auto row, MakeRow(pager, catalogue, {{"Id", int64_t{stored.def.page}},
                                                     {"ParentId", int64_t{kTablesContainerId}},
                                                     {"Name", FromUtf8(design.name)},
                                                     {"Type", int64_t{static_cast<int>(ObjectType::kTable)}},
                                                     {"Flags", int64_t{0}},
                                                     {"DateCreate", DateTime{now}},
                                                     {"DateUpdate", DateTime{now}},
                                                     {"Owner", Bytes(owner)},
                                                     {"LvProp", Bytes(EncodePropertyBlob(properties))}}));
  JET_RETURN_IF_ERROR(InsertRows(pager, catalogue, {row}));
  return GrantAccess(pager, stored.def.page, owner);
}
}  // namespace

Status CreateTable(Pager& pager, const TableDesign& design) { return NamingFile(pager, CreateTableSteps(pager, design)); }

Status CreateTable(WritableDatabase& db, const TableDesign& design) {
  return db.Write([&] { return CreateTable(db.pager(), design); });
}

}  // namespace jet
