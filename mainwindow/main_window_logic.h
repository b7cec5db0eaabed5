// The main window's behaviour without widgets: the drawn results list (Reset, ShowSongs, the
// column geometry), the keyboard commands, the mouse on the headings, the idle timer, and the
// title and version texts. It wraps the catalogue's Frm_Karaoke (databases, search, result set)
// and draws through a MainSurface; the Qt window only forwards events to it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/catalogue_host.h"
#include "catalogue/engine.h"
#include "mainwindow/frm_karaoke.h"
#include "mainwindow/display_settings.h"
#include "mainwindow/list_commands.h"
#include "mainwindow/main_surface.h"
#include "platform/dialog_host.h"
#include "platform/key_codes.h"

namespace velloran {

enum class MouseButton { kNone = 0, kLeft = 1, kRight = 2 };

class MainWindowLogic : public KaraokeSurface {
 public:
  MainWindowLogic(MainSurface& surface, MainWindowView& view, CatalogueHost& catalogue_host, DialogHost& dialogs,
                  ListCommands& commands);

  // Results list display.
  void Reset();
  void ShowSongs() override;
  float GetWidth(int i) const;
  void SetWidth(int i, float w);
  void Form_Resize();
  void Form_Activate();
  void UpdateVersion();
  void UpdateTitle();
  // The longest start of `text` (whole characters) whose width in the surface's font is at most
  // `width`: what dropping the last character until it fits leaves.
  std::string FitText(const std::string& text, float width);
  // A song number or disc ID fitted into `width`: whole, or what fits followed by an ellipsis.
  std::string FitIdentifier(const std::string& text, float width);

  // Keyboard.
  void Form_KeyDown(int16_t KeyCode, int16_t Shift);
  // Esc (27) and Enter (13); sets `KeyAscii` to 0 when Enter starts a search.
  void Form_KeyPress(int16_t& KeyAscii);
  void Timer2_Timer();
  void Txt_Search_GotFocus();
  void Txt_Search_Change(const std::string& text) { form.SearchText = text; }

  // Mouse on the list and its headings; X, Y in twips.
  void Form_MouseDown(MouseButton Button, int16_t Shift, float X, float Y);
  void Form_MouseMove(MouseButton Button, int16_t Shift, float X, float Y);
  void Form_DragDrop(const DragSource& Source, float X, float Y);
  void Mnu_Options_Display_ResetCols_Click();
  void Mnu_AllowColumnResize_Click();

  // Start-up, the window's part of it: the limits, the application title from the command line
  // (as typed), the design column edges. The settings are applied by the caller afterwards.
  void BeginLoad(const std::string& executable_base_name, const std::string& command_line);
  // After the settings: the title from the current database, which is checked and opened, and
  // the favourites backup imported; then the version line and the title are drawn.
  void FinishLoad(const std::string& favourites_backup);
  // The application title the "/title" switch of `command_line` gives, or `fallback`.
  static std::string TitleFromCommandLine(const std::string& command_line, const std::string& fallback);
  void SetTitleText(const std::string& text) { form.TitleText = text; }

  bool SearchMode() const { return form.SearchVisible; }

  Frm_Karaoke form;  // databases, search text, result set, title text
  std::unique_ptr<Connection> SharedConnection;  // the current database, opened at start-up
  std::vector<DisplaySettings> Display{DisplaySettings{}};
  MenuSwitches Switches;
  std::string ApplicationTitle;
  std::string VersionText;  // the running program's version, as the settings file writes it
  std::string StartupFontName = "DejaVu Sans";
  std::array<float, 5> DefaultColumnEdges = kDesignColumnEdges;

  int32_t CurrentRow = 0;
  int32_t TopRow = 0;
  int32_t RowsPerPage = 0;
  float ListBottom = 0;
  WindowRect SavedPlacement;
  int32_t ActiveColumn = 1;
  std::string TypeAheadBuffer;
  int16_t IdleCountdown = 20;
  float MouseDownX = 0, MouseDownY = 0;
  std::array<float, 5> ColumnMarkers{};  // x of the invisible edge markers 1..4

 private:
  // KaraokeSurface: what the catalogue's search draws and asks for.
  void ClearAndPrint(const std::string& text) override;
  void MakeTopMost() override { view_.SetTopMost(true); }

  DisplaySettings& Layout() { return Display[0]; }
  float LineHeight();
  // The texts of the heading and of a row's cell for column order letter `letter`.
  static const char* Caption(char letter);
  static const std::string& Cell(const ResultRow& row, char letter);
  void DrawHeadings(float width, float line_height);
  void DrawRow(const ResultRow& row, bool current, float y, float width, float line_height);

  void KeyDown(int16_t KeyCode, int16_t Shift);
  void KeyPress(int16_t& KeyAscii);
  bool RunCommandKey(const std::string& name);
  bool RunFavouritesKey(const std::string& name);
  void TypeAhead(char c);
  void Resort();
  bool NextDatabase();
  void EnterInList();
  // Shows the search box state the catalogue's search left behind.
  void SyncSearchBox();
  void EndProgram();
  // Runs a command; an error the engine or the result set reports ends it with a message
  // instead of ending the program.
  void Guarded(const std::function<void()>& command);

  MainSurface& surface_;
  MainWindowView& view_;
  DialogHost& dialogs_;
  ListCommands& commands_;
};

}  // namespace velloran
