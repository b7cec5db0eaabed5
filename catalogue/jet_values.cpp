#include "catalogue/jet_values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "jet/base/calendar.h"
#include "jet/sql/sql_expression.h"

namespace velloran {

namespace {

using jet::ColumnType;
using jet::Value;

using jet::CivilFromDays;
using jet::DaysFromCivil;

constexpr int64_t kOleEpoch = jet::kDateTimeEpochDays;

jet::Error Refused(const jet::ColumnDef& column, const FieldValue& value, const std::string& expected) {
  return jet::Error(jet::ErrorCode::kInvalidArgument, "field \"" + column.name + "\" (" + jet::ColumnTypeName(column.type) +
                                                          ") cannot hold \"" + value.ToText() + "\": it takes " + expected);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// The value as the literal the engine's SQL conversions take.
Value LiteralOf(const FieldValue& value) {
  if (value.is_bool()) return Value(value.ToBool());
  if (value.is_integer()) return Value(value.ToInteger());
  if (value.is_number()) return Value(value.ToNumber());
  return Value(jet::FromUtf8(value.ToText()));
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::optional<std::string> FromHex(const std::string& text) {
  std::string hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (size_t j = i; j < i + 2; ++j) {
      char c = hex[j];
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    out.push_back(static_cast<char>(value));
  }
  return out;
}

// GUID bytes are stored with the first three groups little-endian.
constexpr int kGuidStoredOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

std::string FormatGuid(const jet::Guid& guid) {
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += Hex(std::string(1, static_cast<char>(guid.bytes[kGuidStoredOrder[i]])));
  }
  return text + "}";
}

std::optional<jet::Guid> ParseGuid(const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != '{' && c != '}' && c != '-') hex += c;
  auto bytes = hex.size() == 32 ? FromHex(hex) : std::nullopt;
  if (!bytes) return std::nullopt;
  jet::Guid guid;
  for (int i = 0; i < 16; ++i) guid.bytes[kGuidStoredOrder[i]] = static_cast<uint8_t>((*bytes)[i]);
  return guid;
}

double DecimalToDouble(const jet::Decimal& d) {
  long double magnitude = 0;
  for (int w = 3; w >= 0; --w) magnitude = magnitude * 4294967296.0L + d.magnitude[w];
  magnitude /= std::pow(10.0L, d.scale);
  return static_cast<double>(d.negative ? -magnitude : magnitude);
}

jet::Result<Value> ToDecimal(double number, const jet::ColumnDef& column, const FieldValue& value) {
  const long double scaled = std::nearbyint(std::fabs(static_cast<long double>(number)) * std::pow(10.0L, column.scale));
  const long double limit = std::pow(10.0L, column.precision);
  if (!std::isfinite(number) || scaled >= limit) {
    return Refused(column, value, "a number of at most " + std::to_string(column.precision) + " digits");
  }
  jet::Decimal d;
  d.precision = column.precision;
  d.scale = column.scale;
  unsigned __int128 m = static_cast<unsigned __int128>(scaled);
  d.negative = number < 0 && m != 0;
  for (int w = 0; w < 4; ++w) d.magnitude[w] = static_cast<uint32_t>(m >> (32 * w));
  return Value(d);
}

}  // namespace

FieldType FieldTypeOf(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return FieldType::kBoolean;
    case ColumnType::kByte: return FieldType::kByte;
    case ColumnType::kInteger: return FieldType::kInteger;
    case ColumnType::kLong:
    case ColumnType::kComplex: return FieldType::kLong;
    case ColumnType::kCurrency: return FieldType::kCurrency;
    case ColumnType::kSingle: return FieldType::kSingle;
    case ColumnType::kDouble: return FieldType::kDouble;
    case ColumnType::kDateTime: return FieldType::kDate;
    case ColumnType::kBinary: return FieldType::kBinary;
    case ColumnType::kText: return FieldType::kText;
    case ColumnType::kMemo: return FieldType::kMemo;
    case ColumnType::kGuid: return FieldType::kGuid;
    case ColumnType::kDecimal: return FieldType::kDecimal;
    case ColumnType::kOle:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: return FieldType::kLongBinary;
  }
  return FieldType::kLongBinary;
}

std::optional<ColumnType> ColumnTypeOf(FieldType type) {
  switch (type) {
    case FieldType::kBoolean: return ColumnType::kBoolean;
    case FieldType::kByte: return ColumnType::kByte;
    case FieldType::kInteger: return ColumnType::kInteger;
    case FieldType::kLong: return ColumnType::kLong;
    case FieldType::kCurrency: return ColumnType::kCurrency;
    case FieldType::kSingle: return ColumnType::kSingle;
    case FieldType::kDouble: return ColumnType::kDouble;
    case FieldType::kDate: return ColumnType::kDateTime;
    case FieldType::kBinary: return ColumnType::kBinary;
    case FieldType::kText: return ColumnType::kText;
    case FieldType::kLongBinary: return ColumnType::kOle;
    case FieldType::kMemo: return ColumnType::kMemo;
    case FieldType::kGuid: return ColumnType::kGuid;
    case FieldType::kDecimal: return ColumnType::kDecimal;
  }
  return std::nullopt;
}

FieldValue FromJetValue(const Value& value) {
  struct Visitor {
    FieldValue operator()(const jet::Null&) const { return FieldValue(); }
    FieldValue operator()(bool b) const { return FieldValue(b); }
    FieldValue operator()(int64_t i) const { return FieldValue(i); }
    FieldValue operator()(const jet::Currency& c) const { return FieldValue(static_cast<double>(c.scaled) / 10000.0); }
    FieldValue operator()(float f) const {
      // A Single reads as the number its shortest decimal form spells (0.1, not 0.100000001...).
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(f));
      for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(f));
        if (std::strtof(buffer, nullptr) == f) break;
      }
      return FieldValue(std::strtod(buffer, nullptr));
    }
    FieldValue operator()(double d) const { return FieldValue(d); }
    FieldValue operator()(const jet::DateTime& d) const { return FieldValue(FormatDate(d.days)); }
    FieldValue operator()(const jet::Text& t) const { return FieldValue(jet::ToUtf8(t)); }
    FieldValue operator()(const jet::Bytes& b) const { return FieldValue(Hex(b)); }
    FieldValue operator()(const jet::Guid& g) const { return FieldValue(FormatGuid(g)); }
    FieldValue operator()(const jet::Decimal& d) const { return FieldValue(DecimalToDouble(d)); }
  };
  return std::visit(Visitor{}, value);
}

void AssignFromJetValue(const Value& value, FieldValue* target) {
  if (const auto* text = std::get_if<jet::Text>(&value)) {
    jet::AppendUtf8(*text, &target->ResetToText());
  } else {
    *target = FromJetValue(value);
  }
}

jet::Result<Value> ToColumnValue(const FieldValue& value, const jet::ColumnDef& column) {
  if (value.is_null()) return Value(jet::Null{});
  switch (column.type) {
    case ColumnType::kBoolean: {
      if (!value.is_text()) return Value(value.ToBool());
      const std::string t = Lower(value.ToText());
      if (t == "true" || t == "yes" || t == "on" || t == "-1" || t == "1") return Value(true);
      if (t == "false" || t == "no" || t == "off" || t == "0") return Value(false);
      return Refused(column, value, "Yes or No");
    }
    case ColumnType::kText:
    case ColumnType::kMemo: return Value(jet::FromUtf8(value.ToText()));
    case ColumnType::kDateTime: {
      if (value.is_text()) {
        if (std::optional<double> days = ParseDate(value.ToText())) return Value(jet::DateTime{*days});
      }
      auto number = jet::ConvertToColumn(LiteralOf(value), column, false);
      if (!number.ok()) return Refused(column, value, "a date (YYYY-MM-DD [HH:MM[:SS]])");
      return number;
    }
    case ColumnType::kDecimal: {
      if (value.is_text()) {
        auto number = jet::ConvertToColumn(LiteralOf(value), jet::ColumnDef{column.name, ColumnType::kDouble}, false);
        if (!number.ok()) return Refused(column, value, "a number");
        return ToDecimal(std::get<double>(number.value()), column, value);
      }
      return ToDecimal(value.ToNumber(), column, value);
    }
    case ColumnType::kGuid: {
      std::optional<jet::Guid> guid = value.is_text() ? ParseGuid(value.ToText()) : std::nullopt;
      if (!guid) return Refused(column, value, "a GUID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
      return Value(*guid);
    }
    case ColumnType::kBinary:
    case ColumnType::kOle:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: {
      std::optional<std::string> bytes = value.is_text() ? FromHex(value.ToText()) : std::nullopt;
      if (!bytes) return Refused(column, value, "bytes written as hex digits");
      return Value(jet::Bytes(*bytes));
    }
    default: {
      auto converted = jet::ConvertToColumn(LiteralOf(value), column, false);
      if (!converted.ok()) {
        return jet::Error(jet::ErrorCode::kInvalidArgument, "field \"" + column.name + "\" cannot hold \"" + value.ToText() +
                                                                "\": " + converted.error().message());
      }
      return converted;
    }
  }
}

jet::Result<Value> AsLiteral(const Value& stored, const jet::ColumnDef& column) {
  struct Visitor {
    std::optional<Value> operator()(const jet::Null&) const { return Value(jet::Null{}); }
    std::optional<Value> operator()(bool b) const { return Value(b); }
    std::optional<Value> operator()(int64_t i) const { return Value(i); }
    std::optional<Value> operator()(const jet::Currency& c) const { return Value(static_cast<double>(c.scaled) / 10000.0); }
    std::optional<Value> operator()(float f) const { return Value(static_cast<double>(f)); }
    std::optional<Value> operator()(double d) const { return Value(d); }
    std::optional<Value> operator()(const jet::DateTime& d) const { return Value(d.days); }
    std::optional<Value> operator()(const jet::Text& t) const { return Value(t); }
    std::optional<Value> operator()(const jet::Bytes&) const { return std::nullopt; }
    std::optional<Value> operator()(const jet::Guid&) const { return std::nullopt; }
    std::optional<Value> operator()(const jet::Decimal& d) const { return Value(DecimalToDouble(d)); }
  };
  std::optional<Value> literal = std::visit(Visitor{}, stored);
  if (!literal) {
    return jet::Error(jet::ErrorCode::kInvalidArgument, std::string("cannot seek on field \"") + column.name + "\" (" +
                                                            jet::ColumnTypeName(column.type) + ")");
  }
  return *literal;
}

std::string FormatDate(double days) {
  const double whole = std::trunc(days);
  int64_t day = static_cast<int64_t>(whole);
  // Before 1899-12-30 the day counts down while the time of day still counts up.
  int64_t seconds = std::llround(std::fabs(days - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += days < 0 ? -1 : 1;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(day + kOleEpoch, &y, &m, &d);
  char buffer[48];
  if (seconds == 0) {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(y), m, d,
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  }
  return buffer;
}

std::optional<double> ParseDate(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = 0;
  char sep = ' ';
  int n = std::sscanf(text.c_str(), "%d-%d-%d%n%c%d:%d%n:%d%n", &y, &mo, &d, &consumed, &sep, &h, &mi, &consumed, &s, &consumed);
  const bool shape = (n == 3 || ((n == 6 || n == 7) && (sep == ' ' || sep == 'T'))) &&
                     static_cast<size_t>(consumed) == text.size();
  static constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  const bool day_ok = mo >= 1 && mo <= 12 && d >= 1 && d <= kMonthDays[mo - 1] && !(mo == 2 && d == 29 && !leap);
  if (!shape || !day_ok || y < 100 || y > 9999 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) {
    return std::nullopt;
  }
  const double day = static_cast<double>(DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - kOleEpoch);
  const double time = (h * 3600 + mi * 60 + s) / 86400.0;
  return day < 0 ? day - time : day + time;
}

}  // namespace velloran
