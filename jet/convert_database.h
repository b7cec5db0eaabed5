// A copy of a database in the Access 2000 format: how a catalogue kept in an Access 97 file,
// which the engine reads but does not change, becomes one it can change.
//
// Every user table is copied with its columns (same names, types and sizes, in the same order),
// its rows (text decoded from the source's code page, so accented letters come over as the same
// Unicode characters) and its indexes (primary key, unique, ignore-nulls and required flags,
// descending columns). What the program never uses stays behind: saved queries, forms and
// reports, and relationships with the foreign-key indexes that serve them. Column properties the
// source does not hold in a form the engine reads (Access 97 keeps them so) are left at what
// lets every copied row in: not Required, zero-length text allowed.
#pragma once

#include <functional>
#include <string>

#include "jet/base/status.h"

namespace jet {

// Copies `source` into a new Access 2000 file at `target`. The copy is built under a temporary
// name beside `target` and renamed into place only once it is whole and durable, so a failure or
// a crash never leaves a half copy at `target`; `source` is only read. kInvalidArgument when
// something is already at `target`. `progress`, when given, is told each table's name before it
// is copied.
Status ConvertToAccess2000(const std::string& source, const std::string& target,
                           const std::function<void(const std::string& table)>& progress = nullptr);

}  // namespace jet
