#include "catalogue/frm_karaoke.h"

#include <memory>

#include "catalogue/catalogue_design.h"
#include "catalogue/disk_info.h"
#include "catalogue/engine.h"
#include "catalogue/search_query.h"

namespace velloran {

bool Frm_Karaoke::CheckDatabase() {
  DatabaseEntry& entry = Databases.current();
  if (!FileExists(entry.Database)) {
    host_.ShowMessage("Database not found! Please select another database.", MessageButtons::kOk);
    host_.SetSelectTableEnabled(false);
    return false;
  }
  host_.SetSelectTableEnabled(true);
  std::unique_ptr<Connection> db = Connection::Open(entry.Database);
  CatalogueDesign design(*db, host_);
  if (!design.CheckFieldMapping(entry)) {
    host_.ShowMessage("This database is not properly configured, launching Table/Field selector.",
                      MessageButtons::kOk);
    host_.ShowTableSelector();
  }
  // The selector may have changed the entry (or the list it lives in).
  const DatabaseEntry& checked = Databases.current();
  if (checked.Table.empty() || checked.ArtistField.empty() || checked.DiskIDField.empty() ||
      checked.SongField.empty() || checked.SongNumberField.empty()) {
    host_.ShowMessage("Database not ready for use!", MessageButtons::kOk);
    return false;
  }
  bool ready = design.PrepareTable(checked.Table);
  db->Close();
  return ready;
}

void Frm_Karaoke::BuildWhereClause() {
  Results.Clear();
  const DatabaseEntry& entry = Databases.current();
  if (entry.Database.empty()) {
    TitleText = "No database loaded!";
    return;
  }
  SearchQuery query = BuildSearchQuery(entry.Table, SearchText);
  GetSongs(query.sql, query.sort_list);
  surface_.ShowSongs();
}

void Frm_Karaoke::GetSongs(const std::string& NewSQL, const std::string& Sortby) {
  if (!NewSQL.empty()) StoredQuery = NewSQL;
  if (StoredQuery.empty()) return;
  surface_.ClearAndPrint("Searching...");
  if (!CheckDatabase()) return;

  std::unique_ptr<Connection> db = Connection::Open(Databases.current().Database);
  if (OnTop) surface_.MakeTopMost();
  std::unique_ptr<Recordset> rows = db->OpenRecordset(StoredQuery + " ORDER BY " + Sortby);
  if (rows->RecordCount() < 1) {
    TitleText = "Search text not found!";
  } else {
    SearchVisible = false;
    rows->MoveFirst();
    int c = 0;
    while (!rows->AtEnd()) {
      ++c;
      ResultRow& row = Results.Grow(c);
      row.ID = static_cast<int32_t>(rows->Field("ID").ToInteger());
      row.PrintYN = rows->Field("PrintYN").ToBool();
      row.SongNumber = rows->Field("SongNumber").ToText();
      row.DiskID = rows->Field("DiskID").ToText();
      row.Song = rows->Field("Song").ToText();
      row.Artist = rows->Field("Artist").ToText();
      rows->MoveNext();
      if (c > MaxResults) break;  // so at most MaxResults + 1 rows are kept
    }
    Results.Truncate(c);
    TitleText = "";
  }
  rows->Close();
  db->Close();
}

}  // namespace velloran
