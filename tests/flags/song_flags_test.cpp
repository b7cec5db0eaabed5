// The favourites and print-flag keys of the results list, written to the song's row in a file
// that other readers of Access files read as this engine does; and the favourites export file
// and its import: the format byte for byte, round trips with and without clearing, a damaged
// file, and the backup carried across a restart onto a rebuilt catalogue.
#include <fstream>

#include "app/demo_catalogue.h"
#include "app/program.h"
#include "flags/favourites_file.h"
#include "flags/song_flags.h"
#include "tests/admin/admin_support.h"

namespace velloran_test {
namespace {

// A main window whose list commands are the real favourites and print flags, on a demo catalogue
// built for the test in a scratch folder.
struct FlagsWindow {
  RecordingMainSurface surface;
  RecordingView view;
  ScriptedHost host;
  ScriptedDialogHost dialogs;
  SongFlags commands{dialogs};
  MainWindowLogic logic{surface, view, host, dialogs, commands};
  Program program;

  FlagsWindow(const std::string& folder, const std::string& database)
      : program(logic, view, dialogs, commands, folder, FontSpec{"DejaVu Sans", 8, false, false, false}) {
    commands.Attach(logic);
    program.Form_Load("velloran", "", database);
  }
  // A key pressed on the list's row `row` (0: the current one).
  void Key(int16_t code, int16_t shift, int row = 0) {
    if (row) logic.CurrentRow = row;
    logic.Form_KeyDown(code, shift);
  }
  // Lists the songs with IDs first..last, in ID order, in list mode on the first row.
  void List(int first, int last) {
    logic.form.GetSongs("SELECT * FROM [Songs] WHERE [ID]>=" + std::to_string(first) + " AND [ID]<=" + std::to_string(last), "[ID]");
    logic.CurrentRow = 1;
  }
};

// What the file holds for one song, read by ID on a connection of its own.
struct StoredSong { std::string lists; bool print = false; };
inline StoredSong Stored(const std::string& database, int32_t id) {
  auto db = velloran::Connection::Open(database);
  auto rows = db->OpenRecordset("SELECT * FROM [Songs] WHERE [ID]=" + std::to_string(id));
  return {rows->Field("HotlistA").ToText(), rows->Field("PrintYN").ToBool()};
}

// The song number the demo catalogue gives the song with this ID.
inline std::string Number(int id) { return std::to_string(MakeDemoSong(id - 1).number); }

struct FlagsTest : ::testing::Test {
  static constexpr int kSongs = 40;
  ScratchDir scratch;
  std::string database = scratch.File("songs.mdb");
  void SetUp() override { ASSERT_TRUE(BuildDemoCatalogue(database, kSongs).ok()); }
};

constexpr int16_t kCtrl = 2, kAlt = 4;

void SetLists(const std::string& database, int32_t id, const std::string& lists) {
  Connection::Open(database)->Execute("UPDATE [Songs] SET [HotlistA]='" + lists + "' WHERE [ID]=" + std::to_string(id));
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST_F(FlagsTest, ExportAndImportRoundTripWithAndWithoutClearing) {
  FlagsWindow w(scratch.path(), database);
  SetLists(database, 3, "0100100000");
  SetLists(database, 1, "0000000001");  // list 10 only: no key reaches it, the file carries it
  SetLists(database, 2, "0000000000");  // in no list: not written
  const std::string file = scratch.path() + "/favs.txt";
  WriteText(file, "old contents");
  // An existing file and No to overwriting leaves it as it was.
  w.dialogs.save_answers = {file, file};
  w.dialogs.box_answers = {BoxAnswer::kNo, BoxAnswer::kYes};
  w.program.MenuCommand("Mnu_Favourites_Export");
  EXPECT_EQ(ReadWholeFile(file), "old contents");
  w.program.MenuCommand("Mnu_Favourites_Export");
  EXPECT_EQ(ReadWholeFile(file), Number(1) < Number(3) ? Number(1) + ",0000000001\r\n" + Number(3) + ",0100100000\r\n"
                                                       : Number(3) + ",0100100000\r\n" + Number(1) + ",0000000001\r\n");
  // Clearing: Yes to the backup, the save dialog cancelled, and the clearing is still asked.
  w.dialogs.box_answers = {BoxAnswer::kYes, BoxAnswer::kYes};
  w.program.MenuCommand("Mnu_Favourites_Clear");
  EXPECT_EQ(w.dialogs.messages.back(), "Clear all existing favourites now?");
  EXPECT_EQ(Stored(database, 3).lists, "0000000000");
  // Import keeping what is there: song 4's own list stays, the file's songs come back.
  SetLists(database, 4, "1000000000");
  w.dialogs.open_answers = {FileList{"", file}, FileList{"", file}};
  w.dialogs.box_answers = {BoxAnswer::kNo, BoxAnswer::kYes};
  w.program.MenuCommand("Mnu_Favourites_Import");
  EXPECT_EQ(Stored(database, 4).lists + Stored(database, 1).lists + Stored(database, 3).lists, "1000000000" "0000000001" "0100100000");
  EXPECT_EQ(w.logic.SharedConnection, nullptr);  // the import closes the shared connection
  // Import clearing first: only the file's songs are left as favourites.
  w.program.MenuCommand("Mnu_Favourites_Import");
  EXPECT_EQ(Stored(database, 4).lists + Stored(database, 3).lists, "0000000000" "0100100000");
  EXPECT_EQ(w.logic.form.TitleText, "songs");
  ExpectOthersReadIt(database, "Songs");
}

TEST_F(FlagsTest, AMalformedImportAppliesTheGoodLinesAndNamesTheBadOnes) {
  FlagsWindow w(scratch.path(), database);
  const std::string file = scratch.path() + "/edited.txt";
  // Good, blank, quoted, then lines that are not a number, a comma and ten flags, a song number
  // the catalogue lacks, and a good line after a lone CR.
  WriteText(file, Number(2) + ",1100000000\r\n\r\n\"" + Number(3) + "\",\"0000000001\"\nx12\r\n" + Number(5) +
                      ",010010000\r\n,0000000000\r\n" + Number(6) + ",01001000002\r" + Number(7) +
                      ",01001a0000\r\n999999,0000000001\r\n" + Number(8) + ",0010000000\r\n");
  w.dialogs.open_answers = {FileList{"", file}};
  w.dialogs.box_answers = {BoxAnswer::kNo};
  w.program.MenuCommand("Mnu_Favourites_Import");
  std::string lists;
  for (int id : {2, 3, 5, 6, 7, 8}) lists += Stored(database, id).lists + "|";
  EXPECT_EQ(lists, "1100000000|0000000001||||0010000000|");  // nothing from a bad line
  const std::string report = w.dialogs.messages.empty() ? "" : w.dialogs.messages.back();
  EXPECT_NE(report.find("lines 4, 5, 6, 7, 8."), std::string::npos) << report;
  EXPECT_NE(report.find("1 song number is not in this catalogue"), std::string::npos) << report;
  EXPECT_EQ(ToggledList("11", 5), "1100100000");  // a short value is filled up before a key flips it
}

TEST_F(FlagsTest, TheBackupCarriesFavouritesOntoARebuiltCatalogue) {
  {
    FlagsWindow w(scratch.path(), database);
    w.List(8, 9);
    w.Key('2', kCtrl);
    w.program.Form_Unload();
  }
  EXPECT_EQ(ReadWholeFile(scratch.File("favourites.tmp")), Number(8) + ",0100000000\r\n");
  // The host replaces the database with a fresh build: the favourites come back at start-up.
  std::filesystem::remove(database);
  ASSERT_TRUE(BuildDemoCatalogue(database, kSongs).ok());
  FlagsWindow again(scratch.path(), database);
  EXPECT_EQ(Stored(database, 8).lists, "0100000000");
  EXPECT_TRUE(again.dialogs.messages.empty());
}

TEST_F(FlagsTest, PrintFlagKeysFlipEachSongInTheFileAndTheList) {
  FlagsWindow w(scratch.path(), database);
  w.List(1, 3);
  w.Key('P', kAlt, 2);
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
  for (const auto& [key, row] : {std::pair<int16_t, int>{'3', 2}, {'3', 3}, {'4', 2}}) w.Key(key, kCtrl, row);
  ExpectOthersReadIt(database, "Songs");
  // In search mode CTRL-n shows list n.
  w.logic.form.SearchVisible = true;
  w.Key('4', kCtrl);
  ASSERT_EQ(w.logic.form.Results.count(), 1);
  EXPECT_EQ(std::pair(w.logic.form.Results[1].ID, w.logic.form.SearchVisible), std::pair(6, false));
  w.logic.form.SearchVisible = true;
  w.Key('9', kCtrl);  // nobody: the search's own message
  EXPECT_EQ(w.logic.form.TitleText, "Search text not found!");
}

}  // namespace
}  // namespace velloran_test
