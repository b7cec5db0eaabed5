// A host's searches from the search box to the result set: number and text searches on the
// generated song catalogue, the row limit, the messages in the title, and what a search that
// finds nothing leaves behind.

#include <unistd.h>

#include "jet/text/collation.h"
#include "catalogue/catalogue_design.h"
#include "tests/catalogue/other_program.h"
#include "tests/catalogue/scripted_host.h"

namespace velloran {
namespace {

using velloran_test::ScriptedHost;

// Access's General sort order, which the engine's ORDER BY follows.
int Collate(const std::string& a, const std::string& b) {
  return jet::CompareText(jet::JetVersion::kJet4, jet::FromUtf8(a), jet::FromUtf8(b));
}

// The window on a copy of the generated song catalogue.
struct Window : velloran_test::KaraokeWindow {
  Window() { Use(folder.CopyOfSongs()); }
};

TEST(GetSongs, NumberSearchListsFromThatSongNumberUp) {
  REQUIRE_SHARED_FIXTURES();
  Window w;
  w.form.OnTop = true;
  w.Search("1 2 5 0");  // typed with blanks: song 1250 and up
  ASSERT_EQ(w.form.Results.count(), 251);
  EXPECT_EQ(w.form.Results[1].SongNumber, "1250");
  EXPECT_EQ(w.form.Results[251].SongNumber, "1500");
  EXPECT_EQ(w.form.TitleText, "");
  EXPECT_FALSE(w.form.SearchVisible);
  // Every field of a row comes across; an empty disc ID as "".
  w.Search("1021");
  EXPECT_EQ(w.form.Results[1], (ResultRow{21, "", "1021", "Angel Dream Again Roll", "John Brooks", false}));
  w.Search("1005");
  EXPECT_EQ(w.form.Results[1], (ResultRow{5, "DK7457-08", "1005", "Night Gold Tonight Day's", "Celine Sinatra", true}));
  EXPECT_EQ(w.surface.top_most, 3) << "stay-on-top is renewed for each search";
}

TEST(GetSongs, LimitKeepsOneRowMoreThanMaxResults) {
  REQUIRE_SHARED_FIXTURES();
  Window w;
  EXPECT_EQ(w.form.MaxResults, 1000);
  // "" finds every song that has a title or an artist: all 500.
  for (const auto& [max, text, count] : {std::tuple{1000, "", 500}, std::tuple{100, "", 101}, std::tuple{0, "1", 1}}) {
    w.form.MaxResults = max;
    w.Search(text);
    EXPECT_EQ(w.form.Results.count(), count) << max;
  }
}

TEST(GetSongs, NothingFoundSaysSoAndAResortKeepsTheEarlierRows) {
  REQUIRE_SHARED_FIXTURES();
  Window w;
  w.Search("love");
  int found = w.form.Results.count();
  ASSERT_GT(found, 1);

  w.Search("zzqx");
  EXPECT_EQ(w.form.TitleText, "Search text not found!");
  EXPECT_EQ(w.form.Results.count(), 0);  // the search emptied the list first
  EXPECT_TRUE(w.form.SearchVisible);

  // A re-run of a query that now finds nothing leaves the list as it was.
  w.Search("love");
  w.form.GetSongs("SELECT * FROM [MyList] WHERE [SongNumber] > 99999", "[SongNumber]");
  EXPECT_EQ(w.form.Results.count(), found);
  EXPECT_EQ(w.form.TitleText, "Search text not found!");

  // Re-sorting the stored query by artist: same rows, the shorter result replaces a longer one.
  w.form.GetSongs("SELECT * FROM [MyList] WHERE [Song] LIKE '*love*' OR [Artist] LIKE '*love*'", "[Artist],[Song]");
  ASSERT_EQ(w.form.Results.count(), found);
  for (int i = 2; i <= found; ++i) EXPECT_LE(Collate(w.form.Results[i - 1].Artist, w.form.Results[i].Artist), 0);
  w.form.GetSongs("SELECT * FROM [MyList] WHERE [SongNumber] >= 1499", "[SongNumber]");
  w.form.GetSongs("", "[SongNumber] DESC");  // an empty query re-runs the stored one
  ASSERT_EQ(w.form.Results.count(), 2);
  EXPECT_EQ(w.form.Results[1].SongNumber, "1500");
}

// Every search checks the database first. A file unchanged since this program found its table
// in shape is not checked again (so a search goes on while another program is in the middle of a
// write); any change to the file, from any program, has the next check look at it again.
TEST(GetSongs, ATableFoundInShapeIsCheckedAgainOnlyAfterTheFileChanges) {
  REQUIRE_SHARED_FIXTURES();
  Window w;
  const std::string path = w.form.Databases.current().Database;
  ASSERT_TRUE(w.form.CheckDatabase());  // numbers the songs without an ID: the file changes
  usleep(100000);  // that change lies well in the past now, so what the next check finds is kept
  ASSERT_TRUE(w.form.CheckDatabase());
  {
    auto writer = velloran_test::AnotherProgramWriting(path);
    ASSERT_NE(writer, nullptr);
    w.Search("5");
    EXPECT_GT(w.form.Results.count(), 0);
  }
  ASSERT_TRUE(velloran_test::InAnotherProcess([&] { Connection::Open(path)->Execute("DROP INDEX Song ON [MyList]"); }));
  usleep(100000);
  w.Search("5");
  auto db = Connection::Open(path);
  ScriptedHost quiet;
  EXPECT_TRUE(CatalogueDesign(*db, quiet).IndexExists("MyList", "Song")) << "the next check did not bring the index back";
  EXPECT_TRUE(w.host.messages.empty());
}

TEST(GetSongs, NoDatabaseAndMissingDatabase) {
  velloran_test::KaraokeWindow w;
  w.Search("love");
  EXPECT_EQ(w.form.TitleText, "No database loaded!");
  EXPECT_EQ(std::pair(w.surface.shown, w.surface.printed.size()), std::pair(0, size_t{0}));

  w.Use("/nonexistent/songs.mdb");
  w.Search("love");
  EXPECT_EQ(w.host.messages, std::vector<std::string>{"Database not found! Please select another database."});
  EXPECT_EQ(w.host.select_enabled, 0) << "no selector for a file that is not there";
  EXPECT_EQ(w.surface.printed, std::vector<std::string>{"Searching..."});
  EXPECT_EQ(std::pair(w.surface.shown, w.form.Results.count()), std::pair(1, 0));
}

}  // namespace
}  // namespace velloran
