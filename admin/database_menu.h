// The "&Database" menu of the main window: creating a new database, adding existing files to the
// list, removing the current one, handing it to the desktop's program for .mdb files, and opening
// the two administration windows. The handlers change the database list, the current entry, the
// title text, the "&Select Table/Fields" switch and (for a new database) the shared connection.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "catalogue/access97.h"
#include "catalogue/engine.h"
#include "mainwindow/main_window_logic.h"
#include "platform/dialog_host.h"

namespace velloran {

// Creates the database at `path` when nothing is there yet, removes a leftover backup beside it
// (its base name + ".bak") and opens it into `db`. False, after telling the user why, when the
// file cannot be created or opened or the backup cannot be removed; `db` is then unchanged.
bool CreateAndOpenDatabase(std::unique_ptr<Connection>& db, const std::string& path, DialogHost& dialogs);

// The offer to convert an Access 97 catalogue (catalogue/access97.h), asked in message boxes
// titled `title`.
ConversionDialog AskInMessageBoxes(DialogHost& dialogs, const std::string& title);

class DatabaseMenu {
 public:
  // The two administration windows, as the program opens them: the selector modally (returning
  // when it closes), the add-records window without blocking (brought forward when open).
  struct Windows {
    std::function<void()> show_select_table;
    std::function<void()> show_add_records;
  };

  DatabaseMenu(MainWindowLogic& window, DialogHost& dialogs, std::string program_folder, Windows windows)
      : windows(std::move(windows)), window_(window), dialogs_(dialogs), program_folder_(std::move(program_folder)) {}

  void Mnu_Create_Database_Click();
  void Mnu_Database_Open_Click();
  void Mnu_Database_Close_Click();
  void Mnu_Database_Modify_Click();
  void Mnu_Database_Select_Click();
  void Mnu_Database_AddRecords_Click();

  // The handler of the menu item named `name`; false when it is no item of this menu.
  bool Run(const std::string& name);

  Windows windows;

 private:
  // The catalogue check, with an engine error (a file that is no Access database, one another
  // program is writing) shown as it is instead of ending the command.
  bool CheckDatabase();
  // What the Esc key does in the main window: the search box back, empty, the list emptied.
  void EscapeAction();
  void ShowDatabaseName();

  MainWindowLogic& window_;
  DialogHost& dialogs_;
  std::string program_folder_;
};

}  // namespace velloran
