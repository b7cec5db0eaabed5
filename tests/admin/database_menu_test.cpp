// The "&Database" menu on the main window's logic, with a scripted user: the list, the current
// entry, the title and the "&Select Table/Fields" switch after each command; and the path
// functions the commands rely on.
#include <filesystem>
#include <fstream>

#include "admin/database_menu.h"
#include "admin/path_functions.h"
#include "tests/admin/admin_support.h"

namespace velloran_test {
namespace {

namespace fs = std::filesystem;

struct Menu {
  Window w;
  ScratchDir dir;
  int selector_opened = 0, add_records_opened = 0;
  DatabaseMenu menu{w.logic, w.dialogs, "/program/folder",
                    {[this] { ++selector_opened; }, [this] { ++add_records_opened; }}};

  DatabaseList& list = w.logic.form.Databases;

  void List(std::initializer_list<std::string> paths, int current) {
    for (const std::string& p : paths) list.entries.push_back(DatabaseEntry{p, "Songs", "A", "S", "N", "D"});
    list.CurrentDB = static_cast<int16_t>(current);
  }
  // The title, the current entry's number and every listed path: "title @n |path|path...".
  std::string State() const {
    std::string out = w.logic.form.TitleText + " @" + std::to_string(list.CurrentDB) + " ";
    for (const DatabaseEntry& e : list.entries) out += "|" + e.Database;
    return out;
  }
};

TEST(PathFunctions, NamesFoldersAndRoots) {
  ScratchDir dir;
  const std::string songs = dir.File("Songs");
  fs::create_directories(songs);
  const struct { std::string path, base, extension, folder, stripped, root; } cases[] = {
      {"C:\\Songs\\Pop.Hits.mdb", "Pop.Hits", "mdb", "C:\\Songs", "C:\\Songs\\Pop.Hits.mdb", "C:"},
      {"Karaoke.mdb", "Karaoke", "mdb", "", "Karaoke.mdb", "Karaoke.mdb"},
      {"C:\\Songs\\\\  ", "  ", "", "C:\\Songs\\", "C:\\Songs", "C:"},  // blanks stay in a folder
      {"\\\\server\\share\\dir\\a.mdb", "a", "mdb", "\\\\server\\share\\dir", "\\\\server\\share\\dir\\a.mdb",
       "\\\\server\\share"},
      {songs + "/", "", "", songs, songs, "/"},  // an existing folder is its own folder
      {songs + "/*.mdb", "*", "mdb", songs, songs + "/*.mdb", "/"},
      {"relative/dir/x.y.z", "x.y", "z", "relative/dir", "relative/dir/x.y.z", "relative"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileBaseName(c.path), c.base);
    EXPECT_EQ(ExtensionOf(c.path.substr(c.path.find_last_of("/\\") + 1)), c.extension);
    EXPECT_EQ(FolderOf(c.path), c.folder);
    EXPECT_EQ(StripTrailingBackslashes(c.path), c.stripped);
    EXPECT_EQ(PathRoot(c.path), c.root);
  }
  EXPECT_EQ(ShortPathName(songs + "  "), songs);
  EXPECT_EQ(ShortPathName(songs + "/missing"), "");
  EXPECT_TRUE(RootExists(songs + "/missing/deeper"));
  EXPECT_FALSE(RootExists("C:\\Songs"));
  EXPECT_EQ(BackupNameOf(songs + "/Karaoke.mdb"), songs + "/Karaoke.bak");
  EXPECT_EQ(BackupNameOf("Karaoke.mdb"), "Karaoke.bak");
}

TEST(DatabaseMenu, NewDatabaseFirstThenRepointsTheCurrentEntry) {
  Menu m;
  const std::string first = m.dir.File("First.mdb"), second = m.dir.File("My.Songs.mdb");
  std::ofstream(m.dir.File("First.bak")) << "an old backup";

  m.w.dialogs.save_answers = {first};
  m.menu.Run("Mnu_Create_Database");
  EXPECT_EQ(m.State(), "First @1 ||" + first);
  ASSERT_NE(m.w.logic.SharedConnection, nullptr);
  EXPECT_FALSE(fs::exists(m.dir.File("First.bak")));
  // The check finds no table and opens the selector, which the user left without choosing.
  EXPECT_EQ(m.w.host.selector_shown, 1);
  EXPECT_EQ(m.w.host.messages.at(0), "This database is not properly configured, launching Table/Field selector.");
  EXPECT_TRUE(m.w.logic.SearchMode());

  m.list.current() = DatabaseEntry{first, "Songs", "A", "S", "N", "D"};
  m.w.dialogs.save_answers = {second};
  m.menu.Run("Mnu_Create_Database");
  // The table name was cleared for the new file (the check then puts in its default).
  const DatabaseEntry& repointed = m.list.current();
  EXPECT_EQ(repointed.ArtistField + repointed.SongField + repointed.SongNumberField + repointed.DiskIDField, "ASND");
  EXPECT_EQ(m.State(), "My.Songs @1 ||" + second);
  EXPECT_EQ(m.w.logic.SharedConnection->path(), second);
  EXPECT_TRUE(PassesJetCheck(second));

  // An existing file is refused and left alone; a cancel changes nothing; a backup that will not
  // go (a folder) leaves the new file unopened.
  const auto size = fs::file_size(first);
  fs::create_directories(m.dir.File("Locked.bak/inside"));
  m.w.dialogs.save_answers = {first, "", m.dir.File("Locked.mdb")};
  for (int i = 0; i < 3; ++i) m.menu.Run("Mnu_Create_Database");
  EXPECT_EQ(m.w.dialogs.messages, (std::vector<std::string>{"File exists! Select another filename!",
                                                            "Error deleting backup file " + m.dir.File("Locked.bak")}));
  EXPECT_EQ(fs::file_size(first), size);
  EXPECT_TRUE(fs::exists(m.dir.File("Locked.mdb")));
  EXPECT_EQ(m.w.logic.SharedConnection->path(), second);
}

TEST(DatabaseMenu, OpenAppendsTheUnlistedAndCloseKeepsTheOrderOfTheOthers) {
  Menu m;
  m.List({"/db/b.mdb"}, 1);
  // The second is listed already; the same path in other letter case is another file.
  m.w.dialogs.open_answers = {FileList{"", "/db/a.mdb", "/db/b.mdb", "/db/B.mdb"}, FileList{"", "/db/b.mdb"}};
  m.menu.Run("Mnu_Database_Open");
  EXPECT_EQ(m.State(), "B @3 ||/db/b.mdb|/db/a.mdb|/db/B.mdb");
  EXPECT_EQ(m.w.host.messages.back(), "Database not found! Please select another database.");
  m.menu.Run("Mnu_Database_Open");
  m.menu.Run("Mnu_Database_Open");  // cancelled
  EXPECT_EQ(m.State(), "b @1 ||/db/b.mdb|/db/a.mdb|/db/B.mdb");

  m.list.CurrentDB = 2;
  m.w.logic.Switches.SelectTableEnabled = true;
  m.w.Rows(5);
  m.menu.Run("Mnu_Database_Close");
  EXPECT_EQ(m.State(), "b @1 ||/db/b.mdb|/db/B.mdb");
  EXPECT_FALSE(m.w.logic.Switches.SelectTableEnabled);
  EXPECT_EQ(m.w.logic.form.Results.count(), 0);  // rows of a closed database are not kept
  for (int i = 0; i < 3; ++i) m.menu.Run("Mnu_Database_Close");  // the last one with nothing left
  EXPECT_EQ(m.State(), "No database loaded! @0 |");
}

TEST(DatabaseMenu, ModifySelectAndAddRecordsAndAWorkingDatabase) {
  REQUIRE_SHARED_FIXTURES();
  Menu m;
  // Nothing happens without a current database; for a file that is not there only the two
  // windows open, without a word.
  const std::vector<std::string> items{"Mnu_Database_Modify", "Mnu_Database_Select", "Mnu_Database_AddRecords"};
  for (const std::string& item : items) m.menu.Run(item);
  m.List({m.dir.File("missing.mdb")}, 1);
  for (const std::string& item : items) m.menu.Run(item);
  EXPECT_TRUE(m.w.dialogs.messages.empty());
  EXPECT_EQ(std::pair(m.selector_opened, m.add_records_opened), std::pair(1, 1));

  // Opening a listed database that works makes it current and enables the selector.
  const std::string songs = m.dir.CopyOfSongs();
  m.list.entries.push_back(DatabaseEntry{songs, "MyList", "Artist", "Song", "SongNumber", "DiskID"});
  m.w.dialogs.open_answers = {FileList{"", songs}};
  m.menu.Run("Mnu_Database_Open");
  EXPECT_EQ(m.list.CurrentDB, 2);
  EXPECT_TRUE(m.w.logic.Switches.SelectTableEnabled);
  EXPECT_TRUE(m.w.host.messages.empty());

  // A desktop without a program for the file says so.
  struct NoProgram : ScriptedDialogHost {
    std::string opened;
    int ShellOpen(const std::string& target) override { return opened = target, 0; }
  } desktop;
  DatabaseMenu menu(m.w.logic, desktop, "", {});
  EXPECT_TRUE(menu.Run("Mnu_Database_Modify"));
  EXPECT_EQ(desktop.opened, songs);
  ASSERT_EQ(desktop.messages.size(), 1u);
  EXPECT_NE(desktop.messages[0].find("No program on this desktop opens " + songs), std::string::npos);
  EXPECT_FALSE(menu.Run("Mnu_Exit"));
}

}  // namespace
}  // namespace velloran_test
