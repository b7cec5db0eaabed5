// DropTable: the table's rows in the system tables, the relationship entries of other tables that
// point to it, and every page it owned.
#include <map>
#include <set>

#include "jet/base/bytes.h"
#include "jet/schema_editor.h"
#include "jet/schema/schema_support.h"
#include "jet/schema/system_tables.h"
#include "jet/table/table_storage.h"

namespace jet {

namespace {

std::vector<RowId> Ids(const std::vector<FoundRow>& rows) {
  std::vector<RowId> ids;
  for (const FoundRow& r : rows) ids.push_back(r.id);
  return ids;
}

// Removes from every other table the relationship entries that point to the table at `page`,
// keeping the related index numbers of the remaining entries in step.
Status DropForeignEntries(Pager& pager, const TableDef& catalogue, uint32_t page) {
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> rows, UserTableRows(pager, catalogue));
  std::map<uint32_t, StoredTableDef> tables;
  for (const FoundRow& row : rows) {
    uint32_t other = DefinitionPageOf(catalogue, row);
    if (other == page) continue;
    JET_ASSIGN_OR_RETURN(tables[other], ReadStoredTableDef(pager, other));
  }
  std::set<uint32_t> changed;
  for (auto& [other, stored] : tables) {
    for (size_t i = stored.def.logical_indexes.size(); i-- > 0;) {
      const DefinitionExtras::Logical& l = stored.extras.logical[i];
      if (!TakesPartInRelationship(l) || RelatedTablePage(l) != page) continue;
      const uint32_t removed = stored.def.logical_indexes[i].number;
      JET_RETURN_IF_ERROR(RemoveLogicalIndex(pager, &stored, i));
      changed.insert(other);
      // Entries elsewhere that name this table's later indexes follow the renumbering.
      for (auto& [third, third_stored] : tables) {
        for (DefinitionExtras::Logical& ref : third_stored.extras.logical) {
          if (!TakesPartInRelationship(ref) || RelatedTablePage(ref) != other) continue;
          uint32_t related = Get32(ref.relationship.data() + 1);
          if (related != 0xFFFFFFFF && related > removed) {
            Put32(ref.relationship.data() + 1, related - 1);
            changed.insert(third);
          }
        }
      }
    }
  }
  for (uint32_t other : changed) JET_RETURN_IF_ERROR(WriteTableDef(pager, tables[other].def, tables[other].extras));
  return Status::Ok();
}

// The MSysRelationships rows naming `name` and the catalogue rows of those relationships.
Status DropRelationshipRows(Pager& pager, const TableDef& catalogue, const std::string& name, std::set<int64_t>* ids) {
  auto relationships = ReadSystemTable(pager, "MSysRelationships");
  if (!relationships.ok()) return relationships.error().code() == ErrorCode::kNotFound ? Status::Ok() : relationships.status();
  const TableDef& rel = relationships.value();
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> rows, FindRows(pager, rel, [&](const std::vector<Value>& row) {
    return SameObjectName(ColumnText(rel, row, "szObject"), name) || SameObjectName(ColumnText(rel, row, "szReferencedObject"), name);
  }));
  std::set<std::string> names;
  for (const FoundRow& r : rows) names.insert(ColumnText(rel, r.values, "szRelationship"));
  JET_RETURN_IF_ERROR(DeleteRows(pager, rel, Ids(rows)));
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> objects, FindRows(pager, catalogue, [&](const std::vector<Value>& row) {
    return ColumnInteger(catalogue, row, "Type") == static_cast<int64_t>(ObjectType::kRelationship) &&
           ColumnInteger(catalogue, row, "ParentId") == kRelationshipsContainerId && names.count(ColumnText(catalogue, row, "Name"));
  }));
  for (const FoundRow& o : objects) ids->insert(ColumnInteger(catalogue, o.values, "Id"));
  return DeleteRows(pager, catalogue, Ids(objects));
}

Status DropAccessControl(Pager& pager, const std::set<int64_t>& ids) {
  JET_ASSIGN_OR_RETURN(TableDef aces, ReadSystemTable(pager, "MSysACEs"));
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> rows, FindRows(pager, aces, [&](const std::vector<Value>& row) {
    return ids.count(ColumnInteger(aces, row, "ObjectId")) != 0;
  }));
  return DeleteRows(pager, aces, Ids(rows));
}

Status ReleaseTablePages(Pager& pager, const StoredTableDef& stored) {
  JET_RETURN_IF_ERROR(DropUsageMap(pager, stored.def.free_space_map, false));
  JET_RETURN_IF_ERROR(DropUsageMap(pager, stored.def.owned_pages_map, true));
  for (const PhysicalIndex& index : stored.def.physical_indexes) JET_RETURN_IF_ERROR(DropUsageMap(pager, index.usage_map, true));
  for (const LongValueMapRef& ref : stored.extras.long_value_maps) {
    JET_RETURN_IF_ERROR(DropUsageMap(pager, ref.free_space, false));
    JET_RETURN_IF_ERROR(DropUsageMap(pager, ref.owned, true));
  }
  std::vector<uint32_t> chain;
  for (uint32_t page = stored.def.page; page != 0 && chain.size() < 256;) {
    chain.push_back(page);
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageTableDefinition, "table definition"));
    page = Get32(data + 4);
  }
  for (uint32_t page : chain) JET_RETURN_IF_ERROR(ReleaseClearedPage(pager, page));
  return Status::Ok();
}

}  // namespace

namespace {
Status DropTableSteps(Pager& pager, const std::string& table) {
  JET_ASSIGN_OR_RETURN(DesignTarget target, LoadDesignTarget(pager, table));
  const uint32_t page = target.stored.def.page;
  JET_RETURN_IF_ERROR(DropForeignEntries(pager, target.catalogue, page));
  std::set<int64_t> ids{static_cast<int64_t>(page)};
  JET_RETURN_IF_ERROR(DropRelationshipRows(pager, target.catalogue, target.stored.def.name, &ids));
  JET_RETURN_IF_ERROR(DropAccessControl(pager, ids));
  JET_RETURN_IF_ERROR(DeleteRows(pager, target.catalogue, {target.row.id}));
  return ReleaseTablePages(pager, target.stored);
}
}  // namespace

Status DropTable(Pager& pager, const std::string& table) { return NamingFile(pager, DropTableSteps(pager, table)); }

Status DropTable(WritableDatabase& db, const std::string& table) {
  return db.Write([&] { return DropTable(db.pager(), table); });
}

}  // namespace jet
