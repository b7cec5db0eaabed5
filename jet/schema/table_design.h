// What a caller asks for when it designs a table (Jet 4): columns and indexes by name, checked
// against the rules Access applies, and turned into the definition entries Access would store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"
#include "jet/text/text_fold.h"  // SameObjectName: names are unique by its rule

namespace jet {

struct ColumnDesign {
  std::string name;
  ColumnType type = ColumnType::kText;
  // Text: characters (1..255). Binary: bytes (1..255). Ignored for other types.
  uint16_t size = 255;
  bool autonumber = false;          // Long only: numbered 1, 2, ... on insert
  bool required = false;            // the "Required" property
  bool allow_zero_length = true;    // Text and Memo: the "AllowZeroLength" property
  bool compressed_unicode = true;   // Text and Memo: store one byte a character when possible
  uint8_t precision = 18;           // Decimal
  uint8_t scale = 0;                // Decimal
};

struct IndexColumnDesign {
  std::string column;
  bool ascending = true;
};

struct IndexDesign {
  std::string name;
  std::vector<IndexColumnDesign> columns;  // 1..10
  bool primary = false;       // implies unique and required
  bool unique = false;
  bool ignore_nulls = false;  // rows whose key columns are all NULL stay out of the index
  bool required = false;      // key columns may not be NULL
};

struct TableDesign {
  std::string name;
  std::vector<ColumnDesign> columns;
  std::vector<IndexDesign> indexes;
};

// Access's rules for the name of a table, column or index: 1..64 characters, none of . ! ` [ ]
// nor a control character, not starting with a blank. `what` names the object in the error
// (kInvalidArgument), e.g. "table" or "column".
Status CheckObjectName(const std::string& name, const std::string& what);

// Checks a column design on its own (name, type, size, autonumber). kInvalidArgument or
// kUnsupported for a type the engine cannot store.
Status CheckColumnDesign(const ColumnDesign& design);
// Refuses `design` as an autonumber when `def` already has one: a table numbers its rows once.
Status CheckSingleAutonumber(const TableDef& def, const ColumnDesign& design);

// The definition entry for a new column numbered `number`, placed at `var_index` (variable-length
// columns) or `fixed_offset` (fixed-length ones). `sort_order` is the database's text sort order.
ColumnDef MakeColumnDef(const ColumnDesign& design, uint16_t number, uint16_t var_index, uint16_t fixed_offset,
                        uint16_t sort_order);

// Whether a column of this type lives in the variable-length part of a row.
bool IsVariableType(ColumnType type);

// The bytes a fixed-length column takes in a row's fixed area (0 for Boolean).
uint16_t FixedAreaSize(const ColumnDef& column);

// Checks an index design against the definition it is for: name, columns present and keyable
// (no Memo, OLE or long binary), at most 10, no column twice, at most one primary key, and its
// name unique among the definition's indexes.
Status CheckIndexDesign(const TableDef& def, const IndexDesign& design);

// The physical index flags of a design (Access also always sets 0x80).
uint8_t PhysicalIndexFlags(const IndexDesign& design);

// The index columns of a design, by column number.
std::vector<IndexColumn> IndexColumnsOf(const TableDef& def, const IndexDesign& design);

}  // namespace jet
