// The keyboard commands of the main window: moving the highlight, type-ahead, re-sort, TAB,
// the print-flag and favourites keys, Esc and Enter, and the idle countdown.
#include <cstdlib>

#include "catalogue/disk_info.h"
#include "mainwindow/key_name.h"
#include "mainwindow/main_window_logic.h"

namespace velloran {

namespace {

constexpr const char* kTypeAheadKeys = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890 -";

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

void MainWindowLogic::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    dialogs_.MessageBox(e.what(), BoxButtons::kOk, BoxIcon::kWarning, "");
    ShowSongs();
  }
}

void MainWindowLogic::Form_KeyDown(int16_t KeyCode, int16_t Shift) {
  Guarded([&] { KeyDown(KeyCode, Shift); });
}

void MainWindowLogic::Form_KeyPress(int16_t& KeyAscii) {
  Guarded([&] { KeyPress(KeyAscii); });
}

void MainWindowLogic::KeyDown(int16_t KeyCode, int16_t Shift) {
  IdleCountdown = 20;
  std::string name = GetKeyName(Shift, KeyCode, false);
  if (name == "SPACE") name = " ";
  if (name.size() == 1 && std::string_view(kTypeAheadKeys).find(name[0]) != std::string_view::npos &&
      form.Results.count() >= 1) {
    TypeAhead(name[0]);
  } else {
    TypeAheadBuffer.clear();
  }
  if (!RunCommandKey(name)) return;
  if (!RunFavouritesKey(name)) return;
  ShowSongs();
}

// The first command chain; false when the key's handling ends here, without a redraw.
bool MainWindowLogic::RunCommandKey(const std::string& name) {
  const bool list_mode = !form.SearchVisible;
  if (name == "UP") {
    --CurrentRow;
  } else if (name == "DOWN") {
    ++CurrentRow;
  } else if (name == "PGUP") {
    CurrentRow -= RowsPerPage;
  } else if (name == "PGDN") {
    CurrentRow += RowsPerPage;
  } else if (name == "HOME") {
    CurrentRow = 1;
  } else if (name == "END") {
    CurrentRow = form.Results.count();
  } else if (name == "ALT-X" || name == "ALT-Q") {
    EndProgram();
    return false;
  } else if (name == "ALT-S") {
    Resort();
  } else if (name == "TAB") {
    if (!list_mode) return NextDatabase();
    ActiveColumn = ActiveColumn >= 3 ? 1 : ActiveColumn + 1;
  } else if (name == "CTRL-P") {
    if (list_mode) return commands_.TogglePrintFlagsOfAllRows(form.Results);
  } else if (name == "ALT-P") {
    if (list_mode && CurrentRow > 0 && CurrentRow <= form.Results.count())
      return commands_.TogglePrintFlag(form.Results[CurrentRow]);
  }
  return true;
}

bool MainWindowLogic::RunFavouritesKey(const std::string& name) {
  if (name.rfind("CTRL-", 0) != 0) return true;
  std::string k = name.substr(5);
  if (k == "F") k = "1";
  const int n = k.empty() || k[0] < '0' || k[0] > '9' ? 0 : std::atoi(k.c_str());
  if (k != "DELETE" && !(n > 0 && n < 10)) return true;
  if (form.SearchVisible) {
    // CTRL-DELETE names no list in the search box.
    if (n > 0) {
      commands_.ShowFavouritesList(n);
      SyncSearchBox();
    }
    return true;
  }
  if (CurrentRow < 1 || CurrentRow > form.Results.count()) return true;
  ResultRow& row = form.Results[CurrentRow];
  return k == "DELETE" ? commands_.ClearFavourites(row) : commands_.ToggleFavourite(row, n);
}

void MainWindowLogic::TypeAhead(char c) {
  TypeAheadBuffer += c;
  const int32_t n = form.Results.count();
  // The search starts on the row the list shows highlighted.
  if (CurrentRow < 1) CurrentRow = 1;
  if (CurrentRow > n) CurrentRow = n;
  const int32_t start = CurrentRow;
  while (true) {
    const ResultRow& row = form.Results[CurrentRow];
    const std::string& value = ActiveColumn == 1 ? row.Song : ActiveColumn == 2 ? row.Artist : row.SongNumber;
    if (Upper(value.substr(0, TypeAheadBuffer.size())) == TypeAheadBuffer) return;
    CurrentRow = CurrentRow >= n ? 1 : CurrentRow + 1;
    if (CurrentRow == start) return;
  }
}

void MainWindowLogic::Resort() {
  const bool remembered = CurrentRow >= 1 && CurrentRow <= form.Results.count();
  const int32_t id = remembered ? form.Results[CurrentRow].ID : 0;
  static const char* const kSort[] = {"[Song],[Artist]", "[Artist],[Song]", "[SongNumber]"};
  form.GetSongs("", kSort[ActiveColumn >= 1 && ActiveColumn <= 3 ? ActiveColumn - 1 : 0]);
  SyncSearchBox();
  ShowSongs();
  if (!remembered) return;
  for (int32_t r = 1; r <= form.Results.count(); ++r) {
    if (form.Results[r].ID == id) {
      CurrentRow = r;
      return;
    }
  }
}

// TAB in the search box; false when no database is configured (no redraw).
bool MainWindowLogic::NextDatabase() {
  int16_t esc = 27;
  KeyPress(esc);
  DatabaseList& list = form.Databases;
  ++list.CurrentDB;
  if (list.CurrentDB > list.count()) list.CurrentDB = 1;
  if (list.CurrentDB > list.count()) {
    list.CurrentDB = 0;
    return false;
  }
  if (!form.CheckDatabase()) return true;
  form.TitleText = FileBaseName(list.current().Database);
  UpdateTitle();
  return true;
}

void MainWindowLogic::KeyPress(int16_t& KeyAscii) {
  IdleCountdown = 20;
  if (KeyAscii == 27) {
    dialogs_.ClearClipboard();
    form.Results.Clear();
    Reset();
    form.SearchText.clear();
    form.SearchVisible = true;
    view_.SetSearchText("");
    view_.SetSearchBoxVisible(true);
    view_.FocusSearchBox();
  } else if (KeyAscii == 13) {
    if (form.SearchVisible) {
      KeyAscii = 0;
      form.BuildWhereClause();
      SyncSearchBox();
      // The catalogue draws the list only when the search ran; a search that could not run
      // (no database) shows its message in the title.
      if (form.Results.empty()) ShowSongs();
    } else if (CurrentRow > 0 && CurrentRow <= form.Results.count()) {
      EnterInList();
    }
  }
}

void MainWindowLogic::EnterInList() {
  const ResultRow& row = form.Results[CurrentRow];
  dialogs_.ClearClipboard();
  dialogs_.SetClipboardText(row.SongNumber);
  if (!Switches.Singers) return;
  const ResultRow copy = row;  // the prompt may outlast a redraw
  const std::string name = dialogs_.Prompt("Singer Name", "", "");
  if (!name.empty()) commands_.AddSinger(name, copy);
}

void MainWindowLogic::Timer2_Timer() {
  if (!Switches.ScreenSaver) return;
  if (IdleCountdown > 0) {
    --IdleCountdown;
    return;
  }
  // The idle title: the display record's own, which no command fills, else the title in use.
  if (!Layout().IdleTitle.empty()) form.TitleText = Layout().IdleTitle;
  Reset();
}

void MainWindowLogic::Txt_Search_GotFocus() { view_.SelectSearchText(0, 999); }

void MainWindowLogic::SyncSearchBox() { view_.SetSearchBoxVisible(form.SearchVisible); }

void MainWindowLogic::EndProgram() { view_.EndProgram(); }

}  // namespace velloran
