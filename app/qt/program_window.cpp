#include "app/qt/program_window.h"

#include <QApplication>
#include <cstdlib>

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
      program(logic, window, dialogs, commands, settings_folder, DesignFont()) {
  host.AttachSwitches(&logic.Switches);
  auto select_table = [this] { ShowSelectTable(&window, logic.form.Databases, host, dialogs); };
  host.AttachTableSelector(select_table);
  program.Databases().windows.show_select_table = select_table;
  program.Databases().windows.show_add_records = [this] {
    add_records.Show(&window, logic.form.Databases, host, dialogs);
  };
  window.on_unload = [this] { program.Form_Unload(); };
  window.on_popup = [this](const QPoint& at) {
    ShowPopupMenu(&window, program.Menu(), at, [this](const std::string& name) {
      program.MenuCommand(name);
      window.update();
    });
  };
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
