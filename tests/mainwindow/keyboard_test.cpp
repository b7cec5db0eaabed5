// The keyboard commands a host uses on the list: moving, type-ahead, TAB, the favourites and
// print-flag keys, Esc, Enter with and without the singers window, quitting and the idle timer.
#include <gtest/gtest.h>

#include "mainwindow/key_name.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

constexpr int16_t kShift = 1, kCtrl = 2, kAlt = 4;

TEST(GetKeyName, NamesAndWordNames) {
  const struct {
    int16_t shift, code;
    bool words;
    const char* name;
  } cases[] = {
      {kShift | kCtrl, 'P', false, "SHIFT-CTRL-P"}, {kCtrl | kAlt, 'X', false, "CTRL-ALT-X"},
      {8 | 16, 'A', false, "[8]-[16]-A"},          {0, 34, false, "PGDN"},
      {0, 101, false, "5"},                        {0, 101, true, "NUM 5"},
      {0, 107, false, "+"},                        {0, 107, true, "PLUS"},
      {0, 189, true, "MINUS"},                     {0, 192, false, "`"},
      {0, 220, true, "|"},                         {0, 222, true, "\""},
      {0, 123, false, "F12"},                      {kCtrl, 16, false, "CTRL-"},
      {0, 91, false, "(91)"},                      {0, 110, true, "(110)"},
      {0, 32, false, "SPACE"},                     {0, 20, false, "CAPS LOCK"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetKeyName(c.shift, c.code, c.words), c.name) << c.code;
}

TEST(Keyboard, MovingTheHighlightIsClampedByTheRedraw) {
  Window w;
  w.view.inner_height = 5550;  // 20 rows a page
  w.Rows(30);
  w.logic.CurrentRow = 1;
  const struct {
    int16_t key;
    int32_t row;
  } steps[] = {{vk::kUp, 1}, {vk::kDown, 2}, {vk::kNext, 21}, {vk::kNext, 30}, {vk::kPrior, 11},
               {vk::kEnd, 30}, {vk::kDown, 30}, {vk::kHome, 1}};
  for (const auto& s : steps) {
    w.Key(s.key);
    EXPECT_EQ(w.logic.CurrentRow, s.row) << s.key;
  }
  w.Rows(0);
  w.Key(vk::kEnd);
  EXPECT_EQ(w.logic.CurrentRow, 0);
}

TEST(Keyboard, TypeAheadSearchesTheActiveColumn) {
  Window w;
  w.Rows(5);
  ResultSet& r = w.logic.form.Results;
  r[1].Song = "Angel";
  r[2].Song = "believe";
  r[3].Song = "Beat It";
  r[4].Song = "Be My Baby";
  r[5].Song = "Brown Eyes";
  w.logic.CurrentRow = 1;
  w.Key('B');
  EXPECT_EQ(w.logic.CurrentRow, 2);  // letters compare in any case
  w.Key('E');
  EXPECT_EQ(w.logic.CurrentRow, 2);
  w.Key(vk::kSpace);
  EXPECT_EQ(w.logic.CurrentRow, 4);  // "BE "
  w.Key('X');                        // no row begins "BE X": the highlight stays, the buffer grows
  EXPECT_EQ(w.logic.CurrentRow, 4);
  EXPECT_EQ(w.logic.TypeAheadBuffer, "BE X");
  w.Key('A', kShift);  // SHIFT-A is no type-ahead key: the buffer empties
  EXPECT_EQ(w.logic.TypeAheadBuffer, "");
  w.Key('A');  // wraps around from row 4 to row 1
  EXPECT_EQ(w.logic.CurrentRow, 1);
  // Song numbers, in the third active column.
  w.logic.ActiveColumn = 3;
  w.Key(vk::kDown);
  r[3].SongNumber = "1234";
  r[4].SongNumber = "1200";
  w.Key('1');
  w.Key('2');
  EXPECT_EQ(w.logic.CurrentRow, 3);
}

TEST(Keyboard, TabCyclesTheActiveColumnAndCommandKeysReachTheirCommands) {
  Window w;
  w.Rows(3);
  w.logic.CurrentRow = 2;
  for (int want : {2, 3, 1, 2}) {
    w.Key(vk::kTab);
    EXPECT_EQ(w.logic.ActiveColumn, want);
  }
  w.Key('P', kCtrl);
  w.Key('P', kAlt);
  w.Key('F', kCtrl);
  w.Key(101, kCtrl);  // keypad 5
  w.Key(vk::kDelete, kCtrl);
  w.Key('0', kCtrl);        // no favourites key
  w.Key(113, kCtrl);        // CTRL-F2: none either
  w.Key('3', kShift | kCtrl);  // SHIFT-CTRL-3: none
  EXPECT_EQ(w.commands.calls, (std::vector<std::string>{"all print flags", "print flag 1002", "favourite 1 1002",
                                                         "favourite 5 1002", "clear favourites 1002"}));
  // In the search box the same keys show a favourites list, and the print keys do nothing.
  w.commands.calls.clear();
  w.logic.form.SearchVisible = true;
  for (int16_t key : {int16_t{'P'}, int16_t{'9'}, int16_t{vk::kDelete}}) w.Key(key, kCtrl);
  w.Key('P', kAlt);
  EXPECT_EQ(w.commands.calls, (std::vector<std::string>{"show list 9"}));
  // A database check that fails ends the key without a redraw.
  w.logic.form.SearchVisible = false;
  w.commands.database_ok = false;
  w.surface.texts.clear();
  w.Key('P', kAlt);
  EXPECT_TRUE(w.surface.texts.empty());
}

// (Enter in the list, with and without the singers window: the singers window's tests.)
TEST(Keyboard, EscAndEnterInTheSearchBox) {
  Window w;
  w.Rows(3);
  w.dialogs.clipboard = "1003";
  // Esc: clipboard cleared, no rows, an empty search box with the focus.
  w.view.search_text = "old";
  w.view.search_visible = false;
  w.Press(27);
  EXPECT_EQ(w.dialogs.clipboard, "");
  EXPECT_EQ(w.logic.form.Results.count(), 0);
  EXPECT_TRUE(w.logic.SearchMode());
  EXPECT_TRUE(w.view.search_visible);
  EXPECT_EQ(w.view.search_text, "");
  EXPECT_TRUE(w.view.focused);
  // Enter in the search box with no database: the title says so, and the key goes no further.
  int16_t enter = 13;
  w.logic.Form_KeyPress(enter);
  EXPECT_EQ(enter, 0);
  EXPECT_NE(w.surface.Find("No database loaded!"), nullptr);
  w.logic.Txt_Search_GotFocus();
  EXPECT_EQ(w.view.selection, (std::pair<int, int>{0, 999}));
}

TEST(Keyboard, QuitKeysEndTheProgramAndTabWithoutDatabasesStops) {
  Window w;
  w.Key('X', kAlt);
  w.Key('Q', kAlt);
  w.Key('X', kCtrl);
  EXPECT_EQ(w.view.ended, 2);
  w.surface.texts.clear();
  w.Key(vk::kTab);  // search mode, nothing configured: Esc's drawing only, no list redraw
  EXPECT_EQ(w.logic.form.Databases.CurrentDB, 0);
  EXPECT_EQ(w.surface.lines.size(), 0u);
}

TEST(Keyboard, IdleTimerResetsOnlyWithTheScreenSaverOn) {
  Window w;
  w.Rows(3);
  w.logic.form.TitleText = "Songs";
  w.Key(vk::kDown);
  for (int tick = 0; tick < 20; ++tick) w.logic.Timer2_Timer();
  EXPECT_FALSE(w.surface.lines.empty());  // still the list after 20 ticks
  w.logic.Timer2_Timer();                 // the 21st: the idle picture
  EXPECT_TRUE(w.surface.lines.empty());
  EXPECT_NE(w.surface.Find("Songs"), nullptr);
  w.logic.Form_MouseMove(MouseButton::kNone, 0, 10, 10);  // the list comes back on movement
  EXPECT_FALSE(w.surface.lines.empty());
  w.logic.Switches.ScreenSaver = false;
  for (int tick = 0; tick < 100; ++tick) w.logic.Timer2_Timer();
  EXPECT_FALSE(w.surface.lines.empty());
}

}  // namespace
}  // namespace velloran_test
