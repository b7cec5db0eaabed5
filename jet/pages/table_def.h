// A table's definition (TDEF): its columns, its indexes and where its pages are recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

class Pager;

// Column flag bits of the definition.
constexpr uint8_t kColumnFixed = 0x01;
constexpr uint8_t kColumnNullable = 0x02;
constexpr uint8_t kColumnAutoNumber = 0x04;
constexpr uint8_t kColumnReplication = 0x10;
constexpr uint8_t kColumnAutoGuid = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
// Extra flag bits (Jet 4 only).
constexpr uint8_t kColumnCompressedUnicode = 0x01;

struct ColumnDef {
  std::string name;       // UTF-8
  ColumnType type = ColumnType::kText;
  uint16_t number = 0;    // stable column number; the row's null-mask bit
  uint16_t var_index = 0; // slot in the variable-offset table (variable columns)
  uint16_t fixed_offset = 0;  // offset within the fixed area (fixed columns)
  uint16_t length = 0;    // declared size in bytes (Text: 2 per character in Jet 4)
  uint8_t flags = 0;
  uint8_t extra_flags = 0;
  uint8_t precision = 0;  // Decimal only
  uint8_t scale = 0;      // Decimal only
  uint16_t sort_order = 0;  // Text/Memo: collation id
  uint16_t code_page = 0;   // Jet 3 text

  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool autonumber() const { return (flags & kColumnAutoNumber) != 0; }
  bool compressed_unicode() const { return (extra_flags & kColumnCompressedUnicode) != 0; }
};

struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

// Physical index flag bits.
constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;

// The B-tree itself; several logical indexes may share one.
struct PhysicalIndex {
  uint32_t number = 0;
  std::vector<IndexColumn> columns;
  uint32_t usage_map = 0;   // row pointer of the index's usage map
  uint32_t root_page = 0;
  uint8_t flags = 0;
  uint32_t unique_entry_count = 0;

  bool unique() const { return (flags & kIndexUnique) != 0; }
  bool ignore_nulls() const { return (flags & kIndexIgnoreNulls) != 0; }
  bool required() const { return (flags & kIndexRequired) != 0; }
};

constexpr uint8_t kIndexTypePrimary = 0x01;
constexpr uint8_t kIndexTypeForeignKey = 0x02;

// The named index that users see.
struct LogicalIndex {
  std::string name;  // UTF-8
  uint32_t number = 0;
  uint32_t physical_index = 0;  // position in TableDef::physical_indexes
  uint8_t type = 0;             // 0 normal, 1 primary key, 2 foreign key (relationship)

  bool primary() const { return type == kIndexTypePrimary; }
  bool foreign_key() const { return type == kIndexTypeForeignKey; }
};

constexpr uint8_t kTableTypeUser = 0x4E;
constexpr uint8_t kTableTypeSystem = 0x53;

struct TableDef {
  std::string name;  // from the catalogue; the definition page does not hold it
  uint32_t page = 0;
  uint32_t row_count = 0;
  uint32_t next_autonumber = 0;
  uint8_t table_type = 0;
  uint16_t max_columns = 0;  // column numbers are below this
  uint16_t var_column_count = 0;
  std::vector<ColumnDef> columns;  // in definition order
  std::vector<PhysicalIndex> physical_indexes;
  std::vector<LogicalIndex> logical_indexes;
  uint32_t owned_pages_map = 0;  // row pointer of the owned-pages usage map
  uint32_t free_space_map = 0;   // row pointer of the free-space usage map

  // By name (SameObjectName).
  const ColumnDef* FindColumn(const std::string& name) const;
  const ColumnDef* ColumnByNumber(uint16_t number) const;
  const LogicalIndex* FindIndex(const std::string& name) const;
};

// Reads and validates the definition that starts at `page`, following its continuation pages.
Result<TableDef> ReadTableDef(Pager& pager, uint32_t page);

// Row pointers pack a page number and a row slot: the low byte is the row, the rest the page.
inline uint32_t RowPointerPage(uint32_t pointer) { return pointer >> 8; }
inline uint8_t RowPointerRow(uint32_t pointer) { return static_cast<uint8_t>(pointer & 0xFF); }

}  // namespace jet
