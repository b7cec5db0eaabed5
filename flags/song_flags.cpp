#include "flags/song_flags.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "catalogue/access97.h"
#include "catalogue/disk_info.h"
#include "flags/favourites_file.h"

namespace velloran {

namespace {

constexpr const char* kClearTitle = "Clear Favourites";

const DatabaseEntry& Entry(Frm_Karaoke& form) { return form.Databases.current(); }

std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

// The seek key for a song number read from a file: text for a text field, else the number it
// spells; none when it spells no number.
bool SongNumberKey(const std::string& text, FieldType type, FieldValue& key) {
  if (type == FieldType::kText || type == FieldType::kMemo) {
    key = FieldValue(text);
    return true;
  }
  char* end = nullptr;
  const long long whole = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() && *end == '\0') {
    key = FieldValue(static_cast<int64_t>(whole));
    return true;
  }
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') return false;
  key = FieldValue(number);
  return true;
}

FieldType TypeOf(const Recordset& rows, const std::string& field) {
  for (const FieldInfo& f : rows.Fields())
    if (SameName(f.name, field)) return f.type;
  return FieldType::kText;
}

// Writes each entry's lists to its song; the number of entries whose song is not there.
int ApplyFavourites(Recordset& rows, const ParsedFavourites& parsed, FieldType number_type) {
  int missing = 0;
  for (const FavouritesEntry& e : parsed.entries) {
    FieldValue key;
    if (!SongNumberKey(e.song_number, number_type, key) || (rows.SeekEqual(key), rows.NoMatch())) {
      ++missing;
      continue;
    }
    // A song already holding these lists needs no write.
    if (rows.Field("HotlistA").ToText() == e.lists) continue;
    rows.Edit();
    rows.SetField("HotlistA", e.lists);
    rows.Update();
  }
  return missing;
}

std::string ImportReport(const std::string& path, const ParsedFavourites& parsed, int missing) {
  std::string text = "Some lines of " + path + " were not imported; every other line was.";
  if (!parsed.bad_lines.empty()) {
    text += "\r\nNot a song number, a comma and ten characters 0 or 1, on line";
    text += parsed.bad_lines.size() > 1 ? "s " : " ";
    for (size_t i = 0; i < parsed.bad_lines.size(); ++i) text += (i ? ", " : "") + std::to_string(parsed.bad_lines[i]);
    text += ".";
  }
  if (missing > 0)
    text += "\r\n" + std::to_string(missing) + (missing == 1 ? " song number is" : " song numbers are") +
            " not in this catalogue.";
  return text + "\r\nCorrect those lines in the file and import it again to bring them in.";
}

}  // namespace

void SongFlags::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const EngineError& e) {
    dialogs_.MessageBox(e.what(), BoxButtons::kOk, BoxIcon::kWarning, "");
  }
}

bool SongFlags::Change(const std::function<void()>& change) {
  const std::string before = Entry(Form()).Database;
  const bool done = ChangeOrOfferConversion(Form().Databases.current(), Form().Conversion(), change);
  // A converted catalogue replaced the one the window had open.
  if (Entry(Form()).Database != before && logic_->SharedConnection != nullptr)
    logic_->SharedConnection = Connection::Open(Entry(Form()).Database);
  return done;
}

bool SongFlags::EditSong(int32_t id, const std::function<void(Recordset&)>& change, bool* written) {
  bool checked = true;
  const bool done = Change([&] {
    checked = Form().CheckDatabase();
    if (!checked) return;
    std::unique_ptr<Connection> db = Connection::Open(Entry(Form()).Database);
    std::unique_ptr<Recordset> rows = db->OpenRecordset(Entry(Form()).Table);
    rows->SelectIndex("PrimaryKey");
    rows->SeekEqual(FieldValue(id));
    if (!rows->NoMatch()) {
      rows->Edit();
      change(*rows);
      rows->Update();
    }
    rows->Close();
    db->Close();
  });
  if (written != nullptr) *written = done && checked;
  return checked;
}

bool SongFlags::TogglePrintFlag(ResultRow& row) {
  bool now = row.PrintYN;
  bool written = false;
  const bool ok = EditSong(
      row.ID,
      [&](Recordset& rows) {
        now = !rows.Field("PrintYN").ToBool();
        rows.SetField("PrintYN", now);
      },
      &written);
  if (written) row.PrintYN = now;  // only once the write is done
  return ok;
}

bool SongFlags::TogglePrintFlagsOfAllRows(ResultSet& result) {
  bool checked = true;
  Change([&] {
    checked = Form().CheckDatabase();
    if (checked) FlipPrintFlags(result);
  });
  return checked;
}

void SongFlags::FlipPrintFlags(ResultSet& result) {
  std::unique_ptr<Connection> db = Connection::Open(Entry(Form()).Database);
  std::unique_ptr<Recordset> rows = db->OpenRecordset(Entry(Form()).Table);
  rows->SelectIndex("PrimaryKey");
  std::vector<bool> flags(static_cast<size_t>(result.count()) + 1);
  db->BeginTrans();
  for (int r = 1; r <= result.count(); ++r) {
    flags[static_cast<size_t>(r)] = result[r].PrintYN;
    rows->SeekEqual(FieldValue(result[r].ID));
    if (rows->NoMatch()) continue;
    const bool now = !rows->Field("PrintYN").ToBool();
    rows->Edit();
    rows->SetField("PrintYN", now);
    rows->Update();
    flags[static_cast<size_t>(r)] = now;
  }
  db->CommitTrans();
  // The list's copies change only when every flip is in the file.
  for (int r = 1; r <= result.count(); ++r) result[r].PrintYN = flags[static_cast<size_t>(r)];
  rows->Close();
  db->Close();
}

bool SongFlags::ToggleFavourite(ResultRow& row, int list) {
  if (list < 1 || list > 10) return true;
  return EditSong(row.ID, [&](Recordset& rows) {
    rows.SetField("HotlistA", ToggledList(rows.Field("HotlistA").ToText(), list));
  });
}

bool SongFlags::ClearFavourites(ResultRow& row) {
  return EditSong(row.ID, [](Recordset& rows) { rows.SetField("HotlistA", kNoFavourites); });
}

void SongFlags::ShowFavouritesList(int list) {
  if (list < 1 || list > 9) return;
  std::string pattern(10, '?');
  pattern[static_cast<size_t>(list - 1)] = '1';
  Form().GetSongs("SELECT * FROM " + Bracketed(Entry(Form()).Table) + " WHERE [HotlistA] LIKE '" + pattern + "'",
                  "[Song],[Artist]");
}

void SongFlags::ExportFavourites(const std::string& path) {
  // Codes of the message: 100 + the file failure's kind, 200 + the database failure's kind.
  int code = 0;
  std::string description;
  try {
    const DatabaseEntry& entry = Entry(Form());
    const std::string number = entry.Fields().number;
    std::unique_ptr<Connection> db = Connection::Open(entry.Database);
    std::unique_ptr<Recordset> rows = db->OpenRecordset("SELECT * FROM " + Bracketed(entry.Table) +
                                                        " WHERE [HotlistA] LIKE '*1*' ORDER BY " + Bracketed(number));
    std::string text;
    for (; !rows->AtEnd(); rows->MoveNext())
      text += FavouritesLine(rows->Field(number).ToText(), rows->Field("HotlistA").ToText());
    rows->Close();
    db->Close();
    const jet::Status written = WriteFileAtomically(path, text);
    if (written.ok()) return;
    code = 100 + static_cast<int>(written.error().code());
    description = written.error().message();
  } catch (const EngineError& e) {
    code = 200 + static_cast<int>(e.kind());
    description = e.what();
  }
  dialogs_.MessageBox("Error " + std::to_string(code) + "writing to file!\r\n" + description, BoxButtons::kOk,
                      BoxIcon::kCritical, "Error writing to export file!");
}

void SongFlags::ImportFavourites(const std::string& path) {
  if (!FileExists(path)) return;
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    dialogs_.MessageBox("The favourites file " + path + " could not be read. Check that it is readable and import it again.",
                        BoxButtons::kOk, BoxIcon::kWarning, "");
    return;
  }
  const ParsedFavourites parsed = ParseFavourites(text.str());
  std::unique_ptr<Connection>& db = logic_->SharedConnection;
  if (db == nullptr) db = Connection::Open(Entry(Form()).Database);
  const std::string number = Entry(Form()).Fields().number;
  std::unique_ptr<Recordset> rows = db->OpenRecordset(Entry(Form()).Table);
  rows->SelectIndex("SongNumber");
  int missing = 0;
  db->BeginTrans();
  try {
    missing = ApplyFavourites(*rows, parsed, TypeOf(*rows, number));
  } catch (const EngineError&) {
    db.reset();  // rolls the import back whole
    throw;
  }
  db->CommitTrans();
  rows->Close();
  db->Close();
  db.reset();
  if (!parsed.bad_lines.empty() || missing > 0)
    dialogs_.MessageBox(ImportReport(path, parsed, missing), BoxButtons::kOk, BoxIcon::kWarning, "Import Favourites");
}

void SongFlags::ClearAllFavourites(Connection& db) {
  db.Execute("UPDATE " + Bracketed(Entry(Form()).Table) + " SET [HotListA]='" + kNoFavourites + "'");
}

void SongFlags::Mnu_Favourites_Clear_Click() {
  if (!Form().CheckDatabase()) return;
  const BoxAnswer backup = dialogs_.MessageBox("Would you like to backup (export) your favourites first?",
                                               BoxButtons::kYesNoCancel, BoxIcon::kQuestion, kClearTitle);
  if (backup == BoxAnswer::kCancel) return;
  if (backup == BoxAnswer::kYes) Mnu_Favourites_Export_Click();
  if (dialogs_.MessageBox("Clear all existing favourites now?", BoxButtons::kYesNo, BoxIcon::kQuestion, kClearTitle) !=
      BoxAnswer::kYes)
    return;
  Change([&] {
    std::unique_ptr<Connection> db = Connection::Open(Entry(Form()).Database);
    ClearAllFavourites(*db);
    db->Close();
  });
}

void SongFlags::Mnu_Favourites_Export_Click() {
  if (!Form().CheckDatabase()) return;
  const std::string path = dialogs_.ShowSave("*.txt", "*.txt", "txt", "", "Export favourites to text file");
  if (path.empty()) return;
  if (FileExists(path) &&
      dialogs_.MessageBox("File exists, overwrite it?", BoxButtons::kYesNo, BoxIcon::kQuestion, "") != BoxAnswer::kYes)
    return;
  ExportFavourites(path);
}

void SongFlags::Mnu_Favourites_Import_Click() {
  if (!Form().CheckDatabase()) return;
  FileList files;
  dialogs_.ShowOpen(files, "Text Files|*.txt|All files|*.*", "", false, "Import favourites from text file");
  if (files.size() > 1 && !files[1].empty()) {
    const BoxAnswer clear = dialogs_.MessageBox(
        "Clear existing favourites?\r\nClick Yes to clear existing favourites\r\nClick No to keep existing "
        "favourites\r\nClick Cancel to abort import",
        BoxButtons::kYesNoCancel, BoxIcon::kQuestion, "Import Favourites");
    if (clear == BoxAnswer::kCancel) return;
    Change([&] {
      logic_->SharedConnection = Connection::Open(Entry(Form()).Database);
      if (clear == BoxAnswer::kYes) ClearAllFavourites(*logic_->SharedConnection);
      ImportFavourites(files[1]);
    });
  }
  Form().TitleText = FileBaseName(Entry(Form()).Database);
}

void SongFlags::Mnu_Print_Clear_Click() {
  if (dialogs_.MessageBox("Clear all print flags?", BoxButtons::kYesNo, BoxIcon::kQuestion, "") != BoxAnswer::kYes) return;
  if (Entry(Form()).Database.empty()) return;
  Change([&] {
    const DatabaseEntry& entry = Entry(Form());
    std::unique_ptr<Connection> db = Connection::Open(entry.Database);
    db->Execute("UPDATE " + Bracketed(entry.Table) + " SET [PrintYN]=False");
    db->Close();
  });
}

bool SongFlags::MenuCommand(const std::string& name) {
  const struct {
    const char* name;
    void (SongFlags::*handler)();
  } kCommands[] = {{"Mnu_Favourites_Clear", &SongFlags::Mnu_Favourites_Clear_Click},
                   {"Mnu_Favourites_Export", &SongFlags::Mnu_Favourites_Export_Click},
                   {"Mnu_Favourites_Import", &SongFlags::Mnu_Favourites_Import_Click},
                   {"Mnu_Print_Clear", &SongFlags::Mnu_Print_Clear_Click}};
  for (const auto& c : kCommands) {
    if (name != c.name) continue;
    Guarded([&] { (this->*c.handler)(); });
    return true;
  }
  if (name == "Mnu_Print_Print") {
    if (ShowBook) ShowBook();
    return true;
  }
  return false;
}

}  // namespace velloran
