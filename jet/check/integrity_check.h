// Whole-file integrity check: reads every definition and row of every table (system tables
// included) and reports each problem it meets, so that damage is found before it is relied on.
#pragma once

#include <string>
#include <vector>

#include "jet/database.h"

namespace jet {

// Returns one line per problem; empty when the file is sound.
std::vector<std::string> CheckDatabase(Database& db);

}  // namespace jet
