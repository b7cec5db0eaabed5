// The main window's logic, without widgets: the databases it knows, the search it runs and the
// rows it found. The window draws through KaraokeSurface and asks its questions through
// CatalogueHost, so the logic runs headless in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/access97.h"
#include "catalogue/catalogue_host.h"
#include "catalogue/database_list.h"
#include "catalogue/engine.h"
#include "catalogue/result_set.h"

namespace velloran {

// What the main window's logic draws on.
class KaraokeSurface {
 public:
  virtual ~KaraokeSurface() = default;
  // Clears the drawing surface and prints `text` at its top left corner.
  virtual void ClearAndPrint(const std::string& text) = 0;
  // Puts the window on top of all others again (while it is set to stay on top).
  virtual void MakeTopMost() = 0;
  // Redraws the whole window from the result set: headings, one page of rows, the title text.
  virtual void ShowSongs() = 0;
};

class Frm_Karaoke {
 public:
  Frm_Karaoke(KaraokeSurface& surface, CatalogueHost& host) : surface_(surface), host_(host) {}

  // Whether the current database is usable: its file exists, it opens, its table and mapped
  // fields exist (else the selector is offered) and the table is brought up to design. Tells the
  // user what is wrong; callers drop their operation quietly on false.
  bool CheckDatabase();
  // How an offer to convert an Access 97 catalogue asks the user (catalogue/access97.h).
  ConversionDialog Conversion();

  // Turns the search box's text into a query, runs it and redraws the list.
  void BuildWhereClause();
  // Runs `NewSQL` (or, when empty, the query run last) with `Sortby` as its ORDER BY list and
  // fills the result set with at most MaxResults + 1 rows. Does not redraw the list.
  void GetSongs(const std::string& NewSQL, const std::string& Sortby);

  DatabaseList Databases;
  ResultSet Results;
  std::string StoredQuery;   // the last query given to GetSongs, without ORDER BY
  int32_t MaxResults = 1000;
  std::string TitleText;
  std::string SearchText;    // what Txt_Search holds
  bool SearchVisible = true; // search mode (the box shows) or list mode
  bool OnTop = false;        // Mnu_OnTop's check mark

 private:
  // CheckDatabase's work: the open database, holding its reads (Connection::HoldReads), when it
  // is usable; null after telling the user what is wrong.
  std::unique_ptr<Connection> OpenCheckedDatabase();

  KaraokeSurface& surface_;
  CatalogueHost& host_;
};

}  // namespace velloran
