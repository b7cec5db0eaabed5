// libFuzzer target for the reader: every input is written to a private temporary file and opened
// as a database; every table's definition and every row (system tables included) is read and the
// integrity check runs over the whole file. A crash, a sanitizer report, a leak or a hang is a
// finding; so is an error that does not name the file it is about, because a user who meets it
// must be told which database is damaged.
#include "jet/database.h"
#include "jet/check/integrity_check.h"
#include "jet/table/table_cursor.h"
#include "tools/fuzz_support.h"

namespace {

using velloran_fuzz::RequireNamesFile;

void ReadEveryTable(jet::Database& db) {
  const std::string& path = db.path();
  for (const jet::CatalogEntry& entry : db.objects()) {
    if (!entry.IsTable()) continue;
    auto def = db.ReadTable(entry.name);
    if (!def.ok()) {
      RequireNamesFile(def.error(), path);
      continue;
    }
    auto cursor = jet::TableCursor::Open(db.pager(), def.value());
    if (!cursor.ok()) {
      RequireNamesFile(cursor.error(), path);
      continue;
    }
    while (true) {
      auto more = cursor.value()->Next();
      if (!more.ok()) {
        RequireNamesFile(more.error(), path);
        break;
      }
      if (!more.value()) break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velloran_fuzz::ScratchFile& file = velloran_fuzz::Scratch();
  file.Write(data, size);
  auto db = jet::Database::Open(file.path());
  if (!db.ok()) {
    RequireNamesFile(db.error(), file.path());
    return 0;
  }
  ReadEveryTable(*db.value());
  RequireNamesFile(jet::CheckDatabase(*db.value()), file.path());
  return 0;
}
