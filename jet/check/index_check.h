// Verification of a table's indexes against its rows: the tree is well formed (every page owned
// by the table, intermediate entries equal to the last entry of their child, leaf pages linked in
// order), entries are in strictly increasing order, every row has exactly one entry (rows whose
// key columns are all NULL are left out of ignore-nulls indexes) and every entry's key is,
// byte for byte, the key computed from its row.
#pragma once

#include <string>
#include <vector>

#include "jet/file/pager.h"
#include "jet/pages/table_def.h"

namespace jet {

// Appends one line per problem found in the indexes of `def`.
void CheckTableIndexes(Pager& pager, const TableDef& def, std::vector<std::string>* problems);

}  // namespace jet
