// The whole program on one object: the Qt main window, the dialog host, the window's logic and
// the start-up and shutdown around them, wired together. main() makes one; widget tests make
// one with a scripted dialog host instead of the desktop's dialogs.
#pragma once

#include <memory>
#include <string>

#include "admin/qt/add_records_window.h"
#include "app/program.h"
#include "flags/song_flags.h"
#include "print/qt/print_window.h"
#include "requests/qt/request_server.h"
#include "mainwindow/qt/main_window.h"
#include "platform/qt/qt_dialog_host.h"
#include "singers/qt/next_singer_window.h"
#include "singers/qt/singers_window.h"

namespace velloran {

// The list commands the program serves: the favourites and print flags, and the singers queue that
// Enter appends to.
class ProgramCommands : public SongFlags {
 public:
  ProgramCommands(DialogHost& dialogs, SingerList& singers) : SongFlags(dialogs), singers_(singers) {}
  void AddSinger(const std::string& name, const ResultRow& song) override { singers_.Append(name, song); }

 private:
  SingerList& singers_;
};

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
  SingerList singers;  // the evening's queue, emptied at every start
  ProgramCommands commands{dialogs, singers};
  MainWindowLogic logic;
  Program program;
  NextSingerHost next_singer;
  std::unique_ptr<SingersWindow> singers_window;
  // The song book window, made at the first "&Print Book"; the printer it prints on.
  std::unique_ptr<QPrinter> own_printer;
  std::unique_ptr<PrintWindow> book;
  AddRecordsHost add_records;
  // Songs asked for from phones, the search they run and the server that takes them.
  PendingRequests requests;
  CatalogueSongFinder song_finder{logic.form.Databases};
  RequestService request_service{song_finder, requests};
  RequestServer request_server{request_service};

  // "&Singers": its check mark on opens the singers window, off closes it.
  void ToggleSingersWindow();
  // "&Take Requests": switches the request server on (saying where phones find it) or off. The
  // state is kept in the settings, so a server on at the end is on again at the next start.
  void ToggleRequests();
  // The rest of "Song &Requests": the port, the venue code, requests straight into the queue.
  void RequestsCommand(const std::string& name);

 private:
  void ShowBook();
  // Starts the server from the settings' port and code; false after telling the host why not.
  bool StartRequests();
  // The venue code and where accepted requests go, from the settings.
  void ApplyRequestSettings();
  // The singers window's requests list follows the server.
  void AttachRequests();
};

}  // namespace velloran
