// Table designs between the program's terms (TableInfo, NewField, NewIndex) and the engine's
// (jet::TableDef, jet::ColumnDesign, jet::IndexDesign).
#pragma once

#include <map>
#include <string>

#include "catalogue/engine.h"
#include "jet/schema/system_catalogue.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"
#include "jet/schema/table_design.h"

namespace velloran {

// The design properties Access keeps for a column in the catalogue, not in the definition.
struct ColumnProperties {
  bool required = false;
  bool allow_zero_length = false;
};
// Per column name, as the property sets spell it.
using TableProperties = std::map<std::string, ColumnProperties>;

// The column properties of every table, by table name as the catalogue spells it. Access 97
// files keep them in a form the engine does not read; their tables have none here.
jet::Result<std::map<std::string, TableProperties>> ReadTableProperties(jet::Pager& pager);

// The attribute flags the table list reports for a catalogue row.
uint32_t AttributesOf(const jet::CatalogEntry& entry);

// `properties` may be null (no properties known).
FieldInfo DescribeField(const jet::ColumnDef& column, jet::JetVersion version, const TableProperties* properties);
TableInfo DescribeTable(const jet::TableDef& def, jet::JetVersion version, const TableProperties* properties,
                        uint32_t attributes);

// What the engine is asked to create. kInvalidArgument for a type code it does not know.
jet::Result<jet::ColumnDesign> ColumnDesignOf(const NewField& field);
jet::IndexDesign IndexDesignOf(const NewIndex& index);

}  // namespace velloran
