#include "jet/pages/row_encoder.h"

#include <array>
#include <cmath>
#include <cstring>
#include <span>

#include "jet/base/bytes.h"
#include "jet/pages/data_page_writer.h"
#include "jet/pages/row_decoder.h"

namespace jet {

namespace {

constexpr size_t kMaxCompressedMemoChars = 1024;

constexpr const char* kNotANumber = "cannot hold infinity or an undefined number (NaN); give a number";

Error Invalid(const ColumnDef& column, const std::string& what) {
  return Error(ErrorCode::kInvalidArgument, "column \"" + column.name + "\" (" + ColumnTypeName(column.type) + "): " + what);
}

template <typename T>
Result<T> As(const ColumnDef& column, const Value& value, const char* expected) {
  if (const T* v = std::get_if<T>(&value)) return *v;
  return Invalid(column, std::string("expects ") + expected);
}

// The text of a text value, without copying it.
Result<const Text*> TextOf(const ColumnDef& column, const Value& value) {
  if (const Text* text = std::get_if<Text>(&value)) return text;
  return Invalid(column, "expects text");
}

Result<std::string> EncodeInteger(const ColumnDef& column, const Value& value, int bytes, int64_t low, int64_t high) {
  JET_ASSIGN_OR_RETURN(int64_t v, As<int64_t>(column, value, "an integer"));
  if (v < low || v > high) {
    return Invalid(column, std::to_string(v) + " is outside " + std::to_string(low) + ".." + std::to_string(high));
  }
  std::string out(static_cast<size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
  return out;
}

std::string Little64(uint64_t bits) {
  std::string out(8, '\0');
  Put64(reinterpret_cast<uint8_t*>(out.data()), bits);
  return out;
}

Result<std::string> EncodeDecimal(const ColumnDef& column, const Value& value) {
  JET_ASSIGN_OR_RETURN(Decimal d, As<Decimal>(column, value, "a Decimal"));
  if (d.scale != column.scale) {
    return Invalid(column, "the value has " + std::to_string(d.scale) + " decimal places, the column " + std::to_string(column.scale));
  }
  unsigned __int128 magnitude = 0, limit = 1;
  for (int w = 3; w >= 0; --w) magnitude = (magnitude << 32) | d.magnitude[w];
  for (int i = 0; i < column.precision && i < 38; ++i) limit *= 10;
  if (magnitude >= limit) return Invalid(column, "the value has more than " + std::to_string(column.precision) + " digits");
  std::string out(17, '\0');
  out[0] = d.negative && magnitude != 0 ? static_cast<char>(0x80) : 0;
  // Most significant 32-bit word first, each word little-endian.
  for (int w = 0; w < 4; ++w) Put32(reinterpret_cast<uint8_t*>(out.data()) + 1 + 4 * w, d.magnitude[3 - w]);
  return out;
}

Result<std::string> EncodeFixedText(const ColumnDef& column, const Value& value) {
  JET_ASSIGN_OR_RETURN(Text text, As<Text>(column, value, "text"));
  size_t chars = column.length / 2;
  if (text.size() > chars) return Invalid(column, "holds at most " + std::to_string(chars) + " characters");
  text.resize(chars, u' ');
  std::string out(column.length, '\0');
  for (size_t i = 0; i < chars; ++i) Put16(reinterpret_cast<uint8_t*>(out.data()) + 2 * i, text[i]);
  return out;
}

Result<std::string> EncodeBytes(const ColumnDef& column, const Value& value, bool fixed) {
  JET_ASSIGN_OR_RETURN(Bytes bytes, As<Bytes>(column, value, "bytes"));
  uint32_t limit = fixed ? StoredFixedSize(column) : column.length;
  if (column.type != ColumnType::kOle && limit > 0 && bytes.size() > limit) {
    return Invalid(column, "holds at most " + std::to_string(limit) + " bytes");
  }
  if (fixed) bytes.resize(limit, '\0');
  return bytes;
}

// The bytes of a value of a type whose size is fixed (whether the column is fixed or variable).
Result<std::string> EncodeSized(const ColumnDef& column, const Value& value) {
  switch (column.type) {
    case ColumnType::kByte: return EncodeInteger(column, value, 1, 0, 255);
    case ColumnType::kInteger: return EncodeInteger(column, value, 2, INT16_MIN, INT16_MAX);
    case ColumnType::kLong:
    case ColumnType::kComplex: return EncodeInteger(column, value, 4, INT32_MIN, INT32_MAX);
    case ColumnType::kCurrency: {
      JET_ASSIGN_OR_RETURN(Currency c, As<Currency>(column, value, "a Currency amount"));
      return Little64(static_cast<uint64_t>(c.scaled));
    }
    case ColumnType::kSingle: {
      JET_ASSIGN_OR_RETURN(float f, As<float>(column, value, "a Single"));
      if (!std::isfinite(f)) return Invalid(column, kNotANumber);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      std::string out(4, '\0');
      Put32(reinterpret_cast<uint8_t*>(out.data()), bits);
      return out;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d;
      if (column.type == ColumnType::kDouble) {
        JET_ASSIGN_OR_RETURN(d, As<double>(column, value, "a Double"));
        if (!std::isfinite(d)) return Invalid(column, kNotANumber);
      } else {
        JET_ASSIGN_OR_RETURN(DateTime t, As<DateTime>(column, value, "a Date/Time"));
        d = t.days;
      }
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      return Little64(bits);
    }
    case ColumnType::kGuid: {
      JET_ASSIGN_OR_RETURN(Guid g, As<Guid>(column, value, "a GUID"));
      return std::string(g.bytes.begin(), g.bytes.end());
    }
    case ColumnType::kDecimal: return EncodeDecimal(column, value);
    default: return Invalid(column, "has a type that cannot be written");
  }
}

bool Compressible(const Text& text, size_t max_chars) {
  // Two characters or fewer would not get shorter behind the two-byte marker.
  if (text.size() <= 2 || text.size() > max_chars) return false;
  for (char16_t c : text)
    if (c < 0x01 || c > 0xFF) return false;
  return true;
}

Result<std::string> EncodeVariable(const ColumnDef& column, const Value& value) {
  switch (column.type) {
    case ColumnType::kText: {
      JET_ASSIGN_OR_RETURN(const Text* text, TextOf(column, value));
      if (text->size() * 2 > column.length) return Invalid(column, "holds at most " + std::to_string(column.length / 2) + " characters");
      return EncodeText(column, *text);
    }
    case ColumnType::kMemo: {
      JET_ASSIGN_OR_RETURN(const Text* text, TextOf(column, value));
      return EncodeText(column, *text);
    }
    case ColumnType::kOle:
    case ColumnType::kBinary:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: return EncodeBytes(column, value, false);
    default: return EncodeSized(column, value);
  }
}

Result<std::string> EncodeFixed(const ColumnDef& column, const Value& value) {
  switch (column.type) {
    case ColumnType::kText: return EncodeFixedText(column, value);
    case ColumnType::kBinary:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: return EncodeBytes(column, value, true);
    default: {
      JET_ASSIGN_OR_RETURN(std::string bytes, EncodeSized(column, value));
      if (bytes.size() != StoredFixedSize(column)) {
        return Invalid(column, "its definition gives it " + std::to_string(StoredFixedSize(column)) + " bytes, not " +
                                   std::to_string(bytes.size()));
      }
      return bytes;
    }
  }
}

uint32_t FixedAreaSize(const TableDef& def) {
  uint32_t end = 0;
  for (const ColumnDef& c : def.columns)
    if (c.fixed() && c.type != ColumnType::kBoolean) end = std::max(end, c.fixed_offset + StoredFixedSize(c));
  return end;
}

uint32_t MaskSize(const TableDef& def) { return (def.max_columns + 7u) / 8u; }

}  // namespace

std::string EncodeText(const ColumnDef& column, const Text& text) {
  size_t limit = column.type == ColumnType::kMemo ? kMaxCompressedMemoChars : SIZE_MAX;
  std::string out;
  if (column.compressed_unicode() && Compressible(text, limit)) {
    out.reserve(text.size() + 2);
    out += "\xFF\xFE";
    for (char16_t c : text) out.push_back(static_cast<char>(c));
    return out;
  }
  out.resize(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) Put16(reinterpret_cast<uint8_t*>(out.data()) + 2 * i, text[i]);
  return out;
}

Result<StoredColumn> EncodeColumn(const ColumnDef& column, const Value& value) {
  StoredColumn stored;
  if (column.type == ColumnType::kBoolean) {
    if (IsNull(value)) return stored;  // a Boolean cannot be NULL; Access stores No
    JET_ASSIGN_OR_RETURN(stored.present, As<bool>(column, value, "a Boolean"));
    return stored;
  }
  if (IsNull(value)) return stored;
  stored.present = true;
  if (column.fixed()) {
    JET_ASSIGN_OR_RETURN(stored.bytes, EncodeFixed(column, value));
  } else {
    JET_ASSIGN_OR_RETURN(stored.bytes, EncodeVariable(column, value));
  }
  return stored;
}

uint32_t AssembledRowSize(const TableDef& def, const std::vector<StoredColumn>& columns) {
  uint32_t size = 2 + FixedAreaSize(def) + MaskSize(def);
  if (def.var_column_count == 0) return size;
  size += 2 + 2 * def.var_column_count + 2;
  for (size_t i = 0; i < def.columns.size() && i < columns.size(); ++i)
    if (!def.columns[i].fixed() && columns[i].present) size += static_cast<uint32_t>(columns[i].bytes.size());
  return size;
}

Result<std::string> AssembleRow(const TableDef& def, const std::vector<StoredColumn>& columns) {
  if (columns.size() != def.columns.size()) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\" has " + std::to_string(def.columns.size()) +
                                                  " columns, not " + std::to_string(columns.size()));
  }
  const uint32_t size = AssembledRowSize(def, columns);
  if (size > kMaxRowSize) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": the row needs " + std::to_string(size) +
                                                  " bytes; a row holds at most " + std::to_string(kMaxRowSize));
  }
  // Laid out in place in one allocation: column count, fixed area, variable data, then the
  // variable offsets (last slot first), their count and the null mask.
  std::string row(size, '\0');
  uint8_t* out = reinterpret_cast<uint8_t*>(row.data());
  Put16(out, def.max_columns);
  uint8_t* mask = out + size - MaskSize(def);
  // By variable slot; on the stack for any table but the widest.
  std::array<const StoredColumn*, 64> small_slots{};
  std::vector<const StoredColumn*> large_slots(def.var_column_count > small_slots.size() ? def.var_column_count : 0, nullptr);
  std::span<const StoredColumn*> by_slot = large_slots.empty() ? std::span<const StoredColumn*>(small_slots.data(), def.var_column_count)
                                                               : std::span<const StoredColumn*>(large_slots);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (c.number >= def.max_columns) return Error(ErrorCode::kCorrupt, "column \"" + c.name + "\" has a number beyond the table's");
    if (columns[i].present) mask[c.number / 8] |= static_cast<uint8_t>(1 << (c.number % 8));
    if (c.type == ColumnType::kBoolean || !columns[i].present) continue;
    if (c.fixed()) {
      std::memcpy(out + 2 + c.fixed_offset, columns[i].bytes.data(), columns[i].bytes.size());
    } else if (c.var_index < def.var_column_count) {
      by_slot[c.var_index] = &columns[i];
    } else {
      return Error(ErrorCode::kCorrupt, "column \"" + c.name + "\" has a variable slot beyond the table's");
    }
  }
  if (def.var_column_count > 0) {
    const size_t slots = by_slot.size();
    uint32_t at = 2 + FixedAreaSize(def);
    uint8_t* offsets = mask - 2 - 2 * slots - 2;  // the end of data, then the slots' starts
    for (size_t i = 0; i < slots; ++i) {
      Put16(offsets + 2 + 2 * (slots - 1 - i), static_cast<uint16_t>(at));
      if (by_slot[i] == nullptr) continue;
      std::memcpy(out + at, by_slot[i]->bytes.data(), by_slot[i]->bytes.size());
      at += static_cast<uint32_t>(by_slot[i]->bytes.size());
    }
    Put16(offsets, static_cast<uint16_t>(at));
    Put16(offsets + 2 + 2 * slots, static_cast<uint16_t>(slots));
  }
  return row;
}

}  // namespace jet
