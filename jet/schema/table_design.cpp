#include "jet/schema/table_design.h"

#include <algorithm>

#include <set>

#include "jet/pages/index_key.h"

namespace jet {

namespace {

constexpr size_t kMaxNameLength = 64;
constexpr size_t kMaxIndexColumns = 10;
constexpr uint8_t kIndexAlwaysSet = 0x80;

Error Invalid(const std::string& message) { return Error(ErrorCode::kInvalidArgument, message); }

}  // namespace

Status CheckObjectName(const std::string& name, const std::string& what) {
  Text text = FromUtf8(name);
  if (text.empty()) return Invalid((what == "index" ? "an " : "a ") + what + " needs a name");
  if (text.size() > kMaxNameLength) {
    return Invalid("the " + what + " name \"" + name + "\" is longer than " + std::to_string(kMaxNameLength) + " characters");
  }
  if (text[0] == u' ') return Invalid("the " + what + " name \"" + name + "\" starts with a blank");
  for (char16_t c : text) {
    if (c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') {
      return Invalid("the " + what + " name \"" + name + "\" contains '" + std::string(1, static_cast<char>(c)) +
                     "', which Access does not allow in names");
    }
    if (c < 0x20) return Invalid("the " + what + " name \"" + name + "\" contains a control character");
  }
  return Status::Ok();
}

bool IsVariableType(ColumnType type) {
  return type == ColumnType::kText || type == ColumnType::kBinary || IsLongValue(type);
}

Status CheckColumnDesign(const ColumnDesign& design) {
  JET_RETURN_IF_ERROR(CheckObjectName(design.name, "column"));
  switch (design.type) {
    case ColumnType::kBoolean: case ColumnType::kByte: case ColumnType::kInteger: case ColumnType::kLong:
    case ColumnType::kCurrency: case ColumnType::kSingle: case ColumnType::kDouble: case ColumnType::kDateTime:
    case ColumnType::kMemo: case ColumnType::kOle: case ColumnType::kGuid:
      break;
    case ColumnType::kText:
    case ColumnType::kBinary:
      if (design.size < 1 || design.size > 255) {
        return Invalid("column \"" + design.name + "\": a " + ColumnTypeName(design.type) + " column holds 1 to 255 " +
                       (design.type == ColumnType::kText ? "characters" : "bytes"));
      }
      break;
    case ColumnType::kDecimal:
      if (design.precision < 1 || design.precision > 28 || design.scale > design.precision) {
        return Invalid("column \"" + design.name + "\": a Decimal needs a precision of 1 to 28 and a scale no larger");
      }
      break;
    default:
      return Error(ErrorCode::kUnsupported, "column \"" + design.name + "\": columns of type " +
                                                ColumnTypeName(design.type) + " cannot be created");
  }
  if (design.autonumber && design.type != ColumnType::kLong) {
    return Invalid("column \"" + design.name + "\": only a Long column can be an autonumber");
  }
  return Status::Ok();
}

Status CheckSingleAutonumber(const TableDef& def, const ColumnDesign& design) {
  if (!design.autonumber) return Status::Ok();
  for (const ColumnDef& c : def.columns) {
    if (c.autonumber() || (c.flags & kColumnAutoGuid) != 0) {
      return Invalid("table \"" + def.name + "\": column \"" + design.name + "\" cannot be an autonumber, as \"" + c.name +
                     "\" already is; a table has at most one autonumber column");
    }
  }
  return Status::Ok();
}

ColumnDef MakeColumnDef(const ColumnDesign& design, uint16_t number, uint16_t var_index, uint16_t fixed_offset,
                        uint16_t sort_order) {
  ColumnDef c;
  c.name = design.name;
  c.type = design.type;
  c.number = number;
  c.flags = kColumnNullable;
  if (!IsVariableType(design.type)) c.flags |= kColumnFixed;
  if (design.autonumber) c.flags |= kColumnAutoNumber;
  c.var_index = IsVariableType(design.type) ? var_index : 0;
  // A Boolean lives in the null mask and takes no place in the fixed area.
  c.fixed_offset = IsVariableType(design.type) || design.type == ColumnType::kBoolean ? 0 : fixed_offset;
  if (design.type == ColumnType::kDecimal) {
    c.precision = design.precision;
    c.scale = design.scale;
    c.sort_order = static_cast<uint16_t>(design.precision | (design.scale << 8));
  } else {
    // Access writes the sort order into every column, not only text ones; the reader sees the
    // same two bytes as precision and scale.
    c.sort_order = sort_order;
    c.precision = static_cast<uint8_t>(sort_order & 0xFF);
    c.scale = static_cast<uint8_t>(sort_order >> 8);
  }
  if (design.type == ColumnType::kText) c.length = static_cast<uint16_t>(design.size * 2);
  else if (design.type == ColumnType::kBinary) c.length = design.size;
  else if (design.type == ColumnType::kBoolean) c.length = 1;
  else if (!IsLongValue(design.type)) c.length = static_cast<uint16_t>(FixedSizeOf(design.type));
  bool textual = design.type == ColumnType::kText || design.type == ColumnType::kMemo;
  if (textual && design.compressed_unicode) c.extra_flags |= kColumnCompressedUnicode;
  return c;
}

uint16_t FixedAreaSize(const ColumnDef& column) {
  if (column.type == ColumnType::kBoolean || !column.fixed()) return 0;
  int size = FixedSizeOf(column.type);
  return static_cast<uint16_t>(size > 0 ? size : column.length);
}

Status CheckIndexDesign(const TableDef& def, const IndexDesign& design) {
  JET_RETURN_IF_ERROR(CheckObjectName(design.name, "index"));
  std::string where = "index \"" + design.name + "\" of table \"" + def.name + "\"";
  for (const LogicalIndex& existing : def.logical_indexes) {
    if (SameObjectName(existing.name, design.name)) return Invalid(where + ": the table already has an index of that name");
    if (design.primary && existing.primary()) return Invalid(where + ": the table already has a primary key (\"" + existing.name + "\")");
  }
  if (design.columns.empty() || design.columns.size() > kMaxIndexColumns) {
    return Invalid(where + ": an index has 1 to " + std::to_string(kMaxIndexColumns) + " columns");
  }
  std::set<uint16_t> seen;
  for (const IndexColumnDesign& ic : design.columns) {
    const ColumnDef* column = nullptr;
    for (const ColumnDef& c : def.columns)
      if (SameObjectName(c.name, ic.column)) column = &c;
    if (column == nullptr) return Error(ErrorCode::kNotFound, where + ": there is no column \"" + ic.column + "\"");
    if (!IsKeyable(column->type)) {
      return Invalid(where + ": a " + std::string(ColumnTypeName(column->type)) + " column (\"" + column->name + "\") cannot be indexed");
    }
    if (!seen.insert(column->number).second) return Invalid(where + ": names column \"" + column->name + "\" twice");
  }
  return Status::Ok();
}

uint8_t PhysicalIndexFlags(const IndexDesign& design) {
  uint8_t flags = kIndexAlwaysSet;
  if (design.primary || design.unique) flags |= kIndexUnique;
  if (design.primary || design.required) flags |= kIndexRequired;
  if (design.ignore_nulls && !design.primary) flags |= kIndexIgnoreNulls;
  return flags;
}

std::vector<IndexColumn> IndexColumnsOf(const TableDef& def, const IndexDesign& design) {
  std::vector<IndexColumn> columns;
  for (const IndexColumnDesign& ic : design.columns) {
    for (const ColumnDef& c : def.columns)
      if (SameObjectName(c.name, ic.column)) columns.push_back(IndexColumn{c.number, ic.ascending});
  }
  return columns;
}

}  // namespace jet
