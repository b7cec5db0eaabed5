// What the results list draws: headings, one page of rows, the highlight, the print marks, the
// rules, fitted texts, and the window's resize handling.

#include "mainwindow/key_name.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

// Row r of the page is drawn at y = 240 (heading) + 15 + (r - TopRow) * 240.
float RowY(int index_on_page) { return 255 + 240.0f * static_cast<float>(index_on_page); }

TEST(ListDisplay, OnePageHeadingsRowsHighlightRulesAndFittedTexts) {
  Window w;
  w.Rows(3);
  w.logic.CurrentRow = 2;
  w.logic.ShowSongs();
  const RecordingMainSurface& s = w.surface;
  // The headings, the active column's ("Song") in white; three rows, row 2 on a black bar in white.
  EXPECT_EQ(s.Line(0), (std::vector<std::string>{"Number", "DiskID", "Song", "Artist"}));
  EXPECT_EQ(s.Find("Song")->color, kWhite);
  EXPECT_EQ(s.Line(RowY(0)), (std::vector<std::string>{"1001", "D1", "Song 1", "Artist 1"}));
  EXPECT_EQ(std::pair(s.Find("Song 2")->color, s.Find("Song 3")->color), std::pair(kWhite, kBlack));
  // Rules under the heading and under row 3; the column edges end there too.
  ASSERT_EQ(s.lines.size(), 6u);
  EXPECT_EQ(s.lines[0], (std::array<float, 4>{0, 240, 7215, 240}));
  EXPECT_EQ(s.lines[1], (std::array<float, 4>{0, RowY(3), 7215, RowY(3)}));
  EXPECT_EQ(s.lines[5][3], RowY(3));
  w.logic.ActiveColumn = 3;  // "DiskID" is never active: the third is "Number"
  w.logic.ShowSongs();
  EXPECT_EQ(std::pair(w.surface.Find("Number")->color, w.surface.Find("Song")->color), std::pair(kWhite, kBlack));
  // Texts are trimmed, then cut to their column: (3540-1560-50)/100 = 19 characters.
  ResultRow& r = w.logic.form.Results[1];
  r.Song = "  A Very Long Song Title Indeed  ";
  r.PrintYN = true;
  w.logic.ShowSongs();
  EXPECT_EQ(w.surface.Line(RowY(0))[2], "A Very Long Song Ti");
  // A song number or disc ID is never shown as another: what is cut ends in a mark (300 and
  // 790 wide here).
  r.SongNumber = "3039123";
  r.DiskID = "VK1135-SIDE-B";
  w.logic.ShowSongs();
  EXPECT_EQ(w.surface.Line(RowY(0))[0], "303\xE2\x80\xA6");
  EXPECT_EQ(w.surface.Line(RowY(0))[1], "VK11\xE2\x80\xA6");
  EXPECT_EQ(w.surface.Find("P"), nullptr);  // print marks only while the switch is on
  w.logic.Switches.ShowPrintFlags = true;
  w.logic.ShowSongs();
  ASSERT_NE(w.surface.Find("P"), nullptr);
  EXPECT_EQ(w.surface.Find("P")->x, 5160 + 150);  // right of the last column
  w.logic.SetWidth(2, 40);  // a column narrower than 50 shows nothing
  w.logic.ShowSongs();
  EXPECT_EQ(w.surface.Line(0)[1], "");
}

TEST(ListDisplay, CurrentRowAndTopRowComeIntoRange) {
  Window w;
  w.view.inner_height = 5550;  // RowsPerPage = (5100 - 300) \ 240 - 1 = 19
  w.Rows(100);
  const struct { int current, top, want_current, want_top; } cases[] = {
      {0, 0, 1, 1}, {500, 1, 100, 81}, {100, 1, 100, 81}, {50, 60, 50, 50}, {30, 25, 30, 25}, {99, 90, 99, 81}};
  for (const auto& c : cases) {
    w.logic.CurrentRow = c.current;
    w.logic.TopRow = c.top;
    w.logic.ShowSongs();
    EXPECT_EQ(w.logic.CurrentRow, c.want_current) << c.current;
    EXPECT_EQ(w.surface.Line(RowY(0))[0], std::to_string(1000 + c.want_top)) << c.current;
    EXPECT_EQ(w.surface.Line(RowY(19))[0], std::to_string(1000 + c.want_top + 19)) << c.current;
  }
}

// Halving finds what dropping one character at a time finds, with any widths, and cuts
// multi-byte characters whole.
class VariableWidths : public RecordingMainSurface {
 public:
  float TextWidth(const std::string& text) override {
    ++measured;
    float wide = 0;
    for (unsigned char c : text)
      if ((c & 0xC0) != 0x80) wide += c == 'W' ? 190 : c == 'i' ? 40 : c >= 0x80 ? 120 : 95;
    return wide;
  }
};

TEST(ListDisplay, FittingMatchesDroppingCharactersOneByOne) {
  SurfaceWindow<VariableWidths> w;
  const std::string text = "Wiki Wo\xC3\xA9men \xE2\x82\xAC\xE2\x82\xAC iW Will";
  for (float width = -60; width < 2200; width += 7) {
    std::string slow = text;
    while (!slow.empty() && w.surface.TextWidth(slow) > width) {
      size_t cut = slow.size() - 1;  // the last character's lead byte
      while (cut > 0 && (static_cast<unsigned char>(slow[cut]) & 0xC0) == 0x80) --cut;
      slow.erase(cut);
    }
    EXPECT_EQ(w.logic.FitText(text, width), slow) << width;
  }
  w.surface.measured = 0;
  w.logic.FitText(std::string(1000, 'x'), 950);
  EXPECT_LT(w.surface.measured, 15);  // halving: about log2(1000) measurements, not 990
}

TEST(ListDisplay, ResizeSnapsBackWhileWindowResizingIsOffAndActivationAppliesOnTop) {
  Window w;
  w.logic.Form_Resize();
  const WindowRect saved = w.view.placement, moved{9000, 6000, 50, 60};
  w.logic.Switches.AllowWindowResize = false;
  w.view.placement = moved;
  w.logic.Form_Resize();
  EXPECT_EQ(w.view.placement, saved);
  w.logic.Switches.AllowWindowResize = true;
  w.view.placement = moved;
  w.logic.Form_Resize();
  EXPECT_EQ(w.logic.SavedPlacement, moved);
  w.logic.Switches.OnTop = true;
  w.logic.Form_Activate();
  EXPECT_TRUE(w.view.top_most);
}

TEST(ListDisplay, VersionLineQuotesTheTitleFromTheCommandLine) {
  Window w;
  w.logic.BeginLoad("velloran", "velloran --demo /TITLE Friday Night ");
  w.logic.FinishLoad("/nowhere/favourites.tmp");
  EXPECT_NE(w.surface.Find("Velloran (\"Friday Night\") Version 2.00.0014"), nullptr);
  EXPECT_EQ(MainWindowLogic::TitleFromCommandLine("prog /title=Mine", "prog"), "Mine");
  EXPECT_EQ(MainWindowLogic::TitleFromCommandLine("prog /title", "prog"), "");
}

}  // namespace
}  // namespace velloran_test
