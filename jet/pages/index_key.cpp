#include "jet/pages/index_key.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>

namespace jet {
namespace {

using collation_internal::AppendBigEndian;
using collation_internal::InvertFrom;

constexpr char kAscendingFlag = 0x7F;
constexpr char kDescendingFlag = static_cast<char>(0x80);
constexpr char kAscendingNull = 0x00;
constexpr char kDescendingNull = static_cast<char>(0xFF);

// Two's complement integers of `bytes` bytes: flipping the sign bit makes byte order numeric order.
void AppendSigned(int64_t value, int bytes, bool ascending, std::string* key) {
  const size_t start = key->size();
  AppendBigEndian(static_cast<uint64_t>(value) ^ (uint64_t{0x80} << (8 * (bytes - 1))), bytes, key);
  if (!ascending) InvertFrom(start, key);
}

// IEEE bits of `bytes` bytes. Negative numbers are inverted whole, so larger magnitudes sort first.
void AppendFloatBits(uint64_t bits, int bytes, bool ascending, std::string* key) {
  const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
  bits = (bits & sign) ? ~bits & mask : bits ^ sign;
  const size_t start = key->size();
  AppendBigEndian(bits, bytes, key);
  if (!ascending) InvertFrom(start, key);
}

// Binary values (and GUIDs) go in 8-byte segments, each followed by a length byte: 0x09 when more
// data follows, else the count of real bytes in the segment, which is zero-padded to 8 bytes. An
// empty value has no segment. Descending inverts every byte but the 0x09 markers.
void AppendSegmented(const uint8_t* data, size_t size, bool ascending, std::string* key) {
  for (size_t at = 0; at < size; at += 8) {
    const size_t start = key->size();
    const size_t length = std::min<size_t>(8, size - at);
    key->append(reinterpret_cast<const char*>(data + at), length);
    key->append(8 - length, '\0');
    const bool last = at + 8 >= size;
    if (last) key->push_back(static_cast<char>(length));
    if (!ascending) InvertFrom(start, key);
    if (!last) key->push_back(0x09);
  }
}

void AppendGuid(const Guid& guid, bool ascending, std::string* key) {
  // Rows store the first three groups little-endian; keys use the textual (big-endian) order.
  static constexpr int kTextualOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  uint8_t textual[16];
  for (int i = 0; i < 16; ++i) textual[i] = guid.bytes[kTextualOrder[i]];
  AppendSegmented(textual, sizeof textual, ascending, key);
}

Status Mismatch(ColumnType type) {
  return Error(ErrorCode::kInvalidArgument,
               "index key: value does not match column type " + std::to_string(static_cast<int>(type)));
}

// Appends the flag and value bytes of a non-NULL value of a keyable, non-Boolean type, or fails without
// appending.
Status AppendValue(JetVersion version, const KeyColumn& column, const Value& value, std::string* key) {
  const bool asc = column.ascending;
  const std::string::size_type start = key->size();
  key->push_back(asc ? kAscendingFlag : kDescendingFlag);
  const int64_t* integer = std::get_if<int64_t>(&value);
  switch (column.type) {
    case ColumnType::kByte:
      if (!integer || *integer < 0 || *integer > 0xFF) break;
      key->push_back(static_cast<char>(asc ? *integer : ~*integer));
      return Status::Ok();
    case ColumnType::kInteger:
      if (!integer || *integer < INT16_MIN || *integer > INT16_MAX) break;
      AppendSigned(*integer, 2, asc, key);
      return Status::Ok();
    case ColumnType::kLong:
      if (!integer || *integer < INT32_MIN || *integer > INT32_MAX) break;
      AppendSigned(*integer, 4, asc, key);
      return Status::Ok();
    case ColumnType::kCurrency:
      if (!std::holds_alternative<Currency>(value)) break;
      AppendSigned(std::get<Currency>(value).scaled, 8, asc, key);
      return Status::Ok();
    case ColumnType::kSingle:
      if (!std::holds_alternative<float>(value)) break;
      AppendFloatBits(std::bit_cast<uint32_t>(std::get<float>(value)), 4, asc, key);
      return Status::Ok();
    case ColumnType::kDouble:
      if (!std::holds_alternative<double>(value)) break;
      AppendFloatBits(std::bit_cast<uint64_t>(std::get<double>(value)), 8, asc, key);
      return Status::Ok();
    case ColumnType::kDateTime:
      if (!std::holds_alternative<DateTime>(value)) break;
      AppendFloatBits(std::bit_cast<uint64_t>(std::get<DateTime>(value).days), 8, asc, key);
      return Status::Ok();
    case ColumnType::kGuid:
      if (!std::holds_alternative<Guid>(value)) break;
      AppendGuid(std::get<Guid>(value), asc, key);
      return Status::Ok();
    case ColumnType::kBinary:
      if (!std::holds_alternative<Bytes>(value)) break;
      AppendSegmented(reinterpret_cast<const uint8_t*>(std::get<Bytes>(value).data()), std::get<Bytes>(value).size(), asc, key);
      return Status::Ok();
    case ColumnType::kText:
      if (!std::holds_alternative<Text>(value)) break;
      AppendTextKey(version, std::get<Text>(value), asc, key);
      return Status::Ok();
    default:
      break;
  }
  key->resize(start);
  return Mismatch(column.type);
}

}  // namespace

bool IsKeyable(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kGuid:
    case ColumnType::kBinary:
    case ColumnType::kText:
      return true;
    default:
      return false;
  }
}

Status AppendKeyColumn(JetVersion version, const KeyColumn& column, const Value& value,
                       std::string* key) {
  if (!IsKeyable(column.type)) {
    return Error(ErrorCode::kUnsupported, "index key: columns of type " +
                                              std::to_string(static_cast<int>(column.type)) +
                                              " cannot be indexed");
  }
  if (column.type == ColumnType::kBoolean) {
    const bool* flag = std::get_if<bool>(&value);
    if (!flag && !IsNull(value)) return Mismatch(column.type);
    const bool truth = flag && *flag;
    key->push_back(column.ascending ? kAscendingFlag : kDescendingFlag);
    key->push_back(truth == column.ascending ? 0x00 : static_cast<char>(0xFF));
    return Status::Ok();
  }
  if (!IsNull(value)) return AppendValue(version, column, value, key);
  key->push_back(column.ascending ? kAscendingNull : kDescendingNull);
  return Status::Ok();
}

bool AppendUtf8KeyColumn(JetVersion version, bool ascending, std::string_view utf8, std::string* key) {
  key->push_back(ascending ? kAscendingFlag : kDescendingFlag);
  if (AppendUtf8TextKey(version, utf8, ascending, key)) return true;
  key->pop_back();
  return false;
}

namespace {

// The key built by `append(i, &key)` for each of `columns` in turn.
template <typename Append>
Result<std::string> EncodeKey(const std::vector<KeyColumn>& columns, Append append) {
  std::string key;  // no room reserved: a number's key fits the string itself, without allocating
  for (size_t i = 0; i < columns.size(); ++i) {
    Status status = append(i, &key);
    if (!status.ok()) return status.error().WithContext("column " + std::to_string(i));
  }
  return key;
}

}  // namespace

Result<std::string> EncodeIndexKey(JetVersion version, const std::vector<KeyColumn>& columns,
                                   const std::vector<Value>& values) {
  if (columns.size() != values.size()) {
    return Error(ErrorCode::kInvalidArgument,
                 "index key: " + std::to_string(values.size()) + " values for " +
                     std::to_string(columns.size()) + " columns");
  }
  return EncodeKey(columns, [&](size_t i, std::string* key) { return AppendKeyColumn(version, columns[i], values[i], key); });
}

IndexKeyBuilder::IndexKeyBuilder(JetVersion version, std::vector<KeyColumn> columns, std::vector<size_t> positions)
    : version_(version), columns_(std::move(columns)), positions_(std::move(positions)), text_parts_(columns_.size()) {}

Result<std::string> IndexKeyBuilder::Build(const std::vector<Value>& row) {
  if (columns_.size() != positions_.size()) {
    return Error(ErrorCode::kInvalidArgument, "index key: " + std::to_string(positions_.size()) + " values for " +
                                                  std::to_string(columns_.size()) + " columns");
  }
  for (size_t p : positions_) {
    if (p >= row.size()) return Error(ErrorCode::kInvalidArgument, "index key: a key column lies past the row's values");
  }
  return EncodeKey(columns_, [&](size_t i, std::string* key) -> Status {
    const Value& value = row[positions_[i]];
    const Text* text = std::get_if<Text>(&value);
    if (text == nullptr || columns_[i].type != ColumnType::kText) return AppendKeyColumn(version_, columns_[i], value, key);
    std::unordered_map<Text, std::string>& kept = text_parts_[i];
    auto found = kept.find(*text);
    if (found != kept.end()) {
      key->append(found->second);
      return Status::Ok();
    }
    const size_t start = key->size();
    JET_RETURN_IF_ERROR(AppendKeyColumn(version_, columns_[i], value, key));
    if (kept.size() >= kMaxKeptParts) kept.clear();
    kept.emplace(*text, key->substr(start));
    return Status::Ok();
  });
}

IndexKeyColumns KeyColumnsOf(const TableDef& def, const PhysicalIndex& index) {
  IndexKeyColumns key;
  for (const IndexColumn& ic : index.columns) {
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number != ic.column_number) continue;
      key.columns.push_back(KeyColumn{def.columns[i].type, ic.ascending});
      key.positions.push_back(i);
    }
  }
  return key;
}

}  // namespace jet
