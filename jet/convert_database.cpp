#include "jet/convert_database.h"

#include <memory>
#include <vector>

#include "jet/database.h"
#include "jet/file/os.h"
#include "jet/row_editor.h"
#include "jet/schema_editor.h"
#include "jet/table/table_cursor.h"
#include "jet/writable_database.h"

namespace jet {

namespace {

// Rows copied per write: each write keeps its changed pages in memory until it commits.
constexpr size_t kRowsPerWrite = 5000;

Result<ColumnDesign> ColumnDesignOf(const Database& source, const ColumnDef& c, const TableProperties* properties) {
  if (c.type == ColumnType::kUnknown0D || c.type == ColumnType::kUnknown11 || c.type == ColumnType::kComplex) {
    return Error(ErrorCode::kUnsupported, "the column \"" + c.name + "\" is of a kind an Access 2000 table cannot hold");
  }
  ColumnDesign d;
  d.name = c.name;
  d.type = c.type;
  // Jet 4 declares text sizes in bytes of UTF-16, Jet 3 in characters of its code page.
  const bool jet4 = source.version() != JetVersion::kJet3;
  d.size = c.type == ColumnType::kText && jet4 ? static_cast<uint16_t>(c.length / 2) : c.length;
  d.autonumber = c.autonumber() && c.type == ColumnType::kLong;
  d.precision = c.precision;
  d.scale = c.scale;
  if (properties != nullptr) {
    auto found = properties->find(c.name);
    if (found != properties->end()) {
      d.required = found->second.required;
      d.allow_zero_length = found->second.allow_zero_length;
    }
  }
  return d;
}

Result<IndexDesign> IndexDesignOf(const TableDef& def, const LogicalIndex& li) {
  if (li.physical_index >= def.physical_indexes.size()) {
    return Error(ErrorCode::kCorrupt, "the index \"" + li.name + "\" names a key that is not in the table's definition");
  }
  const PhysicalIndex& physical = def.physical_indexes[li.physical_index];
  IndexDesign d;
  d.name = li.name;
  d.primary = li.primary();
  d.unique = physical.unique() && !d.primary;
  d.ignore_nulls = physical.ignore_nulls();
  d.required = physical.required() && !d.primary;
  for (const IndexColumn& ic : physical.columns) {
    const ColumnDef* column = def.ColumnByNumber(ic.column_number);
    if (column == nullptr) {
      return Error(ErrorCode::kCorrupt, "the index \"" + li.name + "\" names a column that is not in the table");
    }
    d.columns.push_back({column->name, ic.ascending});
  }
  return d;
}

Result<TableDesign> DesignOf(Database& source, const TableDef& def) {
  TableDesign design;
  design.name = def.name;
  JET_ASSIGN_OR_RETURN(const TableProperties* properties, source.ColumnPropertiesOf(def.name));
  for (const ColumnDef& c : def.columns) {
    JET_ASSIGN_OR_RETURN(ColumnDesign column, ColumnDesignOf(source, c, properties));
    design.columns.push_back(std::move(column));
  }
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.foreign_key()) continue;  // a relationship's, and relationships stay behind
    JET_ASSIGN_OR_RETURN(IndexDesign index, IndexDesignOf(def, li));
    design.indexes.push_back(std::move(index));
  }
  return design;
}

// Where each of the copy's columns finds its value in a source row.
Result<std::vector<size_t>> SourcePositions(const TableDef& source, const TableDef& copy) {
  std::vector<size_t> positions;
  for (const ColumnDef& c : copy.columns) {
    size_t at = 0;
    while (at < source.columns.size() && !SameObjectName(source.columns[at].name, c.name)) ++at;
    if (at == source.columns.size()) return Error(ErrorCode::kCorrupt, "the copied column \"" + c.name + "\" is not in the source table");
    positions.push_back(at);
  }
  return positions;
}

Status CopyRows(Database& source, const TableDef& def, WritableDatabase& target) {
  JET_ASSIGN_OR_RETURN(TableDef copy, target.ReadTable(def.name));
  JET_ASSIGN_OR_RETURN(std::vector<size_t> positions, SourcePositions(def, copy));
  JET_ASSIGN_OR_RETURN(std::unique_ptr<TableCursor> cursor, TableCursor::Open(source.pager(), def));
  bool more = true;
  while (more) {
    JET_RETURN_IF_ERROR(target.Write([&]() -> Status {
      JET_ASSIGN_OR_RETURN(copy, target.ReadTable(def.name));
      JET_ASSIGN_OR_RETURN(std::unique_ptr<RowEditor> editor, RowEditor::Open(target, copy));
      for (size_t n = 0; n < kRowsPerWrite; ++n) {
        JET_ASSIGN_OR_RETURN(more, cursor->Next());
        if (!more) break;
        std::vector<Value> values;
        values.reserve(positions.size());
        for (size_t at : positions) values.push_back(cursor->values()[at]);
        JET_RETURN_IF_ERROR(editor->Insert(std::move(values)).status());
      }
      return Status::Ok();
    }));
  }
  return Status::Ok();
}

Status CopyTables(Database& source, WritableDatabase& target,
                  const std::function<void(const std::string&)>& progress) {
  ReadLock lock(source);  // one state of the source throughout
  JET_RETURN_IF_ERROR(lock.status());
  for (const std::string& name : source.UserTableNames()) {
    if (progress) progress(name);
    Status copied = [&]() -> Status {
      JET_ASSIGN_OR_RETURN(TableDef def, source.ReadTable(name));
      JET_ASSIGN_OR_RETURN(TableDesign design, DesignOf(source, def));
      JET_RETURN_IF_ERROR(CreateTable(target, design));
      return CopyRows(source, def, target);
    }();
    if (!copied.ok()) return copied.error().WithContext("copying the table \"" + name + "\"");
  }
  return Status::Ok();
}

}  // namespace

Status ConvertToAccess2000(const std::string& source, const std::string& target,
                           const std::function<void(const std::string&)>& progress) {
  Os& os = Os::Default();
  JET_ASSIGN_OR_RETURN(bool taken, os.Exists(target));
  if (taken) return Error(ErrorCode::kInvalidArgument, target + ": a file is already there; choose another name");
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Database> from, Database::Open(source));
  const std::string building = target + ".converting";
  JET_RETURN_IF_ERROR(os.Delete(building));  // left by a conversion that did not finish
  Status status = Database::Create(building);
  if (status.ok()) {
    Result<std::unique_ptr<WritableDatabase>> to = WritableDatabase::Open(building);
    status = to.ok() ? CopyTables(*from, *to.value(), progress) : to.error();
  }
  if (status.ok()) status = os.Rename(building, target);
  if (status.ok()) status = os.SyncFolderOf(target);
  if (!status.ok()) {
    (void)os.Delete(building);
    return status.error().WithContext("converting " + source + " to the Access 2000 file " + target);
  }
  return Status::Ok();
}

}  // namespace jet
