#include "print/book_rows.h"

#include "catalogue/engine.h"

namespace velloran {

std::vector<BookRow> ReadBookRows(const DatabaseEntry& entry, BookOrder order) {
  const SongFields f = entry.Fields();
  std::unique_ptr<Connection> db = Connection::OpenHoldingReads(entry.Database);
  std::unique_ptr<Recordset> rows = db->OpenRecordset("SELECT * FROM [" + entry.Table + "] WHERE [PrintYN]=True ORDER BY " +
                                                      (order == BookOrder::kSong ? "[" + f.song + "],[" + f.artist + "]"
                                                                                 : "[" + f.artist + "],[" + f.song + "]"));
  std::vector<BookRow> out;
  for (; !rows->AtEnd(); rows->MoveNext())
    out.push_back(BookRow{rows->Field(f.disc).ToText(), rows->Field(f.song).ToText(), rows->Field(f.artist).ToText(),
                          rows->Field(f.number).ToText()});
  rows->Close();
  db->Close();
  return out;
}

}  // namespace velloran
