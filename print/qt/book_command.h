// The song book from the command line, for hosts who publish it:
//   velloran book FILE TABLE OUT.pdf [--by song|artist] [--font NAME:SIZE]
// writes the PDF of the table's flagged songs with the window's layout.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velloran {

// `args` are the words after "book". Returns the process's exit code: 0 written, 1 failed, 2
// a wrong command line (the usage is printed to `err`).
int RunBookCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velloran
