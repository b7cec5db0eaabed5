// The row-writing commands of the velloran-jet tool:
//   insert FILE TABLE COLUMN=VALUE ...             add one row (columns not named are NULL;
//                                                  an autonumber left out gets the next number)
//   update FILE TABLE KEYCOLUMN=VALUE COLUMN=VALUE ...   change the named columns of every row
//                                                  whose KEYCOLUMN equals VALUE
//   delete FILE TABLE KEYCOLUMN=VALUE              delete every row whose KEYCOLUMN equals VALUE
// Each command is one all-or-nothing write that keeps Access's rules (jet/row_writer.h: no system
// table, required columns, relationships refused or cascaded). VALUE is read by the column's
// type: integers and decimals as written ("12", "-3.25"), Yes/No as true/false/yes/no/1/0, dates as YYYY-MM-DD
// [HH:MM[:SS]], GUIDs as {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, binary and OLE values as hex,
// text as UTF-8 (anything else is refused); an empty VALUE is NULL. A value the column cannot hold
// is refused, never stored as another. Text keys match as Access compares text (ignoring
// letter case and trailing blanks).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velloran {

// Each returns the process exit code: 0 done, 1 no row matched (update, delete), 2 usage or error
// (the message goes to `err`; nothing was changed).
int RunInsertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunUpdateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunDeleteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velloran
