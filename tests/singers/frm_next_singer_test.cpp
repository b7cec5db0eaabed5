// The next-singer display's logic: where the two lines are drawn for several window sizes and
// fonts, full screen, the saved placement, the right button and the font command. (Dragging, Esc,
// the font popup, the default font and the placement kept over a restart are checked on the real
// window.)
#include "singers/frm_next_singer.h"

#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

// Text measured from the font: each character size * 10 twips wide, the line size * 20 high.
class FontSurface : public RecordingMainSurface {
 public:
  float TextWidth(const std::string& text) override { return font.Size * 10.0f * text.size(); }
  float TextHeight(const std::string&) override { return font.Size * 20.0f; }
  void Present() override { ++presented; }
  int presented = 0;  // times the drawing was put on the screen
};

class RecordingNextView : public NextSingerView {
 public:
  WindowRect placement{kNextSingerDesignWidth, kNextSingerDesignHeight, 300, 400};
  int popups = 0;
  WindowRect Placement() override { return placement; }
  void SetPlacement(const WindowRect& rect) override { placement = rect; }
  float InnerWidth() override { return placement.Width; }
  float InnerHeight() override { return placement.Height; }
  void ShowPopupMenu() override { ++popups; }
  void Close() override {}
};

struct Display {
  SingerList singers;
  FontSurface surface;
  RecordingNextView view;
  ScriptedDialogHost dialogs;
  WindowRect saved;
  FontSpec font{"Serif", 20, true, false, false};
  Frm_NextSinger form{singers, surface, view, dialogs, saved, font};
  Display() {
    ResultRow song;
    song.Song = "Yesterday";
    singers.Append("Ann", song);
  }
};

TEST(Frm_NextSinger, DrawsTheTwoLinesCentredAtEverySizeAndFont) {
  const struct { float width, height; int points; } cases[] = {{5625, 3975, 20}, {12000, 9000, 72}, {1000, 800, 40}};
  for (const auto& c : cases) {
    Display d;
    d.font.Size = c.points;
    d.view.placement = {c.width, c.height, 300, 400};
    d.form.ReDraw();
    EXPECT_TRUE(d.surface.texts.empty()) << "slot 0 shows nothing";
    d.form.Singer = 1;
    d.form.Form_Resize();
    ASSERT_EQ(d.surface.texts.size(), 2u);
    // The name, then the song; at the chosen size, cut off on both sides when wider (never shrunk).
    const float h = c.points * 20.0f;
    EXPECT_FLOAT_EQ(d.surface.texts[0].x, c.width / 2 - 3 * c.points * 10.0f / 2);
    EXPECT_FLOAT_EQ(d.surface.texts[0].y, c.height / 4 - h / 2);
    EXPECT_FLOAT_EQ(d.surface.texts[1].x, c.width / 2 - 9 * c.points * 10.0f / 2);
    EXPECT_FLOAT_EQ(d.surface.texts[1].y, c.height * 3 / 4 - h / 2);
  }
  Display full;  // full screen: the title, the longer line, fills nine tenths of the width
  full.view.placement = {12000, 9000, 300, 400};
  full.form.FullScreen = true;
  full.form.Singer = 1;
  full.form.ReDraw();
  EXPECT_EQ(full.surface.font.Size, 120);
  ASSERT_EQ(full.surface.texts.size(), 2u);
  EXPECT_FLOAT_EQ(full.surface.texts[1].x, 600);
  Display d;
  d.font = FontSpec{};  // never chosen: a readable size, the window's face
  d.form.Singer = 2;    // no such singer
  d.form.ReDraw();
  EXPECT_TRUE(d.surface.texts.empty());
  EXPECT_EQ(d.surface.font.Size, kNextSingerDefaultPoints);
}

TEST(Frm_NextSinger, SavedPlacementTheRightButtonAndItsFontCommand) {
  Display d;
  d.saved = WindowRect{8000, 0, 1500, -1};  // 0 or less keeps the designed value
  d.form.Form_Load();
  EXPECT_EQ(d.view.placement, (WindowRect{8000, kNextSingerDesignHeight, 1500, 400}));
  d.form.Form_MouseMove(MouseButton::kNone, 100, 200);
  d.form.Form_MouseMove(MouseButton::kRight, 900, 900);  // the right button does not drag
  EXPECT_EQ(d.view.placement.Left, 400);
  d.form.Form_MouseDown(MouseButton::kLeft);
  d.form.Form_MouseDown(MouseButton::kRight);
  EXPECT_EQ(d.view.popups, 1);
  // "&Font" draws the singer in the chosen font and shows it at once, without waiting for a resize.
  d.form.Singer = 1;
  d.dialogs.font_answers = {FontSpec{"Sans", 36, false, false, false}};
  d.form.Mnu_Font_Click();
  EXPECT_EQ(std::pair(d.font.Size, d.surface.font.Size), std::pair(36, 36));
  ASSERT_EQ(d.surface.texts.size(), 2u);
  EXPECT_FLOAT_EQ(d.surface.texts[0].y, kNextSingerDesignHeight / 4 - 36 * 20.0f / 2);
  EXPECT_EQ(d.surface.presented, 1);
}

}  // namespace
}  // namespace velloran_test
