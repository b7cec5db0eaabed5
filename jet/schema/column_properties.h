// The design properties Access keeps for columns in the catalogue (the LvProp blob of each
// table's MSysObjects row), not in the table definition.
#pragma once

#include <map>
#include <string>

#include "jet/base/status.h"
#include "jet/file/pager.h"

namespace jet {

struct ColumnProperties {
  bool required = false;
  bool allow_zero_length = false;
};
// Per column name, as the property sets spell it.
using TableProperties = std::map<std::string, ColumnProperties>;

// The column properties of every table, by table name as the catalogue spells it. Access 97
// files keep them in a form the engine does not read; their tables have none here.
Result<std::map<std::string, TableProperties>> ReadColumnProperties(Pager& pager);

}  // namespace jet
