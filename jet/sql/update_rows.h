// Running an UPDATE statement inside the caller's write.
#pragma once

#include <string>

#include "jet/base/status.h"
#include "jet/database.h"
#include "jet/sql/sql_parser.h"

namespace jet {

// Changes every row the statement selects (whose text is `sql`, for messages), inside the write
// under way: with the write, all of them change or none does.
Status UpdateRows(Database& db, const UpdateStatement& update, const std::string& sql);

}  // namespace jet
