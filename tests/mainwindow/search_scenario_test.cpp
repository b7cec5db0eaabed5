// The window's logic on a real catalogue: ALT-S re-sorting and after Esc, TAB to the next
// database, a search that finds nothing, and databases that cannot be used.

#include <fstream>

#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

class SearchScenario : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_SHARED_FIXTURES(); }
  void Configure(Window& w, const std::vector<std::string>& paths) {
    for (const std::string& p : paths) w.logic.form.Databases.entries.push_back(DatabaseEntry{p, "MyList", "", "", "", ""});
    w.logic.BeginLoad("velloran", "velloran");
    w.logic.FinishLoad(folder.File("favourites.tmp"));
  }
  void Type(Window& w, const std::string& text) {
    w.logic.Txt_Search_Change(text);
    w.Press(13);
  }
  ScratchDir folder;
};

TEST_F(SearchScenario, ResortAfterEscTabAndNothingFound) {
  Window w;
  w.view.inner_height = 5550;  // 20 rows a page
  Configure(w, {folder.CopyOfSongs("Main.Songs.mdb"), folder.CopyOfSongs("second.mdb")});
  EXPECT_EQ(w.logic.form.TitleText, "Main.Songs");
  ASSERT_NE(w.logic.SharedConnection, nullptr);

  Type(w, "1250");
  ASSERT_EQ(w.logic.form.Results.count(), 251);
  // Sorted again by artist, the highlighted song stays highlighted wherever it moved to.
  w.Key(vk::kNext);
  const ResultRow song = w.logic.form.Results[w.logic.CurrentRow];
  w.Key(vk::kTab);
  w.Key('S', 4);
  EXPECT_EQ(w.logic.form.Results[w.logic.CurrentRow], song);
  w.Press(27);
  EXPECT_TRUE(w.view.search_visible);
  w.Key('S', 4);  // ALT-S right after Esc shows the last query's rows again
  EXPECT_GT(w.logic.form.Results.count(), 0);
  EXPECT_FALSE(w.view.search_visible);

  w.Press(27);
  w.Key(vk::kTab);  // the next database
  EXPECT_EQ(w.logic.form.Databases.CurrentDB, 2);
  EXPECT_NE(w.surface.Find("second"), nullptr);
  w.Key(vk::kTab);
  EXPECT_EQ(w.logic.form.Databases.CurrentDB, 1);
  Type(w, "zzzz-not-there");
  EXPECT_NE(w.surface.Find("Search text not found!"), nullptr);
  EXPECT_TRUE(w.dialogs.messages.empty());
}

TEST_F(SearchScenario, UnusableDatabasesGiveMessagesNotCrashes) {
  const std::string not_access = folder.File("notes.mdb");
  std::ofstream(not_access) << "these are my notes, not a database\n";
  Window w;
  Configure(w, {not_access});
  EXPECT_EQ(w.logic.form.TitleText, "notes");
  ASSERT_EQ(w.dialogs.messages.size(), 1u);
  EXPECT_NE(w.dialogs.messages[0].find("notes.mdb: not an Access database"), std::string::npos);
  EXPECT_EQ(w.logic.SharedConnection, nullptr);
  EXPECT_TRUE(w.commands.calls.empty());
  Type(w, "love");
  EXPECT_EQ(w.dialogs.messages.size(), 2u);
  EXPECT_TRUE(w.view.search_visible);
}

}  // namespace
}  // namespace velloran_test
