#include "jet/pages/row_decoder.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/pages/long_value.h"
#include "jet/text/text_codec.h"

namespace jet {

namespace {

Error RowCorrupt(const Pager& pager, const std::string& where, const std::string& what) {
  return Error(ErrorCode::kCorrupt, pager.path() + ", " + where + ": " + what);
}

Error LayoutCorrupt(const std::string& where, const std::string& what) {
  return Error(ErrorCode::kCorrupt, where + ": " + what);
}

// Jet 3 keeps one-byte variable offsets. A row of more than 256 bytes has, between its
// variable-column count and its offsets, a jump table of one byte per 256-byte boundary the row
// crosses ((size - 1) / 256 of them): entry j names the first offset that lies at or past
// boundary j + 1. The table always takes all its bytes, but the entries for boundaries the
// variable data never reaches (the offset table and the row's tail can lie past them) are
// placeholders (Access writes 0xFF) and must not be read as jumps.
Status ReadJet3VarOffsets(const uint8_t* row, uint32_t size, uint32_t mask_size, uint16_t var_count,
                          const std::string& where, std::vector<uint16_t>* offsets) {
  const uint32_t last = size - 1;
  const uint32_t jumps = (size - 1) / 256;
  if (last < mask_size + jumps + 1 + var_count) return LayoutCorrupt(where, "the row is too short for its offset table");
  const uint32_t first_offset = last - mask_size - jumps - 1;  // position of offset 0; the later ones lie below it
  // The data ends where the offset table begins at the latest: only the boundaries below that count.
  const uint32_t used_jumps = std::min(jumps, (first_offset - var_count) / 256);
  uint32_t jumps_passed = 0;
  offsets->clear();
  for (uint32_t i = 0; i <= var_count; ++i) {
    while (jumps_passed < used_jumps && row[last - mask_size - 1 - jumps_passed] == i) ++jumps_passed;
    offsets->push_back(static_cast<uint16_t>(row[first_offset - i] + jumps_passed * 256));
  }
  return Status::Ok();
}

Status ReadJet4VarOffsets(const uint8_t* row, uint32_t size, uint32_t mask_size, uint16_t var_count,
                          const std::string& where, std::vector<uint16_t>* offsets) {
  uint64_t needed = static_cast<uint64_t>(mask_size) + 2 + 2 * (static_cast<uint64_t>(var_count) + 1);
  if (needed > size) return LayoutCorrupt(where, "the row is too short for its " + std::to_string(var_count) + " variable offsets");
  // Rows of a table mostly have the same count: the room of the row before is written over, not
  // emptied and filled again.
  offsets->resize(static_cast<size_t>(var_count) + 1);
  const uint8_t* last_first = row + size - mask_size - 4;  // offset 0; the later ones lie below it
  for (uint32_t i = 0; i <= var_count; ++i) (*offsets)[i] = Get16(last_first - 2 * i);
  return Status::Ok();
}

Value DecodeFixed(JetVersion version, const ColumnDef& column, const uint8_t* p) {
  switch (column.type) {
    case ColumnType::kByte: return static_cast<int64_t>(p[0]);
    case ColumnType::kInteger: return static_cast<int64_t>(static_cast<int16_t>(Get16(p)));
    case ColumnType::kLong:
    case ColumnType::kComplex: return static_cast<int64_t>(static_cast<int32_t>(Get32(p)));
    case ColumnType::kCurrency: return Currency{static_cast<int64_t>(Get64(p))};
    case ColumnType::kSingle: return GetFloat(p);
    case ColumnType::kDouble: return GetDouble(p);
    case ColumnType::kDateTime: return DateTime{GetDouble(p)};
    case ColumnType::kGuid: {
      Guid g;
      for (int i = 0; i < 16; ++i) g.bytes[i] = p[i];
      return g;
    }
    case ColumnType::kDecimal: {
      Decimal d;
      d.negative = (p[0] & 0x80) != 0;
      d.precision = column.precision;
      d.scale = column.scale;
      // Most significant 32-bit word first, each word little-endian.
      for (int w = 0; w < 4; ++w) d.magnitude[3 - w] = Get32(p + 1 + 4 * w);
      return d;
    }
    case ColumnType::kText: return DecodeStoredText(version, p, column.length);
    default: return Bytes(reinterpret_cast<const char*>(p), column.length);
  }
}

}  // namespace

Result<RowLayout> ParseRowLayout(const Format& format, const TableDef& def, const uint8_t* bytes, uint32_t size,
                                 const std::string& where) {
  RowLayout row;
  JET_RETURN_IF_ERROR(ParseRowLayout(format, def, bytes, size, where, &row));
  return row;
}

Status ParseRowLayout(const Format& format, const TableDef& def, const uint8_t* bytes, uint32_t size,
                      const std::string& where, RowLayout* row) {
  row->bytes = bytes;
  row->size = size;
  const uint32_t count_size = format.jet4() ? 2 : 1;
  if (size < count_size + 1) return LayoutCorrupt(where, "the row is too short to hold its column count");
  row->column_count = format.jet4() ? Get16(bytes) : bytes[0];
  row->fixed_start = count_size;
  uint32_t mask_size = (row->column_count + 7u) / 8u;
  if (mask_size + count_size > size) return LayoutCorrupt(where, "the row's null mask does not fit the row");
  row->null_mask = bytes + size - mask_size;
  if (def.var_column_count == 0) {
    // Rows of tables without variable columns carry no offset table.
    row->var_offsets.assign(1, static_cast<uint16_t>(size - mask_size));
    return Status::Ok();
  }
  uint32_t count_at = size - mask_size - count_size;
  if (count_at < count_size) return LayoutCorrupt(where, "the row is too short for its variable-column count");
  uint16_t var_count = format.jet4() ? Get16(bytes + count_at) : bytes[count_at];
  return format.jet4() ? ReadJet4VarOffsets(bytes, size, mask_size, var_count, where, &row->var_offsets)
                       : ReadJet3VarOffsets(bytes, size, mask_size, var_count, where, &row->var_offsets);
}

Result<Value> DecodeColumn(Pager& pager, const TableDef& def, const ColumnDef& column, const RowLayout& row,
                           const std::string& where) {
  JetVersion version = pager.format().version;
  bool present = row.Present(column.number);
  if (column.type == ColumnType::kBoolean) return Value(present);
  if (!present) return Value(Null{});
  if (column.fixed()) {
    uint32_t start = row.fixed_start + column.fixed_offset;
    uint32_t length = StoredFixedSize(column);
    if (start + length > row.size) return RowCorrupt(pager, where, "column \"" + column.name + "\" lies outside the row");
    return DecodeFixed(version, column, row.bytes + start);
  }
  size_t var_count = row.var_offsets.size() - 1;
  if (column.var_index >= var_count) return Value(Null{});  // the column was added after this row
  uint32_t start = row.var_offsets[column.var_index];
  uint32_t end = row.var_offsets[column.var_index + 1];
  if (start > end || end > row.size) {
    return RowCorrupt(pager, where, "column \"" + column.name + "\" has offsets " + std::to_string(start) + ".." +
                                        std::to_string(end) + " outside the row of " + std::to_string(row.size) + " bytes");
  }
  const uint8_t* data = row.bytes + start;
  uint32_t length = end - start;
  if (IsLongValue(column.type)) {
    auto bytes = ReadLongValue(pager, data, length);
    if (!bytes.ok()) return bytes.error().WithContext(where + ", column \"" + column.name + "\"");
    if (column.type == ColumnType::kOle) return Value(std::move(bytes).value());
    const Bytes& b = bytes.value();
    return Value(DecodeStoredText(version, reinterpret_cast<const uint8_t*>(b.data()), b.size()));
  }
  if (column.type == ColumnType::kText) return Value(DecodeStoredText(version, data, length));
  if (column.type == ColumnType::kBinary) return Value(Bytes(reinterpret_cast<const char*>(data), length));
  // A fixed-size type stored as a variable column: decode when the bytes are all there.
  if (length < StoredFixedSize(column)) return RowCorrupt(pager, where, "column \"" + column.name + "\" is truncated");
  return DecodeFixed(version, column, data);
}

bool DecodeInRow(JetVersion version, const ColumnDef& column, const RowLayout& row, Value* value) {
  // A value of the type the previous row's had is overwritten where it is.
  switch (WhereInRow(column, row)) {
    case InRow::kBoolean: {
      const bool present = row.Present(column.number);
      if (bool* held = std::get_if<bool>(value)) *held = present;
      else *value = present;
      return true;
    }
    case InRow::kNull: *value = Null{}; return true;
    case InRow::kFixed: {
      int64_t whole;
      if (!WholeInRow(column, row, &whole)) *value = DecodeFixed(version, column, row.bytes + row.fixed_start + column.fixed_offset);
      else if (int64_t* held = std::get_if<int64_t>(value)) *held = whole;
      else *value = whole;
      return true;
    }
    case InRow::kVarText: {
      const uint32_t start = row.var_offsets[column.var_index];
      Text* text = std::get_if<Text>(value);
      if (text == nullptr) text = &value->emplace<Text>();
      DecodeStoredText(version, row.bytes + start, row.var_offsets[column.var_index + 1] - start, text);
      return true;
    }
    case InRow::kNo: break;
  }
  return false;
}

Status DecodeColumn(Pager& pager, const TableDef& def, const ColumnDef& column, const RowLayout& row,
                    const std::string& where, Value* value) {
  // What every row of a list has (Yes/No, numbers, dates, variable-length text) is set in place,
  // a text decoded into the buffer the value already has; everything else (and every error)
  // takes the general path.
  if (DecodeInRow(pager.format().version, column, row, value)) return Status::Ok();
  JET_ASSIGN_OR_RETURN(*value, DecodeColumn(pager, def, column, row, where));
  return Status::Ok();
}

Status DecodeRow(Pager& pager, const TableDef& def, const uint8_t* bytes, uint32_t size, const std::string& where,
                 std::vector<Value>* values) {
  auto layout = ParseRowLayout(pager.format(), def, bytes, size, pager.path() + ", " + where);
  if (!layout.ok()) return layout.error();
  values->clear();
  values->reserve(def.columns.size());
  for (const ColumnDef& column : def.columns) {
    JET_ASSIGN_OR_RETURN(Value v, DecodeColumn(pager, def, column, layout.value(), where));
    values->push_back(std::move(v));
  }
  return Status::Ok();
}

}  // namespace jet
