#include "tools/jet_write_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "jet/base/calendar.h"
#include "jet/base/number_text.h"
#include "jet/row_lookup.h"
#include "jet/row_writer.h"
#include "jet/text/text_codec.h"
#include "jet/writable_database.h"

namespace velloran {

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Error;
using jet::ErrorCode;
using jet::Result;
using jet::Value;

Error Bad(const ColumnDef& column, const std::string& text, const std::string& expected) {
  return Error(ErrorCode::kInvalidArgument, "column \"" + column.name + "\": \"" + text + "\" is not " + expected);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

Result<Value> ParseDate(const ColumnDef& column, const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = ' ';
  int n = std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &s);
  bool shape = n == 3 || ((n == 6 || n == 7) && (sep == ' ' || sep == 'T'));
  static constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  bool day_ok = mo >= 1 && mo <= 12 && d >= 1 && d <= kMonthDays[mo - 1] && !(mo == 2 && d == 29 && !leap);
  if (!shape || !day_ok || y < 100 || y > 9999 || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
    return Bad(column, text, "a date (YYYY-MM-DD [HH:MM[:SS]])");
  }
  double day = static_cast<double>(jet::DaysFromCivil(y, mo, d) - jet::kDateTimeEpochDays);
  double time = (h * 3600 + mi * 60 + s) / 86400.0;
  // Before 1899-12-30 Access counts the day down and the time of day up: -1.25 is 1899-12-29 06:00.
  return Value(jet::DateTime{day < 0 ? day - time : day + time});
}

Result<Value> ParseGuid(const ColumnDef& column, const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != '{' && c != '}' && c != '-') hex += c;
  if (hex.size() != 32) return Bad(column, text, "a GUID");
  jet::Guid g;
  static constexpr int kStoredOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) {
    char* end = nullptr;
    std::string pair = hex.substr(2 * i, 2);
    long v = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') return Bad(column, text, "a GUID");
    g.bytes[kStoredOrder[i]] = static_cast<uint8_t>(v);
  }
  return Value(g);
}

Result<Value> ParseBytes(const ColumnDef& column, const std::string& text) {
  std::string hex = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
  if (hex.size() % 2 != 0) return Bad(column, text, "hex bytes");
  jet::Bytes out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    std::string pair = hex.substr(i, 2);
    long v = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') return Bad(column, text, "hex bytes");
    out.push_back(static_cast<char>(v));
  }
  return Value(out);
}

Result<Value> ParseValue(const ColumnDef& column, const std::string& text) {
  if (text.empty()) return Value(jet::Null{});
  switch (column.type) {
    case ColumnType::kBoolean: {
      std::string t = Lower(text);
      if (t == "true" || t == "yes" || t == "on" || t == "1" || t == "-1") return Value(true);
      if (t == "false" || t == "no" || t == "off" || t == "0") return Value(false);
      return Bad(column, text, "Yes or No");
    }
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kComplex: {
      char* end = nullptr;
      errno = 0;
      long long v = std::strtoll(text.c_str(), &end, 10);
      if (*end != '\0' || errno != 0) return Bad(column, text, "a whole number");
      return Value(static_cast<int64_t>(v));
    }
    case ColumnType::kSingle:
    case ColumnType::kDouble: {
      char* end = nullptr;
      double v = std::strtod(text.c_str(), &end);
      if (*end != '\0' || !std::isfinite(v)) return Bad(column, text, "a number a Double holds");
      if (column.type == ColumnType::kDouble) return Value(v);
      // Past the largest Single, the nearest float is infinity.
      const float f = static_cast<float>(v);
      if (!std::isfinite(f)) return Bad(column, text, "a number a Single holds (at most 3.4028235E+38 either side of 0)");
      return Value(f);
    }
    case ColumnType::kCurrency: {
      std::optional<jet::Currency> amount = jet::ParseCurrency(text);
      if (!amount) return Bad(column, text, "an amount with at most 4 decimals, -922337203685477.5808 to 922337203685477.5807");
      return Value(*amount);
    }
    case ColumnType::kDecimal: {
      bool negative;
      unsigned __int128 m;
      if (!jet::ParseScaled(text, column.scale, &negative, &m)) {
        return Bad(column, text, "a number with at most " + std::to_string(column.scale) + " decimals");
      }
      jet::Decimal d;
      d.negative = negative && m != 0;
      d.precision = column.precision;
      d.scale = column.scale;
      for (int w = 0; w < 4; ++w) d.magnitude[w] = static_cast<uint32_t>(m >> (32 * w));
      return Value(d);
    }
    case ColumnType::kDateTime: return ParseDate(column, text);
    case ColumnType::kText:
    case ColumnType::kMemo: {
      Result<jet::Text> decoded = jet::StrictFromUtf8(text);
      if (!decoded.ok()) return Error(ErrorCode::kInvalidArgument, "column \"" + column.name + "\": " + decoded.error().message());
      return Value(std::move(decoded).value());
    }
    case ColumnType::kGuid: return ParseGuid(column, text);
    default: return ParseBytes(column, text);
  }
}

struct Assignment {
  size_t column = 0;
  Value value;
};

// Reads COLUMN=VALUE arguments against the table's columns.
Result<std::vector<Assignment>> ParseAssignments(const jet::TableDef& def, const std::vector<std::string>& args,
                                                 size_t first) {
  std::vector<Assignment> out;
  std::set<size_t> seen;
  for (size_t i = first; i < args.size(); ++i) {
    size_t eq = args[i].find('=');
    if (eq == std::string::npos) return Error(ErrorCode::kInvalidArgument, "expected COLUMN=VALUE, not \"" + args[i] + "\"");
    const ColumnDef* column = def.FindColumn(args[i].substr(0, eq));
    if (column == nullptr) {
      return Error(ErrorCode::kNotFound, "table \"" + def.name + "\" has no column \"" + args[i].substr(0, eq) + "\"");
    }
    size_t position = static_cast<size_t>(column - def.columns.data());
    if (!seen.insert(position).second) return Error(ErrorCode::kInvalidArgument, "column \"" + column->name + "\" is named twice");
    JET_ASSIGN_OR_RETURN(Value v, ParseValue(*column, args[i].substr(eq + 1)));
    out.push_back(Assignment{position, std::move(v)});
  }
  return out;
}

// The rows whose key column matches, by the slot their index entries name.
Result<std::vector<jet::RowId>> MatchingRows(jet::Pager& pager, const jet::TableDef& def, jet::RowWriter& writer,
                                             const Assignment& key) {
  JET_ASSIGN_OR_RETURN(jet::FoundRows found, jet::FindRowsByValue(pager, def, writer, key.column, key.value));
  return std::move(found.rows);
}

int Fail(std::ostream& err, const Error& e) {
  err << "velloran-jet: " << e.message() << "\n";
  return 2;
}

int Usage(std::ostream& err, const char* usage) {
  err << "usage: velloran-jet " << usage << "\n";
  return 2;
}

// Opens the file and the table, reads the arguments from args[2] on (with `keyed`, args[2] is
// the key and the rest the assignments), then runs `body` in one write.
template <typename Body>
int RunWrite(const std::vector<std::string>& args, bool keyed, std::ostream& err, Body body) {
  auto db = jet::WritableDatabase::Open(args[0]);
  if (!db.ok()) return Fail(err, db.error());
  auto def = db.value()->ReadTable(args[1]);
  if (!def.ok()) return Fail(err, def.error());
  auto assignments = ParseAssignments(def.value(), args, keyed ? 3 : 2);
  if (!assignments.ok()) return Fail(err, assignments.error());
  std::vector<Assignment> key;
  if (keyed) {
    auto parsed = ParseAssignments(def.value(), {args[0], args[1], args[2]}, 2);
    if (!parsed.ok()) return Fail(err, parsed.error());
    key = std::move(parsed).value();
  }
  jet::Status status = db.value()->Write([&]() -> jet::Status {
    JET_ASSIGN_OR_RETURN(auto writer, jet::RowWriter::Open(db.value()->pager(), def.value()));
    return body(db.value()->pager(), def.value(), *writer, key, assignments.value());
  });
  return status.ok() ? 0 : Fail(err, status.error());
}

}  // namespace

int RunInsertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) return Usage(err, "insert FILE TABLE COLUMN=VALUE ...");
  return RunWrite(args, false, err, [&](jet::Pager&, const jet::TableDef& def, jet::RowWriter& writer,
                                        const std::vector<Assignment>&, const std::vector<Assignment>& assignments) -> jet::Status {
    std::vector<Value> values(def.columns.size(), Value(jet::Null{}));
    for (const Assignment& a : assignments) values[a.column] = a.value;
    JET_ASSIGN_OR_RETURN(jet::RowId id, writer.Insert(values));
    JET_ASSIGN_OR_RETURN(std::vector<Value> stored, writer.Read(id));
    out << "inserted 1 row";
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const int64_t* number = std::get_if<int64_t>(&stored[i]);
      if (def.columns[i].autonumber() && number != nullptr) out << ", " << def.columns[i].name << "=" << *number;
    }
    out << "\n";
    return jet::Status::Ok();
  });
}

int RunUpdateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 4) return Usage(err, "update FILE TABLE KEYCOLUMN=VALUE COLUMN=VALUE ...");
  size_t matched = 0;
  int code = RunWrite(args, true, err, [&](jet::Pager& pager, const jet::TableDef& def, jet::RowWriter& writer,
                                           const std::vector<Assignment>& key,
                                           const std::vector<Assignment>& assignments) -> jet::Status {
    JET_ASSIGN_OR_RETURN(std::vector<jet::RowId> rows, MatchingRows(pager, def, writer, key[0]));
    for (jet::RowId row : rows) {
      JET_ASSIGN_OR_RETURN(std::vector<Value> values, writer.Read(row));
      for (const Assignment& a : assignments) values[a.column] = a.value;
      JET_RETURN_IF_ERROR(writer.Update(row, values));
    }
    matched = rows.size();
    return jet::Status::Ok();
  });
  if (code != 0) return code;
  out << "updated " << matched << (matched == 1 ? " row\n" : " rows\n");
  return matched == 0 ? 1 : 0;
}

int RunDeleteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 3) return Usage(err, "delete FILE TABLE KEYCOLUMN=VALUE");
  size_t matched = 0;
  int code = RunWrite(args, true, err, [&](jet::Pager& pager, const jet::TableDef& def, jet::RowWriter& writer,
                                           const std::vector<Assignment>& key, const std::vector<Assignment>&) -> jet::Status {
    JET_ASSIGN_OR_RETURN(std::vector<jet::RowId> rows, MatchingRows(pager, def, writer, key[0]));
    for (jet::RowId row : rows) JET_RETURN_IF_ERROR(writer.Delete(row));
    matched = rows.size();
    return jet::Status::Ok();
  });
  if (code != 0) return code;
  out << "deleted " << matched << (matched == 1 ? " row\n" : " rows\n");
  return matched == 0 ? 1 : 0;
}

}  // namespace velloran
