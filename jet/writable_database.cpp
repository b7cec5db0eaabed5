#include "jet/writable_database.h"

namespace jet {

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

Result<std::unique_ptr<WritableDatabase>> WritableDatabase::Open(const std::string& path) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::Open(path, Pager::Mode::kReadWrite));
  std::unique_ptr<WritableDatabase> db(new WritableDatabase(std::move(pager)));
  JET_ASSIGN_OR_RETURN(db->objects_, ReadCatalogue(*db->pager_));
  db->objects_generation_ = db->pager_->generation();
  return db;
}

Result<TableDef> WritableDatabase::ReadTable(const std::string& name) {
  if (objects_generation_ != pager_->generation()) {
    JET_ASSIGN_OR_RETURN(objects_, ReadCatalogue(*pager_));
    objects_generation_ = pager_->generation();
  }
  for (const CatalogEntry& entry : objects_) {
    if (!entry.IsTable() || !SameNameIgnoringCase(entry.name, name)) continue;
    auto def = ReadTableDef(*pager_, entry.DefinitionPage());
    if (!def.ok()) return def.error().WithContext("reading table \"" + entry.name + "\"");
    def->name = entry.name;
    return def;
  }
  return Error(ErrorCode::kNotFound, path() + ": there is no table named \"" + name + "\"");
}

Status WritableDatabase::Write(const std::function<Status()>& operation) {
  JET_RETURN_IF_ERROR(pager_->BeginWrite());
  Status status = operation();
  if (status.ok()) status = pager_->Commit();
  // A failed commit leaves its journal behind, which the next open replays; dropping the
  // in-memory pages here keeps this handle consistent with the file meanwhile.
  if (!status.ok() && pager_->in_write()) pager_->Rollback();
  return status;
}

}  // namespace jet
