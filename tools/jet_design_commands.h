// The design commands of the velloran-jet tool: making a database and changing its tables.
//
//   create FILE                                   a new, empty Access 2000 database
//   create-table FILE TABLE COLUMN...             COLUMN is name:type[:size][:option...]
//   add-column FILE TABLE COLUMN
//   add-index FILE TABLE INDEX COLUMN... [OPTION...]
//                                                 COLUMN is name or name:desc; OPTION is
//                                                 --primary, --unique, --ignore-nulls, --required
//   drop-index FILE TABLE INDEX
//   drop-column FILE TABLE COLUMN
//   drop-table FILE TABLE
//
// Column types: text (size in characters, default 255), memo, byte, integer, long, autonumber
// (a Long numbered automatically), single, double, currency, datetime, boolean (or yesno), guid,
// binary (size in bytes), ole, decimal (size is the precision). Column options: required,
// nozerolength (refuse empty text), nocompression (store text two bytes a character).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velloran {

// Whether `command` is one of the design commands above.
bool IsDesignCommand(const std::string& command);

// Runs a design command; returns the exit code (0 success, 2 usage or error, with a message on
// `err`). Every change is all-or-nothing.
int RunDesignCommand(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err);

// The usage lines of the design commands, for the tool's help.
void PrintDesignUsage(std::ostream& out);

}  // namespace velloran
