// The list commands the favourites, print-flag and singers windows provide. Until they exist
// these do nothing; each returns false when the current database failed its check, which ends
// the key's handling without a redraw.
#pragma once

#include "catalogue/result_set.h"

namespace velloran {

class ListCommands {
 public:
  virtual ~ListCommands() = default;
  virtual bool TogglePrintFlagsOfAllRows(ResultSet& rows) { return true; }
  virtual bool TogglePrintFlag(ResultRow& row) { return true; }
  virtual bool ToggleFavourite(ResultRow& row, int list) { return true; }
  virtual bool ClearFavourites(ResultRow& row) { return true; }
  // Shows favourites list 1..9 as the result set.
  virtual void ShowFavouritesList(int list) {}
  // The favourites kept across runs, out to and back from the backup file.
  virtual void ExportFavourites(const std::string& path) {}
  virtual void ImportFavourites(const std::string& path) {}
  // Appends a singer with the chosen song to the end of the singers queue.
  virtual void AddSinger(const std::string& name, const ResultRow& song) {}
  // The favourites and print menus' commands; false for a name these commands do not own.
  virtual bool MenuCommand(const std::string& name) { return false; }
};

}  // namespace velloran
