#include "jet/pages/table_def.h"

#include <set>

#include "jet/base/bytes.h"
#include "jet/file/pager.h"
#include "jet/text/text_codec.h"
#include "jet/text/text_fold.h"

namespace jet {

namespace {

// A definition spans a chain of pages; its bytes are the first page whole plus each further
// page without its 8-byte header.
Result<std::vector<uint8_t>> ReadDefinitionBytes(Pager& pager, uint32_t first_page) {
  std::vector<uint8_t> bytes;
  std::set<uint32_t> seen;
  uint32_t page = first_page;
  while (page != 0) {
    if (!seen.insert(page).second) return pager.Corrupt(page, "the table definition's page chain forms a cycle");
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageTableDefinition, "table definition"));
    size_t from = bytes.empty() ? 0 : 8;
    bytes.insert(bytes.end(), data + from, data + pager.page_size());
    page = Get32(data + 4);
  }
  return bytes;
}

// Sequential reader over the definition's bytes that reports running off the end.
class DefinitionReader {
 public:
  DefinitionReader(Pager& pager, uint32_t page, const std::vector<uint8_t>& bytes)
      : pager_(pager), page_(page), bytes_(bytes) {}

  Result<const uint8_t*> Take(size_t length, const char* what) {
    if (pos_ + length > bytes_.size()) {
      return pager_.Corrupt(page_, std::string("the table definition ends inside ") + what);
    }
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += length;
    return p;
  }

  Result<std::string> Name(JetVersion version) {
    size_t length_size = version == JetVersion::kJet4 ? 2 : 1;
    JET_ASSIGN_OR_RETURN(const uint8_t* prefix, Take(length_size, "a name"));
    size_t length = length_size == 2 ? Get16(prefix) : prefix[0];
    JET_ASSIGN_OR_RETURN(const uint8_t* text, Take(length, "a name"));
    return ToUtf8(DecodeStoredText(version, text, length));
  }

 private:
  Pager& pager_;
  uint32_t page_;
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

ColumnDef ParseColumn(const Format& f, const uint8_t* p) {
  ColumnDef c;
  c.type = static_cast<ColumnType>(p[0]);
  if (f.jet4()) {
    c.number = Get16(p + 5);
    c.var_index = Get16(p + 7);
    c.precision = p[11];
    c.scale = p[12];
    c.sort_order = Get16(p + 11);
    c.code_page = Get16(p + 13);
    c.flags = p[15];
    c.extra_flags = p[16];
    c.fixed_offset = Get16(p + 21);
    c.length = Get16(p + 23);
  } else {
    c.number = Get16(p + 1);
    c.var_index = Get16(p + 3);
    c.sort_order = Get16(p + 9);
    c.code_page = Get16(p + 11);
    c.precision = p[9];
    c.scale = p[10];
    c.flags = p[13];
    c.fixed_offset = Get16(p + 14);
    c.length = Get16(p + 16);
  }
  return c;
}

PhysicalIndex ParsePhysicalIndex(const Format& f, const uint8_t* p, uint32_t number) {
  PhysicalIndex index;
  index.number = number;
  const uint8_t* q = p + (f.jet4() ? 4 : 0);
  for (uint32_t i = 0; i < f.index_max_key_columns; ++i) {
    uint16_t column = Get16(q + 3 * i);
    if (column == 0xFFFF) continue;
    index.columns.push_back(IndexColumn{column, q[3 * i + 2] == 0x01});
  }
  q += 3 * f.index_max_key_columns;
  index.usage_map = Get32(q);
  index.root_page = Get32(q + 4);
  index.flags = q[f.jet4() ? 12 : 8];  // Jet 4 keeps four more bytes before the flags
  return index;
}

LogicalIndex ParseLogicalIndex(const Format& f, const uint8_t* p) {
  const uint8_t* q = p + (f.jet4() ? 4 : 0);
  LogicalIndex index;
  index.number = Get32(q);
  index.physical_index = Get32(q + 4);
  index.type = q[19];
  return index;
}


Status ValidateColumns(Pager& pager, const TableDef& def) {
  std::set<uint16_t> numbers;
  for (const ColumnDef& c : def.columns) {
    std::string where = "column \"" + c.name + "\" ";
    if (!numbers.insert(c.number).second) return pager.Corrupt(def.page, where + "repeats column number " + std::to_string(c.number));
    if (c.number >= def.max_columns) return pager.Corrupt(def.page, where + "has a number beyond the table's column count");
    if (ColumnTypeName(c.type) == std::string("Unknown")) {
      return pager.Corrupt(def.page, where + "has unknown type " + std::to_string(static_cast<int>(c.type)));
    }
    if (c.fixed() && c.type != ColumnType::kBoolean && FixedSizeOf(c.type) == 0 && c.length == 0) {
      return pager.Corrupt(def.page, where + "is fixed-length with no length");
    }
  }
  return Status::Ok();
}

Status ValidateIndexes(Pager& pager, const TableDef& def) {
  for (const PhysicalIndex& index : def.physical_indexes) {
    for (const IndexColumn& column : index.columns) {
      if (def.ColumnByNumber(column.column_number) == nullptr) {
        return pager.Corrupt(def.page, "index " + std::to_string(index.number) + " names column number " +
                                           std::to_string(column.column_number) + ", which the table does not have");
      }
    }
  }
  for (const LogicalIndex& index : def.logical_indexes) {
    if (index.physical_index >= def.physical_indexes.size()) {
      return pager.Corrupt(def.page, "index \"" + index.name + "\" refers to a physical index that does not exist");
    }
  }
  return Status::Ok();
}

}  // namespace

const ColumnDef* TableDef::FindColumn(const std::string& column_name) const {
  for (const ColumnDef& c : columns)
    if (SameObjectName(c.name, column_name)) return &c;
  return nullptr;
}

const ColumnDef* TableDef::ColumnByNumber(uint16_t column_number) const {
  for (const ColumnDef& c : columns)
    if (c.number == column_number) return &c;
  return nullptr;
}

const LogicalIndex* TableDef::FindIndex(const std::string& index_name) const {
  for (const LogicalIndex& i : logical_indexes)
    if (SameObjectName(i.name, index_name)) return &i;
  return nullptr;
}

Result<TableDef> ReadTableDef(Pager& pager, uint32_t page) {
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, ReadDefinitionBytes(pager, page));
  DefinitionReader reader(pager, page, bytes);
  JET_ASSIGN_OR_RETURN(const uint8_t* h, reader.Take(f.tdef_header_end, "its header"));
  TableDef def;
  def.page = page;
  def.row_count = Get32(h + f.tdef_row_count);
  def.next_autonumber = Get32(h + f.tdef_next_autonumber);
  def.table_type = h[f.tdef_table_type];
  def.max_columns = Get16(h + f.tdef_max_columns);
  def.var_column_count = Get16(h + f.tdef_var_columns);
  uint16_t column_count = Get16(h + f.tdef_columns);
  uint32_t logical_count = Get32(h + f.tdef_logical_index_count);
  uint32_t physical_count = Get32(h + f.tdef_physical_index_count);
  def.owned_pages_map = Get32(h + f.tdef_owned_pages_map);
  def.free_space_map = Get32(h + f.tdef_free_space_map);
  if (column_count > def.max_columns || physical_count > 1000 || logical_count > 1000) {
    return pager.Corrupt(page, "the table definition's column or index counts are impossible");
  }
  std::vector<uint32_t> unique_counts;
  for (uint32_t i = 0; i < physical_count; ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, reader.Take(f.tdef_physical_index_count_entry, "its index counts"));
    unique_counts.push_back(Get32(p + 4));
  }
  for (uint16_t i = 0; i < column_count; ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, reader.Take(f.column_entry_size, "its columns"));
    def.columns.push_back(ParseColumn(f, p));
  }
  for (ColumnDef& c : def.columns) {
    JET_ASSIGN_OR_RETURN(c.name, reader.Name(f.version));
  }
  for (uint32_t i = 0; i < physical_count; ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, reader.Take(f.physical_index_entry_size, "its indexes"));
    def.physical_indexes.push_back(ParsePhysicalIndex(f, p, i));
    def.physical_indexes.back().unique_entry_count = unique_counts[i];
  }
  for (uint32_t i = 0; i < logical_count; ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, reader.Take(f.logical_index_entry_size, "its index names"));
    def.logical_indexes.push_back(ParseLogicalIndex(f, p));
  }
  for (LogicalIndex& index : def.logical_indexes) {
    JET_ASSIGN_OR_RETURN(index.name, reader.Name(f.version));
  }
  JET_RETURN_IF_ERROR(ValidateColumns(pager, def));
  JET_RETURN_IF_ERROR(ValidateIndexes(pager, def));
  return def;
}

}  // namespace jet
