// What Access keeps between and within the rows of user tables besides the indexes: the
// relationships recorded in MSysRelationships (one row per column pair, numbered by icolumn) and
// the columns whose Required property is Yes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

// grbit bits of a relationship.
constexpr uint32_t kRelationshipNotEnforced = 0x00000002;
constexpr uint32_t kRelationshipCascadeUpdates = 0x00000100;
constexpr uint32_t kRelationshipCascadeDeletes = 0x00001000;

struct Relationship {
  std::string name;
  std::string table;             // whose rows refer (szObject)
  std::string referenced_table;  // whose rows are referred to (szReferencedObject)
  // Column pairs in key order: columns[i] of `table` holds referenced_columns[i] of the other.
  std::vector<std::string> columns, referenced_columns;
  uint32_t flags = 0;

  bool enforced() const { return (flags & kRelationshipNotEnforced) == 0; }
  bool cascades_updates() const { return (flags & kRelationshipCascadeUpdates) != 0; }
  bool cascades_deletes() const { return (flags & kRelationshipCascadeDeletes) != 0; }
};

// Every relationship of the database (none when it has no MSysRelationships table). kCorrupt
// when a relationship's rows do not number its column pairs 0, 1, ... as many as they say.
Result<std::vector<Relationship>> ReadRelationships(Pager& pager);

// The columns (by name) whose Required property is Yes, from a table's LvProp value (a NULL
// value, or one not in Jet 4's format, has none).
Result<std::vector<std::string>> RequiredColumns(const Value& properties);

}  // namespace jet
