#include "tools/jet_commands.h"

#include "jet/check/csv_export.h"
#include "jet/convert_database.h"
#include "jet/database.h"
#include "jet/check/integrity_check.h"
#include "tools/jet_design_commands.h"
#include "tools/jet_sql_command.h"
#include "tools/jet_write_commands.h"

namespace velloran {

namespace {

using jet::Database;

std::string ColumnDescription(const jet::ColumnDef& c, jet::JetVersion version) {
  std::string s = std::string(jet::ColumnTypeName(c.type));
  // Jet 4 stores two bytes a character, Jet 3 one.
  int bytes_per_char = version == jet::JetVersion::kJet4 ? 2 : 1;
  if (c.type == jet::ColumnType::kText) s += "(" + std::to_string(c.length / bytes_per_char) + ")";
  if (c.autonumber()) s += " autonumber";
  if (!c.fixed() && c.type != jet::ColumnType::kText && !jet::IsLongValue(c.type)) s += " variable";
  return s;
}

void PrintSchema(const jet::TableDef& def, jet::JetVersion version, std::ostream& out) {
  out << "table " << def.name << " (" << def.row_count << " rows)\n";
  for (const auto& c : def.columns) out << "  column " << c.name << " " << ColumnDescription(c, version) << "\n";
  for (const auto& li : def.logical_indexes) {
    const jet::PhysicalIndex& pi = def.physical_indexes[li.physical_index];
    out << "  index " << li.name << " (";
    for (size_t i = 0; i < pi.columns.size(); ++i) {
      const jet::ColumnDef* c = def.ColumnByNumber(pi.columns[i].column_number);
      out << (i ? ", " : "") << (c ? c->name : "?") << (pi.columns[i].ascending ? "" : " DESC");
    }
    out << ")";
    if (li.primary()) out << " primary";
    if (li.foreign_key()) out << " foreign-key";
    if (pi.unique()) out << " unique";
    if (pi.ignore_nulls()) out << " ignore-nulls";
    if (pi.required()) out << " required";
    out << "\n";
  }
}

int Fail(std::ostream& err, const jet::Error& e) {
  err << "velloran-jet: " << e.message() << "\n";
  return 2;
}

}  // namespace

int RunJetCommand(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                  std::ostream& err) {
  if (args.empty()) return 2;
  if (IsDesignCommand(command)) return RunDesignCommand(command, args, out, err);
  if (command == "insert") return RunInsertCommand(args, out, err);
  if (command == "update") return RunUpdateCommand(args, out, err);
  if (command == "delete") return RunDeleteCommand(args, out, err);
  if (command == "sql") {
    if (args.size() != 2) {
      err << "usage: velloran-jet sql FILE \"STATEMENT\"\n";
      return 2;
    }
    return RunSqlCommand(args[0], args[1], out, err);
  }
  if (command == "convert" && args.size() == 2) {
    jet::Status s = jet::ConvertToAccess2000(args[0], args[1]);
    return s.ok() ? 0 : Fail(err, s.error());
  }
  auto db = Database::Open(args[0]);
  if (!db.ok()) return Fail(err, db.error());
  if (command == "tables") {
    for (const std::string& name : db.value()->UserTableNames()) out << name << "\n";
    return 0;
  }
  if (command == "schema") {
    std::vector<std::string> names = args.size() > 1 ? std::vector<std::string>{args[1]} : db.value()->UserTableNames();
    for (const std::string& name : names) {
      auto def = db.value()->ReadTable(name);
      if (!def.ok()) return Fail(err, def.error());
      PrintSchema(def.value(), db.value()->version(), out);
    }
    return 0;
  }
  if (command == "export" && args.size() == 2) {
    jet::Status s = jet::ExportTableCsv(*db.value(), args[1], out);
    return s.ok() ? 0 : Fail(err, s.error());
  }
  if (command == "check") {
    std::vector<std::string> problems = jet::CheckDatabase(*db.value());
    for (const std::string& p : problems) out << p << "\n";
    if (problems.empty()) out << "ok\n";
    else out << "The file is damaged. Keep a copy of it as it is, then repair it with Access's Compact and Repair, or go back to a backup.\n";
    return problems.empty() ? 0 : 1;
  }
  err << "velloran-jet: unknown command or wrong arguments: " << command << "\n";
  return 2;
}

}  // namespace velloran
