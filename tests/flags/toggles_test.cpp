// The favourites and print-flag keys of the results list, written to the song's row in a file
// that other readers of Access files read as this engine does.
#include "tests/flags/flags_test_support.h"

namespace velloran_test {
namespace {

constexpr int16_t kCtrl = 2, kAlt = 4;

TEST_F(FlagsTest, PrintFlagKeysFlipEachSongInTheFileAndTheList) {
  FlagsWindow w(scratch.path(), database);
  w.List(1, 3);
  w.Key('P', kAlt, 2);
  EXPECT_TRUE(w.logic.form.Results[2].PrintYN);
  // Shown with the marks on, the list marks exactly the flagged row.
  w.program.MenuCommand("Mnu_Print_ShowFlags");
  ASSERT_NE(w.surface.Find("P"), nullptr);
  EXPECT_EQ(w.surface.Find("P")->y, w.surface.Find(w.logic.form.Results[2].Song)->y);
  // CTRL-P flips every listed song on its own: one marked of three leaves two marked.
  w.Key('P', kCtrl);
  for (int id = 1; id <= 4; ++id) {
    EXPECT_EQ(Stored(database, id).print, id % 2 == 1 && id < 4) << id;  // song 4 is not listed
    EXPECT_TRUE(id == 4 || w.logic.form.Results[id].PrintYN == (id % 2 == 1)) << id;
  }
  // ALT-P on a flagged song unflags it.
  w.Key('P', kAlt, 3);
  EXPECT_FALSE(Stored(database, 3).print);
  // Clearing from the menu clears the file but leaves the list's marks until the next search.
  w.dialogs.box_answers = {BoxAnswer::kYes};
  w.program.MenuCommand("Mnu_Print_Clear");
  EXPECT_FALSE(Stored(database, 1).print);
  EXPECT_TRUE(w.logic.form.Results[1].PrintYN);
  // The keys do nothing in search mode.
  w.logic.form.SearchVisible = true;
  w.Key('P', kAlt);
  EXPECT_FALSE(Stored(database, 3).print);
  ExpectOthersReadIt(database, "Songs");
}

TEST_F(FlagsTest, FavouritesKeysToggleListsAndShowThemInSearchMode) {
  FlagsWindow w(scratch.path(), database);
  w.List(5, 7);
  // Song 5, whose lists are Null.
  for (int n = 1; n <= 9; ++n) w.Key(static_cast<int16_t>('0' + n), kCtrl, 1);
  w.Key('F', kCtrl);  // CTRL-F is list 1
  EXPECT_EQ(Stored(database, 5).lists, "0111111110");  // no key reaches list 10
  w.Key(vk::kDelete, kCtrl);
  EXPECT_EQ(Stored(database, 5).lists, "0000000000");
  // List 3 for songs 6 and 7, list 4 for song 6 only: the search shows song 6 alone.
  w.Key('3', kCtrl, 2);
  w.Key('3', kCtrl, 3);
  w.Key('4', kCtrl, 2);
  ExpectOthersReadIt(database, "Songs");
  // In search mode CTRL-n shows list n.
  w.logic.form.SearchVisible = true;
  w.Key('4', kCtrl);
  ASSERT_EQ(w.logic.form.Results.count(), 1);
  EXPECT_EQ(w.logic.form.Results[1].ID, 6);
  EXPECT_FALSE(w.logic.form.SearchVisible);
  w.logic.form.SearchVisible = true;
  w.Key('9', kCtrl);  // nobody: the search's own message
  EXPECT_EQ(w.logic.form.TitleText, "Search text not found!");
}

}  // namespace
}  // namespace velloran_test
