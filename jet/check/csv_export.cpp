#include "jet/check/csv_export.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace jet {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatDateTime(double days) {
  // Days since 1899-12-30; the fraction is the time of day regardless of the sign of the day.
  double whole = std::trunc(days);
  double fraction = std::fabs(days - whole);
  long long seconds_of_day = std::llround(fraction * 86400.0);
  long long day = static_cast<long long>(whole);
  if (seconds_of_day >= 86400) { seconds_of_day -= 86400; ++day; }
  time_t t = static_cast<time_t>((day - 25569) * 86400LL + seconds_of_day);
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%m/%d/%y %H:%M:%S", &tm);
  return buf;
}

std::string FormatDecimal(const Decimal& d) {
  // 128-bit magnitude to decimal digits by repeated division.
  std::array<uint32_t, 4> m = d.magnitude;
  std::string digits;
  auto is_zero = [&] { return m[0] == 0 && m[1] == 0 && m[2] == 0 && m[3] == 0; };
  while (!is_zero()) {
    uint64_t rem = 0;
    for (int i = 3; i >= 0; --i) {
      uint64_t cur = (rem << 32) | m[i];
      m[i] = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  }
  while (digits.size() <= d.scale) digits.insert(digits.begin(), '0');
  std::string out = d.negative ? "-" : "";
  out += digits.substr(0, digits.size() - d.scale);
  if (d.scale > 0) out += "." + digits.substr(digits.size() - d.scale);
  return out;
}

std::string FormatBinary(const Bytes& b) { return b; }

}  // namespace

std::string FormatExportField(const ColumnDef& column, const Value& value) {
  if (IsNull(value)) return "";
  char buf[64];
  switch (column.type) {
    case ColumnType::kBoolean: return std::get<bool>(value) ? "1" : "0";
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kComplex: return std::to_string(std::get<int64_t>(value));
    case ColumnType::kCurrency: {
      // Exact, from the scaled integer: a double would lose the last digits of large amounts.
      int64_t scaled = std::get<Currency>(value).scaled;
      uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
      std::snprintf(buf, sizeof buf, "%s%llu.%04llu", scaled < 0 ? "-" : "",
                    static_cast<unsigned long long>(magnitude / 10000), static_cast<unsigned long long>(magnitude % 10000));
      return buf;
    }
    case ColumnType::kSingle: std::snprintf(buf, sizeof buf, "%.8g", static_cast<double>(std::get<float>(value))); return buf;
    case ColumnType::kDouble: std::snprintf(buf, sizeof buf, "%.16g", std::get<double>(value)); return buf;
    case ColumnType::kDateTime: return Quote(FormatDateTime(std::get<DateTime>(value).days));
    case ColumnType::kDecimal: return FormatDecimal(std::get<Decimal>(value));
    case ColumnType::kText:
    case ColumnType::kMemo: {
      // The reference tools print an empty text exactly like NULL: an empty field.
      const Text& text = std::get<Text>(value);
      return text.empty() ? std::string() : Quote(ToUtf8(text));
    }
    case ColumnType::kGuid: {
      const auto& g = std::get<Guid>(value).bytes;
      std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3], g[2], g[1],
                    g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
      return Quote(buf);
    }
    default: {
      if (const Bytes* b = std::get_if<Bytes>(&value)) return Quote(FormatBinary(*b));
      return "";
    }
  }
}

void AppendExportLine(const std::vector<ColumnDef>& columns, const std::vector<Value>& values, std::string* out) {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) *out += ',';
    *out += FormatExportField(columns[i], values[i]);
  }
  *out += '\n';
}

// The whole table is read under one hold of the read lock, so that the rows are those of one
// state of the file; they are gathered first and written out after, so that a slow reader of
// `out` does not keep writers waiting.
Status ExportTableCsv(Database& db, const std::string& table, std::ostream& out) {
  std::string text;
  {
    ReadScope scope(db.pager());
    JET_RETURN_IF_ERROR(scope.status());
    JET_ASSIGN_OR_RETURN(TableDef def, db.ReadTable(table));
    for (size_t i = 0; i < def.columns.size(); ++i) text += (i ? "," : "") + def.columns[i].name;
    text += "\n";
    auto cursor = TableCursor::Open(db.pager(), def);
    if (!cursor.ok()) return cursor.error().WithContext("exporting table \"" + def.name + "\"");
    while (true) {
      auto more = cursor.value()->Next();
      if (!more.ok()) return more.error().WithContext("exporting table \"" + def.name + "\"");
      if (!more.value()) break;
      AppendExportLine(def.columns, cursor.value()->values(), &text);
    }
  }
  out << text;
  return Status::Ok();
}

}  // namespace jet
