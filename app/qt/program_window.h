// The whole program on one object: the Qt main window, the dialog host, the window's logic and
// the start-up and shutdown around them, wired together. main() makes one; widget tests make
// one with a scripted dialog host instead of the desktop's dialogs.
#pragma once

#include <memory>
#include <string>

#include "app/program.h"
#include "flags/song_flags.h"
#include "print/qt/print_window.h"
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
  SongFlags commands{dialogs};
  MainWindowLogic logic;
  Program program;
  // The song book window, made at the first "&Print Book"; the printer it prints on.
  std::unique_ptr<QPrinter> own_printer;
  std::unique_ptr<PrintWindow> book;

 private:
  void ShowBook();
};

}  // namespace velloran
