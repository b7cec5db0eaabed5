// Index maintenance against an in-memory model. Every batch of random inserts and deletes is
// committed, the file reopened, and then: the index walked both ways must equal the model; every
// page must be encoded as Access encodes it (header bytes, free space, shared prefix, mask); the
// tree must be balanced with intermediate entries equal to their child's last entry, a tail on
// every intermediate page with two or more children, leaves linked end to end and intermediate
// pages linked within their parent; the index's usage map must list exactly its pages, and pages
// it gave up must be free and cleared. Where entries and rows agree, the whole-file check runs.
// Seeds are printed; set VELLORAN_SEED to replay one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#include "jet/base/bytes.h"
#include "jet/check/integrity_check.h"
#include "jet/database.h"
#include "jet/pages/data_page.h"
#include "jet/pages/index_key.h"
#include "jet/pages/index_page_writer.h"
#include "jet/pages/usage_map.h"
#include "jet/table/index_cursor.h"
#include "jet/table/index_tree.h"
#include "jet/table/index_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/schema_test_support.h"
#include "tests/jet/test_support.h"

namespace {

using jet::ErrorCode;
using velloran_test::ScratchDir;
using Entry = std::tuple<std::string, uint32_t, uint32_t>;  // key, data page, row: index order
using Model = std::set<Entry>;

Entry AsEntry(const jet::IndexEntry& e) { return Entry{e.key, e.data_page, e.data_row}; }

// A writable handle on `path` and the definition of `table`.
struct Handle {
  std::unique_ptr<jet::WritableDatabase> db;
  jet::TableDef def;
  jet::Pager& pager() const { return db->pager(); }
  const jet::PhysicalIndex& Index(const std::string& name) const { return def.physical_indexes[def.FindIndex(name)->physical_index]; }
};

Handle OpenForWrite(const std::string& path, const std::string& table) {
  EXPECT_OK_LET(db, jet::WritableDatabase::Open(path));
  EXPECT_OK_LET(def, db.value()->ReadTable(table));
  return Handle{std::move(db).value(), std::move(def).value()};
}

// Closes the handle (releasing the writer lock) and opens the file again.
void Reopen(Handle& h, const std::string& path, const std::string& table) {
  h.db.reset();
  h = OpenForWrite(path, table);
}

// The entries in index order, walking forward; the backward walk must agree.
std::vector<Entry> Walk(jet::Pager& pager, const jet::TableDef& def, const jet::PhysicalIndex& index) {
  std::vector<Entry> forward, backward;
  jet::IndexCursor cursor(pager, def.page, index);
  while (true) {
    EXPECT_OK_LET(more, cursor.Next());
    if (!more.ok() || !more.value()) break;
    forward.emplace_back(cursor.entry().key, cursor.row().page, cursor.row().row);
  }
  cursor.AfterLast();
  while (cursor.Prev().value()) backward.emplace_back(cursor.entry().key, cursor.row().page, cursor.row().row);
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward, backward);
  return forward;
}

// What the shape check learns of a subtree.
struct Visited { std::optional<Entry> last; bool leaf = true; uint32_t prev = 0, next = 0; };

struct ShapeCheck {
  jet::Pager& pager;
  uint32_t owner;
  int leaf_depth = -1;
  std::set<uint32_t> pages;
  std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> leaves;  // page, prev, next in key order

  void Header(uint32_t number, const jet::IndexPage& p) {
    const uint8_t* d = pager.ReadPage(number).value();
    // Byte 1 is always 1; bytes 8 to 11 and 26 are always 0.
    EXPECT_EQ(std::make_tuple(d[1], jet::Get32(d + 8), d[26]), std::make_tuple(uint8_t{1}, 0u, uint8_t{0})) << number;
    uint32_t used = 0;
    for (uint32_t bit = 0; bit < (0x1E0 - 0x1B) * 8; ++bit)
      if ((d[0x1B + bit / 8] >> (bit % 8)) & 1) used = bit;
    EXPECT_EQ(jet::Get16(d + 2), 4096 - 0x1E0 - used) << "free space of page " << number;
    uint32_t shared = 0;
    if (p.entries.size() >= 2) {
      const std::string &a = p.entries.front().key, &b = p.entries.back().key;
      while (shared < std::min(a.size(), b.size()) && a[shared] == b[shared]) ++shared;
    }
    // Every page was encoded by the writer: zero padding, the largest shared prefix.
    EXPECT_EQ(p.prefix_length, shared) << "prefix of page " << number;
    EXPECT_TRUE(std::all_of(d + 0x1E0 + used, d + 4096, [](uint8_t b) { return b == 0; })) << number;
  }

  Visited Visit(uint32_t number, int depth) {
    auto read = jet::ReadIndexPage(pager, number);
    if (!read.ok() || depth > 8 || !pages.insert(number).second) {
      ADD_FAILURE() << "page " << number << " unreadable or reached twice";
      return {};
    }
    const jet::IndexPage& p = read.value();
    EXPECT_EQ(p.owner, owner);
    Header(number, p);
    Visited out{std::nullopt, p.leaf(), p.prev, p.next};
    if (p.leaf()) {
      if (leaf_depth < 0) leaf_depth = depth;
      EXPECT_EQ(depth, leaf_depth) << "leaves at different depths";
      leaves.emplace_back(number, p.prev, p.next);
      if (!p.entries.empty()) out.last = AsEntry(p.entries.back());
      return out;
    }
    EXPECT_FALSE(p.entries.empty()) << number;
    EXPECT_TRUE(p.tail != 0 || p.entries.size() == 1) << "page " << number << ": several children but no tail";
    std::vector<uint32_t> children;
    std::vector<Visited> seen;
    for (const jet::IndexEntry& e : p.entries) {
      children.push_back(e.child_page);
      seen.push_back(Visit(e.child_page, depth + 1));
      EXPECT_EQ(seen.back().last, AsEntry(e)) << "entry for child " << e.child_page << " on page " << number;
    }
    if (p.tail != 0) children.push_back(p.tail), seen.push_back(Visit(p.tail, depth + 1));
    out.last = seen.back().last;
    for (size_t i = 0; i < seen.size() && !seen[i].leaf; ++i) {
      EXPECT_EQ(seen[i].prev, i == 0 ? 0 : children[i - 1]) << "prev of intermediate page " << children[i];
      EXPECT_EQ(seen[i].next, i + 1 == seen.size() ? 0 : children[i + 1]) << "next of intermediate page " << children[i];
    }
    return out;
  }
};

// Every page of the index, as its usage map lists them.
std::set<uint32_t> IndexPages(jet::Pager& pager, const jet::PhysicalIndex& index) {
  auto owned = jet::ReadUsageMap(pager, index.usage_map).value();
  return {owned.begin(), owned.end()};
}

// Checks the shape of the index and its usage maps; returns the tree's depth (1 = a lone leaf).
int ExpectWellFormed(jet::Pager& pager, const jet::TableDef& def, const jet::PhysicalIndex& index,
                     const std::set<uint32_t>& given_up = {}) {
  ShapeCheck check{pager, def.page, -1, {}, {}};
  check.Visit(index.root_page, 0);
  for (size_t i = 0; i < check.leaves.size(); ++i) {
    EXPECT_EQ(std::get<1>(check.leaves[i]), i == 0 ? 0 : std::get<0>(check.leaves[i - 1]));
    EXPECT_EQ(std::get<2>(check.leaves[i]), i + 1 == check.leaves.size() ? 0 : std::get<0>(check.leaves[i + 1]));
  }
  EXPECT_EQ(IndexPages(pager, index), check.pages) << "the index's usage map";
  const std::set<uint32_t> free_set = schema_test::FreePages(pager);
  for (uint32_t page : check.pages) EXPECT_FALSE(free_set.count(page)) << "index page " << page << " marked free";
  // The global map covers a window of pages (it slides forward as the file grows); a released
  // page inside it must be marked free.
  jet::RowSlot global = jet::ReadRowSlot(pager, 1, 0).value();
  const uint32_t window_start = jet::Get32(global.bytes + 1), window_end = window_start + (global.size - 5) * 8;
  for (uint32_t page : given_up) {
    if (check.pages.count(page)) continue;
    EXPECT_TRUE(free_set.count(page) || page < window_start || page >= window_end) << "released page " << page;
    const uint8_t* d = pager.ReadPage(page).value();
    EXPECT_TRUE(std::all_of(d, d + 4096, [](uint8_t b) { return b == 0; })) << "released page " << page;
  }
  return check.leaf_depth + 1;
}

// Applies one change to the index and the model, checking the reported key uniqueness. With a
// cache, most inserts add their entry to the page in place (InsertIntoLeafPage).
void Insert(Handle& h, const jet::PhysicalIndex& index, Model& model, const Entry& e, jet::IndexNodeCache* cache = nullptr) {
  auto [key, page, row] = e;
  bool fresh = model.lower_bound({key, 0, 0}) == model.upper_bound({key, UINT32_MAX, UINT32_MAX});
  ASSERT_OK_LET(added, jet::InsertIndexEntry(h.pager(), h.def, index, key, {page, static_cast<uint8_t>(row)}, cache));
  EXPECT_EQ(added.value(), fresh);
  model.insert(e);
}

void Delete(Handle& h, const jet::PhysicalIndex& index, Model& model, Entry e, jet::IndexNodeCache* cache = nullptr) {
  auto [key, page, row] = e;
  ASSERT_OK_LET(removed, jet::DeleteIndexEntry(h.pager(), h.def, index, key, {page, static_cast<uint8_t>(row)}, cache));
  model.erase(e);
  EXPECT_EQ(removed.value(), model.lower_bound({key, 0, 0}) == model.upper_bound({key, UINT32_MAX, UINT32_MAX}));
}

TEST(IndexPageWriter, ReencodesRealPagesAsTheyWereWritten) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  size_t pages = 0, identical = 0;
  for (const std::string& fixture : velloran_test::AllFixtures()) {
    if (fixture.find("V1997") != std::string::npos) continue;
    auto pager = jet::Pager::Open(scratch.CopyFixture(fixture), jet::Pager::Mode::kReadWrite).value();
    ASSERT_TRUE(pager->BeginWrite().ok());
    for (uint32_t n = 0; n < pager->page_count(); ++n) {
      std::vector<uint8_t> before(pager->ReadPage(n).value(), pager->ReadPage(n).value() + 4096);
      if (before[0] != jet::kPageIndexLeaf && before[0] != jet::kPageIndexIntermediate) continue;
      jet::IndexPage p = jet::ReadIndexPage(*pager, n).value();
      ASSERT_TRUE(jet::WriteIndexPage(*pager, n, {p.leaf(), p.owner, p.prev, p.next, p.tail, p.entries}).ok()) << fixture << " page " << n;
      jet::IndexPage again = jet::ReadIndexPage(*pager, n).value();
      ++pages;
      EXPECT_EQ(again.entries.size(), p.entries.size());
      for (size_t i = 0; i < p.entries.size(); ++i) {
        EXPECT_EQ(again.entries[i].Compare(p.entries[i]), 0) << fixture << " page " << n << " entry " << i;
        EXPECT_EQ(again.entries[i].child_page, p.entries[i].child_page);
      }
      EXPECT_EQ(std::tie(again.type, again.owner, again.prev, again.next, again.tail), std::tie(p.type, p.owner, p.prev, p.next, p.tail));
      // Where the original used the same prefix, everything up to the end of the entries matches,
      // but for byte 26: always 0 here (as in the generated fixtures); Access sets it on some
      // intermediate pages for a reason not known.
      if (again.prefix_length != p.prefix_length) continue;
      const uint8_t* after = pager->ReadPage(n).value();
      size_t end = 4096 - jet::Get16(after + 2);
      EXPECT_EQ(jet::Get16(before.data() + 2), jet::Get16(after + 2)) << fixture << " page " << n;
      EXPECT_EQ(after[26], 0);
      if (before[26] != 0) {
        EXPECT_EQ(before[0], jet::kPageIndexIntermediate) << fixture << " page " << n;
        before[26] = 0;
      }
      EXPECT_TRUE(std::equal(after, after + end, before.begin())) << fixture << " page " << n;
      ++identical;
    }
    pager->Rollback();
  }
  std::cout << pages << " index pages re-encoded, " << identical << " byte for byte" << std::endl;
  EXPECT_GT(pages, 200u);
  EXPECT_GT(identical, 100u);
}

std::string TextKey(const std::u16string& text) {
  return jet::EncodeIndexKey(jet::JetVersion::kJet4, {{jet::ColumnType::kText, true}}, {jet::Value(text)}).value();
}

// Random text (long, sharing prefixes) keyed with the real encoder, pointing at made-up rows, in
// an index that starts empty: mixed inserts and deletes grow it to four levels, then deleting
// everything must restore the root page byte for byte and leave the file as sound as before.
TEST(IndexWriter, RandomChurnOnAnEmptyIndexAndBackToNothing) {
  COPY_FIXTURE_OR_SKIP("access/bigIndexTestV2000.mdb", scratch, path);
  const auto seed = static_cast<uint32_t>(velloran_test::NumberFromEnvironment("VELLORAN_SEED", std::random_device{}()));
  std::cout << "[ seed     ] VELLORAN_SEED=" << seed << std::endl;
  SCOPED_TRACE("VELLORAN_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  Handle h = OpenForWrite(path, "Table1");
  const uint32_t root = h.Index("col1").root_page;
  const std::vector<uint8_t> empty_root(h.pager().ReadPage(root).value(), h.pager().ReadPage(root).value() + 4096);
  const char16_t* stems[] = {u"The ", u"The Beatles - ", u"Queen", u"Zoë ", u"ABBA", u""};
  Model model;
  std::set<uint32_t> given_up;
  int max_depth = 0;
  for (int batch = 0; batch < 12; ++batch) {
    ASSERT_TRUE(h.pager().BeginWrite().ok());
    // Odd batches keep decoded pages from one change to the next, as a table writer does, so that
    // pages changed in place go through the same checks as pages encoded whole.
    jet::IndexNodeCache cache;
    jet::IndexNodeCache* kept = batch % 2 == 1 ? &cache : nullptr;
    for (int op = 0; op < 600; ++op) {
      if (!model.empty() && (batch >= 9 || rng() % 10 < 3)) {
        Delete(h, h.Index("col1"), model, *std::next(model.begin(), static_cast<long>(rng() % model.size())), kept);
      } else {
        std::u16string text = stems[rng() % 6];
        // Accented and Greek letters take two key bytes each: long keys make a deep tree.
        for (size_t n = rng() % 250; n > 0; --n) text += u"ab\u00e9\u03a9"[rng() % 4];
        Entry e{TextKey(text), 1 + rng() % 5000, rng() % 256};
        if (!model.count(e)) Insert(h, h.Index("col1"), model, e, kept);
      }
      ASSERT_FALSE(HasFatalFailure());
    }
    if (batch == 11) {  // the rest goes, in random order
      std::vector<Entry> rest(model.begin(), model.end());
      std::shuffle(rest.begin(), rest.end(), rng);
      for (const Entry& e : rest) Delete(h, h.Index("col1"), model, e);
    }
    ASSERT_TRUE(h.pager().Commit().ok());
    Reopen(h, path, "Table1");
    EXPECT_EQ(h.Index("col1").root_page, root);
    EXPECT_EQ(Walk(h.pager(), h.def, h.Index("col1")), std::vector<Entry>(model.begin(), model.end()));
    max_depth = std::max(max_depth, ExpectWellFormed(h.pager(), h.def, h.Index("col1"), given_up));
    for (uint32_t page : IndexPages(h.pager(), h.Index("col1"))) given_up.insert(page);
  }
  std::cout << "deepest tree: " << max_depth << " levels over " << given_up.size() << " pages" << std::endl;
  EXPECT_GE(max_depth, 4);
  EXPECT_TRUE(std::equal(empty_root.begin(), empty_root.end(), h.pager().ReadPage(root).value()));
  h.db.reset();
  EXPECT_EQ(velloran_test::Problems(path), std::vector<std::string>{});
}

// Keys appended in ascending order leave every leaf but the last full.
TEST(IndexWriter, AscendingKeysFillPages) {
  COPY_FIXTURE_OR_SKIP("access/bigIndexTestV2000.mdb", scratch, path);
  Handle h = OpenForWrite(path, "Table1");
  ASSERT_TRUE(h.pager().BeginWrite().ok());
  Model model;
  jet::IndexNodeCache cache;  // each key then goes to the end of its leaf in place
  for (uint32_t i = 0; i < 4000; ++i) {
    Insert(h, h.Index("col1"), model, Entry{TextKey(jet::FromUtf8(std::to_string(100000 + i))), 7, i % 256}, &cache);
    ASSERT_FALSE(HasFatalFailure());
  }
  ASSERT_TRUE(h.pager().Commit().ok());
  EXPECT_EQ(ExpectWellFormed(h.pager(), h.def, h.Index("col1")), 2);
  size_t leaves = 0;
  for (uint32_t page : IndexPages(h.pager(), h.Index("col1"))) {
    jet::IndexPage p = jet::ReadIndexPage(h.pager(), page).value();
    if (!p.leaf() || p.next == 0) continue;
    ++leaves;
    EXPECT_LT(jet::Get16(h.pager().ReadPage(page).value() + 2), 20) << "leaf " << page << " left half empty";
  }
  EXPECT_GE(leaves, 10u);
}

// Refused changes leave the file byte for byte as it was. (Entries added to a page in place, against
// the model and the encoding of a whole page: the odd batches of RandomChurnOnAnEmptyIndexAndBackToNothing.)
TEST(IndexWriter, RefusedChangesChangeNothing) {
  COPY_FIXTURE_OR_SKIP("generated/keysV2000.mdb", scratch, path);
  const std::string before = velloran_test::ReadWholeFile(path);
  Handle h = OpenForWrite(path, "Keys");
  const jet::PhysicalIndex& pk = h.Index("PrimaryKey");
  ASSERT_TRUE(pk.unique());
  std::vector<Entry> entries = Walk(h.pager(), h.def, pk);
  ASSERT_EQ(entries.size(), 3000u);
  auto [key, page, row] = entries[1234];
  EXPECT_EQ(jet::InsertIndexEntry(h.pager(), h.def, pk, key + "x", {page, 9}).error().code(), ErrorCode::kInvalidArgument)
      << "outside a write";

  // (Keys a unique index already holds, NULL keys that never conflict: SchemaRandom.)
  ASSERT_TRUE(h.pager().BeginWrite().ok());
  auto [num_key, num_page, num_row] = Walk(h.pager(), h.def, h.Index("Num"))[5];
  auto again = jet::InsertIndexEntry(h.pager(), h.def, h.Index("Num"), num_key, {num_page, static_cast<uint8_t>(num_row)});
  EXPECT_EQ(again.error().code(), ErrorCode::kInvalidArgument) << "the very same entry";
  EXPECT_EQ(jet::DeleteIndexEntry(h.pager(), h.def, pk, key, {page, static_cast<uint8_t>(row + 1)}).error().code(), ErrorCode::kCorrupt);
  const std::string huge(jet::kMaxIndexKeySize + 1, 'a');
  EXPECT_EQ(jet::InsertIndexEntry(h.pager(), h.def, h.Index("Txt"), huge, {1, 1}).error().code(), ErrorCode::kInvalidArgument);
  // Adding in place refuses the first entry (every other entry's bytes depend on it) and a page
  // that does not hold the entries it is said to hold.
  uint32_t leaf_page = pk.root_page;
  jet::IndexPage leaf = jet::ReadIndexPage(h.pager(), leaf_page).value();
  while (!leaf.leaf()) leaf = jet::ReadIndexPage(h.pager(), leaf_page = leaf.entries[0].child_page).value();
  const uint32_t stored = jet::EncodedEntriesSize(leaf.entries, 0, leaf.entries.size(), true);
  EXPECT_EQ(jet::InsertIntoLeafPage(h.pager(), leaf_page, leaf.entries, 0, 0, stored).error().code(), ErrorCode::kInvalidArgument);
  EXPECT_FALSE(jet::InsertIntoLeafPage(h.pager(), leaf_page, leaf.entries, 1, 0, stored + 3).ok());
  ASSERT_TRUE(h.pager().Commit().ok());
  h.db.reset();
  EXPECT_TRUE(velloran_test::ReadWholeFile(path) == before) << "a refused change altered the file";
}

// Entries found out of order on a page are refused (kInvalidArgument, the file untouched) when the
// page is next written, also when its decoded form is kept from change to change: order is only
// taken for granted on a page the writer has itself checked and written.
TEST(IndexWriter, PagesFoundOutOfOrderAreRefusedThroughTheCacheToo) {
  COPY_FIXTURE_OR_SKIP("generated/keysV2000.mdb", scratch, path);
  Handle h = OpenForWrite(path, "Keys");
  const jet::PhysicalIndex& num = h.Index("Num");
  std::vector<Entry> entries = Walk(h.pager(), h.def, num);
  // The leaf holding the 100th entry, with two of its entries swapped (written without the check).
  uint32_t leaf = 0;
  for (uint32_t n : IndexPages(h.pager(), num)) {
    jet::IndexPage p = jet::ReadIndexPage(h.pager(), n).value();
    for (const jet::IndexEntry& e : p.entries)
      if (p.leaf() && AsEntry(e) == entries[100]) leaf = n;
  }
  ASSERT_NE(leaf, 0u);
  jet::IndexPage p = jet::ReadIndexPage(h.pager(), leaf).value();
  ASSERT_GE(p.entries.size(), 4u);
  std::swap(p.entries[1], p.entries[2]);
  ASSERT_TRUE(h.pager().BeginWrite().ok());
  // Written as trusted (ordered): the check is skipped, as for pages the writer keeps in order.
  ASSERT_TRUE(jet::WriteIndexPage(h.pager(), leaf, {true, p.owner, p.prev, p.next, 0, p.entries, /*ordered=*/true}).ok());
  ASSERT_TRUE(h.pager().Commit().ok());
  Reopen(h, path, "Keys");
  const std::string damaged = velloran_test::ReadWholeFile(path);

  ASSERT_TRUE(h.pager().BeginWrite().ok());
  jet::IndexNodeCache cache;
  // Into the middle of the damaged leaf, twice: the second time its node comes from the cache.
  const std::string inside = p.entries[p.entries.size() / 2].key;
  for (uint8_t r : {200, 201}) {
    ASSERT_TRUE(velloran_test::FailsWith(jet::InsertIndexEntry(h.pager(), h.def, h.Index("Num"), inside, {60000, r}, &cache), ErrorCode::kInvalidArgument));
  }
  h.pager().Rollback();
  h.db.reset();
  EXPECT_TRUE(velloran_test::ReadWholeFile(path) == damaged);
}

// ---------------------------------------------------------------------------------------------
// The index writer's cache of decoded pages must never hand back a page that changed since it was
// kept: whatever changes an index behind the cache's back (a change made without it, a write rolled
// back) must leave the index exactly as if there were no cache at all. (Pages kept across writes
// while another handle or a rolled-back write changes them: ReadIsolation, IoFaults, PagerWrite,
// SchemaRandom.)
namespace node_cache {

using jet::RowId;

struct Entry { std::string key; RowId row; };

// Inserts and deletes entries of MyList's Song index in two writes, the first rolled back and
// done again. `use_cache(i)` says whether change i goes through the cache; the cache lives across
// both writes. Returns the file's bytes afterwards and the entries the index should hold.
std::string ChangeTheSongIndex(const std::string& path, uint64_t seed, const std::function<bool(int)>& use_cache, Model* expected) {
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
    Entry e{TextKey(jet::FromUtf8(title)), RowId{5000 + static_cast<uint32_t>(i / 200), static_cast<uint8_t>(i % 200)}};
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
  for (const Entry& e : added) expected->insert({e.key, e.row.page, e.row.row});
  return velloran_test::ReadWholeFile(path);
}

TEST(IndexNodeCache, ChangesBehindTheCacheAreNeverMissed) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const uint64_t seed = 4242;
  Model expected, unused;
  std::string plain = ChangeTheSongIndex(scratch.CopyFixture("generated/songsV2000.mdb", "plain.mdb"), seed, [](int) { return false; }, &expected);
  // Every third change goes around the cache, so the cache keeps meeting pages changed without it.
  std::string mixed = ChangeTheSongIndex(path, seed, [](int i) { return i % 3 != 0; }, &unused);
  ASSERT_EQ(plain.size(), mixed.size());
  EXPECT_TRUE(plain == mixed) << "the index written partly through the cache differs from the one written without it";

  // And the index holds exactly the fixture's entries plus the ones added and not deleted, in key order.
  Handle h = OpenForWrite(path, "MyList");
  const std::vector<::Entry> walked = Walk(h.pager(), h.def, h.Index("Song"));
  size_t ours = 0;
  for (const ::Entry& e : walked) ours += expected.count(e);
  for (size_t i = 1; i < walked.size(); ++i)
    EXPECT_LE(jet::CompareKeys(std::get<0>(walked[i - 1]), std::get<0>(walked[i])), 0) << "out of order at " << i;
  EXPECT_EQ(ours, expected.size());
  EXPECT_EQ(walked.size(), 500 + expected.size());
}

// The cache holds a bounded number of nodes, letting the least recently kept go first.
TEST(IndexNodeCache, KeepsAtMostItsBoundAndTheLatestNodes) {
  jet::IndexNodeCache cache;
  const uint32_t total = static_cast<uint32_t>(jet::IndexNodeCache::kMaxKept) * 2;
  for (uint32_t page = 1; page <= total; ++page) {
    cache.Keep(std::make_unique<jet::IndexNode>(jet::IndexNode{.number = page, .entries = std::vector<jet::IndexEntry>(3)}));
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

}  // namespace node_cache

}  // namespace
