// The program around the main window, without widgets: start-up (the settings read and applied,
// the current database opened), the menu's commands, and shutdown (the settings written).
#pragma once

#include <functional>
#include <string>

#include "app/display_options.h"
#include "admin/database_menu.h"
#include "app/menu_model.h"
#include "app/settings.h"
#include "catalogue/catalogue_host.h"
#include "mainwindow/main_window_logic.h"
#include "platform/dialog_host.h"

namespace velloran {

// The catalogue's questions, asked through the dialog layer.
class DialogCatalogueHost : public CatalogueHost {
 public:
  DialogCatalogueHost(DialogHost& dialogs, std::function<void()> end_program)
      : dialogs_(dialogs), end_program_(std::move(end_program)) {}
  void AttachSwitches(MenuSwitches* switches) { switches_ = switches; }
  // How the program shows the table and field selector.
  void AttachTableSelector(std::function<void()> show) { show_selector_ = std::move(show); }

  MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override;
  void ShowTableSelector() override {
    if (show_selector_) show_selector_();
  }
  void SetSelectTableEnabled(bool enabled) override {
    if (switches_ != nullptr) switches_->SelectTableEnabled = enabled;
  }
  void EndProgramAtOnce() override { end_program_(); }

 private:
  DialogHost& dialogs_;
  std::function<void()> end_program_;
  MenuSwitches* switches_ = nullptr;
  std::function<void()> show_selector_;
};

class Program {
 public:
  // `settings_folder` holds the settings file and the favourites backup; `window_font` is the
  // window's design font, the source of the default list and title fonts.
  Program(MainWindowLogic& logic, MainWindowView& view, DialogHost& dialogs, ListCommands& commands,
          std::string settings_folder, FontSpec window_font);

  std::string SettingsPath() const { return IniPath(folder_, executable_); }
  std::string FavouritesBackupPath() const { return folder_ + "/favourites.tmp"; }

  // Form_Load: the title from the command line, the settings, then `demo_database` (when given)
  // made the current database, the current database checked and opened, the first drawing.
  void Form_Load(const std::string& executable_base_name, const std::string& command_line,
                 const std::string& demo_database = "");
  // Form_Unload: the favourites exported, the settings written whole.
  void Form_Unload();

  // The popup menu as it stands now, and what choosing an item does.
  // The settings other windows own (the singer windows' placement and font), written back at
  // unload as they stand then.
  Settings& KeptSettings() { return kept_; }

  MenuItem& Menu();
  void MenuCommand(const std::string& name);
  // The "&Database" menu; the windows around the program set how it opens the administration
  // windows.
  DatabaseMenu& Databases() { return database_menu_; }

 private:
  void LoadSettings();
  void ApplyPlacement(const WindowLine& line);
  void UseDatabase(const std::string& path);

  MainWindowLogic& logic_;
  MainWindowView& view_;
  DialogHost& dialogs_;
  ListCommands& commands_;
  std::string folder_;
  std::string executable_ = "velloran";
  FontSpec window_font_;
  Settings kept_;  // what other windows own, kept to be written back as it was read
  MenuItem menu_ = BuildMainMenu();
  DisplayOptions options_{logic_, dialogs_};
  DatabaseMenu database_menu_;
};

}  // namespace velloran
