// Pieces the design changes share (internal to the schema editor): the table being changed with
// its catalogue row, column properties, index filling and foreign-key references.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jet/schema/system_catalogue_writer.h"
#include "jet/file/pager.h"
#include "jet/pages/property_map.h"
#include "jet/base/status.h"
#include "jet/pages/table_def_writer.h"
#include "jet/schema/table_design.h"

namespace jet {

// Refuses anything but a writable Jet 4 database inside a write.
Status RequireDesignWrite(Pager& pager);

// `status`, its message led by the file's path when it does not name the file yet: a design change
// is refused for one catalogue of the several a host may have open, and must say which.
Status NamingFile(const Pager& pager, Status status);

// A user table about to change: its catalogue row and its stored definition.
struct DesignTarget {
  TableDef catalogue;
  FoundRow row;
  StoredTableDef stored;
};

// Loads the user table `name`; kNotFound when there is none, kInvalidArgument for a system table.
Result<DesignTarget> LoadDesignTarget(Pager& pager, const std::string& name);

// The properties a new column gets: Required, and for Text and Memo AllowZeroLength.
PropertySet ColumnProperties(const ColumnDesign& design);

// Rewrites the LvProp blob of the target's catalogue row with `edit` applied to its property
// sets (none when it has no blob), and sets DateUpdate to now.
Status EditProperties(Pager& pager, DesignTarget* target, const std::function<void(std::vector<PropertySet>*)>& edit);

// Adds an entry for every row of `def` to its physical index `index` (whose root is empty);
// returns the number of distinct keys. kConstraint when a row breaks the index.
Result<uint32_t> FillIndex(Pager& pager, const TableDef& def, const PhysicalIndex& index, const std::string& index_name,
                           bool values_required);

// Whether a logical index entry records a relationship.
bool TakesPartInRelationship(const DefinitionExtras::Logical& logical);
uint32_t RelatedTablePage(const DefinitionExtras::Logical& logical);

// Every user table's catalogue row (type 1 in the Tables container, not a system table).
Result<std::vector<FoundRow>> UserTableRows(Pager& pager, const TableDef& catalogue);
uint32_t DefinitionPageOf(const TableDef& catalogue, const FoundRow& row);

// Adds the logical index `design` (already checked) to `stored`, sharing the physical index of an
// existing one with the same columns, order and flags; returns the position of the physical
// index it added, if it added one (whose storage the caller then allocates).
std::optional<size_t> AddIndexEntries(StoredTableDef* stored, const IndexDesign& design);

// Removes logical index `position` of `stored` and its physical index when no other logical index
// shares it (releasing its pages); closes up the numbers after it.
Status RemoveLogicalIndex(Pager& pager, StoredTableDef* stored, size_t position);

}  // namespace jet
