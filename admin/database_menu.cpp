#include "admin/database_menu.h"

#include <filesystem>
#include <system_error>

#include "admin/path_functions.h"

namespace velloran {

namespace {

constexpr int kMostDatabases = 32767;  // the current entry's index is a signed 16-bit number

void Tell(DialogHost& dialogs, const std::string& text) {
  dialogs.MessageBox(text, BoxButtons::kOk, BoxIcon::kWarning, "");
}

}  // namespace

ConversionDialog AskInMessageBoxes(DialogHost& dialogs, const std::string& title) {
  return {[&dialogs, title](const std::string& question) {
            return dialogs.MessageBox(question, BoxButtons::kYesNo, BoxIcon::kQuestion, title) == BoxAnswer::kYes;
          },
          [&dialogs, title](const std::string& message) {
            dialogs.MessageBox(message, BoxButtons::kOk, BoxIcon::kWarning, title);
          }};
}

bool CreateAndOpenDatabase(std::unique_ptr<Connection>& db, const std::string& path, DialogHost& dialogs) {
  try {
    if (!FileExists(path)) Connection::Create(path);
  } catch (const EngineError& e) {
    Tell(dialogs, "The database " + path + " could not be created: " + e.what() +
                      " Choose a folder you may write to, with free space.");
    return false;
  }
  // A backup left beside a file of the same name belongs to an earlier database; keeping it
  // would let it be mistaken for a backup of this one.
  const std::string backup = BackupNameOf(path);
  if (FileExists(backup)) {
    std::error_code failed;
    std::filesystem::remove(backup, failed);
    if (failed) {
      Tell(dialogs, "Error deleting backup file " + backup);
      return false;
    }
  }
  try {
    db = Connection::Open(path);
  } catch (const EngineError& e) {
    Tell(dialogs, "The database " + path + " could not be opened: " + e.what());
    return false;
  }
  return true;
}

bool DatabaseMenu::CheckDatabase() {
  try {
    return window_.form.CheckDatabase();
  } catch (const std::exception& e) {
    Tell(dialogs_, e.what());
    return false;
  }
}

void DatabaseMenu::EscapeAction() {
  int16_t escape = 27;
  window_.Form_KeyPress(escape);
}

void DatabaseMenu::ShowDatabaseName() {
  window_.form.TitleText = FileBaseName(window_.form.Databases.current().Database);
  window_.Reset();
}

void DatabaseMenu::Mnu_Create_Database_Click() {
  const std::string path = dialogs_.ShowSave("", "*.mdb", "mdb", "", "Select new database file");
  if (path.empty()) return;
  if (FileExists(path)) {
    Tell(dialogs_, "File exists! Select another filename!");
    return;
  }
  DatabaseList& list = window_.form.Databases;
  if (list.CurrentDB >= 1) {
    // The entry is re-pointed: the field names stay, the table is the new file's to choose.
    list.current().Database = path;
    list.current().Table.clear();
  } else {
    if (list.count() >= kMostDatabases) {
      Tell(dialogs_, "The list holds as many databases as it can. Close one before adding another.");
      return;
    }
    list.entries.push_back(DatabaseEntry{path, "", "", "", "", ""});
    list.CurrentDB = static_cast<int16_t>(list.count());
  }
  CreateAndOpenDatabase(window_.SharedConnection, path, dialogs_);
  // A new database has no table yet: the check says so and opens the selector.
  CheckDatabase();
  EscapeAction();
  window_.form.TitleText = FileBaseName(path);
  window_.Reset();
}

void DatabaseMenu::Mnu_Database_Open_Click() {
  DatabaseList& list = window_.form.Databases;
  const std::string initial = list.CurrentDB == 0 ? program_folder_ : list.current().Database;
  FileList chosen;
  if (dialogs_.ShowOpen(chosen, "Access Databases|*.mdb", initial, true, "Select database file") != 0) return;
  if (chosen.size() < 2) return;
  int last = 0;
  for (size_t c = 1; c < chosen.size(); ++c) {
    // Paths compare exactly: the same file named in other letter case is another entry.
    int found = 0;
    for (int i = 1; i <= list.count() && found == 0; ++i)
      if (list.entries[static_cast<size_t>(i)].Database == chosen[c]) found = i;
    if (found == 0) {
      if (list.count() >= kMostDatabases) {
        Tell(dialogs_, "The list holds as many databases as it can; " + chosen[c] +
                           " was not added. Close a database before adding another.");
        continue;
      }
      list.entries.push_back(DatabaseEntry{chosen[c], "", "", "", "", ""});
      found = list.count();
    }
    last = found;
  }
  if (last == 0) return;
  list.CurrentDB = static_cast<int16_t>(last);
  if (CheckDatabase()) window_.Switches.SelectTableEnabled = true;
  EscapeAction();
  ShowDatabaseName();
}

void DatabaseMenu::Mnu_Database_Close_Click() {
  DatabaseList& list = window_.form.Databases;
  if (list.CurrentDB > 0 && list.count() > 0)
    list.entries.erase(list.entries.begin() + list.CurrentDB);
  if (list.count() == 0) {
    window_.form.TitleText = "No database loaded!";
    list.CurrentDB = 0;
  } else {
    list.CurrentDB = 1;
    window_.form.TitleText = FileBaseName(list.entries[1].Database);
  }
  window_.Switches.SelectTableEnabled = false;
  // The rows of the last search may belong to the database just closed; none of them may be
  // written to the database that is current now.
  window_.form.Results.Clear();
  window_.Reset();
  window_.ShowSongs();
}

void DatabaseMenu::Mnu_Database_Modify_Click() {
  const std::string& path = window_.form.Databases.current().Database;
  if (!FileExists(path)) return;
  if (dialogs_.ShellOpen(path) <= 32)
    Tell(dialogs_, "No program on this desktop opens " + path +
                       ". Install a program for Access databases (.mdb files) to change its design.");
}

void DatabaseMenu::Mnu_Database_Select_Click() {
  if (window_.form.Databases.CurrentDB != 0 && windows.show_select_table) windows.show_select_table();
}

void DatabaseMenu::Mnu_Database_AddRecords_Click() {
  if (window_.form.Databases.CurrentDB != 0 && windows.show_add_records) windows.show_add_records();
}

bool DatabaseMenu::Run(const std::string& name) {
  const struct {
    const char* name;
    void (DatabaseMenu::*handler)();
  } items[] = {{"Mnu_Create_Database", &DatabaseMenu::Mnu_Create_Database_Click},
               {"Mnu_Database_Open", &DatabaseMenu::Mnu_Database_Open_Click},
               {"Mnu_Database_Close", &DatabaseMenu::Mnu_Database_Close_Click},
               {"Mnu_Database_Modify", &DatabaseMenu::Mnu_Database_Modify_Click},
               {"Mnu_Database_Select", &DatabaseMenu::Mnu_Database_Select_Click},
               {"Mnu_Database_AddRecords", &DatabaseMenu::Mnu_Database_AddRecords_Click}};
  for (const auto& item : items) {
    if (name == item.name) {
      (this->*item.handler)();
      return true;
    }
  }
  return false;
}

}  // namespace velloran
