// Table designs between the program's terms (TableInfo, NewField, NewIndex) and the engine's
// (jet::TableDef, jet::ColumnDesign, jet::IndexDesign).
#pragma once

#include <map>
#include <string>

#include "catalogue/engine.h"
#include "jet/base/status.h"
#include "jet/database.h"
#include "jet/schema_editor.h"

namespace velloran {

using jet::TableProperties;

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
