#include "jet/database.h"

namespace jet {

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x < 0x80) x = static_cast<unsigned char>(std::tolower(x));
    if (y < 0x80) y = static_cast<unsigned char>(std::tolower(y));
    if (x != y) return false;
  }
  return true;
}

}  // namespace

Result<std::unique_ptr<Database>> Database::Open(const std::string& path) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::Open(path));
  std::unique_ptr<Database> db(new Database(std::move(pager)));
  JET_ASSIGN_OR_RETURN(db->objects_, ReadCatalogue(*db->pager_));
  return db;
}

std::vector<std::string> Database::UserTableNames() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : objects_)
    if (e.IsUserTable()) names.push_back(e.name);
  return names;
}

const CatalogEntry* Database::FindTable(const std::string& name) const {
  for (const CatalogEntry& e : objects_)
    if (e.IsTable() && SameNameIgnoringCase(e.name, name)) return &e;
  return nullptr;
}

Result<TableDef> Database::ReadTable(const std::string& name) {
  const CatalogEntry* entry = FindTable(name);
  if (entry == nullptr) return Error(ErrorCode::kNotFound, path() + ": there is no table named \"" + name + "\"");
  auto def = ReadTableDef(*pager_, entry->DefinitionPage());
  if (!def.ok()) return def.error().WithContext("reading table \"" + name + "\"");
  def->name = entry->name;
  return def;
}

}  // namespace jet
