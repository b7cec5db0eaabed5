// The two on-disk formats the engine knows and the layout constants that differ between them.
#pragma once

#include <cstdint>

namespace jet {

enum class JetVersion : uint8_t {
  kJet3,  // Access 97: 2 KiB pages, 8-bit text in the file's code page
  kJet4,  // Access 2000/2002/2003: 4 KiB pages, UTF-16 text with optional compression
};

// Layout of the structures whose offsets depend on the format. One instance per version.
struct Format {
  JetVersion version;
  uint32_t page_size;
  // Header (page 0)
  uint32_t masked_header_end;  // one past the last masked byte
  // Table definition page
  uint32_t tdef_row_count;
  uint32_t tdef_next_autonumber;
  uint32_t tdef_table_type;
  uint32_t tdef_max_columns;
  uint32_t tdef_var_columns;
  uint32_t tdef_columns;
  uint32_t tdef_logical_index_count;
  uint32_t tdef_physical_index_count;
  uint32_t tdef_owned_pages_map;
  uint32_t tdef_free_space_map;
  uint32_t tdef_header_end;       // first physical-index count block
  uint32_t tdef_physical_index_count_entry;  // bytes per physical-index count block
  uint32_t column_entry_size;
  uint32_t physical_index_entry_size;
  uint32_t logical_index_entry_size;
  // Data page
  uint32_t data_free_space;
  uint32_t data_row_count;
  uint32_t data_row_offsets;
  // Index page
  uint32_t index_entry_mask;
  uint32_t index_entries_start;
  uint32_t index_max_key_columns;

  static const Format& For(JetVersion version);
  bool jet4() const { return version == JetVersion::kJet4; }
};

// Page type bytes.
enum PageType : uint8_t {
  kPageDatabaseHeader = 0x00,
  kPageData = 0x01,
  kPageTableDefinition = 0x02,
  kPageIndexIntermediate = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageBitmap = 0x05,
};

// Row offset flags in a data page's offset table.
constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1FFF;

}  // namespace jet
