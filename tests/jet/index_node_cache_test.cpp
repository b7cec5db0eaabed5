// The index writer's cache of decoded pages must never hand back a page that changed since it was
// kept: whatever changes an index behind the cache's back (a change made without it, a write rolled
// back) must leave the index exactly as if there were no cache at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "jet/check/index_check.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/index_key.h"
#include "jet/table/index_tree.h"
#include "jet/table/index_writer.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/test_support.h"

namespace {

using jet::RowId;

struct Entry {
  std::string key;
  RowId row;
};

// Inserts and deletes entries of MyList's Song index in two writes, the first rolled back and
// done again. `use_cache(i)` says whether change i goes through the cache; the cache lives across
// both writes. Returns the file's bytes afterwards and the entries the index should hold.
std::string ChangeTheSongIndex(const std::string& path, uint64_t seed, const std::function<bool(int)>& use_cache,
                std::multiset<std::pair<std::string, uint32_t>>* expected) {
  EXPECT_OK_LET(db, jet::WritableDatabase::Open(path));
  jet::Pager& pager = db.value()->pager();
  jet::TableDef def = db.value()->ReadTable("MyList").value();
  const jet::PhysicalIndex& index = def.physical_indexes[def.FindIndex("Song")->physical_index];
  jet::IndexNodeCache cache;
  std::mt19937_64 random(seed);
  auto change = [&](int i, std::vector<Entry>* added) -> jet::Status {
    jet::IndexNodeCache* c = use_cache(i) ? &cache : nullptr;
    if (!added->empty() && random() % 4 == 0) {
      size_t at = random() % added->size();
      Entry gone = (*added)[at];
      added->erase(added->begin() + static_cast<long>(at));
      return jet::DeleteIndexEntry(pager, def, index, gone.key, gone.row, c).status();
    }
    std::string title = "Song " + std::to_string(random() % 300) + std::string(random() % 40, 'x');
    auto key = jet::EncodeIndexKey(jet::JetVersion::kJet4, {{jet::ColumnType::kText, true}}, {jet::Value(jet::FromUtf8(title))});
    JET_RETURN_IF_ERROR(key.status());
    Entry e{key.value(), RowId{5000 + static_cast<uint32_t>(i / 200), static_cast<uint8_t>(i % 200)}};
    added->push_back(e);
    return jet::InsertIndexEntry(pager, def, index, e.key, e.row, c).status();
  };
  std::vector<Entry> added;
  // A write whose changes are thrown away: the cache then holds pages the file no longer has.
  EXPECT_TRUE(pager.BeginWrite().ok());
  for (int i = 0; i < 300; ++i) EXPECT_TRUE(change(i, &added).ok());
  pager.Rollback();
  added.clear();
  random.seed(seed + 1);
  EXPECT_TRUE(pager.BeginWrite().ok());
  for (int i = 0; i < 900; ++i) {
    jet::Status s = change(i, &added);
    EXPECT_TRUE(s.ok()) << "change " << i << ": " << s.error().message();
  }
  EXPECT_TRUE(pager.Commit().ok());
  for (const Entry& e : added) expected->insert({e.key, (e.row.page << 8) | e.row.row});
  return velloran_test::ReadWholeFile(path);
}

TEST(IndexNodeCache, ChangesBehindTheCacheAreNeverMissed) {
  REQUIRE_SHARED_FIXTURES();
  velloran_test::ScratchDir scratch;
  const uint64_t seed = 4242;
  std::multiset<std::pair<std::string, uint32_t>> expected, unused;
  std::string plain = ChangeTheSongIndex(scratch.CopyFixture("generated/songsV2000.mdb"), seed, [](int) { return false; }, &expected);
  std::filesystem::rename(scratch.path() + "/songsV2000.mdb", scratch.path() + "/plain.mdb");
  // Every third change goes around the cache, so the cache keeps meeting pages changed without it.
  std::string mixed = ChangeTheSongIndex(scratch.CopyFixture("generated/songsV2000.mdb"), seed, [](int i) { return i % 3 != 0; }, &unused);
  ASSERT_EQ(plain.size(), mixed.size());
  EXPECT_TRUE(plain == mixed) << "the index written partly through the cache differs from the one written without it";

  // And the index holds exactly the fixture's entries plus the ones added and not deleted.
  ASSERT_OK_LET(db, jet::WritableDatabase::Open(scratch.path() + "/songsV2000.mdb"));
  jet::TableDef def = db.value()->ReadTable("MyList").value();
  jet::IndexCursor cursor(db.value()->pager(), def.page, def.physical_indexes[def.FindIndex("Song")->physical_index]);
  size_t ours = 0, total = 0;
  std::string previous;
  while (cursor.Next().value()) {
    ++total;
    ours += expected.count({cursor.entry().key, (cursor.entry().data_page << 8) | cursor.entry().data_row});
    EXPECT_LE(jet::CompareKeys(previous, cursor.entry().key), 0) << "entries out of order at " << total;
    previous = cursor.entry().key;
  }
  EXPECT_EQ(ours, expected.size());
  EXPECT_EQ(total, 500 + expected.size());
}

// Inserts songs first..first+count-1 into MyList through `db` in one write, which is thrown away
// (rolled back) when `keep` is false.
jet::Status InsertSongs(jet::Database& db, int first, int count, bool keep) {
  return velloran_test::WithTableWriter(db, "MyList", [&](jet::TableWriter& writer) -> jet::Status {
    const jet::TableDef& def = writer.def();
    std::mt19937 random(static_cast<uint32_t>(first));
    for (int i = first; i < first + count; ++i) {
      std::vector<jet::Value> row(def.columns.size());
      auto set = [&](const char* name, jet::Value v) { row[static_cast<size_t>(def.FindColumn(name) - def.columns.data())] = std::move(v); };
      set("ID", int64_t{700000} + i);
      set("SongNumber", int64_t{900000} + i);
      set("DiskID", jet::FromUtf8("SC" + std::to_string(random() % 9000)));
      set("Song", jet::FromUtf8("Song " + std::to_string(random() % 400)));
      set("Artist", jet::FromUtf8("Artist " + std::to_string(random() % 30)));
      set("PrintYN", false);
      set("HotlistA", jet::FromUtf8("0000000000"));
      JET_RETURN_IF_ERROR(writer.Insert(std::move(row)).status());
    }
    if (!keep) return jet::Error(jet::ErrorCode::kInvalidArgument, "thrown away on purpose");
    return jet::Status::Ok();
  });
}

// The decoded index pages and the table's page lists a handle's writers keep from one write to
// the next must be dropped whenever the file may differ from them: another handle committed to
// the same leaves and data pages, or a write of the handle itself was rolled back after changing
// them. A stale leaf written back would lose the other handle's entries, or bring back the
// thrown-away ones; stale page lists would put rows where there is no room. Every index is
// checked against the rows after each step.
TEST(IndexNodeCache, PagesKeptAcrossWritesNeverOutliveAChangeMadeElsewhere) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  auto a = jet::WritableDatabase::Open(path);
  auto b = jet::WritableDatabase::Open(path);
  ASSERT_TRUE(a.ok() && b.ok());
  auto check = [&](const std::string& when, uint64_t rows) {
    ASSERT_OK_LET(fresh, jet::Database::Open(path));
    jet::TableDef def = fresh.value()->ReadTable("MyList").value();
    std::vector<std::string> problems;
    jet::CheckTableIndexes(fresh.value()->pager(), def, &problems);
    EXPECT_TRUE(problems.empty()) << when << ": " << problems.size() << " problems, the first: " << problems.front();
    EXPECT_EQ(def.row_count, rows) << when;
  };
  jet::IndexNodeCache& kept = jet::IndexNodeCache::Of(a.value()->pager());
  EXPECT_EQ(&kept, &jet::IndexNodeCache::Of(a.value()->pager())) << "a handle has one cache";

  ASSERT_TRUE(InsertSongs(*a.value(), 0, 300, true).ok());
  EXPECT_GT(kept.kept_count(), 0u) << "the pages of the committed write stay decoded";
  check("after a first write", 800);
  ASSERT_TRUE(InsertSongs(*a.value(), 300, 300, true).ok());
  check("after a second write through the kept pages", 1100);
  ASSERT_TRUE(InsertSongs(*b.value(), 600, 300, true).ok());
  check("after another handle's write", 1400);
  ASSERT_TRUE(InsertSongs(*a.value(), 900, 300, true).ok());
  check("after a write following another handle's", 1700);
  EXPECT_FALSE(InsertSongs(*a.value(), 1200, 300, false).ok());
  ASSERT_TRUE(InsertSongs(*a.value(), 1500, 300, true).ok());
  check("after a write following a rolled-back one", 2000);
}

// The cache holds a bounded number of nodes, letting the least recently kept go first.
TEST(IndexNodeCache, KeepsAtMostItsBoundAndTheLatestNodes) {
  jet::IndexNodeCache cache;
  const uint32_t total = static_cast<uint32_t>(jet::IndexNodeCache::kMaxKept) * 2;
  for (uint32_t page = 1; page <= total; ++page) {
    auto node = std::make_unique<jet::IndexNode>();
    node->number = page;
    node->entries.resize(3);
    cache.Keep(std::move(node));
    ASSERT_LE(cache.kept_count(), jet::IndexNodeCache::kMaxKept);
  }
  EXPECT_GE(cache.kept_count(), jet::IndexNodeCache::kMaxKept / 2);
  auto latest = cache.Take(total);
  ASSERT_NE(latest, nullptr);
  EXPECT_EQ(latest->entries.size(), 3u);
  EXPECT_EQ(cache.Take(1), nullptr) << "the first node kept went first";
  cache.Keep(std::move(latest));  // back after a use, it counts as kept last
  EXPECT_NE(cache.Take(total), nullptr);
}

}  // namespace
