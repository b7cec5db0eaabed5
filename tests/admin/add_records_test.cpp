// Adding a folder of generated tracks: the rows written, the numbers proposed, the files renamed
// (by the form and by the command), what is skipped, a cancel half-way, and the name pattern with
// its preview.
#include "admin/frm_add_records.h"
#include "tests/admin/admin_support.h"

namespace velloran_test {
namespace {

namespace fs = std::filesystem;

struct AddRecords : OneDatabase {
  std::string tracks = dir.File("tracks");
  Frm_AddRecords form{list, host, dialogs};

  explicit AddRecords(std::vector<int> numbers, int16_t song_size = 255) : OneDatabase("Songs") {
    MakeSongTable(path, "Songs", std::move(numbers), song_size);
  }
  void Load(const std::string& folder = "") {
    ASSERT_TRUE(form.Form_Load());
    form.Txt_Folder = folder;
  }
  std::vector<std::string> Rows() { return SongRows(path, "Songs"); }
};

TEST(FolderImport, TracksCompanionsAndNames) {
  AddRecords a({1234});
  Touch(a.tracks, {"Artist - Title.mp3", "Artist - Title.cdg", "Song.MP3", "song.Mcg", "a.b.c.mp3", "both.mp3",
                   "both.cdg", "both.mcg", "none.mp3", "song.mp3.bak", "noext", "lone.cdg"});
  Touch(a.tracks + "/sub", {"deep.mp3"});
  a.Load(a.tracks + "/  ");  // used without the trailing separator and blanks
  a.form.Txt_DiskID = "SC9";
  a.form.Cmd_Go_Click();
  EXPECT_EQ(a.dialogs.messages, std::vector<std::string>{"Done!"});
  EXPECT_EQ(a.form.Txt_SongNumber, "1240");
  EXPECT_EQ(a.Rows(), (std::vector<std::string>{"1234||Song 1234|||False", "1235|CDG|Artist - Title|SC9||False",
                                                "1236|MCG|Song|SC9||False", "1237||a.b.c|SC9||False", "1238|CDG|both|SC9||False",
                                                "1239||none|SC9||False"}));
  // Again, with the subfolder: every file once more, with new numbers.
  a.form.Chk_Subfolders = true;
  a.form.Cmd_Go_Click();
  EXPECT_EQ(a.Rows().size(), 12u);
  EXPECT_EQ(a.Rows().back(), "1245||deep|||False");
  EXPECT_TRUE(NamesIn(a.tracks).count("Song.MP3"));  // nothing renamed unless asked
}

TEST(FolderImport, SkipsWhatCannotBeARowAndStopsWhenCancelled) {
  AddRecords a({}, 20);
  Touch(a.tracks, {"a.mp3", "b.mp3", "c very long name of more than twenty.mp3", std::string("d\xff.mp3"), "e.mp3",
                   "f.mp3", "g.mp3", "h.mp3"});
  a.Load();
  std::vector<int> seen;
  // Cancel while the fifth file is done; batches of two rows.
  const ImportOptions options{a.tracks, "", "", /*rename=*/true, false, "", /*batch_rows=*/2};
  ImportResult result = ImportFolder(*Connection::Open(a.path), "Songs", options, [&](int done, int total) {
    seen.push_back(done);
    EXPECT_EQ(total, 8);
    return done < 5;
  });
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.imported, 3);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(result.skipped, (std::vector<std::string>{
                                "c very long name of more than twenty.mp3: longer than the field Song (20 characters)",
                                "d\xff.mp3: the name is not valid text"}));
  EXPECT_EQ(result.Message().rfind("Stopped: 3 songs were added.", 0), 0u);
  EXPECT_EQ(a.Rows(), (std::vector<std::string>{"1||a|||False", "2||b|||False", "3||e|||False"}));
  for (const char* renamed : {"1.mp3", "2.mp3", "3.mp3", "f.mp3"}) EXPECT_TRUE(NamesIn(a.tracks).count(renamed));
  EXPECT_TRUE(PassesJetCheck(a.path));
}

TEST(FolderImport, NamePatternSplitsNamesAndShowsAPreview) {
  const struct { std::string pattern, name; bool fits; std::string disc, artist, title; } cases[] = {
      {"Artist - Title", "Queen - Bohemian Rhapsody", true, "", "Queen", "Bohemian Rhapsody"},
      {"DiscID - Artist - Title", "SC8123-05 - ABBA - Waterloo - Live", true, "SC8123-05", "ABBA", "Waterloo - Live"},
      {"DiscID - Title - Artist", "SF01 - Song (x) - Band", true, "SF01", "Band", "Song (x)"},
      {"Artist - Title", "No separator here", false, "", "", ""},
      {"[DiscID] Title", "[MR12] Tune", true, "MR12", "", "Tune"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern + " / " + c.name);
    NameParts p = SplitName(c.name, c.pattern);
    EXPECT_EQ(p.fits, c.fits);
    EXPECT_EQ(p.disc + "|" + p.artist + "|" + p.title, c.disc + "|" + c.artist + "|" + c.title);
  }

  AddRecords a({10});
  Touch(a.tracks, {"SC1 - ABBA - Waterloo.mp3", "Odd name.mp3"});
  a.Load(a.tracks);
  a.form.Chk_RenameFiles = true;
  a.form.Txt_Artist = "Various";
  a.form.NamePattern = "DiscID - Artist - Title";
  // The preview shows the rows the import then writes; a name that does not fit is the title.
  std::vector<std::string> shown{"10||Song 10|||False"};
  for (const ImportRow& r : a.form.Preview(5))
    shown.push_back(std::to_string(r.number) + "||" + r.song + "|" + r.disc + "|" + r.artist + "|False");
  a.form.Cmd_Go_Click();
  EXPECT_EQ(a.Rows(), shown);
  EXPECT_EQ(shown, (std::vector<std::string>{"10||Song 10|||False", "11||Odd name||Various|False",
                                             "12||Waterloo|SC1|ABBA|False"}));
  EXPECT_EQ(NamesIn(a.tracks), (std::set<std::string>{"11.mp3", "12.mp3"}));
}

TEST(FolderImport, TheCommandRenamesAfterSavingAndKeepsNamesThatAreTaken) {
  AddRecords a({1234});
  Touch(a.tracks, {"Alpha.mp3", "alpha.CDG", "Taken.mp3", "Track.mp3", "Track.MCG", "Last.mp3", "Last.cdg"});
  fs::create_directories(a.tracks + "/1236.mp3");  // the name Taken.mp3 would get
  fs::create_directories(a.tracks + "/1238.MCG");  // the name Track.MCG would get
  std::ostringstream out, err;
  EXPECT_EQ(RunImportCommand({a.path, "Songs", a.tracks, "--disk-id", "D1", "--rename"}, out, err), 0) << err.str();
  // By name: Alpha 1235, Last 1236 (its name is taken: Last keeps both names), Taken 1237, Track
  // 1238 (its companion's name is taken). A renamed companion keeps its extension's case.
  EXPECT_EQ(a.Rows(), (std::vector<std::string>{"1234||Song 1234|||False", "1235|CDG|Alpha|D1||False", "1236|CDG|Last|D1||False",
                                                "1237||Taken|D1||False", "1238|MCG|Track|D1||False"}));
  EXPECT_EQ(NamesIn(a.tracks), (std::set<std::string>{"1235.mp3", "1235.CDG", "1236.mp3", "Last.mp3", "Last.cdg",
                                                       "1237.mp3", "1238.mp3", "1238.MCG", "Track.MCG"}));
  EXPECT_NE(out.str().find("These files kept their names:\nLast.mp3: 1236.mp3 is taken\nTrack.MCG: 1238.MCG is taken"),
            std::string::npos)
      << out.str();
  // Nothing to import, a table that is not there, wrong arguments.
  fs::create_directories(a.dir.File("empty"));
  EXPECT_EQ(RunImportCommand({a.path, "Songs", a.dir.File("empty")}, out, err), 1);
  EXPECT_EQ(RunImportCommand({a.path, "Nope", a.tracks}, out, err), 1);
  EXPECT_EQ(RunImportCommand({a.path, "Songs"}, out, err), 2);
  EXPECT_EQ(RunImportCommand({a.path, "Songs", a.tracks, "--bogus"}, out, err), 2);
  // Other readers of Access files read the imported rows as this engine does.
  ExpectOthersReadIt(a.path, "Songs", true);
}

}  // namespace
}  // namespace velloran_test
