// Adding songs: a folder of generated tracks (the rows written, the numbers proposed, the files
// renamed by the form and by the command, what is skipped, a cancel half-way, the name pattern with
// its preview); the import killed at random moments, after which the database passes the
// engine's check and every file given a song number as its name has the row with that number; and
// an Access 97 catalogue, which the first command that would change it offers to convert: No
// leaves the files and the database list as they were, Yes puts a checked Access 2000 copy beside
// the untouched original and in its place in the list.
#include <signal.h>

#include <chrono>
#include <random>
#include <thread>

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
  EXPECT_EQ(std::pair(result.cancelled, result.imported), std::pair(true, 3));
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
    const NameParts p = SplitName(c.name, c.pattern);
    EXPECT_EQ(std::tie(p.fits, p.disc, p.artist, p.title), std::tie(c.fits, c.disc, c.artist, c.title));
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
  EXPECT_EQ(shown, (std::vector<std::string>{"10||Song 10|||False", "11||Odd name||Various|False", "12||Waterloo|SC1|ABBA|False"}));
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
  EXPECT_NE(out.str().find("These files kept their names:\nLast.mp3: 1236.mp3 is taken\nTrack.MCG: 1238.MCG is taken"), std::string::npos)
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

TEST(Access97, ChangingACatalogueOffersAnAccess2000CopyAndNoKeepsEverything) {
  REQUIRE_SHARED_FIXTURES();
  KaraokeWindow k;
  const std::string original = k.folder.CopyFixture("access/testV1997.mdb", "songs97.mdb");
  const std::string bytes = ReadWholeFile(original);
  // Its Table1 holds every mapped field, but not the program's own: the check must add them.
  const DatabaseEntry entry{original, "Table1", "A", "B", "E", "A"};
  k.Use(entry);

  // Adding songs and the check's repair both ask; No changes nothing.
  ScriptedDialogHost dialogs;
  dialogs.box_answers = {BoxAnswer::kNo};
  Frm_AddRecords add{k.form.Databases, k.host, dialogs};
  EXPECT_FALSE(add.Form_Load());
  k.host.answers = {MessageAnswer::kNo};
  EXPECT_FALSE(k.form.CheckDatabase());
  EXPECT_EQ(dialogs.messages, k.host.messages);  // the same question from both
  const std::string asked = k.host.messages.at(0);
  EXPECT_NE(asked.find("songs97.mdb is an Access 97 database"), std::string::npos) << asked;
  EXPECT_NE(asked.find("songs97 (Access 2000).mdb"), std::string::npos) << asked;
  EXPECT_EQ(k.form.Databases.current(), entry);
  EXPECT_EQ(NamesIn(k.folder.path()), std::set<std::string>{"songs97.mdb"});

  // Yes: the copy takes the original's place, is repaired by the check and searches.
  k.host.answers = {MessageAnswer::kYes};
  ASSERT_TRUE(k.form.CheckDatabase()) << (k.host.messages.empty() ? "" : k.host.messages.back());
  const std::string copy = k.folder.File("songs97 (Access 2000).mdb");
  EXPECT_EQ(k.form.Databases.current().Database, copy);
  EXPECT_EQ(ReadWholeFile(original), bytes);
  EXPECT_TRUE(PassesJetCheck(copy));
  k.form.GetSongs("SELECT * FROM [Table1]", "[ID]");
  EXPECT_EQ(k.form.Results.count(), 2);
  // The next conversion of the same original does not take the first copy's name.
  EXPECT_EQ(ConvertedPath(original), k.folder.File("songs97 (Access 2000) 2.mdb"));
}

using Clock = std::chrono::steady_clock;

// The form's loading gives the table the fields the import adds, there before any kill for the
// rows' read-back.
struct Library : AddRecords {
  explicit Library(int n) : AddRecords({100}) {
    Load();
    for (int i = 0; i < n; ++i) Touch(tracks, {"Artist " + std::to_string(i) + " - Title.mp3"});
    for (int i = 0; i < n; i += 2) Touch(tracks, {"Artist " + std::to_string(i) + " - Title.cdg"});
  }
  pid_t Start() const {
    return Spawn({VELLORAN_PROGRAM, "import", path, "Songs", tracks, "--rename", "--batch-rows", "20"}, dir.File("out.txt"));
  }
};

TEST(ImportCrash, EveryRenamedFileHasItsRowAfterAKill) {
  const int kills = static_cast<int>(NumberFromEnvironment("VELLORAN_IMPORT_KILLS", 20));
  // How long an import runs to its end, to spread the kills over it.
  const Library whole(300);
  const Clock::time_point start = Clock::now();
  const int status = WaitFor(whole.Start());
  const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadWholeFile(whole.dir.File("out.txt"));
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int64_t> moment(0, micros);
  int renamed_seen = 0;
  for (int k = 0; k < kills; ++k) {
    SCOPED_TRACE("kill " + std::to_string(k));
    Library lib(300);
    pid_t pid = lib.Start();
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    WaitFor(pid);
    ASSERT_TRUE(PassesJetCheck(lib.path));
    std::set<std::string> numbers;
    for (const std::string& row : lib.Rows()) numbers.insert(row.substr(0, row.find('|')));
    for (const std::string& name : NamesIn(lib.tracks)) {
      if (name.rfind("Artist ", 0) == 0) continue;
      ++renamed_seen;
      EXPECT_TRUE(numbers.count(name.substr(0, name.find('.')))) << name << " was renamed without its row";
    }
  }
  // The kills are spread over the whole run: some of them must have found files renamed.
  EXPECT_GT(renamed_seen, 0);
}

}  // namespace
}  // namespace velloran_test
