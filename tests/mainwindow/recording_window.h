// A main window for the logic's tests: a surface that records what is drawn (texts measured at
// 100 twips a character, 240 high, so positions are easy to predict), a view that records what
// the logic asks of the window, and list commands that record what reached them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mainwindow/main_window_logic.h"
#include "platform/scripted_dialog_host.h"
#include "tests/catalogue/scripted_host.h"

namespace velloran_test {

using namespace velloran;

struct DrawnText { float x, y; std::string text; uint32_t color; };

class RecordingMainSurface : public MainSurface {
 public:
  std::vector<DrawnText> texts;
  std::vector<std::array<float, 4>> lines;
  FontSpec font;
  uint32_t color = kBlack;
  int measured = 0;

  void Clear() override { texts.clear(), lines.clear(); }
  void FillRect(float, float, float, float, uint32_t) override {}
  void DrawText(float x, float y, const std::string& text) override { texts.push_back({x, y, text, color}); }
  void DrawLine(float x1, float y1, float x2, float y2) override { lines.push_back({x1, y1, x2, y2}); }
  void SetFont(const FontSpec& f) override { font = f; }
  void SetTextColor(uint32_t rgb) override { color = rgb; }
  float TextWidth(const std::string& text) override { return ++measured, 100 * static_cast<float>(text.size()); }
  float TextHeight(const std::string&) override { return 240; }

  // The texts drawn on the line at y, left to right as drawn.
  std::vector<std::string> Line(float y) const {
    std::vector<std::string> out;
    for (const DrawnText& t : texts)
      if (t.y == y) out.push_back(t.text);
    return out;
  }
  const DrawnText* Find(const std::string& text) const {
    for (const DrawnText& t : texts)
      if (t.text == text) return &t;
    return nullptr;
  }
};

class RecordingView : public MainWindowView {
 public:
  float inner_height = 3570;
  WindowRect placement{7335, 4000, 1000, 1000};
  bool top_most = false, search_visible = true, focused = false;
  std::string search_text;
  int popups = 0, ended = 0;
  std::vector<std::pair<DragSource, std::array<float, 4>>> drags;
  Pointer pointer = Pointer::kDefault;
  std::pair<int, int> selection{-1, -1};

  float InnerWidth() override { return 7215; }
  float InnerHeight() override { return inner_height; }
  WindowRect Placement() override { return placement; }
  void SetPlacement(const WindowRect& rect) override { placement = rect; }
  bool IsMinimised() override { return false; }
  void SetTopMost(bool on) override { top_most = on; }
  void SetSearchBoxVisible(bool visible) override { search_visible = visible; }
  void SetSearchText(const std::string& text) override { search_text = text; }
  void FocusSearchBox() override { focused = true; }
  void SelectSearchText(int start, int length) override { selection = {start, length}; }
  void SetSearchBoxWidth(float) override {}
  float ImageHeight() override { return 480; }
  void PlaceImage(float) override {}
  void SetPointer(Pointer p) override { pointer = p; }
  void ShowPopupMenu() override { ++popups; }
  void BeginDrag(const DragSource& source, float left, float top, float width, float height) override {
    drags.push_back({source, {left, top, width, height}});
  }
  void EndProgram() override { ++ended; }
};

// Records which list command a key reached; `database_ok` is what the check would answer.
class RecordingCommands : public ListCommands {
 public:
  std::vector<std::string> calls;
  bool database_ok = true;
  bool TogglePrintFlagsOfAllRows(ResultSet&) override { return Call("all print flags"); }
  bool TogglePrintFlag(ResultRow& row) override { return Call("print flag " + row.SongNumber); }
  bool ToggleFavourite(ResultRow& row, int list) override { return Call("favourite " + std::to_string(list) + " " + row.SongNumber); }
  bool ClearFavourites(ResultRow& row) override { return Call("clear favourites " + row.SongNumber); }
  void ShowFavouritesList(int list) override { calls.push_back("show list " + std::to_string(list)); }
  void ImportFavourites(const std::string& path) override { calls.push_back("import " + path); }
  void AddSinger(const std::string& name, const ResultRow& song) override {
    calls.push_back("singer " + name + " " + song.SongNumber);
    if (add_singer) add_singer(name, song);
  }
  std::function<void(const std::string&, const ResultRow&)> add_singer;  // the queue, when a test has one

 private:
  bool Call(const std::string& what) { return calls.push_back(what), database_ok; }
};

// n rows in the list: song numbers 1001.., songs "Song 1".., artists "Artist 1"..; list mode.
inline void ListRows(MainWindowLogic& logic, int n) {
  logic.form.Results.Clear();
  for (int i = 1; i <= n; ++i) {
    const std::string k = std::to_string(i);
    logic.form.Results.Grow(i) = ResultRow{i, "D" + k, std::to_string(1000 + i), "Song " + k, "Artist " + k, false};
  }
  logic.form.SearchVisible = false;
}

// The main window's logic with everything around it recorded; its surface measures as `Surface` does.
template <class Surface = RecordingMainSurface>
struct SurfaceWindow {
  Surface surface;
  RecordingView view;
  ScriptedHost host;
  ScriptedDialogHost dialogs;
  RecordingCommands commands;
  MainWindowLogic logic{surface, view, host, dialogs, commands};

  SurfaceWindow() { logic.VersionText = "2.00.0014"; }
  void Rows(int n) { ListRows(logic, n); }
  void Key(int16_t code, int16_t shift = 0) { logic.Form_KeyDown(code, shift); }
  void Press(int16_t ascii) { logic.Form_KeyPress(ascii); }
};
using Window = SurfaceWindow<>;

}  // namespace velloran_test
