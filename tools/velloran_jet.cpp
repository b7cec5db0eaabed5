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
               "  convert FILE NEW       copy every table, its rows and indexes into a new Access 2000 file\n"
               "  sql FILE \"STATEMENT\"   run one SELECT (its rows as CSV), UPDATE or DELETE\n"
               "  insert FILE TABLE COLUMN=VALUE ...            add one row (columns left out are empty)\n"
               "  update FILE TABLE KEY=VALUE COLUMN=VALUE ...  change the rows whose KEY column equals VALUE\n"
               "  delete FILE TABLE KEY=VALUE                   delete the rows whose KEY column equals VALUE\n"
               "  (values: numbers as written, true/false, YYYY-MM-DD [HH:MM[:SS]], {GUID}, hex for binary;\n"
               "   an empty value is NULL)\n");
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
