#include "admin/frm_add_records.h"

#include <charconv>

#include "admin/path_functions.h"
#include "admin/database_menu.h"

namespace velloran {

namespace {

// A whole number that fits the Long field "SongNumber", blanks around it allowed.
bool ReadSongNumber(const std::string& text, int32_t& number) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  const size_t last = text.find_last_not_of(' ');
  const char* begin = text.data() + first;
  const char* end = text.data() + last + 1;
  auto [stop, failed] = std::from_chars(begin, end, number);
  return failed == std::errc() && stop == end;
}

}  // namespace

void Frm_AddRecords::Tell(const std::string& text) {
  dialogs_.MessageBox(text, BoxButtons::kOk, BoxIcon::kWarning, "");
}

bool Frm_AddRecords::Change(const std::function<void()>& change) {
  return ChangeOrOfferConversion(databases_.current(), AskInMessageBoxes(dialogs_, kCaption), [&] {
    if (db_ == nullptr || db_->path() != databases_.current().Database) db_ = Connection::Open(databases_.current().Database);
    change();
  });
}

bool Frm_AddRecords::Form_Load() {
  try {
    db_.reset();
    if (!Change([&] { AddImportFields(*db_, Table(), host_); })) {
      db_.reset();
      return false;
    }
    GetNextSongNumber();
  } catch (const EngineError& e) {
    Tell(std::string("Songs cannot be added to this database: ") + e.what() +
         " Check the database with \"Select Table/Fields\" first.");
    db_.reset();
    return false;
  }
  return true;
}

void Frm_AddRecords::GetNextSongNumber() {
  Txt_SongNumber = std::to_string(HighestSongNumber(*db_, Table()) + 1);
  Txt_DiskID.clear();
  Txt_Song.clear();
  Txt_Artist.clear();
}

void Frm_AddRecords::Cmd_Add_Click() {
  NextBox = Box::kNone;
  if (importing_ || db_ == nullptr) return;
  for (const auto& [text, box] : {std::pair{&Txt_SongNumber, Box::kSongNumber}, std::pair{&Txt_DiskID, Box::kDiskID},
                                  std::pair{&Txt_Song, Box::kSong}, std::pair{&Txt_Artist, Box::kArtist}}) {
    if (!text->empty()) continue;
    Tell("All fields must be filled!");
    NextBox = box;
    return;
  }
  int32_t number = 0;
  if (!ReadSongNumber(Txt_SongNumber, number)) {
    NextBox = Box::kSongNumber;
    Tell("The song number \"" + Txt_SongNumber + "\" is not a whole number. Type a number such as 1235 (at most " +
         "2147483647).");
    return;
  }
  try {
    const bool added = Change([&] {
      std::unique_ptr<Recordset> rows = db_->OpenRecordset(Table());
      rows->AddNew();
      rows->SetField("DiskID", FieldValue(Txt_DiskID));
      rows->SetField("SongNumber", FieldValue(number));
      rows->SetField("Song", FieldValue(Txt_Song));
      rows->SetField("Artist", FieldValue(Txt_Artist));
      rows->SetField("New", FieldValue(true));
      rows->Update();
      rows->Close();
    });
    if (added) {
      GetNextSongNumber();
      NextBox = Box::kDiskID;
    }
  } catch (const EngineError& e) {
    Tell(std::string("The song was not added: ") + e.what());
  }
}

void Frm_AddRecords::Cmd_Browse_Click() {
  const std::string folder = dialogs_.BrowseForFolder("");
  if (!folder.empty()) Txt_Folder = folder;
}

ImportOptions Frm_AddRecords::Options() const {
  ImportOptions options;
  options.folder = Txt_Folder;
  options.disk_id = Txt_DiskID;
  options.artist = Txt_Artist;
  options.rename = Chk_RenameFiles;
  options.subfolders = Chk_Subfolders;
  options.name_pattern = NamePattern;
  return options;
}

void Frm_AddRecords::Cmd_Go_Click(const ImportProgress& progress) {
  if (importing_ || db_ == nullptr) return;
  const ImportOptions options = Options();
  if (!FileExists(StripTrailingBackslashes(options.folder))) return;
  importing_ = true;
  ImportResult result;
  bool ran = true;
  try {
    // On an Access 97 catalogue the first batch is refused before any file is renamed, so after a
    // conversion the import starts over on the new file.
    ran = Change([&] {
      // The import reports a refused batch in its closing message; an Access 97 file is refused
      // before it starts instead, so that the conversion can be offered.
      if (Connection::IsAccess97(db_->path()))
        throw EngineError(EngineError::Kind::kReadOnly, db_->path() + ": an Access 97 database cannot be changed");
      result = ImportFolder(*db_, Table(), options, progress);
    });
    if (ran) GetNextSongNumber();
  } catch (const EngineError& e) {
    result.error = std::string("The import stopped: ") + e.what();
  }
  importing_ = false;
  if (ran) Tell(result.Message());
}

std::vector<ImportRow> Frm_AddRecords::Preview(int limit) {
  if (db_ == nullptr) return {};
  try {
    return PreviewImport(Options(), HighestSongNumber(*db_, Table()) + 1, limit);
  } catch (const EngineError&) {
    return {};
  }
}

}  // namespace velloran
