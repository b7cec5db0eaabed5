// Shaping the list with the mouse: edge drags, heading swaps, row clicks, the popup, and moving
// the window. (Resetting the columns: the window test's right-button menu.)

#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

using Edges = std::array<float, 5>;

TEST(ColumnMouse, EdgeDragsMoveTheEdgeAndEverythingRightOfIt) {
  Window w;
  w.Rows(5);
  w.logic.ShowSongs();
  // A press within 50 of edge 2, below the heading, starts the drag of marker 2 and selects the row.
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 1600, 600);
  ASSERT_EQ(w.view.drags.size(), 1u);
  EXPECT_EQ(w.view.drags[0].first, (DragSource{DragSource::kEdge, 2}));
  EXPECT_EQ(w.logic.CurrentRow, 2);  // 0 - 1 + 600 \ 240 with TopRow 1
  w.logic.Form_DragDrop(DragSource{DragSource::kEdge, 2}, 2000, 600);
  EXPECT_EQ(w.logic.Display[0].ColumnWidth, (Edges{0, 720, 2000, 3980, 5600}));
  EXPECT_EQ(w.surface.lines.back(), (std::array<float, 4>{5600, 0, 5600, 255 + 5 * 240}));  // redrawn
  w.logic.Form_DragDrop(DragSource{DragSource::kEdge, 2}, 700, 600);  // left of edge 1: ignored
  EXPECT_EQ(w.logic.Display[0].ColumnWidth, (Edges{0, 720, 2000, 3980, 5600}));
  // 50 away is outside the grab zone.
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 770, 600);
  EXPECT_EQ(w.view.drags.size(), 1u);
}

TEST(ColumnMouse, HeadingDropsSwapColumnsAndTheirWidths) {
  const struct { int dragged; float drop_x; std::string order; Edges edges; const char* first_heading; } cases[] = {
      {3, 300, "SDNA", {0, 1980, 2820, 3540, 5160}, "Song"},     // Song onto Number
      {1, 9000, "ADSN", {0, 1620, 2460, 4440, 5160}, "Artist"},  // right of the list: onto the last column
      {2, 1560, "NDSA", {0, 720, 1560, 3540, 5160}, "Number"},   // exactly on an edge: nothing
      {2, 1000, "NDSA", {0, 720, 1560, 3540, 5160}, "Number"},   // onto itself
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.dragged) + " to " + std::to_string(c.drop_x));
    Window w;
    w.Rows(2);
    w.logic.ShowSongs();
    w.logic.Form_MouseDown(MouseButton::kLeft, 0, (c.dragged == 1 ? 0 : kDesignColumnEdges[c.dragged - 1]) + 10, 100);
    ASSERT_EQ(w.view.drags.size(), 1u);
    EXPECT_EQ(w.view.drags[0].first, (DragSource{DragSource::kHeading, c.dragged}));
    w.logic.Form_DragDrop(w.view.drags[0].first, c.drop_x, 100);
    EXPECT_EQ(std::pair(w.logic.Display[0].ColumnOrder, w.logic.Display[0].ColumnWidth), std::pair(c.order, c.edges));
    EXPECT_EQ(w.surface.Line(0)[0], c.first_heading);
  }
}

TEST(ColumnMouse, ClicksSelectRowsOnlyInTheListAndTheSwitchStopsDrags) {
  Window w;
  w.view.inner_height = 5550;
  w.Rows(100);
  w.logic.CurrentRow = 60;
  w.logic.TopRow = 41;
  w.logic.ShowSongs();
  w.logic.Switches.AllowColumnResize = false;
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 3000, 500);  // the second drawn row
  EXPECT_EQ(w.logic.CurrentRow, 42);
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 720, 100);  // a heading, a drag that is off
  w.logic.Form_MouseMove(MouseButton::kNone, 0, 720, 700);
  EXPECT_TRUE(w.view.drags.empty());
  EXPECT_EQ(w.view.pointer, Pointer::kDefault);
  w.logic.Switches.AllowColumnResize = true;
  w.logic.Form_MouseMove(MouseButton::kNone, 0, 760, 700);
  EXPECT_EQ(w.view.pointer, Pointer::kSizeWE);
  w.logic.Form_MouseMove(MouseButton::kNone, 0, 900, 700);
  EXPECT_EQ(w.view.pointer, Pointer::kDefault);
  // Below the list nothing is selected; the right button opens the menu and nothing else.
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 3000, 5550 - 450 - 100);
  w.logic.Form_MouseDown(MouseButton::kRight, 0, 3000, 700);
  EXPECT_EQ(w.view.popups, 1);
  EXPECT_EQ(w.logic.CurrentRow, 42);
  // In search mode clicks select nothing and start no drag.
  w.logic.form.SearchVisible = true;
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 1560, 700);
  EXPECT_EQ(w.logic.CurrentRow, 42);
  EXPECT_TRUE(w.view.drags.empty());
}

TEST(ColumnMouse, DraggingTheWindowBodyMovesItWhileWindowResizingIsOn) {
  Window w;
  w.logic.Form_MouseDown(MouseButton::kLeft, 0, 500, 500);
  w.logic.Form_MouseMove(MouseButton::kLeft, 0, 650, 400);
  EXPECT_EQ(std::pair(w.view.placement.Left, w.view.placement.Top), std::pair(1150.0f, 900.0f));
  w.logic.Switches.AllowWindowResize = false;
  w.logic.Form_MouseMove(MouseButton::kLeft, 0, 900, 900);
  EXPECT_EQ(w.view.placement.Left, 1150);
}

}  // namespace
}  // namespace velloran_test
