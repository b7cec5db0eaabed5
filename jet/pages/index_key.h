// Index keys: the bytes Access stores for a row's values in an index entry.
//
// An index entry is the key followed by the row's data page (3 bytes, big-endian) and row number
// (1 byte); entries are kept in unsigned lexicographic key order. The key is the concatenation of one
// part per index column:
//   - NULL: a lone 0x00 (0xFF in a descending column), which sorts before (after) every value;
//   - otherwise a flag byte, 0x7F (0x80 descending), then the value bytes. A descending column stores
//     the ascending value bytes inverted, with the exceptions noted below.
// Value bytes by type:
//   Byte: the byte. Integer, Long, Currency: big-endian with the sign bit flipped.
//   Single, Double, Date/Time: big-endian IEEE bits; the sign bit is flipped for positive numbers and
//     every bit is inverted for negative ones, so that byte order is numeric order.
//   Boolean: 0x00 for true, 0xFF for false. NULL is keyed as false (a Boolean is never NULL in a row).
//   Binary: 8-byte segments, each followed by a length byte: 0x09 when more data follows, else the
//     number of real bytes in the segment, which is padded with zeros (an empty value has no
//     segment). Descending keeps the 0x09 bytes as they are and inverts the rest.
//   GUID: the 16 bytes in textual order (the first three groups big-endian, unlike in the row),
//     as a Binary value: 8 bytes, 0x09, 8 bytes, 0x08.
//   Text: see collation.h.
// Memo, OLE, Decimal and Complex columns cannot be keyed here.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jet/text/collation.h"
#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/pages/table_def.h"

namespace jet {

// Whether an index can have a column of this type in its key.
bool IsKeyable(ColumnType type);

// One column of an index, in index order.
struct KeyColumn {
  ColumnType type;
  bool ascending = true;
};

// Appends the key part of one column value. Errors: kUnsupported for a type that cannot be keyed,
// kInvalidArgument for a value that does not belong to the column's type (Byte, Integer and Long take
// int64_t within their range; Date/Time takes DateTime, Currency takes Currency, and so on). On error
// nothing is appended.
Status AppendKeyColumn(JetVersion version, const KeyColumn& column, const Value& value,
                       std::string* key);

// AppendKeyColumn of a text column's value given as UTF-8, by AppendUtf8TextKey: false, with
// nothing appended, where that is false.
bool AppendUtf8KeyColumn(JetVersion version, bool ascending, std::string_view utf8, std::string* key);

// The key of a whole index entry; `values` holds one value per column, in the same order.
Result<std::string> EncodeIndexKey(JetVersion version, const std::vector<KeyColumn>& columns,
                                   const std::vector<Value>& values);
// Builds the keys of one index for row after row, as EncodeIndexKey would, from the values at
// `positions` of each row (one position per column). The part of each text value is kept once
// built: a text part costs more than all the rest of a row's keys, and the rows of an import
// repeat their artists (and their other text) row after row.
class IndexKeyBuilder {
 public:
  IndexKeyBuilder(JetVersion version, std::vector<KeyColumn> columns, std::vector<size_t> positions);
  const std::vector<KeyColumn>& columns() const { return columns_; }
  const std::vector<size_t>& positions() const { return positions_; }
  Result<std::string> Build(const std::vector<Value>& row);

  // Text parts kept per column at most; past it the column starts over.
  static constexpr size_t kMaxKeptParts = 4096;

 private:
  JetVersion version_;
  std::vector<KeyColumn> columns_;
  std::vector<size_t> positions_;
  std::vector<std::unordered_map<Text, std::string>> text_parts_;  // per column
};

// The columns of `def` that make the key of `index`, in key order: how each is keyed, and its
// position in def.columns. A column the table lacks is left out (a definition naming one does
// not load).
struct IndexKeyColumns {
  std::vector<KeyColumn> columns;
  std::vector<size_t> positions;
};
IndexKeyColumns KeyColumnsOf(const TableDef& def, const PhysicalIndex& index);

}  // namespace jet
