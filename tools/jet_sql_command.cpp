#include "tools/jet_sql_command.h"

#include <variant>

#include "jet/check/csv_export.h"
#include "jet/database.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_select.h"

namespace velloran {

namespace {

int Fail(std::ostream& err, const jet::Error& e) {
  err << "velloran-jet: " << e.message() << "\n";
  return 2;
}

}  // namespace

int RunSqlCommand(const std::string& file, const std::string& statement, std::ostream& out, std::ostream& err) {
  auto parsed = jet::ParseStatement(statement);
  if (!parsed.ok()) return Fail(err, parsed.error());
  const auto* select = std::get_if<jet::SelectStatement>(&parsed.value());
  if (select == nullptr) {
    err << "velloran-jet: only SELECT statements run here: " << statement << "\n";
    return 2;
  }
  auto db = jet::Database::Open(file);
  if (!db.ok()) return Fail(err, db.error());
  // The rows are those of one state of the file: the read lock is held from the plan to the last row.
  jet::ReadScope scope(db.value()->pager());
  if (!scope.status().ok()) return Fail(err, scope.status().error());
  if (jet::Status fresh = db.value()->RefreshCatalogue(); !fresh.ok()) return Fail(err, fresh.error());
  auto cursor = jet::ExecuteSelect(*db.value(), *select, statement);
  if (!cursor.ok()) return Fail(err, cursor.error());
  jet::SelectCursor& rows = *cursor.value();
  const std::vector<std::string>& names = rows.column_names();
  for (size_t i = 0; i < names.size(); ++i) out << (i ? "," : "") << names[i];
  out << "\n";
  while (true) {
    auto more = rows.Next();
    if (!more.ok()) return Fail(err, more.error());
    if (!more.value()) break;
    for (size_t i = 0; i < rows.values().size(); ++i) {
      out << (i ? "," : "") << jet::FormatExportField(rows.columns()[i], rows.values()[i]);
    }
    out << "\n";
  }
  return 0;
}

}  // namespace velloran
