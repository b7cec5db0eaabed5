// The "&Database" menu on the main window's logic, with a scripted user: the list, the current
// entry, the title and the "&Select Table/Fields" switch after each command; the path functions
// the commands rely on; and the table and field selector the menu opens, on generated databases:
// what the list and the four boxes show, which state "&OK" is in, and what each button writes
// into the entry and the file.
#include <filesystem>
#include <fstream>
#include <map>

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
  const ScratchDir dir;
  const std::string& songs = dir.path();  // an existing folder
  const struct { std::string path, base, extension, folder, stripped, root; } cases[] = {
      {"C:\\Songs\\Pop.Hits.mdb", "Pop.Hits", "mdb", "C:\\Songs", "C:\\Songs\\Pop.Hits.mdb", "C:"},
      {"Karaoke.mdb", "Karaoke", "mdb", "", "Karaoke.mdb", "Karaoke.mdb"},
      {"C:\\Songs\\\\  ", "  ", "", "C:\\Songs\\", "C:\\Songs", "C:"},  // blanks stay in a folder
      {"\\\\server\\share\\dir\\a.mdb", "a", "mdb", "\\\\server\\share\\dir", "\\\\server\\share\\dir\\a.mdb", "\\\\server\\share"},
      {songs + "/", "", "", songs, songs, "/"},  // an existing folder is its own folder
      {songs + "/*.mdb", "*", "mdb", songs, songs + "/*.mdb", "/"},
      {"relative/dir/x.y.z", "x.y", "z", "relative/dir", "relative/dir/x.y.z", "relative"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(std::tuple(FileBaseName(c.path), ExtensionOf(c.path.substr(c.path.find_last_of("/\\") + 1)), FolderOf(c.path),
                         StripTrailingBackslashes(c.path), PathRoot(c.path)), std::tie(c.base, c.extension, c.folder, c.stripped, c.root));
  }
  EXPECT_EQ(std::pair(ShortPathName(songs + "  "), ShortPathName(songs + "/missing")), std::pair(songs, std::string()));
  EXPECT_EQ(std::pair(RootExists(songs + "/missing/deeper"), RootExists("C:\\Songs")), std::pair(true, false));
  EXPECT_EQ(BackupNameOf(songs + "/Karaoke.mdb") + " " + BackupNameOf("Karaoke.mdb"), songs + "/Karaoke.bak Karaoke.bak");
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
  EXPECT_EQ(std::pair(fs::file_size(first), fs::exists(m.dir.File("Locked.mdb"))), std::pair(size, true));
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
  EXPECT_EQ(std::pair(m.list.CurrentDB, m.w.logic.Switches.SelectTableEnabled), std::pair(int16_t{2}, true));
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

TEST(SelectTable, NoTablesThenCreateOneAndItsFields) {
  Selector s({});
  s.Load();
  EXPECT_EQ(s.form->Lbl_Database, s.path);
  EXPECT_TRUE(s.form->List1.empty());
  for (const FieldBox& box : s.form->Cmb_Fields)
    EXPECT_EQ(box.items, std::vector<std::string>{Frm_SelectTable::kPlaceholderAfterLoad});
  s.form->Cmd_CreateFields_Click();  // no table: nothing
  s.form->Cmd_Delete_Click();
  EXPECT_TRUE(s.dialogs.messages.empty());

  s.dialogs.prompt_answers = {"", "Karaoke"};
  s.form->Cmd_CreateNewTable_Click();  // cancelled
  s.form->Cmd_CreateNewTable_Click();
  EXPECT_EQ(s.dialogs.prompts, (std::vector<std::string>{"Enter name for new table", "Enter name for new table"}));
  EXPECT_EQ(s.form->List1, std::vector<std::string>{"Karaoke"});
  // Only the program's own fields so far: every role still wants its field.
  EXPECT_EQ(s.Texts(), std::vector<std::string>(4, Frm_SelectTable::kPlaceholder));
  EXPECT_FALSE(s.form->OkEnabled);
  EXPECT_FALSE(s.form->Cmd_OK_Click());
  EXPECT_NE(s.dialogs.messages.back().find("No field is chosen for \"Song Number\""), std::string::npos);
  EXPECT_EQ(s.list.current().SongNumberField, "SongNumber");  // nothing stored

  // One name typed by the user, three defaults.
  s.form->Cmb_Fields[3].Type("Singer");
  s.form->Cmd_CreateFields_Click();
  EXPECT_EQ(s.Texts(), (std::vector<std::string>{"SongNumber", "DiskID", "Song", "Singer"}));
  EXPECT_TRUE(s.form->OkEnabled);
  ASSERT_TRUE(s.form->Cmd_OK_Click());
  EXPECT_EQ(s.list.current(), (DatabaseEntry{s.path, "Karaoke", "Singer", "Song", "SongNumber", "DiskID"}));

  std::map<std::string, FieldType> fields;
  for (const FieldInfo& f : Connection::Open(s.path)->TableDef("Karaoke").fields) fields[f.name] = f.type;
  EXPECT_EQ(std::vector({fields["SongNumber"], fields["Singer"]}), std::vector({FieldType::kLong, FieldType::kText}));
  EXPECT_TRUE(PassesJetCheck(s.path));
}

TEST(SelectTable, MappedFieldsFoundInOtherLetterCaseAMissingRoleAndDeletingTheTableInUse) {
  Selector s({{"Songs", {{"songnumber"}, {"DISKID"}, {"Song"}, {"Title"}}}, {"Other", {{"X"}}}});
  s.Load();
  EXPECT_EQ(s.form->List1, (std::vector<std::string>{"Songs", "Other"}));
  EXPECT_EQ(s.form->Cmb_Fields[0].items,
            (std::vector<std::string>{Frm_SelectTable::kPlaceholder, "songnumber", "DISKID", "Song", "Title"}));
  // The entry's letter case is shown; the artist field is missing.
  EXPECT_EQ(s.Texts(), (std::vector<std::string>{"SongNumber", "DiskID", "Song", Frm_SelectTable::kPlaceholder}));
  EXPECT_FALSE(s.form->OkEnabled);

  // Choosing another table and closing with the close box keeps the field names.
  s.form->List1_Click(1);
  s.form->Form_Unload();
  EXPECT_EQ(s.list.current(), (DatabaseEntry{s.path, "Other", "Artist", "Song", "SongNumber", "DiskID"}));

  s.Load();
  s.form->Cmb_Fields[3].Select(4);  // "Title" plays the artist
  EXPECT_FALSE(s.form->OkEnabled);  // only a table choice changes the button
  ASSERT_TRUE(s.form->Cmd_OK_Click());
  EXPECT_EQ(s.list.current(), (DatabaseEntry{s.path, "Songs", "Title", "Song", "SongNumber", "DiskID"}));

  // Every role found: "&OK" is on from the start. Then the table in use is deleted.
  s.Load();
  EXPECT_TRUE(s.form->OkEnabled);
  s.dialogs.box_answers = {BoxAnswer::kNo};
  s.form->Cmd_Delete_Click();
  EXPECT_EQ(s.dialogs.messages.back(), "Are you sure you want to delete this table?\r\nAll data in the table will be lost!");
  EXPECT_EQ(s.form->List1.size(), 2u);

  s.dialogs.box_answers = {BoxAnswer::kYes, BoxAnswer::kYes};
  s.form->Cmd_Delete_Click();
  EXPECT_EQ(s.form->List1, std::vector<std::string>{"Other"});
  EXPECT_EQ(s.list.current().Table, "Other");
  s.form->Cmd_Delete_Click();
  EXPECT_TRUE(s.form->List1.empty());
  EXPECT_EQ(s.list.current().Table, "Other");  // the last table's name stays
  s.form->Form_Unload();
  EXPECT_TRUE(PassesJetCheck(s.path));
}

}  // namespace
}  // namespace velloran_test
