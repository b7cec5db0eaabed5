// Typed column values as the engine reads and writes them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>

namespace jet {

// Column type codes as stored in a table definition.
enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,   // 16-bit signed
  kLong = 0x04,      // 32-bit signed
  kCurrency = 0x05,  // 64-bit signed, scaled by 10,000
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,  // days since 1899-12-30 as a double
  kBinary = 0x09,    // fixed or short variable binary
  kText = 0x0A,
  kOle = 0x0B,       // long binary
  kMemo = 0x0C,      // long text
  kUnknown0D = 0x0D, // seen only in system tables; kept as bytes
  kGuid = 0x0F,      // replication ID
  kDecimal = 0x10,   // Jet 4 "numeric": 17 bytes
  kUnknown11 = 0x11, // binary data of system tables (MSysAccessObjects); kept as bytes
  kComplex = 0x12,   // newer formats only; read as its 32-bit key
};

// The fixed storage size of a type in a row, or 0 for variable-length types. Inline: a row
// reader asks it for every column of every row.
inline int FixedSizeOf(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return 0;  // lives in the null mask
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: return 4;
    case ColumnType::kCurrency: return 8;
    case ColumnType::kSingle: return 4;
    case ColumnType::kDouble: return 8;
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kDecimal: return 17;
    case ColumnType::kComplex: return 4;
    case ColumnType::kOle:
    case ColumnType::kMemo: return 12;
    default: return 0;
  }
}
// True for Memo and OLE, whose row field is a 12-byte pointer to long-value storage.
inline bool IsLongValue(ColumnType type) {
  return type == ColumnType::kMemo || type == ColumnType::kOle;
}
const char* ColumnTypeName(ColumnType type);

struct Currency {
  int64_t scaled = 0;  // value * 10,000
  bool operator==(const Currency&) const = default;
};

struct DateTime {
  double days = 0;  // days since 1899-12-30, fraction = time of day
  bool operator==(const DateTime&) const = default;
};

struct Guid {
  std::array<uint8_t, 16> bytes{};  // as stored
  bool operator==(const Guid&) const = default;
};

struct Decimal {
  bool negative = false;
  uint8_t scale = 0;                // digits after the point
  uint8_t precision = 0;
  std::array<uint32_t, 4> magnitude{};  // little-endian 32-bit words, [0] least significant
  bool operator==(const Decimal&) const = default;
};

struct Null {
  bool operator==(const Null&) const = default;
};

// Text is kept as UTF-16 code units, which is how Jet 4 stores it and how its sort order is defined.
using Text = std::u16string;
using Bytes = std::string;

// Integer holds Byte, Integer and Long; Single is kept as float so that formatting matches its precision.
using Value = std::variant<Null, bool, int64_t, Currency, float, double, DateTime, Text, Bytes, Guid,
                           Decimal>;

inline bool IsNull(const Value& value) { return std::holds_alternative<Null>(value); }

// UTF-8 <-> UTF-16 conversions; unpaired surrogates are encoded as their code points (WTF-8 style),
// so that every stored text round-trips.
std::string ToUtf8(const Text& text);
void AppendUtf8(const Text& text, std::string* out);
Text FromUtf8(const std::string& utf8);

}  // namespace jet
