#include "app/program.h"

#include <algorithm>

namespace velloran {

MessageAnswer DialogCatalogueHost::ShowMessage(const std::string& text, MessageButtons buttons) {
  if (buttons == MessageButtons::kOk) {
    dialogs_.MessageBox(text, BoxButtons::kOk, BoxIcon::kWarning, "");
    return MessageAnswer::kOk;
  }
  if (buttons == MessageButtons::kYesNo) {
    return dialogs_.MessageBox(text, BoxButtons::kYesNo, BoxIcon::kQuestion, "") == BoxAnswer::kYes ? MessageAnswer::kYes
                                                                                                 : MessageAnswer::kNo;
  }
  return dialogs_.MessageBox(text, BoxButtons::kRetryCancel, BoxIcon::kWarning, "") == BoxAnswer::kRetry
             ? MessageAnswer::kRetry
             : MessageAnswer::kCancel;
}

Program::Program(MainWindowLogic& logic, MainWindowView& view, DialogHost& dialogs, ListCommands& commands,
                 std::string settings_folder, FontSpec window_font)
    : logic_(logic),
      view_(view),
      dialogs_(dialogs),
      commands_(commands),
      folder_(std::move(settings_folder)),
      window_font_(std::move(window_font)),
      database_menu_(logic, dialogs, folder_, {}) {}

void Program::Form_Load(const std::string& executable_base_name, const std::string& command_line,
                        const std::string& demo_database) {
  executable_ = executable_base_name;
  logic_.VersionText = AppVersionText();
  logic_.StartupFontName = window_font_.Name;
  logic_.BeginLoad(executable_base_name, command_line);
  LoadSettings();
  if (!demo_database.empty()) UseDatabase(demo_database);
  logic_.FinishLoad(FavouritesBackupPath());
}

void Program::LoadSettings() {
  Settings s = DefaultSettings(window_font_);
  jet::Result<std::string> text = ReadSettingsFile(SettingsPath());
  if (text.ok()) {
    ParseSettings(*text, s);
  } else {
    dialogs_.MessageBox(text.error().message(), BoxButtons::kOk, BoxIcon::kWarning, "");
  }
  logic_.form.Results.Clear();
  logic_.form.Databases = s.Databases;
  logic_.Display = s.Display;
  logic_.Switches.ScreenSaver = s.ScreenSaver;
  logic_.Switches.AllowColumnResize = s.AllowColumnResizing;
  logic_.form.TitleText = s.TitleText;
  // The placement is applied as it was read, with window resizing allowed as designed until
  // the file's own switch comes.
  logic_.Switches.AllowWindowResize = true;
  for (const WindowLine& line : s.WindowLines) ApplyPlacement(line);
  logic_.Switches.AllowWindowResize = s.AllowWindowResizing;
  kept_ = std::move(s);
}

void Program::ApplyPlacement(const WindowLine& line) {
  if (line.kind == WindowLine::kAllowWindowResizing) {
    logic_.Switches.AllowWindowResize = line.value != 0;
    return;
  }
  WindowRect at = view_.Placement();
  float* field = line.kind == WindowLine::kTop    ? &at.Top
                 : line.kind == WindowLine::kLeft ? &at.Left
                 : line.kind == WindowLine::kWidth ? &at.Width
                                                  : &at.Height;
  *field = line.value;
  view_.SetPlacement(at);
  if (line.kind == WindowLine::kWidth || line.kind == WindowLine::kHeight) logic_.Form_Resize();
}

void Program::UseDatabase(const std::string& path) {
  DatabaseList& list = logic_.form.Databases;
  for (int i = 1; i <= list.count(); ++i) {
    if (list.entries[static_cast<size_t>(i)].Database == path) {
      list.CurrentDB = static_cast<int16_t>(i);
      return;
    }
  }
  if (list.count() >= 32767) return;
  list.entries.push_back(DatabaseEntry{path, "Songs", "Artist", "Song", "SongNumber", "DiskID"});
  list.CurrentDB = static_cast<int16_t>(list.count());
}

void Program::Form_Unload() {
  const DatabaseList& list = logic_.form.Databases;
  if (!list.current().Database.empty()) commands_.ExportFavourites(FavouritesBackupPath());
  Settings s = kept_;
  s.Databases = list;
  s.Display = logic_.Display;
  s.ScreenSaver = logic_.Switches.ScreenSaver;
  s.AllowColumnResizing = logic_.Switches.AllowColumnResize;
  s.AllowWindowResizing = logic_.Switches.AllowWindowResize;
  s.AlwaysOnTop = logic_.Switches.OnTop;
  s.Window = view_.Placement();
  s.TitleText = logic_.form.TitleText;
  jet::Status saved = WriteFileAtomically(SettingsPath(), FormatSettings(s));
  if (!saved.ok()) dialogs_.MessageBox("The settings could not be saved: " + saved.error().message(), BoxButtons::kOk,
                                       BoxIcon::kWarning, "");
}

MenuItem& Program::Menu() {
  SyncMenu(menu_, logic_.Switches);
  return menu_;
}

void Program::MenuCommand(const std::string& name) {
  MenuSwitches& s = logic_.Switches;
  if (database_menu_.Run(name)) return;
  if (name == "Mnu_Exit") {
    view_.EndProgram();
  } else if (name == "Mnu_AllowColumnResize") {
    logic_.Mnu_AllowColumnResize_Click();
  } else if (name == "Mnu_Options_Display_ResetCols") {
    logic_.Mnu_Options_Display_ResetCols_Click();
  } else if (name == "Mnu_Options_ScreenSaver") {
    s.ScreenSaver = !s.ScreenSaver;
  } else if (name == "Mnu_AllowWindowResize") {
    s.AllowWindowResize = !s.AllowWindowResize;
  } else if (name == "Mnu_OnTop") {
    s.OnTop = !s.OnTop;
    logic_.form.OnTop = s.OnTop;
    view_.SetTopMost(s.OnTop);
  } else if (name == "Mnu_Options_ListFont") {
    options_.Mnu_Options_ListFont_Click();
  } else if (name == "Mnu_Options_Results") {
    options_.Mnu_Options_Results_Click();
  } else if (name == "Mnu_Options_TitleText") {
    options_.Mnu_Options_TitleText_Click();
  } else if (name == "Mnu_Options_TitleFont") {
    options_.Mnu_Options_TitleFont_Click();
  } else if (name == "Mnu_Print_ShowFlags") {
    s.ShowPrintFlags = !s.ShowPrintFlags;
    logic_.ShowSongs();
  } else {
    // The song book window opens beside the main window, which leaves the top-most layer for it.
    if (name == "Mnu_Print_Print") view_.SetTopMost(false);
    commands_.MenuCommand(name);
  }
  // The administration commands arrive with their windows.
}

}  // namespace velloran
