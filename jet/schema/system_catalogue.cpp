#include "jet/schema/system_catalogue.h"

#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"

namespace jet {

namespace {

int64_t IntegerOr(const Value& v, int64_t fallback) {
  if (const int64_t* i = std::get_if<int64_t>(&v)) return *i;
  return fallback;
}

std::string TextOr(const Value& v) {
  if (const Text* t = std::get_if<Text>(&v)) return ToUtf8(*t);
  return {};
}

}  // namespace

Result<std::vector<CatalogEntry>> ReadCatalogue(Pager& pager) {
  auto def = ReadTableDef(pager, kCatalogueTablePage);
  if (!def.ok()) return def.error().WithContext("reading the catalogue (MSysObjects)");
  def->name = "MSysObjects";
  auto column_index = [&](const char* name) -> int {
    for (size_t i = 0; i < def->columns.size(); ++i)
      if (def->columns[i].name == name) return static_cast<int>(i);
    return -1;
  };
  int id = column_index("Id"), parent = column_index("ParentId"), name = column_index("Name"),
      type = column_index("Type"), flags = column_index("Flags"), database = column_index("Database"),
      foreign = column_index("ForeignName");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0) {
    return pager.Corrupt(kCatalogueTablePage, "the catalogue table lacks its Id, ParentId, Name, Type or Flags column");
  }
  JET_ASSIGN_OR_RETURN(auto cursor, TableCursor::Open(pager, def.value()));
  std::vector<CatalogEntry> entries;
  while (true) {
    auto more = cursor->Next();
    if (!more.ok()) return more.error().WithContext("reading the catalogue (MSysObjects)");
    if (!more.value()) break;
    const std::vector<Value>& v = cursor->values();
    CatalogEntry e;
    e.id = static_cast<int32_t>(IntegerOr(v[id], 0));
    e.parent_id = static_cast<int32_t>(IntegerOr(v[parent], 0));
    e.name = TextOr(v[name]);
    e.type = static_cast<int16_t>(IntegerOr(v[type], 0));
    e.flags = static_cast<uint32_t>(IntegerOr(v[flags], 0));
    if (database >= 0) e.linked_database = TextOr(v[database]);
    if (foreign >= 0) e.foreign_name = TextOr(v[foreign]);
    entries.push_back(std::move(e));
  }
  // The catalogue always lists itself. When it does not, its pages are missing (a file cut short)
  // or damaged, and every table it should name would silently vanish.
  bool lists_itself = false;
  for (const CatalogEntry& e : entries) lists_itself = lists_itself || (e.IsTable() && e.DefinitionPage() == kCatalogueTablePage);
  if (!lists_itself) {
    return pager.Corrupt(kCatalogueTablePage, "the catalogue (MSysObjects) does not list itself: " +
                                                  std::to_string(entries.size()) + " of its " + std::to_string(def->row_count) +
                                                  " rows were found, so the file is cut short or damaged");
  }
  return entries;
}

}  // namespace jet
