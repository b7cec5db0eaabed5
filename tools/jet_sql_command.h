// `velloran-jet sql FILE "STATEMENT"`: runs one SQL statement against a database.
#pragma once

#include <ostream>
#include <string>

namespace velloran {

// Runs `statement` against the database `file`. A SELECT prints its rows to `out` as CSV in the
// form `velloran-jet export` uses (a header line of the selected columns, then one line a row).
// Other statements are parsed but not run here. Returns the process exit code: 0 success, 2 an
// error (reported on `err`, naming the statement and the position).
int RunSqlCommand(const std::string& file, const std::string& statement, std::ostream& out, std::ostream& err);

}  // namespace velloran
