#include "jet/schema/relationships.h"

#include <map>

#include "jet/pages/property_map.h"
#include "jet/schema/system_catalogue_writer.h"

namespace jet {

Result<std::vector<Relationship>> ReadRelationships(Pager& pager) {
  auto table = ReadSystemTable(pager, "MSysRelationships");
  if (!table.ok()) {
    if (table.error().code() == ErrorCode::kNotFound) return std::vector<Relationship>{};
    return table.error();
  }
  const TableDef& def = table.value();
  JET_ASSIGN_OR_RETURN(std::vector<FoundRow> rows, FindRows(pager, def, [](const std::vector<Value>&) { return true; }));
  // A relationship's rows by its name, each pair at its icolumn.
  std::map<std::string, Relationship> by_name;
  for (const FoundRow& row : rows) {
    const std::string name = ColumnText(def, row.values, "szRelationship");
    Relationship& r = by_name[name];
    r.name = name;
    r.table = ColumnText(def, row.values, "szObject");
    r.referenced_table = ColumnText(def, row.values, "szReferencedObject");
    r.flags = static_cast<uint32_t>(ColumnInteger(def, row.values, "grbit"));
    const int64_t count = ColumnInteger(def, row.values, "ccolumn"), at = ColumnInteger(def, row.values, "icolumn");
    if (count < 1 || count > 10 || at < 0 || at >= count) {
      return pager.Corrupt(def.page, "relationship \"" + name + "\" numbers its columns wrongly (" + std::to_string(at) +
                                         " of " + std::to_string(count) + ")");
    }
    r.columns.resize(static_cast<size_t>(count));
    r.referenced_columns.resize(static_cast<size_t>(count));
    r.columns[static_cast<size_t>(at)] = ColumnText(def, row.values, "szColumn");
    r.referenced_columns[static_cast<size_t>(at)] = ColumnText(def, row.values, "szReferencedColumn");
  }
  std::vector<Relationship> out;
  for (auto& [name, r] : by_name) {
    for (size_t i = 0; i < r.columns.size(); ++i) {
      if (r.columns[i].empty() || r.referenced_columns[i].empty()) {
        return pager.Corrupt(def.page, "relationship \"" + name + "\" lacks column pair " + std::to_string(i));
      }
    }
    out.push_back(std::move(r));
  }
  return out;
}

Result<std::vector<std::string>> RequiredColumns(const Value& properties) {
  std::vector<std::string> required;
  const Bytes* blob = std::get_if<Bytes>(&properties);
  // Access 97 keeps properties in another format; its files are not written.
  if (blob == nullptr || blob->compare(0, 3, "MR2") != 0) return required;
  JET_ASSIGN_OR_RETURN(std::vector<PropertySet> sets, DecodePropertyBlob(*blob));
  for (const PropertySet& set : sets) {
    if (set.object.empty()) continue;  // the table's own
    for (const Property& p : set.properties) {
      if (p.name == "Required" && p.type == 0x01 && !p.value.empty() && p.value[0] != 0) required.push_back(set.object);
    }
  }
  return required;
}

}  // namespace jet
