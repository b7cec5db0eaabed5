// The window "Add Records" without widgets: songs added one at a time from four boxes, or a whole
// folder of tracks (folder_import.h). It writes into the current entry's table through a
// connection of its own, opened when the window loads. The Qt window (qt/) forwards to it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "admin/folder_import.h"
#include "catalogue/catalogue_host.h"
#include "catalogue/database_list.h"
#include "catalogue/engine.h"
#include "platform/dialog_host.h"

namespace velloran {

class Frm_AddRecords {
 public:
  static constexpr const char* kCaption = "Add Records";

  Frm_AddRecords(DatabaseList& databases, CatalogueHost& host, DialogHost& dialogs)
      : databases_(databases), host_(host), dialogs_(dialogs) {}

  // Opens the connection, gives the table the fields "New" and "Type" when it lacks them and
  // proposes the next song number. False (after telling the user) when the database cannot be
  // used; the window then does not show.
  bool Form_Load();
  void Form_Unload() { db_.reset(); }
  // Txt_SongNumber = the table's highest song number + 1 (1 for a table without songs); the
  // other three boxes emptied.
  void GetNextSongNumber();
  void Cmd_Add_Click();
  void Cmd_Browse_Click();
  // Imports Txt_Folder; `progress` is told after every row and may stop the import. Refused
  // while an import runs (the window's events run during one).
  void Cmd_Go_Click(const ImportProgress& progress = {});
  // The first rows "&Go" would write, for the name pattern's preview.
  std::vector<ImportRow> Preview(int limit);
  bool Importing() const { return importing_; }

  std::string Txt_SongNumber, Txt_DiskID, Txt_Song, Txt_Artist, Txt_Folder;
  // The box the host types in next, after "&Add": the first empty one or a song number that is
  // not a number (with the message), the disc of the next song once one was added.
  enum class Box { kNone, kSongNumber, kDiskID, kSong, kArtist };
  Box NextBox = Box::kNone;
  bool Chk_RenameFiles = false;
  bool Chk_Subfolders = false;
  std::string NamePattern;  // empty: the whole file name is the title

 private:
  const std::string& Table() const { return databases_.current().Table; }
  void Tell(const std::string& text);
  // Runs `change`, which writes through db_ (opened on the current database when it is not);
  // on an Access 97 catalogue offers to convert it first (catalogue/access97.h) and runs it again
  // on the new file. False when the host kept the Access 97 file.
  bool Change(const std::function<void()>& change);
  ImportOptions Options() const;

  DatabaseList& databases_;
  CatalogueHost& host_;
  DialogHost& dialogs_;
  std::unique_ptr<Connection> db_;
  bool importing_ = false;
};

}  // namespace velloran
