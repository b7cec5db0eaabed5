#include "jet/check/integrity_check.h"

#include "jet/check/index_check.h"

namespace jet {

namespace {

void CheckTableRows(Database& db, const CatalogEntry& entry, std::vector<std::string>* problems) {
  auto def = db.ReadTable(entry.name);
  if (!def.ok()) {
    problems->push_back(def.error().message());
    return;
  }
  auto cursor = TableCursor::Open(db.pager(), def.value());
  if (!cursor.ok()) {
    problems->push_back("table \"" + entry.name + "\": " + cursor.error().message());
    return;
  }
  uint64_t rows = 0;
  while (true) {
    auto more = cursor.value()->Next();
    if (!more.ok()) {
      problems->push_back("table \"" + entry.name + "\": " + more.error().message());
      return;
    }
    if (!more.value()) break;
    ++rows;
  }
  CheckTableIndexes(db.pager(), def.value(), problems);
  // Access does not keep the row counts of its own system tables up to date (files it has just
  // saved count fewer MSysACEs or MSysQueries rows than they hold), so only user tables are held
  // to theirs.
  if (rows != def->row_count && !entry.IsSystem()) {
    problems->push_back(db.path() + ", page " + std::to_string(def->page) + ": table \"" + entry.name +
                        "\": its definition counts " + std::to_string(def->row_count) + " rows but " +
                        std::to_string(rows) + " were found");
  }
}

}  // namespace

std::vector<std::string> CheckDatabase(Database& db) {
  std::vector<std::string> problems;
  // One state of the file throughout: a commit in the middle would look like damage.
  ReadScope scope(db.pager());
  if (!scope.status().ok()) return {scope.status().error().message()};
  if (Status fresh = db.RefreshCatalogue(); !fresh.ok()) return {fresh.error().message()};
  for (const CatalogEntry& entry : db.objects()) {
    if (entry.IsTable()) CheckTableRows(db, entry, &problems);
  }
  return problems;
}

}  // namespace jet
