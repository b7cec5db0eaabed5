#include "jet/sql/sql_update.h"

#include "jet/row_writer.h"
#include "jet/sql/sql_lexer.h"
#include "jet/sql/sql_select.h"

namespace jet {

Result<bool> PreparedUpdate::Selects(const std::vector<Value>& row) const {
  if (!where) return true;
  return where->Matches(row);
}

void PreparedUpdate::Apply(std::vector<Value>* row) const {
  for (const auto& [column, value] : assignments)
    if (column < row->size()) (*row)[column] = value;
}

Result<PreparedUpdate> PrepareUpdate(Database& db, const UpdateStatement& statement, const std::string& sql) {
  PreparedUpdate update;
  JET_ASSIGN_OR_RETURN(update.table, ReadStatementTable(db, statement.table, sql));
  const TableDef& def = update.table;
  for (const Assignment& a : statement.assignments) {
    JET_ASSIGN_OR_RETURN(size_t column, ResolveColumn(def, a.column, sql));
    for (const auto& earlier : update.assignments) {
      if (earlier.first == column) {
        return SqlError(ErrorCode::kInvalidArgument, "column \"" + def.columns[column].name + "\" is assigned twice", sql,
                        a.column.offset, a.column.token);
      }
    }
    const Expr& value = *a.value;
    if (value.kind != Expr::Kind::kLiteral) {
      return SqlError(ErrorCode::kUnsupported, "only constant values can be assigned", sql, value.offset, value.token);
    }
    auto converted = ConvertToColumn(value.literal, def.columns[column], false, value.token);
    if (!converted.ok()) return SqlError(converted.error().code(), converted.error().message(), sql, value.offset, value.token);
    update.assignments.emplace_back(column, std::move(converted).value());
  }
  if (statement.where) {
    std::unique_ptr<Expr> where = statement.where->Clone();
    JET_RETURN_IF_ERROR(BindColumns(def, sql, where.get()));
    JET_ASSIGN_OR_RETURN(update.where, Condition::Compile(*where, def, db.version(), sql));
  }
  return update;
}

namespace {

Result<std::vector<RowId>> RowsWhere(Database& db, const NameRef& table, const Expr* where, const std::string& sql) {
  SelectStatement select;
  select.table = table;
  if (where != nullptr) select.where = where->Clone();
  JET_ASSIGN_OR_RETURN(std::unique_ptr<SelectCursor> cursor, ExecuteSelect(db, select, sql));
  std::vector<RowId> rows;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    rows.push_back(cursor->row_id());
  }
  return rows;
}

}  // namespace

Result<std::vector<RowId>> RowsToUpdate(Database& db, const UpdateStatement& statement, const std::string& sql) {
  return RowsWhere(db, statement.table, statement.where.get(), sql);
}

Result<size_t> ExecuteDelete(Database& db, Pager& pager, const DeleteStatement& statement, const std::string& sql) {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadStatementTable(db, statement.table, sql));
  JET_ASSIGN_OR_RETURN(std::vector<RowId> rows, RowsWhere(db, statement.table, statement.where.get(), sql));
  JET_ASSIGN_OR_RETURN(std::unique_ptr<RowWriter> writer, RowWriter::Open(pager, def));
  for (const RowId& row : rows) JET_RETURN_IF_ERROR(writer->Delete(row));
  return rows.size();
}

Result<size_t> ExecuteUpdate(Database& db, Pager& pager, const UpdateStatement& statement, const std::string& sql) {
  JET_ASSIGN_OR_RETURN(PreparedUpdate prepared, PrepareUpdate(db, statement, sql));
  JET_ASSIGN_OR_RETURN(std::vector<RowId> rows, RowsToUpdate(db, statement, sql));
  JET_ASSIGN_OR_RETURN(std::unique_ptr<RowWriter> writer, RowWriter::Open(pager, prepared.table));
  for (const RowId& row : rows) {
    JET_ASSIGN_OR_RETURN(std::vector<Value> values, writer->Read(row));
    prepared.Apply(&values);
    JET_RETURN_IF_ERROR(writer->Update(row, std::move(values)));
  }
  return rows.size();
}

}  // namespace jet
