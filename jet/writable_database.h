// A database opened for changing: the writer's entry point.
//
// Opening takes the writer lock (one writer at a time; a file Access holds is refused) and
// undoes an unfinished change left by a crash. Each Write runs an operation as one all-or-nothing
// change: either every page it changed becomes durable at once, or none does.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/catalogue.h"
#include "jet/pager.h"
#include "jet/status.h"
#include "jet/table_def.h"

namespace jet {

class WritableDatabase {
 public:
  // Opens `path` for writing. Access 97 files are refused (kReadOnly) with a message that says so.
  static Result<std::unique_ptr<WritableDatabase>> Open(const std::string& path);

  Pager& pager() { return *pager_; }
  const std::string& path() const { return pager_->path(); }

  // The definition of a local table (user or system), matched regardless of letter case; the
  // catalogue and the definition are read as they are now (inside a write: as it has made them),
  // so tables created or dropped through this handle are seen at once.
  Result<TableDef> ReadTable(const std::string& name);

  // Runs `operation` inside a write: commits what it changed when it returns OK, rolls all of
  // it back when it (or the commit) fails, and returns its status.
  Status Write(const std::function<Status()>& operation);

 private:
  explicit WritableDatabase(std::unique_ptr<Pager> pager) : pager_(std::move(pager)) {}

  std::unique_ptr<Pager> pager_;
  std::vector<CatalogEntry> objects_;  // the catalogue as of pager generation objects_generation_
  uint64_t objects_generation_ = 0;
};

}  // namespace jet
