// An open Access database: the entry point of the engine for callers above it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/catalogue.h"
#include "jet/pager.h"
#include "jet/status.h"
#include "jet/table_cursor.h"
#include "jet/table_def.h"

namespace jet {

class Database {
 public:
  // Opens `path` read-only: decodes the header and reads the catalogue.
  static Result<std::unique_ptr<Database>> Open(const std::string& path);

  Pager& pager() { return *pager_; }
  JetVersion version() const { return pager_->format().version; }
  const std::string& path() const { return pager_->path(); }

  // Every catalogue row, in storage order.
  const std::vector<CatalogEntry>& objects() const { return objects_; }
  // Names of the user tables (not system, not linked), in catalogue order.
  std::vector<std::string> UserTableNames() const;
  // The catalogue row of a local table (user or system), matched regardless of letter case.
  const CatalogEntry* FindTable(const std::string& name) const;

  // Reads the definition of the named table.
  Result<TableDef> ReadTable(const std::string& name);

 private:
  explicit Database(std::unique_ptr<Pager> pager) : pager_(std::move(pager)) {}

  std::unique_ptr<Pager> pager_;
  std::vector<CatalogEntry> objects_;
};

}  // namespace jet
