// What the administration tests share: the main window with its recorded surroundings, a scratch
// folder, and the engine's own check run on a database the commands made or changed.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "catalogue/catalogue_design.h"
#include "tests/catalogue/other_program.h"
#include "tests/mainwindow/recording_window.h"
#include "tests/test_paths.h"

namespace velloran_test {

// The engine's check of the whole file, as a separate program sees it; the program's report
// when it finds a fault.
inline ::testing::AssertionResult PassesJetCheck(const std::string& file) {
  std::string out;
  const int code = RunToEnd({VELLORAN_JET_TOOL, "check", file}, file + ".check.txt", &out);
  if (code == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "velloran-jet check " << file << " exited " << code << ":\n" << out;
}

// One database, listed as the current one, and a scripted user for the window that works on it.
struct OneDatabase {
  ScratchDir dir;
  std::string path = dir.File("songs.mdb");
  DatabaseList list;
  ScriptedHost host;
  ScriptedDialogHost dialogs;
  explicit OneDatabase(const std::string& table = "") {
    list.entries.push_back(DatabaseEntry{path, table, "Artist", "Song", "SongNumber", "DiskID"});
    list.CurrentDB = 1;
  }
};

// A database at `path` with the song table `table` as the selector and the check leave it: the
// four role fields (Song of `song_size` characters) and the program's own fields and indexes;
// then `numbers` rows with those song numbers.
inline void MakeSongTable(const std::string& path, const std::string& table, std::vector<int> numbers = {},
                          int16_t song_size = 255) {
  if (!std::filesystem::exists(path)) Connection::Create(path);
  std::unique_ptr<Connection> db = Connection::Open(path);
  ScriptedHost host;
  CatalogueDesign design(*db, host);
  design.CreateField(table, "SongNumber", kTypeLong);
  design.CreateField(table, "DiskID", kTypeText, 255);
  design.CreateField(table, "Song", kTypeText, song_size);
  design.CreateField(table, "Artist", kTypeText, 255);
  design.PrepareTable(table);
  std::unique_ptr<Recordset> rows = db->OpenRecordset(table);
  for (int n : numbers) {
    rows->AddNew();
    rows->SetField("SongNumber", FieldValue(n));
    rows->SetField("Song", FieldValue("Song " + std::to_string(n)));
    rows->Update();
  }
  rows->Close();
  db->Close();
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
  db->Close();
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
