#include "app/qt/program_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "app/qt/about_window.h"
#include "admin/qt/select_table_window.h"
#include "app/qt/qt_menu.h"

namespace velloran {

namespace {

FontSpec DesignFont() { return FontSpec{QApplication::font().family().toStdString(), 8, false, false, false}; }

}  // namespace

ProgramWindow::ProgramWindow(const std::string& settings_folder, DialogHost* scripted)
    : desktop_dialogs(scripted == nullptr ? std::make_unique<QtDialogHost>(&window) : nullptr),
      dialogs(scripted != nullptr ? *scripted : *desktop_dialogs),
      // Cancelling the question about a database another program holds ends the run at once,
      // without saving the settings.
      host(dialogs, [] { std::_Exit(1); }),
      logic(window.surface(), window, host, dialogs, commands),
      program(logic, window, dialogs, commands, settings_folder, DesignFont()),
      next_singer(singers, dialogs, program.KeptSettings().NextSingerWindow, program.KeptSettings().NextSingerFont) {
  host.AttachSwitches(&logic.Switches);
  auto select_table = [this] { ShowSelectTable(&window, logic.form.Databases, host, dialogs); };
  host.AttachTableSelector(select_table);
  program.Databases().windows.show_select_table = select_table;
  program.Databases().windows.show_add_records = [this] {
    add_records.Show(&window, logic.form.Databases, host, dialogs);
  };
  commands.Attach(logic);
  commands.ShowBook = [this] { ShowBook(); };
  request_service.on_request = [this] {
    if (singers_window != nullptr) singers_window->logic().GetSingers();
  };
  window.on_unload = [this] {
    program.Form_Unload();
    // Ending the program from the main window closes the singer windows without their own
    // closing steps (their placement is kept from their last close).
    singers_window.reset();
    next_singer.Drop();
  };
  window.on_popup = [this](const QPoint& at) {
    MenuItem& menu = program.Menu();
    FindMenuItem(menu, "Mnu_Requests_On")->checked = request_server.running();
    FindMenuItem(menu, "Mnu_Requests_AtOnce")->checked = program.KeptSettings().RequestsJoinAtOnce;
    ShowPopupMenu(&window, menu, at, [this](const std::string& name) {
      if (name == "Mnu_Singers") {
        ToggleSingersWindow();
      } else if (name == "Mnu_Requests_On") {
        ToggleRequests();
      } else if (name.starts_with("Mnu_Requests_")) {
        RequestsCommand(name);
      } else if (name == "Mnu_About") {
        AboutWindow(&window, dialogs).exec();
      } else {
        program.MenuCommand(name);
      }
      window.update();
    });
  };
}

void ProgramWindow::ToggleSingersWindow() {
  logic.Switches.Singers = !logic.Switches.Singers;
  if (!logic.Switches.Singers) {
    if (singers_window != nullptr) singers_window->close();
    return;
  }
  if (singers_window != nullptr) return;
  Settings& kept = program.KeptSettings();
  singers_window = std::make_unique<SingersWindow>(singers, next_singer, dialogs, kept.SingerWindow,
                                                   logic.Switches.Singers);
  singers_window->on_closed = [this] {
    // The window goes once its own close event is over.
    QTimer::singleShot(0, &window, [this] { singers_window.reset(); });
  };
  singers_window->logic().Form_Load(logic.Display[0].ListFont);
  AttachRequests();
  singers_window->show();
}

void ProgramWindow::AttachRequests() {
  const std::string address = request_server.running() ? request_server.Address() : "";
  next_singer.SetRequestsAddress(QString::fromStdString(address), address.empty() ? QImage() : QrCodeImage(address));
  if (singers_window == nullptr) return;
  if (!request_server.running()) {
    singers_window->logic().AttachRequests(nullptr, nullptr);
    return;
  }
  // Accepting does with the phone's name what Enter in the main window does with a typed one.
  singers_window->logic().AttachRequests(&requests, [this](const std::string& name, const ResultRow& song) {
    commands.AddSinger(name, song);
  });
}

void ProgramWindow::ApplyRequestSettings() {
  const Settings& kept = program.KeptSettings();
  request_service.venue_code = kept.RequestsCode;
  request_service.join_at_once = nullptr;
  if (kept.RequestsJoinAtOnce)
    request_service.join_at_once = [this](const std::string& name, const ResultRow& song) { commands.AddSinger(name, song); };
}

void ProgramWindow::RequestsCommand(const std::string& name) {
  Settings& kept = program.KeptSettings();
  if (name == "Mnu_Requests_AtOnce") {
    kept.RequestsJoinAtOnce = !kept.RequestsJoinAtOnce;
  } else if (name == "Mnu_Requests_Port") {
    const std::string typed = dialogs.Prompt("Port for song requests (1 to 65535):", "", std::to_string(kept.RequestsPort));
    if (typed.empty()) return;
    const int port = std::atoi(typed.c_str());
    if (port < 1 || port > 65535 || typed.find_first_not_of("0123456789 ") != std::string::npos) {
      dialogs.MessageBox("\"" + typed + "\" is not a port; type a number from 1 to 65535.", BoxButtons::kOk, BoxIcon::kWarning, "");
      return;
    }
    kept.RequestsPort = port;
    if (request_server.running()) {
      request_server.Stop();
      kept.RequestsEnabled = StartRequests();
    }
  } else if (name == "Mnu_Requests_Code") {
    const std::string typed =
        dialogs.Prompt("Venue code the request page asks for (four digits; - for none):", "", kept.RequestsCode);
    if (typed.empty()) return;
    const bool digits = typed.size() == 4 && typed.find_first_not_of("0123456789") == std::string::npos;
    if (!digits && typed != "-") {
      dialogs.MessageBox("A venue code is four digits, such as 2580.", BoxButtons::kOk, BoxIcon::kWarning, "");
      return;
    }
    kept.RequestsCode = digits ? typed : "";
  }
  ApplyRequestSettings();
}

bool ProgramWindow::StartRequests() {
  const Settings& kept = program.KeptSettings();
  ApplyRequestSettings();
  jet::Status started = request_server.Start(static_cast<uint16_t>(kept.RequestsPort));
  if (!started.ok()) {
    dialogs.MessageBox(started.error().message(), BoxButtons::kOk, BoxIcon::kWarning, "");
    return false;
  }
  AttachRequests();
  return true;
}

void ProgramWindow::ToggleRequests() {
  Settings& kept = program.KeptSettings();
  if (request_server.running()) {
    request_server.Stop();
    kept.RequestsEnabled = false;
    AttachRequests();
    return;
  }
  kept.RequestsEnabled = StartRequests();
  if (!kept.RequestsEnabled) return;
  std::string text = "Song requests are on. Phones on this network open " + request_server.Address();
  if (!kept.RequestsCode.empty()) text += " and type the venue code " + kept.RequestsCode;
  dialogs.MessageBox(text + ". The address and its QR code show on the next-singer display.", BoxButtons::kOk,
                     BoxIcon::kInformation, "");
}

void ProgramWindow::ShowBook() {
  if (!book) {
    QPrinter* printer = desktop_dialogs ? &desktop_dialogs->CurrentPrinter() : nullptr;
    if (printer == nullptr) {
      own_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
      printer = own_printer.get();
    }
    book = std::make_unique<PrintWindow>(*printer, dialogs, [this] { return logic.form.Databases.current(); });
  }
  book->logic().Form_Load();
  book->show();
  book->raise();
}

void ProgramWindow::Start(const std::string& executable_base_name, const std::string& command_line,
                          const std::string& demo_database) {
  program.Form_Load(executable_base_name, command_line, demo_database);
  if (program.KeptSettings().RequestsEnabled) program.KeptSettings().RequestsEnabled = StartRequests();
  const QString title = QString::fromStdString(logic.ApplicationTitle);
  QApplication::setApplicationDisplayName(title);
  window.setWindowTitle(title);
  window.Attach(&logic);
  window.show();
  window.searchBox().setFocus();
}

}  // namespace velloran
