#include "jet/schema/system_catalogue_writer.h"

#include <ctime>

#include "jet/schema/system_tables.h"
#include "jet/schema/table_design.h"
#include "jet/table/table_writer.h"

namespace jet {

namespace {

constexpr double kUnixEpochAsOleDate = 25569.0;  // 1970-01-01 in days since 1899-12-30

int ColumnPosition(const TableDef& def, const std::string& column) {
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].name == column) return static_cast<int>(i);
  return -1;
}

}  // namespace

Result<TableDef> ReadSystemTable(Pager& pager, const std::string& name) {
  uint32_t page = 0;
  if (name == "MSysObjects") {
    page = kCatalogueTablePage;
  } else {
    JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> entries, ReadCatalogue(pager));
    for (const CatalogEntry& e : entries)
      if (e.IsTable() && e.parent_id == kTablesContainerId && e.name == name) page = e.DefinitionPage();
  }
  if (page == 0) return Error(ErrorCode::kNotFound, pager.path() + ": the database has no " + name + " table");
  auto def = ReadTableDef(pager, page);
  if (!def.ok()) return def.error().WithContext("reading " + name);
  def->name = name;
  return def;
}

Result<std::vector<Value>> MakeRow(const Pager& pager, const TableDef& def,
                                   const std::vector<std::pair<std::string, Value>>& values) {
  std::vector<Value> row(def.columns.size(), Null{});
  for (const auto& [column, value] : values) {
    int at = ColumnPosition(def, column);
    if (at < 0) {
      return pager.Corrupt(def.page, "table \"" + def.name + "\" has no column \"" + column +
                                         "\", which every Access database's has: its definition is damaged");
    }
    row[at] = value;
  }
  return row;
}

Value ColumnValue(const TableDef& def, const std::vector<Value>& row, const std::string& column) {
  int at = ColumnPosition(def, column);
  if (at < 0 || static_cast<size_t>(at) >= row.size()) return Null{};
  return row[at];
}

int64_t ColumnInteger(const TableDef& def, const std::vector<Value>& row, const std::string& column) {
  Value v = ColumnValue(def, row, column);
  const int64_t* i = std::get_if<int64_t>(&v);
  return i ? *i : 0;
}

std::string ColumnText(const TableDef& def, const std::vector<Value>& row, const std::string& column) {
  Value v = ColumnValue(def, row, column);
  const Text* t = std::get_if<Text>(&v);
  return t ? ToUtf8(*t) : std::string();
}

Result<std::vector<FoundRow>> FindRows(Pager& pager, const TableDef& def,
                                       const std::function<bool(const std::vector<Value>&)>& match) {
  std::vector<FoundRow> found;
  JET_ASSIGN_OR_RETURN(auto cursor, TableCursor::Open(pager, def));
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    if (match(cursor->values())) found.push_back(FoundRow{cursor->row_id(), cursor->values()});
  }
  return found;
}

Status InsertRows(Pager& pager, const TableDef& def, const std::vector<std::vector<Value>>& rows) {
  JET_ASSIGN_OR_RETURN(auto writer, TableWriter::Open(pager, def));
  for (const std::vector<Value>& row : rows) {
    auto inserted = writer->Insert(row);
    if (!inserted.ok()) return inserted.error().WithContext("adding a row to " + def.name);
  }
  return Status::Ok();
}

Status DeleteRows(Pager& pager, const TableDef& def, const std::vector<RowId>& rows) {
  if (rows.empty()) return Status::Ok();
  JET_ASSIGN_OR_RETURN(auto writer, TableWriter::Open(pager, def));
  for (RowId row : rows) {
    Status deleted = writer->Delete(row);
    if (!deleted.ok()) return deleted.error().WithContext("removing a row of " + def.name);
  }
  return Status::Ok();
}

Status UpdateRow(Pager& pager, const TableDef& def, RowId row, std::vector<Value> values) {
  JET_ASSIGN_OR_RETURN(auto writer, TableWriter::Open(pager, def));
  Status updated = writer->Update(row, std::move(values));
  if (!updated.ok()) return updated.error().WithContext("changing a row of " + def.name);
  return Status::Ok();
}

Result<FoundRow> FindTableRow(Pager& pager, const TableDef& catalogue, const std::string& name) {
  auto is_table = [&](const std::vector<Value>& row) {
    const auto* type = std::get_if<int64_t>(&row[ColumnPosition(catalogue, "Type")]);
    const auto* parent = std::get_if<int64_t>(&row[ColumnPosition(catalogue, "ParentId")]);
    const auto* text = std::get_if<Text>(&row[ColumnPosition(catalogue, "Name")]);
    return type && *type == static_cast<int64_t>(ObjectType::kTable) && parent && *parent == kTablesContainerId &&
           text && SameObjectName(ToUtf8(*text), name);
  };
  if (ColumnPosition(catalogue, "Type") < 0 || ColumnPosition(catalogue, "ParentId") < 0 ||
      ColumnPosition(catalogue, "Name") < 0) {
    return pager.Corrupt(kCatalogueTablePage, "the catalogue lacks its Name, Type or ParentId column");
  }
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> rows, FindRows(pager, catalogue, is_table));
  if (rows.empty()) return Error(ErrorCode::kNotFound, pager.path() + ": there is no table named \"" + name + "\"");
  return rows.front();
}

double CurrentOleDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  double local_seconds = static_cast<double>(now) + static_cast<double>(local.tm_gmtoff);
  return kUnixEpochAsOleDate + local_seconds / 86400.0;
}

}  // namespace jet
