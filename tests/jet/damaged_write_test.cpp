// A damaged file is never read as if whole nor written to. For each damage a scratch copy gets
// (its last page gone, a page of another kind among a table's data pages, a memo chain cut short):
//   - exporting the damaged table ends in an error that names the file and a page, never in
//     fewer rows than the table has, and an undamaged table of the same file still exports whole;
//   - a write that would touch the damage is refused with a message that says to repair the file
//     from a copy, and the file stays as it was, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "jet/base/bytes.h"
#include "jet/check/csv_export.h"
#include "jet/pages/data_page.h"
#include "jet/pages/long_value.h"
#include "jet/pages/row_decoder.h"
#include "jet/pages/usage_map.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::ReadBytes;
using velloran_test::ScratchDir;
using velloran_test::WriteBytes;

constexpr uint32_t kPageSize = 4096;

// What a damage needs to know of the intact copy, found through the engine before the damage.
struct Intact {
  std::vector<uint32_t> owned;      // the damaged table's data pages
  std::vector<jet::RowId> rows;     // its rows, in storage order
  jet::TableDef def;
  size_t chain_link = 0;            // file offset of a memo chain's first next-row pointer
  jet::RowId chain_row;             // the row whose memo that chain holds
};

Intact Inspect(const std::string& path, const std::string& table) {
  Intact intact;
  velloran_test::LoadedTable t = velloran_test::LoadTable(path, table);
  if (!t.db) return intact;
  jet::Pager& pager = t.db->pager();
  intact.def = t.def;
  intact.rows = t.ids;
  intact.owned = jet::ReadUsageMap(pager, t.def.owned_pages_map).value();
  const jet::ColumnDef* memo = t.def.FindColumn("Memo");
  for (size_t i = 0; memo != nullptr && intact.chain_link == 0 && i < t.ids.size(); ++i) {
    jet::RowSlot slot = jet::ReadRowSlot(pager, t.ids[i].page, t.ids[i].row).value();
    jet::RowLayout layout = jet::ParseRowLayout(pager.format(), t.def, slot.bytes, slot.size, "row").value();
    if (!layout.Present(memo->number)) continue;
    const uint8_t* field = slot.bytes + layout.var_offsets[memo->var_index];
    if ((jet::Get32(field) & ~jet::kLongValueLengthMask) != 0) continue;  // not a chain
    const uint32_t first = jet::Get32(field + 4);
    jet::RowSlot link = jet::ReadRowSlot(pager, jet::RowPointerPage(first), jet::RowPointerRow(first)).value();
    const uint8_t* page = pager.ReadPage(jet::RowPointerPage(first)).value();
    intact.chain_link = size_t{jet::RowPointerPage(first)} * kPageSize + static_cast<size_t>(link.bytes - page);
    intact.chain_row = t.ids[i];
  }
  return intact;
}

struct DamageCase {
  const char* what;
  const char* fixture;
  const char* table;
  std::function<void(const Intact&, std::vector<uint8_t>*)> damage;
  // The writes that touch the damage; each must be refused.
  std::vector<std::pair<const char*, std::function<jet::Status(jet::TableWriter&, const Intact&)>>> writes;
};

jet::Status InsertRow(jet::TableWriter& writer, const Intact& intact) {
  std::vector<jet::Value> row(intact.def.columns.size());
  row[0] = int64_t{900000};
  return writer.Insert(std::move(row)).status();
}

std::string ExportOf(const std::string& path, const std::string& table, jet::Status* status) {
  std::ostringstream out;
  auto db = jet::Database::Open(path);
  *status = db.ok() ? jet::ExportTableCsv(*db.value(), table, out) : db.status();
  return out.str();
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(DamagedFile, ReadsSayWhatIsWrongAndWritesAreRefusedLeavingTheFileAsItWas) {
  REQUIRE_SHARED_FIXTURES();
  const std::vector<DamageCase> cases = {
      {"the last page, one of the table's data pages, is missing", "generated/songsV2000.mdb", "MyList",
       [](const Intact& intact, std::vector<uint8_t>* bytes) {
         ASSERT_EQ(intact.owned.back() + 1, bytes->size() / kPageSize) << "the fixture's last page holds songs";
         bytes->resize(bytes->size() - kPageSize);
       },
       {{"an insert", InsertRow}}},
      {"a page of another kind among the table's data pages", "generated/songsV2000.mdb", "MyList",
       [](const Intact& intact, std::vector<uint8_t>* bytes) { (*bytes)[size_t{intact.owned[1]} * kPageSize] = 0x04; },
       {{"an insert", InsertRow}}},
      {"a memo chain cut after its first row", "generated/keysV2000.mdb", "Keys",
       [](const Intact& intact, std::vector<uint8_t>* bytes) {
         ASSERT_NE(intact.chain_link, 0u) << "no chained memo found";
         jet::Put32(bytes->data() + intact.chain_link, 0);
       },
       {{"an update of the memo", [](jet::TableWriter& w, const Intact& intact) -> jet::Status {
           JET_ASSIGN_OR_RETURN(std::vector<jet::Value> row, w.Read(intact.chain_row));
           row[intact.def.FindColumn("Memo") - intact.def.columns.data()] = jet::FromUtf8("short");
           return w.Update(intact.chain_row, std::move(row));
         }},
        {"a delete of its row", [](jet::TableWriter& w, const Intact& intact) { return w.Delete(intact.chain_row); }}}},
  };
  ScratchDir scratch;
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = scratch.CopyFixture(c.fixture);
    const Intact intact = Inspect(path, c.table);
    ASSERT_FALSE(intact.rows.empty());
    jet::Status status;
    const size_t system_rows = Lines(ExportOf(path, "MSysObjects", &status));
    ASSERT_TRUE(status.ok());

    std::vector<uint8_t> damaged = ReadBytes(path);
    c.damage(intact, &damaged);
    if (HasFatalFailure()) return;
    WriteBytes(path, damaged);

    // Reading: a clear error that names the file and a page, or every row; never fewer.
    const std::string exported = ExportOf(path, c.table, &status);
    if (status.ok()) {
      EXPECT_EQ(Lines(exported), intact.rows.size() + 1) << "rows went missing without a word";
    } else {
      EXPECT_EQ(status.error().code(), jet::ErrorCode::kCorrupt) << status.error().message();
      EXPECT_NE(status.error().message().find(path + ", page "), std::string::npos) << status.error().message();
    }
    EXPECT_EQ(Lines(ExportOf(path, "MSysObjects", &status)), system_rows) << "an undamaged table reads whole";
    EXPECT_TRUE(status.ok());

    // Writing: refused, saying what to do, and the file untouched.
    ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
    for (const auto& [name, write] : c.writes) {
      SCOPED_TRACE(name);
      jet::Status refused = db.value()->Write([&]() -> jet::Status {
        JET_ASSIGN_OR_RETURN(jet::TableDef def, db.value()->ReadTable(c.table));
        JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.value()->pager(), def));
        return write(*writer, intact);
      });
      ASSERT_FALSE(refused.ok()) << "the write went ahead on a damaged file";
      EXPECT_EQ(refused.error().code(), jet::ErrorCode::kCorrupt) << refused.error().message();
      EXPECT_NE(refused.error().message().find("nothing was written"), std::string::npos) << refused.error().message();
      EXPECT_NE(refused.error().message().find("from a copy"), std::string::npos) << refused.error().message();
      EXPECT_TRUE(ReadBytes(path) == damaged) << "the refused write changed the file";
    }
  }
}

}  // namespace
