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
#include "jet/check/integrity_check.h"
#include "jet/database.h"
#include "jet/pages/data_page.h"
#include "jet/pages/long_value.h"
#include "jet/pages/row_decoder.h"
#include "jet/pages/usage_map.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/other_readers.h"
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
    intact.chain_link = velloran_test::RowFileOffset(pager, {jet::RowPointerPage(first), static_cast<uint8_t>(jet::RowPointerRow(first))});
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
      EXPECT_TRUE(velloran_test::FailsWith(status, jet::ErrorCode::kCorrupt, {path + ", page "}));
    }
    EXPECT_EQ(Lines(ExportOf(path, "MSysObjects", &status)), system_rows) << "an undamaged table reads whole";
    EXPECT_TRUE(status.ok());

    // Writing: refused, saying what to do, and the file untouched.
    ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
    for (const auto& [name, write] : c.writes) {
      SCOPED_TRACE(name);
      jet::Status refused = velloran_test::WithTableWriter(*db.value(), c.table, [&](jet::TableWriter& w) { return write(w, intact); });
      ASSERT_TRUE(velloran_test::FailsWith(refused, jet::ErrorCode::kCorrupt, {"nothing was written", "from a copy"}));
      EXPECT_TRUE(ReadBytes(path) == damaged) << "the refused write changed the file";
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The integrity check as a host meets it: `velloran-jet check` finds nothing wrong with any file
// Access made (stale row counts of system tables, indexes on Binary columns and long Access 97
// rows included), and a definition damaged so that an index names a column no index can hold is
// reported as damage of that file and page.

using velloran_test::FixturePath;
using velloran_test::ShellQuote;

TEST(IntegrityCheck, EveryFixturePassesTheCheckCommand) {
  REQUIRE_SHARED_FIXTURES();
  const std::vector<std::string> fixtures = velloran_test::AllFixtures();
  EXPECT_EQ(fixtures.size(), 24u);
  for (const std::string& fixture : fixtures) {
    int code = -1;
    const std::string out =
        velloran_test::RunPinned(std::string(VELLORAN_JET_TOOL) + " check " + ShellQuote(FixturePath(fixture)) + " 2>&1", &code);
    EXPECT_EQ(code, 0) << fixture << ":\n" << out;
  }
}

// MSysACEs' index ObjectId is on a Long column; its type byte turned into OLE's (a damaged byte the
// fuzzer found) leaves an index no Access file can have.
TEST(IntegrityCheck, AnIndexOnAColumnNoIndexCanHoldIsDamageOfTheDefinition) {
  COPY_FIXTURE_OR_SKIP("access/emptyV2000.mdb", scratch, path);
  const jet::TableDef aces = velloran_test::LoadTable(path, "MSysACEs", false).def;
  ASSERT_FALSE(aces.physical_indexes.empty());
  const uint32_t tdef = aces.page;
  const uint16_t indexed_column = aces.physical_indexes[0].columns[0].column_number;
  // Jet 4 definition: a 63-byte header, 12 bytes per physical index, then 25 bytes per column
  // (type first, column number at +5).
  std::vector<uint8_t> bytes = velloran_test::ReadBytes(path);
  size_t column = size_t{tdef} * 4096 + 63 + 12 * aces.physical_indexes.size();
  while (jet::Get16(&bytes[column + 5]) != indexed_column) column += 25;
  ASSERT_EQ(bytes[column], static_cast<uint8_t>(jet::ColumnType::kLong));
  bytes[column] = static_cast<uint8_t>(jet::ColumnType::kOle);
  velloran_test::WriteBytes(path, bytes);

  const std::vector<std::string> problems = velloran_test::Problems(path);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find(path + ", page " + std::to_string(tdef) + ": "), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find("of type OLE, which no index can hold: the table's definition is damaged"), std::string::npos) << problems[0];
}

}  // namespace
