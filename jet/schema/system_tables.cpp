#include "jet/schema/system_tables.h"

#include <vector>

namespace jet {

namespace {

constexpr uint16_t kGeneral = 0x0409;

// One column as Access stores it in a system table. Access leaves values in the fields that do
// not apply (a variable slot for fixed columns, an offset for variable ones); they are kept so
// that the definitions match Access's byte for byte.
struct SystemColumn {
  const char* name;
  ColumnType type;
  uint16_t number;
  uint16_t var_index;
  uint16_t fixed_offset;
  uint16_t length;
  uint8_t flags;
};

struct SystemIndex {
  std::vector<IndexColumn> columns;
  uint8_t flags;
};

struct SystemLogical {
  const char* name;
  uint32_t number;
  uint32_t physical;
  uint8_t type;
};

struct SystemTableShape {
  uint16_t max_columns;
  uint16_t var_columns;
  std::vector<SystemColumn> columns;
  std::vector<SystemIndex> physical;
  std::vector<SystemLogical> logical;
};

using T = ColumnType;

const SystemTableShape& Shape(SystemTable table) {
  static const SystemTableShape kObjects{
      17, 11,
      {{"Connect", T::kMemo, 9, 3, 0, 0, 0x12},          {"Database", T::kMemo, 8, 2, 0, 0, 0x12},
       {"DateCreate", T::kDateTime, 4, 1, 10, 8, 0x13},  {"DateUpdate", T::kDateTime, 5, 1, 18, 8, 0x13},
       {"Flags", T::kLong, 7, 2, 26, 4, 0x13},           {"ForeignName", T::kText, 10, 4, 0, 510, 0x12},
       {"Id", T::kLong, 0, 0, 0, 4, 0x13},               {"Lv", T::kOle, 13, 7, 0, 0, 0x12},
       {"LvExtra", T::kOle, 16, 10, 0, 0, 0x12},         {"LvModule", T::kOle, 15, 9, 0, 0, 0x12},
       {"LvProp", T::kOle, 14, 8, 0, 0, 0x12},           {"Name", T::kText, 2, 0, 0, 510, 0x12},
       {"Owner", T::kBinary, 6, 1, 0, 510, 0x32},        {"ParentId", T::kLong, 1, 0, 4, 4, 0x13},
       {"RmtInfoLong", T::kOle, 12, 6, 0, 0, 0x12},      {"RmtInfoShort", T::kBinary, 11, 5, 0, 510, 0x12},
       {"Type", T::kInteger, 3, 1, 8, 2, 0x13}},
      {{{{1, true}, {2, true}}, 0x81}, {{{0, true}}, 0x81}},
      {{"Id", 1, 1, kIndexTypePrimary}, {"ParentIdName", 0, 0, 0}}};
  static const SystemTableShape kAces{
      4, 1,
      {{"ACM", T::kLong, 2, 1, 4, 4, 0x13},
       {"FInheritable", T::kBoolean, 3, 1, 0, 1, 0x13},
       {"ObjectId", T::kLong, 0, 0, 0, 4, 0x13},
       {"SID", T::kBinary, 1, 0, 7, 510, 0x32}},
      {{{{0, true}}, 0x88}},
      {{"ObjectId", 0, 0, 0}}};
  static const SystemTableShape kQueries{
      8, 4,
      {{"Attribute", T::kByte, 1, 0, 4, 1, 0x13},    {"Expression", T::kMemo, 5, 3, 1024, 0, 0x12},
       {"Flag", T::kInteger, 6, 4, 5, 2, 0x13},      {"LvExtra", T::kLong, 7, 4, 7, 4, 0x13},
       {"Name1", T::kText, 3, 1, 65279, 510, 0x12},  {"Name2", T::kText, 4, 2, 65279, 510, 0x12},
       {"ObjectId", T::kLong, 0, 0, 0, 4, 0x13},     {"Order", T::kBinary, 2, 0, 65024, 510, 0x12}},
      {{{{0, true}, {1, true}, {2, true}}, 0x81}},
      {{"ObjectIdAttribute", 0, 0, kIndexTypePrimary}}};
  static const SystemTableShape kRelationships{
      8, 5,
      {{"ccolumn", T::kLong, 2, 1, 4, 4, 0x13},              {"grbit", T::kLong, 1, 1, 0, 4, 0x13},
       {"icolumn", T::kLong, 3, 1, 8, 4, 0x13},              {"szColumn", T::kText, 5, 2, 65535, 510, 0x12},
       {"szObject", T::kText, 4, 1, 65535, 510, 0x12},       {"szReferencedColumn", T::kText, 7, 4, 65535, 510, 0x12},
       {"szReferencedObject", T::kText, 6, 3, 0, 510, 0x12}, {"szRelationship", T::kText, 0, 0, 0, 510, 0x12}},
      {{{{0, true}}, 0x82}, {{{4, true}}, 0x82}, {{{6, true}}, 0x82}},
      {{"szObject", 1, 1, 0}, {"szReferencedObject", 2, 2, 0}, {"szRelationship", 0, 0, 0}}};
  static const SystemTableShape kAccessObjects{
      2, 1,
      {{"Data", T::kUnknown11, 0, 0, 0, 3992, 0x03}, {"ID", T::kLong, 1, 0, 0, 4, 0x02}},
      {{{{1, true}}, 0x89}},
      {{"AOIndex", 0, 0, kIndexTypePrimary}}};
  switch (table) {
    case SystemTable::kObjects: return kObjects;
    case SystemTable::kAces: return kAces;
    case SystemTable::kQueries: return kQueries;
    case SystemTable::kRelationships: return kRelationships;
    case SystemTable::kAccessObjects: break;
  }
  return kAccessObjects;
}

}  // namespace

StoredTableDef SystemTableDefinition(SystemTable table, uint32_t page) {
  const SystemTableShape& shape = Shape(table);
  StoredTableDef stored;
  TableDef& def = stored.def;
  def.page = page;
  def.table_type = kTableTypeSystem;
  def.max_columns = shape.max_columns;
  def.var_column_count = shape.var_columns;
  for (const SystemColumn& sc : shape.columns) {
    ColumnDef c;
    c.name = sc.name;
    c.type = sc.type;
    c.number = sc.number;
    c.var_index = sc.var_index;
    c.fixed_offset = sc.fixed_offset;
    c.length = sc.length;
    c.flags = sc.flags;
    c.sort_order = kGeneral;
    c.precision = kGeneral & 0xFF;
    c.scale = kGeneral >> 8;
    def.columns.push_back(c);
  }
  for (size_t i = 0; i < shape.physical.size(); ++i) {
    PhysicalIndex index;
    index.number = static_cast<uint32_t>(i);
    index.columns = shape.physical[i].columns;
    index.flags = shape.physical[i].flags;
    def.physical_indexes.push_back(index);
  }
  for (const SystemLogical& sl : shape.logical) {
    def.logical_indexes.push_back(LogicalIndex{sl.name, sl.number, sl.physical, sl.type});
  }
  stored.extras = NewDefinitionExtras(def);
  // Access numbers no ordinals in its system tables.
  for (DefinitionExtras::Column& c : stored.extras.columns) c.ordinal = 0;
  return stored;
}

}  // namespace jet
