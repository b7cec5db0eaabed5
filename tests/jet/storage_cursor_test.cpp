// The storage-order cursor against a plain reading of the pages' slot tables: a table whose rows
// were deleted (a whole page of them among others), grown out of their full pages, and given a
// stray moved-home flag, walked both ways, turned at every row and at both ends, sought at every
// place, through the SQL scan, and as the file changes under it. (Damaged slots: damage_test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "jet/base/bytes.h"
#include "jet/schema/create_database.h"
#include "jet/database.h"
#include "jet/schema_editor.h"
#include "jet/sql/folded_columns.h"
#include "jet/sql/sql_rows.h"
#include "jet/table/storage_cursor.h"
#include "jet/table/table_writer.h"
#include "jet/pages/usage_map.h"
#include "jet/writable_database.h"
#include "tests/jet/test_support.h"

namespace {

using jet::RowId;
using jet::Value;
using velloran_test::ScratchDir;

bool Before(RowId a, RowId b) { return a.page != b.page ? a.page < b.page : a.row < b.row; }

// Jet 4 data pages as the format describes them, not as the engine's constants say: type 1, the
// owner at 4, the slot count at 12 and slot words from 14 (0x4000 alone: forwarding, its row's
// first 4 bytes the pointer; 0x8000 alone: a moved row's home; both: deleted).
constexpr size_t kPageSize = 4096;
constexpr uint32_t kSlotCount = 12, kSlots = 14;

struct Plain {
  std::vector<RowId> rows;        // live rows in storage order
  std::vector<uint32_t> counts;   // slot count of every owned page (0 unless a data page of the table)
  std::set<uint32_t> home_pages;  // pages holding live moved rows
  size_t forwarding = 0, deleted = 0;
};

Plain PlainReading(const std::vector<uint8_t>& file, uint32_t owner, const std::vector<uint32_t>& pages) {
  Plain plain;
  std::set<uint32_t> homes;
  for (int pass = 0; pass < 2; ++pass) {
    plain.counts.clear();
    for (uint32_t p : pages) {
      const uint8_t* page = file.data() + p * kPageSize;
      const bool ours = page[0] == 1 && jet::Get32(page + 4) == owner;
      plain.counts.push_back(ours ? jet::Get16(page + kSlotCount) : 0);
      for (uint32_t r = 0; r < plain.counts.back(); ++r) {
        const uint16_t word = jet::Get16(page + kSlots + 2 * r);
        const uint16_t flags = word & 0xC000;
        if (pass == 0) {
          if (flags == 0x4000) homes.insert(jet::Get32(page + (word & 0x1FFF)));
          plain.forwarding += flags == 0x4000;
          plain.deleted += flags == 0xC000;
          continue;
        }
        const bool home = flags == 0x8000 && homes.count((p << 8) | r) != 0;
        if (home) plain.home_pages.insert(p);
        if (flags == 0 || home) plain.rows.push_back(RowId{p, static_cast<uint8_t>(r)});
      }
    }
  }
  return plain;
}

// Runs `body` with a writer of the table Walk inside one committed write.
template <typename Body>
void WithWriter(jet::Database& db, Body body) {
  EXPECT_OK_LET(s, velloran_test::WithTableWriter(db, "Walk", body));
}

struct Survivor { int64_t number; RowId id; bool moved; };  // id: the slot it was written to

// 120 rows of some 170 bytes (about 22 to a page); then rows grown past the room any full page
// has, which move, and deleted rows: the second, the last, every seventh, and all of one page.
std::vector<Survivor> MakeTables(const std::string& path) {
  EXPECT_TRUE(jet::CreateDatabase(path).ok());
  EXPECT_OK_LET(db, jet::WritableDatabase::Open(path));
  auto column = [](const char* name, jet::ColumnType type) { return jet::ColumnDesign{.name = name, .type = type}; };
  EXPECT_TRUE(jet::CreateTable(*db.value(), {"Walk", {column("N", jet::ColumnType::kLong), column("Body", jet::ColumnType::kText)}, {}}).ok());
  std::vector<RowId> ids;
  std::vector<Survivor> survivors;
  WithWriter(*db.value(), [&](jet::TableWriter& w) -> jet::Status {
    for (int i = 0; i < 120; ++i) {
      JET_ASSIGN_OR_RETURN(RowId id, w.Insert({Value(int64_t{i}), Value(jet::Text(150, static_cast<char16_t>(u'a' + i % 26)))}));
      ids.push_back(id);
    }
    return jet::Status::Ok();
  });
  const uint32_t emptied = ids[70].page;
  const auto grown = [](int i) { return i == 5 || i == 30 || i == 33; };
  WithWriter(*db.value(), [&](jet::TableWriter& w) -> jet::Status {
    // Two bytes a character: some 360 bytes more than the row had.
    for (int i = 0; i < 120; ++i)
      if (grown(i)) JET_RETURN_IF_ERROR(w.Update(ids[i], {Value(int64_t{i}), Value(jet::Text(255, u'\u0416'))}));
    for (int i = 0; i < 120; ++i)
      if (i == 1 || i == 119 || i % 7 == 3 || ids[i].page == emptied) JET_RETURN_IF_ERROR(w.Delete(ids[i]));
      else survivors.push_back(Survivor{i, ids[i], grown(i)});
    return jet::Status::Ok();
  });
  return survivors;
}

bool Moved(const jet::Result<bool>& moved) {
  EXPECT_TRUE(moved.ok()) << moved.error().message();
  return moved.ok() && moved.value();
}

// A cursor that never stops fails the test rather than hang it.
constexpr size_t kMostRows = 1000;

// The rows met walking from one end to the other, in storage order either way.
std::vector<RowId> WalkAll(jet::StorageCursor& c, bool forward) {
  auto step = [&] { return Moved(forward ? c.Next() : c.Prev()); };
  std::vector<RowId> rows;
  for (bool on = Moved(forward ? c.First() : c.Last()); on && rows.size() < kMostRows; on = step()) rows.push_back(c.row());
  EXPECT_FALSE(step()) << "a step past the end stays there";
  if (!forward) std::reverse(rows.begin(), rows.end());
  return rows;
}

TEST(StorageCursor, WalksTurnsAndSeeksAsAPlainReadingOfTheSlots) {
  ScratchDir scratch;
  const std::string path = scratch.path() + "/walk.mdb";
  const std::vector<Survivor> survivors = MakeTables(path);
  ASSERT_FALSE(HasFailure());
  // A stray moved-home flag on a row no forwarding slot leads to: that row is not met.
  const Survivor& stray = *std::find_if(survivors.begin() + survivors.size() / 2, survivors.end(),
                                        [](const Survivor& s) { return !s.moved; });
  std::vector<uint8_t> file = velloran_test::ReadBytes(path);
  uint8_t* word = file.data() + stray.id.page * kPageSize + kSlots + 2 * stray.id.row;
  jet::Put16(word, static_cast<uint16_t>(jet::Get16(word) | 0x8000));
  // A moved row that moved again in an older file: its first slot forwards to the slot before it,
  // whose row is lost, and that one to the row's home.
  const Survivor& again = *std::find_if(survivors.begin(), survivors.end(), [](const Survivor& s) { return s.moved; });
  const Survivor& lost = survivors.front();
  ASSERT_TRUE(lost.id.page == again.id.page && lost.id.row < again.id.row && !lost.moved);
  uint8_t* page = file.data() + again.id.page * kPageSize;
  auto row_bytes = [&](RowId id) { return page + (jet::Get16(page + kSlots + 2 * id.row) & 0x1FFF); };
  jet::Put32(row_bytes(lost.id), jet::Get32(row_bytes(again.id)));
  jet::Put32(row_bytes(again.id), (lost.id.page << 8) | lost.id.row);
  jet::Put16(page + kSlots + 2 * lost.id.row, static_cast<uint16_t>((jet::Get16(page + kSlots + 2 * lost.id.row) & 0x1FFF) | 0x4000));
  velloran_test::WriteBytes(path, file);

  velloran_test::LoadedTable t = velloran_test::LoadTable(path, "Walk", false);
  ASSERT_NE(t.db, nullptr);
  const auto owned = std::make_shared<const std::vector<uint32_t>>(jet::ReadUsageMap(t.db->pager(), t.def.owned_pages_map).value());
  const std::vector<uint32_t>& pages = *owned;
  const Plain plain = PlainReading(file, t.def.page, pages);
  // The scenario holds what it is meant to: moved rows, deleted slots, a page of deleted rows only.
  // (Forwarding slots, pages of moved rows, live rows.)
  ASSERT_EQ(std::make_tuple(plain.forwarding, plain.home_pages.size(), plain.rows.size()), std::make_tuple(4u, 1u, survivors.size() - 2));
  ASSERT_GE(plain.deleted, 20u);
  EXPECT_EQ(std::count(plain.rows.begin(), plain.rows.end(), stray.id), 0);

  jet::StorageCursor cursor(t.db->pager(), t.def.page, owned);
  EXPECT_EQ(WalkAll(cursor, true), plain.rows);
  EXPECT_EQ(WalkAll(cursor, false), plain.rows);
  // The bytes the cursor hands out are its row's: the SQL scan reads every survivor but the stray
  // and the lost one, each named by the slot it was written to, however far it moved.
  std::vector<std::pair<int64_t, uint32_t>> numbers, expected;
  // The places the SQL scan of `table` reads, in its order, and (with `numbers`) each row's number.
  const auto scan_places = [](velloran_test::LoadedTable& table, std::vector<std::pair<int64_t, uint32_t>>* numbers) {
    std::vector<uint32_t> places;
    EXPECT_OK_LET(scan, jet::OpenScan(table.db->pager(), table.def));
    jet::LazyRow row(table.db->pager(), table.def);
    while (scan.ok() && Moved(scan.value()->Next(&row))) {
      places.push_back(row.id().page << 8 | row.id().row);
      if (numbers != nullptr) numbers->emplace_back(std::get<int64_t>(*row.Get(0).value()), places.back());
    }
    return places;
  };
  const std::vector<uint32_t> scanned = scan_places(t, &numbers);
  for (const Survivor& s : survivors)
    if (&s != &stray && &s != &lost) expected.emplace_back(s.number, s.id.page << 8 | s.id.row);
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, expected);
  // So do the folded texts a search reads, at the scan's places in its order: walked slot by slot
  // for the stray flag, and streamed from the pages of a copy without it (the two-hop chain
  // followed back to its first slot from the forwarding slots met on the way).
  const auto folded_places = [](velloran_test::LoadedTable& table) {
    std::vector<uint32_t> places;
    const jet::Result<std::shared_ptr<const jet::FoldedColumns>> folded = jet::FoldedColumnsOf(table.db->pager(), table.def, {1});
    EXPECT_TRUE(folded.ok());
    for (size_t r = 0; folded.ok() && r < folded.value()->rows(); ++r) places.push_back(folded.value()->Place(r).page << 8 | folded.value()->Place(r).row);
    return places;
  };
  EXPECT_EQ(folded_places(t), scanned);
  jet::Put16(word, static_cast<uint16_t>(jet::Get16(word) & 0x7FFF));
  velloran_test::WriteBytes(scratch.path() + "/unflagged.mdb", file);
  velloran_test::LoadedTable unflagged = velloran_test::LoadTable(scratch.path() + "/unflagged.mdb", "Walk", false);
  ASSERT_NE(unflagged.db, nullptr);
  EXPECT_EQ(folded_places(unflagged), scan_places(unflagged, nullptr));

  // Turning: Next then Prev comes back to every row; Next from before the first and Prev from
  // after the last reach the ends.
  for (size_t i = 0; i < plain.rows.size(); ++i) {
    for (bool forward : {false, true}) {
      ASSERT_TRUE(Moved(cursor.SeekAtOrAfter(plain.rows[i])));
      ASSERT_EQ(cursor.row(), plain.rows[i]);
      const bool at_end = forward ? i + 1 == plain.rows.size() : i == 0;
      ASSERT_EQ(Moved(forward ? cursor.Next() : cursor.Prev()), !at_end) << i;
      if (!at_end) {
        EXPECT_EQ(cursor.row(), plain.rows[forward ? i + 1 : i - 1]);
        continue;
      }
      ASSERT_TRUE(Moved(forward ? cursor.Prev() : cursor.Next()));  // back from beyond the end
      EXPECT_EQ(cursor.row(), forward ? plain.rows.back() : plain.rows.front());
    }
  }
  jet::StorageCursor fresh(t.db->pager(), t.def.page, owned);
  ASSERT_TRUE(Moved(fresh.Next()));
  EXPECT_EQ(fresh.row(), plain.rows.front());

  // Seeking every place of every page, deleted and past-the-end slots included, and pages the
  // table does not own: the first live row at or after it.
  std::vector<std::pair<uint32_t, uint32_t>> places;  // page, slots
  for (size_t i = 0; i < pages.size(); ++i) places.emplace_back(pages[i], plain.counts[i] + 1);
  for (uint32_t p = 0; p <= pages.back() + 1; ++p)
    if (!std::binary_search(pages.begin(), pages.end(), p)) places.emplace_back(p, 255);
  for (auto [page, slots] : places) {
    for (uint32_t r = 0; r <= slots && r < 256; ++r) {
      const RowId place{page, static_cast<uint8_t>(r)};
      auto at = std::find_if(plain.rows.begin(), plain.rows.end(), [&](RowId x) { return !Before(x, place); });
      ASSERT_EQ(Moved(cursor.SeekAtOrAfter(place)), at != plain.rows.end()) << page << "/" << r;
      if (at == plain.rows.end()) continue;
      EXPECT_EQ(cursor.row(), *at) << page << "/" << r;
    }
  }

  // The file changes under a cursor: a row added to the page it stands on is met next.
  ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
  auto add = [&](int64_t n) {
    RowId id;
    WithWriter(*db.value(), [&](jet::TableWriter& w) -> jet::Status {
      JET_ASSIGN_OR_RETURN(id, w.Insert({Value(n), Value(jet::Text(10, u'n'))}));
      return jet::Status::Ok();
    });
    return id;
  };
  const RowId first = add(1000);
  jet::StorageCursor going(db.value()->pager(), t.def.page, owned);
  ASSERT_TRUE(Moved(going.SeekAtOrAfter(first)));
  ASSERT_EQ(going.row(), first);
  const RowId second = add(1001);
  ASSERT_EQ(second.page, first.page) << "the page had room for both";
  ASSERT_TRUE(Moved(going.Next()));
  EXPECT_EQ(going.row(), second);
}

}  // namespace
