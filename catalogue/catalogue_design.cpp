#include "catalogue/catalogue_design.h"

#include <memory>
#include <vector>

namespace velloran {

namespace {

std::vector<std::string> SplitAtCommas(const std::string& list) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t comma = list.find(',', start);
    parts.push_back(list.substr(start, comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

}  // namespace

MessageAnswer CatalogueDesign::Ask(const std::string& text, MessageButtons buttons) {
  db_.ReleaseReads();
  return host_.ShowMessage(text, buttons);
}

bool CatalogueDesign::TableExists(const std::string& table) {
  db_.RefreshTableDefs();
  for (const TableInfo& t : db_.TableDefs()) {
    if (SameName(t.name, table)) return true;
  }
  return false;
}

bool CatalogueDesign::FieldExists(const std::string& table, const std::string& field) {
  if (!TableExists(table)) return false;
  std::unique_ptr<Recordset> rows;
  while (rows == nullptr) {
    try {
      rows = db_.OpenRecordset(table);
    } catch (const EngineError& error) {
      if (error.kind() != EngineError::Kind::kInUse) throw;  // waiting cannot mend the others
      MessageAnswer answer = Ask(
          "Unable to modify database design, close all access to the database and try again.",
          MessageButtons::kRetryCancel);
      if (answer != MessageAnswer::kRetry) {
        host_.EndProgramAtOnce();
        return false;
      }
    }
  }
  bool found = false;
  for (const FieldInfo& f : rows->Fields()) {
    if (SameName(f.name, field)) {
      found = true;
      break;
    }
  }
  rows->Close();
  return found;
}

bool CatalogueDesign::IndexExists(const std::string& table, const std::string& index) {
  if (!TableExists(table)) return false;
  for (const IndexInfo& i : db_.TableDef(table).indexes) {
    if (i.name == index) return true;
  }
  return false;
}

void CatalogueDesign::CreateField(const std::string& table, const std::string& field, int16_t type, int16_t size) {
  if (!TableExists(table)) db_.CreateTable(table, {NewField{"ID", FieldType::kLong, 0, false}});
  if (FieldExists(table, field)) return;
  NewField created{field, static_cast<FieldType>(type), size > 0 ? size : 0, size > 0};
  if (type == kTypeText || type == kTypeMemo) created.allow_zero_length = true;
  db_.AppendField(table, created);
}

void CatalogueDesign::CreateIndex(const std::string& table, const std::string& index, const std::string& fields) {
  if (!TableExists(table)) {
    Ask("ERROR! Table not found in database, cannot create index.", MessageButtons::kOk);
    return;
  }
  std::unique_ptr<Recordset> rows = db_.OpenRecordset(table);
  std::vector<std::string> names = SplitAtCommas(fields);
  for (const std::string& name : names) {
    if (!FieldExists(table, name)) return;  // a missing field: no index, and nothing to say
  }
  rows->Close();
  if (IndexExists(table, index)) return;
  db_.AppendIndex(table, NewIndex{index, names, false, false});
}

void CatalogueDesign::DeleteField(const std::string& table, const std::string& field) {
  if (FieldExists(table, field)) db_.DeleteField(table, field);
}

void CatalogueDesign::DropIndex(const std::string& table, const std::string& index) {
  if (IndexExists(table, index)) db_.Execute("DROP INDEX " + index + " ON [" + table + "]");
}

bool CatalogueDesign::CheckFieldMapping(DatabaseEntry& entry) {
  const SongFields fields = entry.Fields();
  entry.SongNumberField = fields.number;
  entry.DiskIDField = fields.disc;
  entry.SongField = fields.song;
  entry.ArtistField = fields.artist;
  if (entry.Table.empty()) entry.Table = "MyList";
  if (!TableExists(entry.Table)) return false;
  // All four are asked even after one is missing.
  bool all = true;
  for (const std::string* field : {&entry.SongNumberField, &entry.DiskIDField, &entry.SongField, &entry.ArtistField}) {
    all = FieldExists(entry.Table, *field) && all;
  }
  return all;
}

bool CatalogueDesign::PrepareTable(const std::string& table, const SongFields& fields) {
  // The favourites once lived in a field "Hotlist"; its successor holds one flag per list.
  DropIndex(table, "Hotlist");
  DeleteField(table, "Hotlist");
  CreateField(table, "HotlistA", kTypeText, 10);
  CreateIndex(table, "HotlistA", "HotlistA");
  CreateField(table, "PrintYN", kTypeBoolean, 0);
  CreateIndex(table, "Song", fields.song);
  CreateIndex(table, "Artist", fields.artist);
  CreateIndex(table, "SongNumber", fields.number);
  CreateField(table, "ID", kTypeLong, 0);
  CreateIndex(table, "PrimaryKey", "ID");

  // Rows without an ID come first in PrimaryKey order, so on a table already numbered the walk
  // stops at its first row.
  std::unique_ptr<Recordset> rows = db_.OpenRecordset(table);
  rows->SelectIndex("PrimaryKey");
  rows->MoveFirst();
  // A table already numbered needs no write (nor the writer lock); else one write serves the
  // whole walk, as a table imported without numbers may have many thousands.
  if (!rows->AtEnd() && rows->Field("ID").is_null()) {
    rows->MoveLast();
    FieldValue last = rows->Field("ID");
    int64_t highest = last.is_null() ? 0 : last.ToInteger();
    rows->MoveFirst();
    db_.BeginTrans();
    try {
      while (!rows->AtEnd() && rows->Field("ID").is_null()) {
        ++highest;
        rows->Edit();
        rows->SetField("ID", FieldValue(static_cast<int32_t>(highest)));
        rows->Update();
        rows->MoveNext();
      }
    } catch (...) {
      db_.Rollback();
      throw;
    }
    db_.CommitTrans();
  }
  rows->Close();
  return true;
}

}  // namespace velloran
