#include "jet/writable_database.h"

namespace jet {

Result<std::unique_ptr<WritableDatabase>> WritableDatabase::Open(const std::string& path) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::Open(path, Pager::Mode::kReadWrite));
  std::unique_ptr<WritableDatabase> db(new WritableDatabase(std::move(pager)));
  JET_RETURN_IF_ERROR(db->LoadCatalogue());
  return db;
}

}  // namespace jet
