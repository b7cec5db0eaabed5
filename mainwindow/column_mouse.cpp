// The mouse on the list: row clicks, the popup menu, dragging column edges and headings, and the
// two menu commands of the column layout.
#include <cmath>

#include "mainwindow/main_window_logic.h"
#include "platform/font_spec.h"

namespace velloran {

namespace {

constexpr float kGrabZone = 50;  // how near an edge (twips, strictly) the pointer grabs it

}  // namespace

void MainWindowLogic::Form_MouseDown(MouseButton Button, int16_t Shift, float X, float Y) {
  MouseDownX = X;
  MouseDownY = Y;
  if (Button == MouseButton::kRight) {
    view_.ShowPopupMenu();
    return;
  }
  if (Button != MouseButton::kLeft || form.SearchVisible) return;
  const float line = LineHeight();
  const std::array<float, 5>& edge = Layout().ColumnWidth;
  if (Switches.AllowColumnResize) {
    if (Y < line) {
      for (int i = 1; i <= 4; ++i) {
        if (X < edge[i]) {
          view_.BeginDrag(DragSource{DragSource::kHeading, i}, edge[i - 1], Y, GetWidth(i), line);
          break;
        }
      }
    } else {
      for (int i = 1; i <= 4; ++i) {
        if (std::fabs(X - edge[i]) < kGrabZone) {
          ColumnMarkers[i] = edge[i];
          view_.BeginDrag(DragSource{DragSource::kEdge, i}, edge[i], 0, 0, view_.InnerHeight() - 500);
          break;
        }
      }
    }
  }
  if (line < Y && Y < ListBottom - line) {
    const int32_t lh = RoundToEven(line);
    if (lh > 0) {
      CurrentRow = TopRow - 1 + RoundToEven(Y) / lh;
      ShowSongs();
    }
  }
}

void MainWindowLogic::Form_MouseMove(MouseButton Button, int16_t Shift, float X, float Y) {
  if (IdleCountdown < 1) ShowSongs();
  IdleCountdown = 20;
  if (Button == MouseButton::kLeft && Switches.AllowWindowResize) {
    WindowRect at = view_.Placement();
    at.Left += X - MouseDownX;
    at.Top += Y - MouseDownY;
    view_.SetPlacement(at);
  } else {
    MouseDownX = X;
    MouseDownY = Y;
  }
  if (!Switches.AllowColumnResize || form.SearchVisible) return;
  bool near_edge = false;
  for (int i = 1; i <= 4 && !near_edge; ++i) near_edge = std::fabs(X - Layout().ColumnWidth[i]) < kGrabZone;
  view_.SetPointer(near_edge ? Pointer::kSizeWE : Pointer::kDefault);
}

void MainWindowLogic::Form_DragDrop(const DragSource& Source, float X, float Y) {
  std::array<float, 5>& edge = Layout().ColumnWidth;
  if (Source.index < 1 || Source.index > 4) return;
  if (Source.kind == DragSource::kEdge) {
    const int i = Source.index;
    if (X <= edge[i - 1]) return;
    const float d = X - edge[i];
    for (int j = i; j <= 4; ++j) {
      edge[j] += d;
      ColumnMarkers[j] = edge[j];
    }
    ShowSongs();
    return;
  }
  if (X > edge[4]) X = edge[4] - 50;
  for (int k = 1; k <= 4; ++k) {
    if (edge[k - 1] < X && X < edge[k]) {
      const int s = Source.index;
      std::swap(Layout().ColumnOrder[s - 1], Layout().ColumnOrder[k - 1]);
      const float ws = GetWidth(s), wk = GetWidth(k);
      SetWidth(s, wk);
      SetWidth(k, ws);
      break;
    }
  }
  ShowSongs();
}

void MainWindowLogic::Mnu_Options_Display_ResetCols_Click() {
  for (int j = 1; j <= 4; ++j) Layout().ColumnWidth[j] = DefaultColumnEdges[j];
  Layout().ColumnOrder = "NDSA";
  ShowSongs();
}

void MainWindowLogic::Mnu_AllowColumnResize_Click() { Switches.AllowColumnResize = !Switches.AllowColumnResize; }

}  // namespace velloran
