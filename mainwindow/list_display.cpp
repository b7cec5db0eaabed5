// The drawn results list: the idle picture (Reset), one page of the list (ShowSongs), text
// fitting and the column geometry, and the window's resize and activate handling.
#include <cmath>

#include "mainwindow/main_window_logic.h"
#include "platform/font_spec.h"

namespace velloran {

namespace {

// Where each character of UTF-8 `text` starts, and its end: cutting at these never splits a
// character.
std::vector<size_t> CharacterBoundaries(const std::string& text) {
  std::vector<size_t> cuts;
  for (size_t i = 0; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) cuts.push_back(i);
  cuts.push_back(text.size());
  return cuts;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

MainWindowLogic::MainWindowLogic(MainSurface& surface, MainWindowView& view, CatalogueHost& catalogue_host,
                                 DialogHost& dialogs, ListCommands& commands)
    : form(*this, catalogue_host), surface_(surface), view_(view), dialogs_(dialogs), commands_(commands) {}

float MainWindowLogic::LineHeight() { return surface_.TextHeight("W"); }

void MainWindowLogic::ClearAndPrint(const std::string& text) {
  surface_.Clear();
  surface_.SetTextColor(kBlack);
  surface_.DrawText(0, 0, text);
  surface_.Present();
}

void MainWindowLogic::Reset() {
  surface_.Clear();
  UpdateVersion();
  UpdateTitle();
  surface_.SetFont(Layout().ListFont);
  const float height = view_.InnerHeight();
  ListBottom = height - 450;
  const int32_t line = RoundToEven(LineHeight());
  RowsPerPage = line > 0 ? RoundToEven(ListBottom - 300) / line - 1 : 0;
  view_.PlaceImage(height - view_.ImageHeight() - 50);
  view_.SetSearchBoxWidth(view_.Placement().Width - 350);
}

void MainWindowLogic::UpdateVersion() {
  const std::string line = "Velloran (\"" + ApplicationTitle + "\") Version " + VersionText;
  surface_.SetFont(FontSpec{StartupFontName, 8, false, false, false});
  surface_.SetTextColor(kBlack);
  surface_.DrawText(view_.InnerWidth() / 2 - surface_.TextWidth(line) / 2,
                    view_.InnerHeight() - surface_.TextHeight(line) - 150, line);
}

void MainWindowLogic::UpdateTitle() {
  surface_.SetFont(Layout().TitleFont);
  surface_.SetTextColor(kBlack);
  const std::string& title = form.TitleText;
  surface_.DrawText(view_.InnerWidth() / 2 - surface_.TextWidth(title) / 2,
                    view_.InnerHeight() / 2 - surface_.TextHeight(title) / 2, title);
}

std::string MainWindowLogic::FitText(const std::string& text, float width) {
  if (surface_.TextWidth(text) <= width) return text;
  // A start of a text is never wider than the text (glyph advances are not negative), so the
  // starts that fit are those up to some length: find it by halving instead of dropping one
  // character at a time. The full text does not fit; the empty start always does.
  const std::vector<size_t> cuts = CharacterBoundaries(text);
  size_t fits = 0, fails = cuts.size() - 1;
  while (fails - fits > 1) {
    const size_t mid = (fits + fails) / 2;
    if (surface_.TextWidth(text.substr(0, cuts[mid])) <= width) {
      fits = mid;
    } else {
      fails = mid;
    }
  }
  return text.substr(0, cuts[fits]);
}

std::string MainWindowLogic::FitIdentifier(const std::string& text, float width) {
  if (surface_.TextWidth(text) <= width) return text;
  // A song number or disc ID cut short reads as another song's or disc's, so the cut shows: what
  // fits, then an ellipsis. A column too narrow for the ellipsis alone shows nothing, as for any text.
  static const std::string kCut = "\xE2\x80\xA6";
  const float room = width - surface_.TextWidth(kCut);
  return room < 0 ? std::string() : FitText(text, room) + kCut;
}

float MainWindowLogic::GetWidth(int i) const {
  if (i <= 0 || i > 4) return 0;
  return Display[0].ColumnWidth[i] - Display[0].ColumnWidth[i - 1];
}

void MainWindowLogic::SetWidth(int i, float w) {
  const float d = w - GetWidth(i);
  for (int j = i; j <= 4; ++j) Layout().ColumnWidth[j] += d;
}

const char* MainWindowLogic::Caption(char letter) {
  switch (letter) {
    case 'N': return "Number";
    case 'D': return "DiskID";
    case 'S': return "Song";
    case 'A': return "Artist";
    default: return "";
  }
}

const std::string& MainWindowLogic::Cell(const ResultRow& row, char letter) {
  static const std::string kNone;
  switch (letter) {
    case 'N': return row.SongNumber;
    case 'D': return row.DiskID;
    case 'S': return row.Song;
    case 'A': return row.Artist;
    default: return kNone;
  }
}

void MainWindowLogic::DrawHeadings(float width, float line_height) {
  static const struct {
    char letter;
    int active;
  } kActive[] = {{'N', 3}, {'S', 1}, {'A', 2}};
  surface_.FillRect(0, 0, width, line_height, kWindowBackground);
  const std::array<float, 5>& edge = Layout().ColumnWidth;
  for (int i = 1; i <= 4; ++i) {
    const float left = i == 1 ? 0 : edge[i - 1];
    const char letter = Layout().ColumnOrder[i - 1];
    bool active = false;
    for (const auto& a : kActive) active = active || (a.letter == letter && a.active == ActiveColumn);
    surface_.SetTextColor(active ? kWhite : kBlack);
    surface_.DrawText(left + 25, 0, FitText(Caption(letter), edge[i] - left - 50));
  }
}

void MainWindowLogic::DrawRow(const ResultRow& row, bool current, float y, float width, float line_height) {
  surface_.FillRect(0, y, width, y + line_height, current ? kBlack : kWindowBackground);
  surface_.SetTextColor(current ? kWhite : kBlack);
  const std::array<float, 5>& edge = Layout().ColumnWidth;
  for (int i = 1; i <= 4; ++i) {
    const float left = i == 1 ? 0 : edge[i - 1];
    const char letter = Layout().ColumnOrder[i - 1];
    const std::string text = Trimmed(Cell(row, letter));
    const float room = edge[i] - left - 50;
    surface_.DrawText(left + 25, y, letter == 'N' || letter == 'D' ? FitIdentifier(text, room) : FitText(text, room));
  }
  if (Switches.ShowPrintFlags && row.PrintYN) surface_.DrawText(edge[4] + 150, y, "P");
}

void MainWindowLogic::ShowSongs() {
  Reset();
  const int32_t n = form.Results.count();
  if (n == 0) return;
  if (CurrentRow < 1) CurrentRow = 1;
  if (CurrentRow > n) CurrentRow = n;
  if (TopRow + RowsPerPage < CurrentRow) TopRow = CurrentRow - RowsPerPage;
  if (CurrentRow < TopRow) TopRow = CurrentRow;
  if (TopRow > n - RowsPerPage) TopRow = n - RowsPerPage;
  if (TopRow < 1) TopRow = 1;

  const float width = view_.InnerWidth();
  const float line = LineHeight();
  DrawHeadings(width, line);
  float y = line;
  surface_.DrawLine(0, y, width, y);
  y += 15;
  for (int32_t r = TopRow; r <= TopRow + RowsPerPage; ++r) {
    DrawRow(form.Results[r], r == CurrentRow, y, width, line);
    y += line;
    if (r == n) break;
  }
  surface_.DrawLine(0, y, width, y);
  for (int i = 1; i <= 4; ++i) surface_.DrawLine(Layout().ColumnWidth[i], 0, Layout().ColumnWidth[i], y);
}

void MainWindowLogic::Form_Resize() {
  if (view_.IsMinimised()) return;
  if (!Switches.AllowWindowResize) view_.SetPlacement(SavedPlacement);
  SavedPlacement = view_.Placement();
  ShowSongs();
}

void MainWindowLogic::Form_Activate() {
  form.OnTop = Switches.OnTop;  // a search puts the window back on top while this is on
  view_.SetTopMost(Switches.OnTop);
  Form_Resize();
}

}  // namespace velloran
