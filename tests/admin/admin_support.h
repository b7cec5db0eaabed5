// What the administration tests share: the main window with its recorded surroundings, a scratch
// folder, and the engine's own check run on a database the commands made or changed.
#pragma once

#include <set>

#include "admin/frm_select_table.h"
#include "catalogue/catalogue_design.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/process_support.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {

// The engine's check of the whole file, as a separate program sees it; the program's report
// when it finds a fault.
inline ::testing::AssertionResult PassesJetCheck(const std::string& file) {
  std::string out;
  if (RunToEnd({VELLORAN_JET_TOOL, "check", file}, file + ".check.txt", &out) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "velloran-jet check " << file << ":\n" << out;
}

// A file the commands changed passes the engine's check and reads in mdbtools (and, when asked
// and installed, in the mdb-reader package) as in this engine.
inline void ExpectOthersReadIt(const std::string& path, const std::string& table, bool mdb_reader = false) {
  EXPECT_TRUE(PassesJetCheck(path));
  if (Have("mdb-export")) ExpectMdbExportAgrees(path, table);
  else std::cout << "[ note     ] mdb-export (Debian mdbtools) is not installed: the file is not compared\n";
  int explained = 0;
  if (const std::string modules = mdb_reader ? MdbReaderOrNote() : ""; !modules.empty())
    CompareWithMdbReader(modules, {{path, table}}, &explained);
}

// One database, listed as the current one, and a scripted user for the window that works on it.
struct OneDatabase {
  ScratchDir dir;
  std::string path = dir.File("songs.mdb");
  DatabaseList list{{DatabaseEntry{}, DatabaseEntry{path, "", "Artist", "Song", "SongNumber", "DiskID"}}, 1};
  ScriptedHost host;
  ScriptedDialogHost dialogs;
  explicit OneDatabase(const std::string& table = "") { list.current().Table = table; }
};

// The table and field selector on a new database with the tables given, each with the fields given.
struct Selector : OneDatabase {
  std::unique_ptr<Frm_SelectTable> form;

  explicit Selector(const std::vector<std::pair<std::string, std::vector<NewField>>>& tables) {
    Connection::Create(path);
    std::unique_ptr<Connection> db = Connection::Open(path);
    for (const auto& [name, fields] : tables) db->CreateTable(name, fields);
  }
  void Load() {
    form = std::make_unique<Frm_SelectTable>(list, host, dialogs);
    ASSERT_TRUE(form->Form_Load());
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const FieldBox& b : form->Cmb_Fields) out.push_back(b.text);
    return out;
  }
};

// A new database at `path` with the song table `table` as the selector and the check leave it:
// the four role fields (Song of `song_size` characters) and the program's own fields and indexes;
// then `numbers` rows with those song numbers.
inline void MakeSongTable(const std::string& path, const std::string& table, std::vector<int> numbers = {}, int song_size = 255) {
  Connection::Create(path);
  std::unique_ptr<Connection> db = Connection::Open(path);
  db->CreateTable(table, {{"ID", FieldType::kLong}, {"SongNumber", FieldType::kLong}, {"DiskID", FieldType::kText, 0, true},
                          {"Song", FieldType::kText, song_size, true}, {"Artist", FieldType::kText, 0, true}});
  ScriptedHost host;
  CatalogueDesign(*db, host).PrepareTable(table);
  std::unique_ptr<Recordset> rows = db->OpenRecordset(table);
  for (int n : numbers) AddRow(*rows, {{"SongNumber", FieldValue(n)}, {"Song", FieldValue("Song " + std::to_string(n))}});
}

// Every row of the table as "SongNumber|Type|Song|DiskID|Artist|New", in song number order.
inline std::vector<std::string> SongRows(const std::string& path, const std::string& table) {
  std::unique_ptr<Connection> db = Connection::Open(path);
  std::unique_ptr<Recordset> rows = db->OpenRecordset("SELECT * FROM [" + table + "] ORDER BY SongNumber");
  std::vector<std::string> out;
  for (rows->MoveFirst(); !rows->AtEnd(); rows->MoveNext()) {
    std::string line;
    for (const char* f : {"SongNumber", "Type", "Song", "DiskID", "Artist", "New"})
      line += (line.empty() ? "" : "|") + rows->Field(f).ToText();
    out.push_back(line);
  }
  return out;
}

// The names in a folder, sorted.
inline std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

inline void Touch(const std::string& folder, std::initializer_list<std::string> names) {
  std::filesystem::create_directories(folder);
  for (const std::string& n : names) std::ofstream(folder + "/" + n) << n;
}

}  // namespace velloran_test
