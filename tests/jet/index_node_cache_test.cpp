// The index writer's cache of decoded pages must never hand back a page that changed since it was
// kept: whatever changes an index behind the cache's back (a change made without it, a write rolled
// back) must leave the index exactly as if there were no cache at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "jet/index_cursor.h"
#include "jet/index_key.h"
#include "jet/index_tree.h"
#include "jet/index_writer.h"
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
  auto db = jet::WritableDatabase::Open(path);
  EXPECT_TRUE(db.ok());
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
  auto db = jet::WritableDatabase::Open(scratch.path() + "/songsV2000.mdb");
  ASSERT_TRUE(db.ok());
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

}  // namespace
