#include "jet/base/format.h"

#include "jet/base/value.h"

namespace jet {

namespace {

constexpr Format kJet3Format = {
    .version = JetVersion::kJet3,
    .page_size = 2048,
    .masked_header_end = 0x18 + 126,
    .tdef_row_count = 12,
    .tdef_next_autonumber = 16,
    .tdef_table_type = 20,
    .tdef_max_columns = 21,
    .tdef_var_columns = 23,
    .tdef_columns = 25,
    .tdef_logical_index_count = 27,
    .tdef_physical_index_count = 31,
    .tdef_owned_pages_map = 35,
    .tdef_free_space_map = 39,
    .tdef_header_end = 43,
    .tdef_physical_index_count_entry = 8,
    .column_entry_size = 18,
    .physical_index_entry_size = 39,
    .logical_index_entry_size = 20,
    .data_free_space = 2,
    .data_row_count = 8,
    .data_row_offsets = 10,
    .index_entry_mask = 0x16,
    .index_entries_start = 0xF8,
    .index_max_key_columns = 10,
};

constexpr Format kJet4Format = {
    .version = JetVersion::kJet4,
    .page_size = 4096,
    .masked_header_end = 0x18 + 128,
    .tdef_row_count = 16,
    .tdef_next_autonumber = 20,
    .tdef_table_type = 40,
    .tdef_max_columns = 41,
    .tdef_var_columns = 43,
    .tdef_columns = 45,
    .tdef_logical_index_count = 47,
    .tdef_physical_index_count = 51,
    .tdef_owned_pages_map = 55,
    .tdef_free_space_map = 59,
    .tdef_header_end = 63,
    .tdef_physical_index_count_entry = 12,
    .column_entry_size = 25,
    .physical_index_entry_size = 52,
    .logical_index_entry_size = 28,
    .data_free_space = 2,
    .data_row_count = 12,
    .data_row_offsets = 14,
    .index_entry_mask = 0x1B,
    .index_entries_start = 0x1E0,
    .index_max_key_columns = 10,
};

}  // namespace

const Format& Format::For(JetVersion version) {
  return version == JetVersion::kJet3 ? kJet3Format : kJet4Format;
}

const char* ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return "Boolean";
    case ColumnType::kByte: return "Byte";
    case ColumnType::kInteger: return "Integer";
    case ColumnType::kLong: return "Long";
    case ColumnType::kCurrency: return "Currency";
    case ColumnType::kSingle: return "Single";
    case ColumnType::kDouble: return "Double";
    case ColumnType::kDateTime: return "DateTime";
    case ColumnType::kBinary: return "Binary";
    case ColumnType::kText: return "Text";
    case ColumnType::kOle: return "OLE";
    case ColumnType::kMemo: return "Memo";
    case ColumnType::kGuid: return "GUID";
    case ColumnType::kDecimal: return "Decimal";
    case ColumnType::kComplex: return "Complex";
    case ColumnType::kUnknown0D: return "Binary0D";
    case ColumnType::kUnknown11: return "Binary11";
  }
  return "Unknown";
}

}  // namespace jet
