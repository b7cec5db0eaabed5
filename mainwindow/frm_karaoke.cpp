#include "mainwindow/frm_karaoke.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "catalogue/access97.h"
#include "catalogue/catalogue_design.h"
#include "catalogue/disk_info.h"
#include "catalogue/engine.h"
#include "catalogue/search_query.h"

namespace velloran {

namespace {

// What a check that found the table in shape remembers: the table and its mapped fields.
std::string InShapeNote(const DatabaseEntry& entry) {
  return "in shape: " + entry.Table + "|" + entry.SongNumberField + "|" + entry.DiskIDField + "|" + entry.SongField + "|" +
         entry.ArtistField;
}

// The result set as the rows a search copies: row n of the copy is result row n + 1. The fields
// it asks for and the places it puts them are listed here together, in one order.
class ResultRows final : public Recordset::CopiedRows {
 public:
  explicit ResultRows(ResultSet& results) : results_(results) {}
  // Where ID, PrintYN and the mapped number, disc, song and artist fields lie among `rows`' fields.
  static std::vector<Recordset::CopiedField> Wanted(const Recordset& rows, const SongFields& fields) {
    using As = Recordset::CopiedField::As;
    return {{rows.FieldPosition("ID"), As::kWhole},        {rows.FieldPosition("PrintYN"), As::kYesNo},
            {rows.FieldPosition(fields.number), As::kText}, {rows.FieldPosition(fields.disc), As::kText},
            {rows.FieldPosition(fields.song), As::kText},   {rows.FieldPosition(fields.artist), As::kText}};
  }
  std::string* const* Start(size_t row) override {
    const int n = static_cast<int>(row) + 1;
    row_ = n == results_.count() + 1 ? &results_.Append() : &results_.Grow(n);
    texts_ = {nullptr, nullptr, &row_->SongNumber, &row_->DiskID, &row_->Song, &row_->Artist};
    return texts_.data();
  }
  void Finish(const int64_t* numbers) override {
    row_->ID = static_cast<int32_t>(numbers[0]);
    row_->PrintYN = numbers[1] != 0;
  }

 private:
  ResultSet& results_;
  ResultRow* row_ = nullptr;
  std::array<std::string*, 6> texts_{};  // in Wanted's order
};

}  // namespace

ConversionDialog Frm_Karaoke::Conversion() {
  return {[this](const std::string& question) { return host_.ShowMessage(question, MessageButtons::kYesNo) == MessageAnswer::kYes; },
          [this](const std::string& message) { host_.ShowMessage(message, MessageButtons::kOk); }};
}

bool Frm_Karaoke::CheckDatabase() { return OpenCheckedDatabase() != nullptr; }

std::unique_ptr<Connection> Frm_Karaoke::OpenCheckedDatabase() {
  DatabaseEntry& entry = Databases.current();
  if (!FileExists(entry.Database)) {
    host_.ShowMessage("Database not found! Please select another database.", MessageButtons::kOk);
    host_.SetSelectTableEnabled(false);
    return nullptr;
  }
  host_.SetSelectTableEnabled(true);
  // The check asks about the design some twenty times; one hold of the read lock serves them
  // all. A file unchanged since this program last found the table in shape needs no check.
  std::unique_ptr<Connection> db = Connection::OpenHoldingReads(entry.Database);
  if (db->Remembers(InShapeNote(entry))) return db;
  CatalogueDesign design(*db, host_);
  if (!design.CheckFieldMapping(entry)) {
    db->ReleaseReads();
    host_.ShowMessage("This database is not properly configured, launching Table/Field selector.",
                      MessageButtons::kOk);
    host_.ShowTableSelector();
  }
  // The selector may have changed the entry (or the list it lives in).
  const DatabaseEntry& checked = Databases.current();
  if (checked.Table.empty() || checked.ArtistField.empty() || checked.DiskIDField.empty() ||
      checked.SongField.empty() || checked.SongNumberField.empty()) {
    db->ReleaseReads();
    host_.ShowMessage("Database not ready for use!", MessageButtons::kOk);
    return nullptr;
  }
  bool prepared = false;
  try {
    prepared = design.PrepareTable(checked.Table, checked.Fields());
  } catch (const EngineError& e) {
    if (!IsAccess97Refusal(e, checked.Database)) throw;
    db.reset();
    // Once converted, the new file is checked (and repaired) like any other.
    return OfferConversion(Databases.current(), Conversion()) ? OpenCheckedDatabase() : nullptr;
  }
  if (!prepared) return nullptr;
  // Kept only when the hold lasted through the whole check: no question, no write, no other writer.
  db->Remember(InShapeNote(checked));
  return db;
}

void Frm_Karaoke::BuildWhereClause() {
  Results.Clear();
  const DatabaseEntry& entry = Databases.current();
  if (entry.Database.empty()) {
    TitleText = "No database loaded!";
    return;
  }
  SearchQuery query = BuildSearchQuery(entry.Table, SearchText, entry.Fields());
  GetSongs(query.sql, query.sort_list);
  surface_.ShowSongs();
}

void Frm_Karaoke::GetSongs(const std::string& NewSQL, const std::string& Sortby) {
  if (!NewSQL.empty()) StoredQuery = NewSQL;
  if (StoredQuery.empty()) return;
  surface_.ClearAndPrint("Searching...");
  // The connection the check opened serves the search too, its hold of the read lock still on:
  // the rows are copied in one go.
  std::unique_ptr<Connection> db = OpenCheckedDatabase();
  if (db == nullptr) return;
  db->HoldReads();  // again, if the check had to let go of it
  if (OnTop) surface_.MakeTopMost();
  std::unique_ptr<Recordset> rows = db->OpenRecordset(StoredQuery + " ORDER BY " + Sortby);
  const SongFields fields = Databases.current().Fields();
  if (rows->RecordCount() < 1) {
    TitleText = "Search text not found!";
  } else {
    SearchVisible = false;
    rows->MoveFirst();
    // The fields are found once; the rows are copied in one go, at most MaxResults + 1 of them.
    ResultRows into(Results);
    const size_t most = static_cast<size_t>(std::max(MaxResults, 0)) + 1;
    Results.Truncate(static_cast<int>(rows->CopyRows(ResultRows::Wanted(*rows, fields), most, into)));
    TitleText = "";
  }
  rows->Close();
  db->Close();
}

}  // namespace velloran
