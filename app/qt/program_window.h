// The whole program on one object: the Qt main window, the dialog host, the window's logic and
// the start-up and shutdown around them, wired together. main() makes one; widget tests make
// one with a scripted dialog host instead of the desktop's dialogs.
#pragma once

#include <memory>
#include <string>

#include "admin/qt/add_records_window.h"
#include "app/program.h"
#include "mainwindow/qt/main_window.h"
#include "platform/qt/qt_dialog_host.h"

namespace velloran {

class ProgramWindow {
 public:
  // `dialogs` null: the desktop's dialogs.
  ProgramWindow(const std::string& settings_folder, DialogHost* dialogs = nullptr);

  // Form_Load, then the window is shown. The executable's base name names the settings file.
  void Start(const std::string& executable_base_name, const std::string& command_line,
             const std::string& demo_database = "");

  MainWindow window;
  std::unique_ptr<QtDialogHost> desktop_dialogs;
  DialogHost& dialogs;
  DialogCatalogueHost host;
  ListCommands commands;
  MainWindowLogic logic;
  Program program;
  AddRecordsHost add_records;
};

}  // namespace velloran
