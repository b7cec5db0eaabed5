// velloran-jet: look into an Access database from the command line.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "tools/jet_commands.h"
#include "tools/jet_design_commands.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: velloran-jet COMMAND FILE [ARGS]\n"
               "  tables FILE            list the user tables, one per line\n"
               "  schema FILE [TABLE]    print the columns and indexes of one or every user table\n"
               "  export FILE TABLE      write the table as CSV (header line, quoted text)\n"
               "  check FILE             read every row and index of every table; exit 1 with a list of problems\n"
               "  sql FILE \"STATEMENT\"   run one SQL statement; a SELECT prints its rows as CSV\n");
  velloran::PrintDesignUsage(std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    PrintUsage();
    return 2;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  return velloran::RunJetCommand(command, args, std::cout, std::cerr);
}
