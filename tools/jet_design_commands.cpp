#include "tools/jet_design_commands.h"

#include <functional>
#include <map>
#include <optional>

#include "jet/schema/create_database.h"
#include "jet/schema_editor.h"
#include "jet/writable_database.h"

namespace velloran {

namespace {

struct TypeName {
  jet::ColumnType type;
  bool autonumber;
};

const std::map<std::string, TypeName>& TypeNames() {
  static const std::map<std::string, TypeName> names = {
      {"text", {jet::ColumnType::kText, false}},         {"memo", {jet::ColumnType::kMemo, false}},
      {"byte", {jet::ColumnType::kByte, false}},         {"integer", {jet::ColumnType::kInteger, false}},
      {"long", {jet::ColumnType::kLong, false}},         {"autonumber", {jet::ColumnType::kLong, true}},
      {"single", {jet::ColumnType::kSingle, false}},     {"double", {jet::ColumnType::kDouble, false}},
      {"currency", {jet::ColumnType::kCurrency, false}}, {"datetime", {jet::ColumnType::kDateTime, false}},
      {"boolean", {jet::ColumnType::kBoolean, false}},   {"yesno", {jet::ColumnType::kBoolean, false}},
      {"guid", {jet::ColumnType::kGuid, false}},         {"binary", {jet::ColumnType::kBinary, false}},
      {"ole", {jet::ColumnType::kOle, false}},           {"decimal", {jet::ColumnType::kDecimal, false}}};
  return names;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// name:type[:size][:option...]; nullopt with a message on `err`.
std::optional<jet::ColumnDesign> ParseColumn(const std::string& text, std::ostream& err) {
  std::vector<std::string> parts = Split(text, ':');
  auto type = parts.size() >= 2 ? TypeNames().find(Lower(parts[1])) : TypeNames().end();
  if (parts.size() < 2 || type == TypeNames().end()) {
    err << "velloran-jet: \"" << text << "\" is not name:type[:size][:option...] with a known type\n";
    return std::nullopt;
  }
  jet::ColumnDesign design;
  design.name = parts[0];
  design.type = type->second.type;
  design.autonumber = type->second.autonumber;
  for (size_t i = 2; i < parts.size(); ++i) {
    std::string option = Lower(parts[i]);
    if (!option.empty() && option.find_first_not_of("0123456789") == std::string::npos && option.size() <= 3) {
      int size = std::stoi(option);
      if (design.type == jet::ColumnType::kDecimal) design.precision = static_cast<uint8_t>(size);
      else design.size = static_cast<uint16_t>(size);
    } else if (option == "required") {
      design.required = true;
    } else if (option == "nozerolength") {
      design.allow_zero_length = false;
    } else if (option == "nocompression") {
      design.compressed_unicode = false;
    } else {
      err << "velloran-jet: unknown column option \"" << parts[i] << "\" in \"" << text << "\"\n";
      return std::nullopt;
    }
  }
  return design;
}

// INDEX COLUMN... [OPTION...]
std::optional<jet::IndexDesign> ParseIndex(const std::vector<std::string>& words, std::ostream& err) {
  jet::IndexDesign design;
  design.name = words[0];
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "--primary") design.primary = true;
    else if (w == "--unique") design.unique = true;
    else if (w == "--ignore-nulls") design.ignore_nulls = true;
    else if (w == "--required") design.required = true;
    else if (w.rfind("--", 0) == 0) {
      err << "velloran-jet: unknown index option \"" << w << "\"\n";
      return std::nullopt;
    } else {
      std::vector<std::string> parts = Split(w, ':');
      bool descending = parts.size() == 2 && Lower(parts[1]) == "desc";
      if (parts.size() > 2 || (parts.size() == 2 && !descending && Lower(parts[1]) != "asc")) {
        err << "velloran-jet: \"" << w << "\" is not column or column:desc\n";
        return std::nullopt;
      }
      design.columns.push_back(jet::IndexColumnDesign{parts[0], !descending});
    }
  }
  return design;
}

int Fail(std::ostream& err, const jet::Status& status) {
  if (status.ok()) return 0;
  err << "velloran-jet: " << status.error().message() << "\n";
  return 2;
}

int Usage(std::ostream& err, const std::string& command) {
  err << "velloran-jet: wrong arguments for " << command << "; usage:\n";
  PrintDesignUsage(err);
  return 2;
}

// Runs `change` on the database at `file` as one write.
int Change(const std::string& file, std::ostream& err, const std::function<jet::Status(jet::WritableDatabase&)>& change) {
  auto db = jet::WritableDatabase::Open(file);
  if (!db.ok()) return Fail(err, db.status());
  return Fail(err, change(*db.value()));
}

}  // namespace

bool IsDesignCommand(const std::string& command) {
  return command == "create" || command == "create-table" || command == "add-column" || command == "add-index" ||
         command == "drop-index" || command == "drop-column" || command == "drop-table";
}

int RunDesignCommand(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err) {
  const size_t n = args.size();
  if (command == "create" && n == 1) return Fail(err, jet::CreateDatabase(args[0]));
  if (command == "create-table" && n >= 3) {
    jet::TableDesign design;
    design.name = args[1];
    for (size_t i = 2; i < n; ++i) {
      auto column = ParseColumn(args[i], err);
      if (!column) return 2;
      design.columns.push_back(*column);
    }
    return Change(args[0], err, [&](jet::WritableDatabase& db) { return jet::CreateTable(db, design); });
  }
  if (command == "add-column" && n == 3) {
    auto column = ParseColumn(args[2], err);
    if (!column) return 2;
    return Change(args[0], err, [&](jet::WritableDatabase& db) { return jet::AddColumn(db, args[1], *column); });
  }
  if (command == "add-index" && n >= 4) {
    auto index = ParseIndex(std::vector<std::string>(args.begin() + 2, args.end()), err);
    if (!index) return 2;
    return Change(args[0], err, [&](jet::WritableDatabase& db) { return jet::AddIndex(db, args[1], *index); });
  }
  if (command == "drop-index" && n == 3) {
    return Change(args[0], err, [&](jet::WritableDatabase& db) { return jet::DropIndex(db, args[1], args[2]); });
  }
  if (command == "drop-column" && n == 3) {
    return Change(args[0], err, [&](jet::WritableDatabase& db) { return jet::DropColumn(db, args[1], args[2]); });
  }
  if (command == "drop-table" && n == 2) {
    return Change(args[0], err, [&](jet::WritableDatabase& db) { return jet::DropTable(db, args[1]); });
  }
  return Usage(err, command);
}

void PrintDesignUsage(std::ostream& out) {
  out << "  create FILE                          make a new, empty Access 2000 database\n"
         "  create-table FILE TABLE COLUMN...    COLUMN is name:type[:size][:required|:nozerolength|:nocompression]\n"
         "                                       types: text memo byte integer long autonumber single double\n"
         "                                       currency datetime boolean guid binary ole decimal\n"
         "  add-column FILE TABLE COLUMN         add a column (existing rows read it as empty)\n"
         "  add-index FILE TABLE INDEX COLUMN... [--primary] [--unique] [--ignore-nulls] [--required]\n"
         "                                       COLUMN is name or name:desc\n"
         "  drop-index FILE TABLE INDEX\n"
         "  drop-column FILE TABLE COLUMN\n"
         "  drop-table FILE TABLE\n";
}

}  // namespace velloran
