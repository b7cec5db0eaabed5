#include "jet/schema/column_properties.h"

#include "jet/pages/property_map.h"
#include "jet/schema/system_catalogue.h"
#include "jet/schema/system_catalogue_writer.h"

namespace jet {

Result<std::map<std::string, TableProperties>> ReadColumnProperties(Pager& pager) {
  std::map<std::string, TableProperties> tables;
  JET_ASSIGN_OR_RETURN(TableDef catalogue, ReadSystemTable(pager, "MSysObjects"));
  if (catalogue.FindColumn("LvProp") == nullptr || catalogue.FindColumn("Type") == nullptr) return tables;
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> rows, FindRows(pager, catalogue, [&](const std::vector<Value>& row) {
    const int64_t* type = std::get_if<int64_t>(&row[catalogue.FindColumn("Type") - catalogue.columns.data()]);
    return type != nullptr && *type == static_cast<int16_t>(ObjectType::kTable);
  }));
  for (const FoundRow& row : rows) {
    const Value name = ColumnValue(catalogue, row.values, "Name");
    const Value blob = ColumnValue(catalogue, row.values, "LvProp");
    const Text* table = std::get_if<Text>(&name);
    const Bytes* bytes = std::get_if<Bytes>(&blob);
    if (table == nullptr || bytes == nullptr || bytes->compare(0, 3, "MR2") != 0) continue;
    auto sets = DecodePropertyBlob(*bytes);
    if (!sets.ok()) return sets.error().WithContext(pager.path() + ": the properties of table \"" + ToUtf8(*table) + "\"");
    TableProperties& columns = tables[ToUtf8(*table)];
    for (const PropertySet& set : sets.value()) {
      if (set.object.empty()) continue;  // the table's own properties
      ColumnProperties& column = columns[set.object];
      for (const Property& p : set.properties) {
        const bool yes = p.type == 0x01 && !p.value.empty() && p.value[0] != 0;
        if (p.name == "Required") column.required = yes;
        if (p.name == "AllowZeroLength") column.allow_zero_length = yes;
      }
    }
  }
  return tables;
}

}  // namespace jet
