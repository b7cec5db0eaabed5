#include "tools/jet_sql_command.h"

#include <variant>

#include "jet/check/csv_export.h"
#include "jet/database.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_select.h"
#include "jet/sql/sql_update.h"
#include "jet/writable_database.h"

namespace velloran {

namespace {

int Fail(std::ostream& err, const jet::Error& e) {
  err << "velloran-jet: " << e.message() << "\n";
  return 2;
}

// The statement's rows as CSV, read as one state of the file: the read lock is held from the plan
// to the last row. They are gathered first and printed after, so that a slow reader of the
// output does not keep writers waiting.
jet::Status SelectAsCsv(jet::Database& db, const jet::SelectStatement& select, const std::string& statement, std::string* text) {
  jet::ReadScope scope(db.pager());
  JET_RETURN_IF_ERROR(scope.status());
  JET_RETURN_IF_ERROR(db.RefreshCatalogue());
  JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::SelectCursor> cursor, jet::ExecuteSelect(db, select, statement));
  const std::vector<std::string>& names = cursor->column_names();
  for (size_t i = 0; i < names.size(); ++i) *text += (i ? "," : "") + names[i];
  *text += "\n";
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    jet::AppendExportLine(cursor->columns(), cursor->values(), text);
  }
  return jet::Status::Ok();
}

// An UPDATE or DELETE in one write: every row it selects changes, or none does.
int RunChange(const std::string& file, const jet::Statement& parsed, const std::string& statement, std::ostream& out,
              std::ostream& err) {
  auto db = jet::WritableDatabase::Open(file);
  if (!db.ok()) return Fail(err, db.error());
  const auto* update = std::get_if<jet::UpdateStatement>(&parsed);
  size_t rows = 0;
  jet::Status status = db.value()->Write([&]() -> jet::Status {
    jet::Database& d = *db.value();
    if (update != nullptr) {
      JET_ASSIGN_OR_RETURN(rows, jet::ExecuteUpdate(d, d.pager(), *update, statement));
    } else {
      JET_ASSIGN_OR_RETURN(rows, jet::ExecuteDelete(d, d.pager(), std::get<jet::DeleteStatement>(parsed), statement));
    }
    return jet::Status::Ok();
  });
  if (!status.ok()) return Fail(err, status.error());
  out << (update != nullptr ? "updated " : "deleted ") << rows << (rows == 1 ? " row\n" : " rows\n");
  return 0;
}

}  // namespace

int RunSqlCommand(const std::string& file, const std::string& statement, std::ostream& out, std::ostream& err) {
  auto parsed = jet::ParseStatement(statement);
  if (!parsed.ok()) return Fail(err, parsed.error());
  if (std::holds_alternative<jet::UpdateStatement>(parsed.value()) || std::holds_alternative<jet::DeleteStatement>(parsed.value())) {
    return RunChange(file, parsed.value(), statement, out, err);
  }
  const auto* select = std::get_if<jet::SelectStatement>(&parsed.value());
  if (select == nullptr) {
    err << "velloran-jet: only SELECT, UPDATE and DELETE statements run here (drop-index and drop-table change the design): "
        << statement << "\n";
    return 2;
  }
  auto db = jet::Database::Open(file);
  if (!db.ok()) return Fail(err, db.error());
  std::string text;
  jet::Status status = SelectAsCsv(*db.value(), *select, statement, &text);
  if (!status.ok()) return Fail(err, status.error());
  out << text;
  return 0;
}

}  // namespace velloran
