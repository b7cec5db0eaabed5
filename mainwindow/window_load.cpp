// The main window's part of start-up: limits, the application title, the design edges, and,
// once the settings are in, the current database and the first drawing.
#include "catalogue/disk_info.h"
#include "mainwindow/main_window_logic.h"

namespace velloran {

std::string MainWindowLogic::TitleFromCommandLine(const std::string& command_line, const std::string& fallback) {
  std::string lower = command_line;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const size_t p = lower.find("/title");
  if (p == std::string::npos) return fallback;
  // The character after the switch separates it from the title, whatever it is.
  const size_t from = p + 7;
  if (from >= command_line.size()) return std::string();
  std::string title = command_line.substr(from);
  const size_t first = title.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return title.substr(first, title.find_last_not_of(' ') - first + 1);
}

void MainWindowLogic::BeginLoad(const std::string& executable_base_name, const std::string& command_line) {
  form.MaxResults = 1000;
  IdleCountdown = 20;
  ApplicationTitle = TitleFromCommandLine(command_line, executable_base_name);
  DefaultColumnEdges = kDesignColumnEdges;
  ActiveColumn = 1;
  // The designed placement is what a size change from the settings file returns to while
  // window resizing is off.
  SavedPlacement = view_.Placement();
}

void MainWindowLogic::FinishLoad(const std::string& favourites_backup) {
  DatabaseList& list = form.Databases;
  if (list.count() >= 1) {
    if (list.CurrentDB == 0) list.CurrentDB = 1;
    form.TitleText = FileBaseName(list.current().Database);
    // The check tells the user what is wrong with a database it cannot use; an engine error
    // (a file that is no Access database, one another program is writing) is shown as it is.
    Guarded([&] {
      if (!form.CheckDatabase()) return;
      SharedConnection = Connection::Open(list.current().Database);
      commands_.ImportFavourites(favourites_backup);
    });
  } else {
    form.TitleText = "No database loaded!";
  }
  UpdateVersion();
  UpdateTitle();
}

}  // namespace velloran
