// Memo values come out whole whichever way they are stored: inline after the 12-byte field
// header, on one row of a long-value (LVAL) page, or as a chain of LVAL rows across pages. The
// generated keysV2000.mdb holds 2000 memos of 2 to 16,501 characters in all three kinds (their
// text against mdb-export: ExportCompare.EveryUserTableOfEveryFixtureMatchesMdbExport).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/database.h"
#include "jet/pages/long_value.h"
#include "jet/pages/row_decoder.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::FixturePath;
using velloran_test::ReadBytes;
using velloran_test::ScratchDir;
using velloran_test::WriteBytes;

constexpr const char* kKeys = "generated/keysV2000.mdb";

// One memo as stored: where its 12-byte field is and what the field says.
struct StoredMemo {
  size_t row = 0;           // position in storage order
  size_t field_offset = 0;  // in the file
  uint32_t kind = 0;        // kLongValueInline, kLongValueSingleRow or 0 (chain)
  uint32_t length = 0;      // bytes of the value
  uint32_t pointer = 0;     // first LVAL row (single row and chain)
};

struct Keys {
  std::unique_ptr<jet::Database> db;
  jet::TableDef def;
  std::vector<std::vector<jet::Value>> rows;
  std::vector<StoredMemo> memos;  // the non-NULL ones
};

// The Memo field of the row at `id`, located through the row layout.
bool LocateMemo(jet::Pager& pager, const jet::TableDef& def, jet::RowId id, StoredMemo* memo) {
  const jet::ColumnDef* column = def.FindColumn("Memo");
  jet::RowSlot slot = jet::ReadRowSlot(pager, id.page, id.row).value();
  jet::RowLayout layout = jet::ParseRowLayout(pager.format(), def, slot.bytes, slot.size, "row").value();
  if (!layout.Present(column->number)) return false;
  const uint8_t* field = slot.bytes + layout.var_offsets[column->var_index];
  EXPECT_GE(layout.var_offsets[column->var_index + 1] - layout.var_offsets[column->var_index], jet::kLongValueFieldSize);
  memo->field_offset = size_t{id.page} * pager.page_size() + static_cast<size_t>(field - pager.ReadPage(id.page).value());
  uint32_t header = jet::Get32(field);
  memo->kind = header & ~jet::kLongValueLengthMask;
  memo->length = header & jet::kLongValueLengthMask;
  memo->pointer = jet::Get32(field + 4);
  EXPECT_EQ(jet::Get32(field + 8), 0u) << "reserved word";
  return true;
}

Keys ReadKeys(const std::string& path) {
  velloran_test::LoadedTable t = velloran_test::LoadTable(path, "Keys");
  Keys k{std::move(t.db), t.def, std::move(t.rows), {}};
  for (size_t i = 0; k.db && i < t.ids.size(); ++i) {
    StoredMemo memo;
    memo.row = i;
    if (LocateMemo(k.db->pager(), k.def, t.ids[i], &memo)) k.memos.push_back(memo);
  }
  return k;
}

// The LVAL rows of a single-row or chained memo: (pointer, bytes of value data the row holds).
std::vector<std::pair<uint32_t, uint32_t>> LvalRows(jet::Pager& pager, const StoredMemo& memo) {
  std::vector<std::pair<uint32_t, uint32_t>> rows;
  uint32_t pointer = memo.pointer;
  std::set<uint32_t> seen;
  while (pointer != 0 && seen.insert(pointer).second) {
    uint32_t page = jet::RowPointerPage(pointer);
    const uint8_t* data = pager.ReadPage(page).value();
    EXPECT_EQ(data[0], jet::kPageData);
    EXPECT_EQ(std::memcmp(data + 4, "LVAL", 4), 0) << "page " << page << " is not a long-value page";
    jet::RowSlot slot = jet::ReadRowSlot(pager, page, jet::RowPointerRow(pointer)).value();
    if (memo.kind == jet::kLongValueSingleRow) {
      rows.emplace_back(pointer, slot.size);
      break;
    }
    rows.emplace_back(pointer, slot.size - 4);  // a chain row starts with the pointer to the next
    pointer = jet::Get32(slot.bytes);
  }
  return rows;
}

TEST(Memo, AllThreeStorageKindsAreExercisedAndWhole) {
  REQUIRE_SHARED_FIXTURES();
  Keys keys = ReadKeys(FixturePath(kKeys));
  ASSERT_EQ(keys.memos.size(), 2000u);
  jet::Pager& pager = keys.db->pager();
  std::map<uint32_t, int> kinds;
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> lengths;  // kind -> shortest, longest (bytes)
  std::map<size_t, int> chain_rows;                           // links -> chains
  std::set<uint32_t> chain_pages;
  for (const StoredMemo& memo : keys.memos) {
    SCOPED_TRACE("row " + std::to_string(memo.row));
    ++kinds[memo.kind];
    auto [it, fresh] = lengths.emplace(memo.kind, std::pair{memo.length, memo.length});
    it->second = {std::min(it->second.first, memo.length), std::max(it->second.second, memo.length)};
    // The memos are stored uncompressed: two bytes a character.
    const jet::Text& text = std::get<jet::Text>(keys.rows[memo.row][4]);
    EXPECT_EQ(text.size() * 2, memo.length);
    if (memo.kind == jet::kLongValueInline) continue;
    auto rows = LvalRows(pager, memo);
    uint32_t stored = 0;
    for (const auto& [pointer, bytes] : rows) {
      stored += bytes;
      if (memo.kind == 0) chain_pages.insert(jet::RowPointerPage(pointer));
    }
    if (memo.kind == 0) {
      ++chain_rows[rows.size()];
      EXPECT_EQ(stored, memo.length) << "a chain holds exactly its value";
    } else {
      EXPECT_GE(stored, memo.length);
    }
  }
  // Counted in the file's 12-byte memo fields by hand as well.
  EXPECT_EQ(kinds[jet::kLongValueInline], 861);
  EXPECT_EQ(kinds[jet::kLongValueSingleRow], 934);
  EXPECT_EQ(kinds[0], 205);
  EXPECT_EQ(lengths[jet::kLongValueInline], (std::pair<uint32_t, uint32_t>{4, 64}));
  EXPECT_EQ(lengths[jet::kLongValueSingleRow], (std::pair<uint32_t, uint32_t>{66, 3970}));
  EXPECT_EQ(lengths[0], (std::pair<uint32_t, uint32_t>{4128, 33002}));
  EXPECT_EQ(chain_rows, (std::map<size_t, int>{{2, 84}, {3, 52}, {4, 26}, {5, 20}, {6, 15}, {7, 5}, {8, 2}, {9, 1}}));
  EXPECT_EQ(chain_pages.size(), 678u);  // distinct LVAL pages the chains run through
}

// Scans Keys in a damaged copy; the error that stops it, or "" when every row reads.
std::string ScanError(const std::string& path) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) return "open: " + db.error().message();
  auto def = db.value()->ReadTable("Keys");
  if (!def.ok()) return "definition: " + def.error().message();
  auto cursor = jet::TableCursor::Open(db.value()->pager(), def.value());
  while (cursor.ok()) {
    auto more = cursor.value()->Next();
    if (!more.ok()) return more.error().code() == jet::ErrorCode::kCorrupt ? more.error().message() : "not kCorrupt";
    if (!more.value()) return "";
  }
  return cursor.error().message();
}

TEST(Memo, DamagedStorageIsReportedNeverTruncated) {
  REQUIRE_SHARED_FIXTURES();
  Keys keys = ReadKeys(FixturePath(kKeys));
  ASSERT_EQ(keys.memos.size(), 2000u);
  jet::Pager& pager = keys.db->pager();
  const StoredMemo* chain = nullptr;
  const StoredMemo* single = nullptr;
  const StoredMemo* inline_memo = nullptr;
  for (const StoredMemo& m : keys.memos) {
    if (m.kind == 0 && (!chain || m.length > chain->length)) chain = &m;
    if (m.kind == jet::kLongValueSingleRow && !single) single = &m;
    if (m.kind == jet::kLongValueInline && !inline_memo) inline_memo = &m;
  }
  ASSERT_TRUE(chain && single && inline_memo);
  auto links = LvalRows(pager, *chain);
  ASSERT_EQ(links.size(), 9u);
  uint32_t second_page = jet::RowPointerPage(links[1].first);
  jet::RowSlot second = jet::ReadRowSlot(pager, second_page, jet::RowPointerRow(links[1].first)).value();
  size_t second_link = size_t{second_page} * pager.page_size() +
                       static_cast<size_t>(second.bytes - pager.ReadPage(second_page).value());

  struct Damage {
    const char* what;
    size_t offset;
    uint32_t value;
  };
  const Damage damages[] = {
      {"a chain claims two bytes more than its rows hold", chain->field_offset, chain->length + 2},
      {"a chain's second row points back to its first", second_link, links[0].first},
      {"a single-row memo claims more than its row", single->field_offset, jet::kLongValueSingleRow | 5000},
      {"an inline memo claims more than its field", inline_memo->field_offset,
       jet::kLongValueInline | (inline_memo->length + 2)},
  };
  ScratchDir scratch;
  EXPECT_EQ(ScanError(scratch.CopyFixture(kKeys)), "") << "the undamaged copy reads";
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string path = scratch.CopyFixture(kKeys);
    std::vector<uint8_t> bytes = ReadBytes(path);
    jet::Put32(&bytes[d.offset], d.value);
    WriteBytes(path, bytes);
    std::string error = ScanError(path);
    EXPECT_NE(error, "") << "read without complaint";
    EXPECT_NE(error, "not kCorrupt");
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
}

}  // namespace
