// libFuzzer target for the writer: every input is written to a private temporary file, checked,
// then opened for writing as a host's program would, and changed: rows inserted into and updated
// in each user table (a few of them), a column added to one and a new indexed table created, each
// change one write of its own; then the file is checked again. Findings: a crash, a sanitizer
// report, a leak or a hang; an error or problem that does not name the file; and a file that the
// check found sound before but damaged after the changes the engine accepted, because a write
// must either leave the file whole or be refused.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jet/check/integrity_check.h"
#include "jet/database.h"
#include "jet/schema_editor.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tools/fuzz_support.h"

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Status;
using jet::Value;
using velloran_fuzz::RequireNamesFile;

constexpr size_t kTablesChanged = 3;

// A value every column of its type takes (NULL where the engine picks one, or for types a host's
// program does not write).
Value SampleValue(const ColumnDef& column, int variant) {
  switch (column.type) {
    case ColumnType::kBoolean: return Value(variant % 2 == 0);
    case ColumnType::kByte: return Value(int64_t{7 + variant});
    case ColumnType::kInteger: return Value(int64_t{-300 + variant});
    case ColumnType::kLong: return column.autonumber() ? Value(jet::Null{}) : Value(int64_t{100000 + variant});
    case ColumnType::kCurrency: return Value(jet::Currency{125000 + variant});
    case ColumnType::kSingle: return Value(1.5f + static_cast<float>(variant));
    case ColumnType::kDouble: return Value(-2.25 * (variant + 1));
    case ColumnType::kDateTime: return Value(jet::DateTime{45000.5 + variant});
    case ColumnType::kText: return Value(jet::Text(u"Song " + std::u16string(1, static_cast<char16_t>(u'A' + variant))).substr(0, std::max(1, column.length / 2)));
    case ColumnType::kMemo: return Value(jet::Text(600 + variant, u'm'));
    case ColumnType::kBinary: return Value(jet::Bytes(std::min<size_t>(column.length, 3), static_cast<char>(variant)));
    case ColumnType::kOle: return Value(jet::Bytes(300, static_cast<char>(variant)));
    default: return Value(jet::Null{});
  }
}

std::vector<Value> SampleRow(const jet::TableDef& def, int variant) {
  std::vector<Value> values;
  for (const ColumnDef& column : def.columns) values.push_back(SampleValue(column, variant));
  return values;
}

// Two inserts, then the first row the table had gets the values of a third.
Status ChangeRows(jet::WritableDatabase& db, const std::string& table) {
  return db.Write([&]() -> Status {
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table));
    JET_ASSIGN_OR_RETURN(auto cursor, jet::TableCursor::Open(db.pager(), def));
    JET_ASSIGN_OR_RETURN(bool has_row, cursor->Next());
    const jet::RowId first = has_row ? cursor->row_id() : jet::RowId{};
    JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.pager(), def));
    for (int variant = 0; variant < 2; ++variant) JET_RETURN_IF_ERROR(writer->Insert(SampleRow(def, variant)).status());
    if (!has_row) return Status::Ok();
    JET_ASSIGN_OR_RETURN(jet::RowId header, writer->HeaderOf(first));
    return writer->Update(header, SampleRow(def, 2));
  });
}

jet::TableDesign NewTable() {
  jet::ColumnDesign id{.name = "ID", .type = ColumnType::kLong, .autonumber = true};
  jet::ColumnDesign title{.name = "Title", .type = ColumnType::kText, .size = 100};
  jet::IndexDesign primary{.name = "PrimaryKey", .columns = {{"ID"}}, .primary = true};
  jet::IndexDesign by_title{.name = "Title", .columns = {{"Title"}}};
  return jet::TableDesign{"FuzzAdded", {id, title}, {primary, by_title}};
}

// What became of a change: its error must name the file. With VELLORAN_FUZZ_VERBOSE set (when
// replaying one input) every outcome is printed.
bool Outcome(const char* change, const std::string& table, const Status& status, const std::string& path) {
  if (std::getenv("VELLORAN_FUZZ_VERBOSE") != nullptr) {
    std::fprintf(stderr, "%s %s: %s\n", change, table.c_str(), status.ok() ? "done" : status.error().message().c_str());
  }
  RequireNamesFile(status, path);
  return status.ok();
}

void ChangeFile(const std::string& path) {
  auto db = jet::WritableDatabase::Open(path);
  if (!db.ok()) return (void)Outcome("opening", path, db.error(), path);
  std::vector<std::string> tables = db.value()->UserTableNames();
  if (tables.size() > kTablesChanged) tables.resize(kTablesChanged);
  for (const std::string& table : tables) Outcome("rows of", table, ChangeRows(*db.value(), table), path);
  if (!tables.empty()) {
    jet::ColumnDesign added{.name = "FuzzColumn", .type = ColumnType::kLong};
    Outcome("a column added to", tables[0], jet::AddColumn(*db.value(), tables[0], added), path);
  }
  if (Outcome("creating", "FuzzAdded", jet::CreateTable(*db.value(), NewTable()), path)) {
    Outcome("rows of", "FuzzAdded", ChangeRows(*db.value(), "FuzzAdded"), path);
  }
}

// The problems the check finds in the file, opened afresh; whether it opened at all.
bool Check(const std::string& path, std::vector<std::string>* problems) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) {
    RequireNamesFile(db.error(), path);
    return false;
  }
  *problems = jet::CheckDatabase(*db.value());
  RequireNamesFile(*problems, path);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velloran_fuzz::ScratchFile& file = velloran_fuzz::Scratch();
  file.Write(data, size);
  std::vector<std::string> before, after;
  if (!Check(file.path(), &before)) return 0;
  ChangeFile(file.path());
  const bool opens = Check(file.path(), &after);
  if (before.empty() && (!opens || !after.empty())) {
    std::fprintf(stderr, "velloran fuzz: changes the engine accepted damaged a sound file:\n");
    for (const std::string& problem : after) std::fprintf(stderr, "  %s\n", problem.c_str());
    if (!opens) std::fprintf(stderr, "  (it no longer opens)\n");
    std::abort();
  }
  return 0;
}
