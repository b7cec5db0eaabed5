#include "catalogue/jet_design.h"

#include "catalogue/jet_values.h"

namespace velloran {

uint32_t AttributesOf(const jet::CatalogEntry& entry) {
  uint32_t attributes = 0;
  if (entry.IsSystem()) attributes |= kTableSystem;
  if (entry.IsHidden()) attributes |= kTableHidden;
  if (entry.IsLinkedTable()) attributes |= kTableLinked;
  return attributes;
}

FieldInfo DescribeField(const jet::ColumnDef& column, jet::JetVersion version, const TableProperties* properties) {
  FieldInfo field;
  field.name = column.name;
  field.type = FieldTypeOf(column.type);
  if (column.type == jet::ColumnType::kText) {
    field.size = version == jet::JetVersion::kJet3 ? column.length : column.length / 2;
  } else if (jet::IsLongValue(column.type)) {
    field.size = 0;
  } else {
    field.size = column.length;
  }
  field.autonumber = column.autonumber() || (column.flags & jet::kColumnAutoGuid) != 0;
  if (properties != nullptr) {
    for (const auto& [name, p] : *properties) {
      if (!jet::SameObjectName(name, column.name)) continue;
      field.required = p.required;
      field.allow_zero_length = p.allow_zero_length;
    }
  }
  return field;
}

TableInfo DescribeTable(const jet::TableDef& def, jet::JetVersion version, const TableProperties* properties,
                        uint32_t attributes) {
  TableInfo table;
  table.name = def.name;
  table.attributes = attributes;
  for (const jet::ColumnDef& column : def.columns) table.fields.push_back(DescribeField(column, version, properties));
  for (const jet::LogicalIndex& logical : def.logical_indexes) {
    IndexInfo index;
    index.name = logical.name;
    index.primary = logical.primary();
    if (logical.physical_index < def.physical_indexes.size()) {
      const jet::PhysicalIndex& physical = def.physical_indexes[logical.physical_index];
      index.unique = physical.unique();
      index.ignore_nulls = physical.ignore_nulls();
      for (const jet::IndexColumn& c : physical.columns) {
        const jet::ColumnDef* column = def.ColumnByNumber(c.column_number);
        index.fields.push_back(column != nullptr ? column->name : std::string());
        index.descending.push_back(!c.ascending);
      }
    }
    table.indexes.push_back(std::move(index));
  }
  return table;
}

jet::Result<jet::ColumnDesign> ColumnDesignOf(const NewField& field) {
  std::optional<jet::ColumnType> type = ColumnTypeOf(field.type);
  if (!type) {
    return jet::Error(jet::ErrorCode::kInvalidArgument, "field \"" + field.name + "\": there is no field type " +
                                                            std::to_string(static_cast<int>(field.type)));
  }
  jet::ColumnDesign design;
  design.name = field.name;
  design.type = *type;
  if (field.size < 0 || field.size > 0xFFFF) {
    return jet::Error(jet::ErrorCode::kInvalidArgument, "field \"" + field.name + "\": a size of " +
                                                            std::to_string(field.size) + " is out of range");
  }
  design.size = static_cast<uint16_t>(field.size == 0 ? 255 : field.size);
  design.allow_zero_length = field.allow_zero_length;
  return design;
}

jet::IndexDesign IndexDesignOf(const NewIndex& index) {
  jet::IndexDesign design;
  design.name = index.name;
  for (const std::string& field : index.fields) design.columns.push_back(jet::IndexColumnDesign{field, true});
  design.primary = index.primary;
  design.unique = index.unique || index.primary;
  return design;
}

}  // namespace velloran
