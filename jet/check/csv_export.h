// CSV export of a table in the form the common command-line Jet tools produce with their default
// options, so that exports can be compared byte for byte: a header line, "," between fields,
// text-like values in double quotes with quotes doubled, Booleans as 0/1, NULL as an empty field.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

// Formats one value of `column` as it appears in the export (quoted where text-like).
std::string FormatExportField(const ColumnDef& column, const Value& value);

// Appends one line of an export: each value formatted for its column, "," between, then a newline.
void AppendExportLine(const std::vector<ColumnDef>& columns, const std::vector<Value>& values, std::string* out);

// Writes the whole table to `out`, as one state of the file: the read lock is held while it is read.
Status ExportTableCsv(Database& db, const std::string& table, std::ostream& out);

}  // namespace jet
