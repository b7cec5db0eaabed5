// Favourites and print flags: the keyboard toggles of the results list, written straight back
// to the song's row; the favourites lists shown as a result; the favourites export file and its
// import; the backup the program keeps across runs; and the print-flag menu commands.
//
// Every change is written through the catalogue's record sets, one durable write per command
// (a command over many songs is one all-or-nothing write).
#pragma once

#include <functional>
#include <string>

#include "mainwindow/list_commands.h"
#include "mainwindow/main_window_logic.h"
#include "platform/dialog_host.h"

namespace velloran {

class SongFlags : public ListCommands {
 public:
  explicit SongFlags(DialogHost& dialogs) : dialogs_(dialogs) {}
  // The window whose current database, result set and shared connection the commands use;
  // attached once the window's logic exists.
  void Attach(MainWindowLogic& logic) { logic_ = &logic; }

  // The keys (list mode); false when the current database failed its check.
  bool TogglePrintFlagsOfAllRows(ResultSet& rows) override;
  bool TogglePrintFlag(ResultRow& row) override;
  bool ToggleFavourite(ResultRow& row, int list) override;
  bool ClearFavourites(ResultRow& row) override;
  // The songs of favourites list 1..9 as the result, by song then artist.
  void ShowFavouritesList(int list) override;

  // Writes the export file for the current table (under a temporary name, then renamed, so a
  // failure leaves any earlier file as it was); a failure is shown in a message.
  void ExportFavourites(const std::string& path) override;
  // Reads an export file into the current table over the window's shared connection, which it
  // closes. A missing file does nothing. Lines that are not a song number, a comma and ten
  // "0"/"1" characters, and song numbers the table lacks, are skipped and reported in one
  // message at the end; every good line is applied.
  void ImportFavourites(const std::string& path) override;

  void Mnu_Favourites_Clear_Click();
  void Mnu_Favourites_Export_Click();
  void Mnu_Favourites_Import_Click();
  void Mnu_Print_Clear_Click();
  bool MenuCommand(const std::string& name) override;

  // Shows the song book window (not modal).
  std::function<void()> ShowBook;

 private:
  Frm_Karaoke& Form() { return logic_->form; }
  // Opens the current table, finds the song by ID and applies `change` to it as one write.
  // False when the database failed its check; a song no longer there changes nothing.
  // `written` (when given) tells whether the change reached the file.
  bool EditSong(int32_t id, const std::function<void(Recordset&)>& change, bool* written = nullptr);
  // Flips the print flag of each listed song in one write; the list's copies change only once
  // every flip is in the file.
  void FlipPrintFlags(ResultSet& result);
  // Runs a command's writes; on an Access 97 catalogue, offers to convert it first
  // (catalogue/access97.h). False when the host kept the Access 97 file, nothing written.
  bool Change(const std::function<void()>& change);
  void ClearAllFavourites(Connection& db);
  // Runs a menu command; an engine error ends it with a message instead of ending the program.
  void Guarded(const std::function<void()>& command);

  DialogHost& dialogs_;
  MainWindowLogic* logic_ = nullptr;
};

}  // namespace velloran
