// Making a new, empty Access 2000 database (Jet 4) from nothing.
//
// The file holds what Access 2000 puts in a new database, built here rather than copied: the
// header page (masked, code page 1252, General sort order, the creation date, an empty password
// scrambled with that date), the global usage map on page 1, the system tables MSysObjects,
// MSysACEs, MSysQueries, MSysRelationships and MSysAccessObjects with their definitions, usage
// maps and index pages, the catalogue rows (containers, the MSysDb row with its properties naming
// the Access version, the system tables) and the access-control rows.
//
// Deliberate differences from a database Access itself creates:
//   - Rows that only Access's user interface owns are left out: MSysAccessObjects is empty (Access
//     keeps its project storage there, written by Access alone), and the AccessLayout,
//     SummaryInfo and UserDefined catalogue rows are not written. Access treats all of them as its
//     own documents.
//   - No access-control row names the Admins group: its SID belongs to the workgroup file of the
//     machine that made the database, so it means nothing elsewhere. The Admin user, the Users
//     group and the creator hold the same rights as in a database Access makes.
//   - Page numbers past page 13 differ (pages are laid out in the order the engine writes them).
#pragma once

#include <string>

#include "jet/base/status.h"

namespace jet {

struct NewDatabaseOptions {
  double creation_date = 0;  // days since 1899-12-30 (local time); 0: now
};

// Creates the database at `path`. Never writes over an existing file (kInvalidArgument when
// `path` exists, even if it appears while the database is being built); on any failure nothing is
// left at `path`.
Status CreateDatabase(const std::string& path, const NewDatabaseOptions& options = {});

// The Access version and build the new database's MSysDb properties name.
constexpr const char* kNewDatabaseAccessVersion = "08.50";
constexpr int kNewDatabaseAccessBuild = 6620;

}  // namespace jet
