// The commands of the velloran-jet tool, separate from main so that each stays small.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velloran {

// Runs `command` with `args`; returns the process exit code (0 success, 1 problems found, 2 usage or error).
int RunJetCommand(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                  std::ostream& err);

}  // namespace velloran
