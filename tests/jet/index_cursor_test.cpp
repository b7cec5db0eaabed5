// Index walks and seeks against the truth of a full table scan: for every index of every fixture,
// walking the index yields every row once in key order (and the reverse walk the same backwards),
// a seek for each present key finds exactly the rows a filtered scan finds, and seeks for absent
// keys report no match while positioning at the next larger key. Every key is encoded from its row
// here, so this also holds the key encoder to every key Access stored. (Seeks through SQL, with
// their rows: SqlSongs; the Txt index's order against sorting with CompareText: SqlKeys.)
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "jet/pages/data_page.h"
#include "jet/database.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/index_key.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::FixturePath;

uint32_t Pack(uint32_t page, uint32_t row) { return (page << 8) | row; }

// Where the row an index entry points to lives (entries keep pointing at a moved row's old slot).
uint32_t HomeOf(jet::Pager& pager, jet::RowId id) {
  uint32_t home = 0;
  EXPECT_TRUE(jet::ReadRowFollowingOverflow(pager, id.page, id.row, &home).ok());
  return home;
}

// key -> homes of the rows with that key, from a full scan.
std::map<std::string, std::multiset<uint32_t>> ScanKeys(jet::Pager& pager, const jet::TableDef& def,
                                                         const jet::PhysicalIndex& index) {
  const auto [columns, positions] = jet::KeyColumnsOf(def, index);
  std::map<std::string, std::multiset<uint32_t>> keys;
  EXPECT_OK_LET(cursor, jet::TableCursor::Open(pager, def));
  while (cursor.ok() && cursor.value()->Next().value()) {
    std::vector<jet::Value> values;
    bool all_null = true;
    for (size_t p : positions) {
      values.push_back(cursor.value()->values()[p]);
      all_null = all_null && jet::IsNull(values.back());
    }
    if (all_null && index.ignore_nulls()) continue;
    EXPECT_OK_LET(key, jet::EncodeIndexKey(pager.format().version, columns, values));
    keys[key.value()].insert(Pack(cursor.value()->row_id().page, cursor.value()->row_id().row));
  }
  return keys;
}

void ExpectWalksMatchScan(jet::Pager& pager, jet::IndexCursor& cursor,
                          const std::map<std::string, std::multiset<uint32_t>>& scan) {
  std::vector<std::pair<std::string, uint32_t>> forward, backward;
  cursor.BeforeFirst();
  while (cursor.Next().value()) forward.emplace_back(cursor.entry().key, HomeOf(pager, cursor.row()));
  cursor.AfterLast();
  while (cursor.Prev().value()) backward.emplace_back(cursor.entry().key, HomeOf(pager, cursor.row()));
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward, backward);
  std::map<std::string, std::multiset<uint32_t>> walked;
  for (size_t i = 0; i < forward.size(); ++i) {
    if (i > 0) {
      EXPECT_LE(jet::CompareKeys(forward[i - 1].first, forward[i].first), 0) << "entry " << i;
    }
    walked[forward[i].first].insert(forward[i].second);
  }
  EXPECT_EQ(walked, scan);
}

void ExpectSeeksMatchScan(jet::Pager& pager, jet::IndexCursor& cursor,
                          const std::map<std::string, std::multiset<uint32_t>>& scan) {
  for (const auto& [key, homes] : scan) {
    ASSERT_TRUE(cursor.SeekEqual(key).value());
    std::multiset<uint32_t> found;
    do {
      if (cursor.entry().key != key) break;
      found.insert(HomeOf(pager, cursor.row()));
    } while (cursor.Next().value());
    EXPECT_EQ(found, homes);
    // Absent keys just after this one: no match, and positioned at the next larger present key.
    std::string absent = key + '\x01';
    if (scan.count(absent)) continue;
    EXPECT_FALSE(cursor.SeekEqual(absent).value());
    auto next = scan.upper_bound(absent);
    bool positioned = cursor.SeekAtOrAfter(absent).value();
    EXPECT_EQ(positioned, next != scan.end());
    if (positioned && next != scan.end()) {
      EXPECT_EQ(cursor.entry().key, next->first);
    }
  }
  // Below every key and above every key.
  if (!scan.empty()) {
    EXPECT_TRUE(cursor.SeekAtOrAfter(std::string()).value());
    EXPECT_EQ(cursor.entry().key, scan.begin()->first);
    EXPECT_FALSE(cursor.SeekAtOrAfter(std::string(300, '\xFF')).value());
    EXPECT_FALSE(cursor.Next().value());
  }
}

TEST(IndexCursor, WalksAndSeeksAgreeWithATableScanOnEveryFixtureIndex) {
  REQUIRE_SHARED_FIXTURES();
  size_t indexes_checked = 0;
  for (const std::string& fixture : velloran_test::AllFixtures()) {
    ASSERT_OK_LET(db, jet::Database::Open(FixturePath(fixture)));
    for (const jet::CatalogEntry& table : db.value()->objects()) {
      if (!table.IsTable()) continue;
      ASSERT_OK_LET(def, db.value()->ReadTable(table.name));
      for (const jet::PhysicalIndex& index : def->physical_indexes) {
        SCOPED_TRACE(fixture + " " + table.name + " index " + std::to_string(index.number));
        auto scan = ScanKeys(db.value()->pager(), def.value(), index);
        jet::IndexCursor cursor(db.value()->pager(), def->page, index);
        ExpectWalksMatchScan(db.value()->pager(), cursor, scan);
        ExpectSeeksMatchScan(db.value()->pager(), cursor, scan);
        ++indexes_checked;
      }
    }
  }
  EXPECT_GT(indexes_checked, 100u);
}

}  // namespace
