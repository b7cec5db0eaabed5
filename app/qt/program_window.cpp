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
  window.on_unload = [this] {
    program.Form_Unload();
    // Ending the program from the main window closes the singer windows without their own
    // closing steps (their placement is kept from their last close).
    singers_window.reset();
    next_singer.Drop();
  };
  window.on_popup = [this](const QPoint& at) {
    ShowPopupMenu(&window, program.Menu(), at, [this](const std::string& name) {
      if (name == "Mnu_Singers") {
        ToggleSingersWindow();
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
  singers_window->show();
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
  const QString title = QString::fromStdString(logic.ApplicationTitle);
  QApplication::setApplicationDisplayName(title);
  window.setWindowTitle(title);
  window.Attach(&logic);
  window.show();
  window.searchBox().setFocus();
}

}  // namespace velloran
