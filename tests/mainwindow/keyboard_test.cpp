// The keyboard commands a host uses on the list: moving, type-ahead, TAB, the favourites and
// print-flag keys, Esc, Enter in the search box, quitting and the idle timer. (What the
// favourites and print keys do to the file: the flags tests. Enter in the list: the singers'.)

#include "mainwindow/key_name.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

constexpr int16_t kShift = 1, kCtrl = 2, kAlt = 4;

// Key names only matter through the commands matched on them (the tests below); these two
// matter to type-ahead: both minus keys type "-", and extra modifier bits never leave a bare letter.
TEST(GetKeyName, MinusKeysAndExtraModifiers) {
  EXPECT_EQ(GetKeyName(0, 109, false) + GetKeyName(0, 189, false), "--");
  EXPECT_EQ(GetKeyName(8 | 16, 'A', false), "[8]-[16]-A");
}

TEST(Keyboard, MovingTheHighlightIsClampedByTheRedraw) {
  Window w;
  w.view.inner_height = 5550;  // 20 rows a page
  w.Rows(30);
  w.logic.CurrentRow = 1;
  const struct { int16_t key; int32_t row; } steps[] = {
      {vk::kUp, 1}, {vk::kDown, 2}, {vk::kNext, 21}, {vk::kNext, 30}, {vk::kPrior, 11},
      {vk::kEnd, 30}, {vk::kDown, 30}, {vk::kHome, 1}};
  for (const auto& s : steps) {
    w.Key(s.key);
    EXPECT_EQ(w.logic.CurrentRow, s.row) << s.key;
  }
}

TEST(Keyboard, TypeAheadSearchesTheActiveColumn) {
  Window w;
  w.Rows(5);
  ResultSet& r = w.logic.form.Results;
  const char* songs[] = {"Angel", "believe", "Beat It", "Be My Baby", "Brown Eyes"};
  for (int i = 1; i <= 5; ++i) r[i].Song = songs[i - 1];
  w.logic.CurrentRow = 1;
  // Letters compare in any case; "BE " finds row 4, "BE X" nothing (the highlight stays);
  // SHIFT-A is no type-ahead key and empties the buffer, so "A" wraps round to row 1.
  const struct { int16_t key, shift; int32_t row; } steps[] = {
      {'B', 0, 2}, {'E', 0, 2}, {vk::kSpace, 0, 4}, {'X', 0, 4}, {'A', kShift, 4}, {'A', 0, 1}};
  for (const auto& s : steps) {
    w.Key(s.key, s.shift);
    EXPECT_EQ(w.logic.CurrentRow, s.row) << static_cast<char>(s.key);
  }
  // Song numbers, in the third active column.
  w.logic.ActiveColumn = 3;
  w.Key(vk::kDown);  // any other key empties the buffer
  r[3].SongNumber = "1234";
  r[4].SongNumber = "1200";
  for (int16_t digit : {'1', '2'}) w.Key(digit);
  EXPECT_EQ(w.logic.CurrentRow, 3);
}

TEST(Keyboard, TabQuitAndOnlyTheCommandKeysReachTheirCommands) {
  Window w;
  w.Rows(3);
  w.logic.CurrentRow = 2;
  for (int want : {2, 3, 1}) {
    w.Key(vk::kTab);
    EXPECT_EQ(w.logic.ActiveColumn, want);
  }
  // CTRL with keypad 5 is list 5; CTRL-0, CTRL-F2 and SHIFT-CTRL-3 are no favourites keys.
  for (const auto& [key, shift] : {std::pair<int16_t, int16_t>{101, kCtrl}, {'0', kCtrl}, {113, kCtrl}, {'3', kShift | kCtrl}}) w.Key(key, shift);
  EXPECT_EQ(w.commands.calls, (std::vector<std::string>{"favourite 5 1002"}));
  // In the search box the same keys show a favourites list; the print keys and CTRL-DELETE do nothing.
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
  for (const auto& [key, shift] : {std::pair<int16_t, int16_t>{'X', kAlt}, {'Q', kAlt}, {'X', kCtrl}}) w.Key(key, shift);
  EXPECT_EQ(w.view.ended, 2);
}

TEST(Keyboard, EscAndEnterInTheSearchBox) {
  Window w;
  w.Rows(3);
  w.dialogs.clipboard = "1003";
  // Esc: clipboard cleared, no rows, an empty search box with the focus.
  w.view.search_text = "old";
  w.view.search_visible = false;
  w.Press(27);
  EXPECT_EQ(w.dialogs.clipboard + w.view.search_text, "");
  EXPECT_EQ(w.logic.form.Results.count(), 0);
  EXPECT_EQ(std::tuple(w.logic.SearchMode(), w.view.search_visible, w.view.focused), std::tuple(true, true, true));
  // Enter in the search box with no database: the title says so, and the key goes no further.
  int16_t enter = 13;
  w.logic.Form_KeyPress(enter);
  EXPECT_EQ(enter, 0);
  EXPECT_NE(w.surface.Find("No database loaded!"), nullptr);
  w.logic.Txt_Search_GotFocus();
  EXPECT_EQ(w.view.selection, (std::pair<int, int>{0, 999}));
  // TAB with no database configured goes to none.
  w.Key(vk::kTab);
  EXPECT_EQ(w.logic.form.Databases.CurrentDB, 0);
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
