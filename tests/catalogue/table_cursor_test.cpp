// Table sets walk a cursor over the table's order instead of listing its rows, so what a move
// costs does not grow with the table. The index entry cursor counts the entries it moves onto and
// the index pages it reads; the tests hold those counts to what one root-to-leaf path costs.

#include <algorithm>
#include <string>
#include <vector>

#include "jet/table/index_cursor.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/catalogue/scripted_host.h"

namespace velloran {
namespace {

using velloran_test::ScratchDir;

constexpr int kSongs = 20000;
constexpr int kUnnumbered = 5000;  // every fourth song has no ID

// Song i's ID (distinct for every i, as 7919 and kSongs share no factor); none for every fourth.
int64_t IdOf(int i) { return (int64_t{i} * 7919) % kSongs + 1; }

std::vector<int64_t> SortedIds() {
  std::vector<int64_t> ids;
  for (int i = 0; i < kSongs; ++i)
    if (i % 4 != 0) ids.push_back(IdOf(i));
  std::sort(ids.begin(), ids.end());
  return ids;
}

// A song table as the program designs it (a plain index on ID, which lets IDs be empty), filled
// in one write: song i is titled "Song i"; IDs are given out of insertion order.
std::string BuildSongTable(const ScratchDir& folder) {
  const std::string path = folder.File("many.mdb");
  Connection::Create(path);
  {
    auto db = Connection::Open(path);
    db->CreateTable("MyList", {NewField{"ID", FieldType::kLong}, NewField{"Song", FieldType::kText, 50}});
    db->AppendIndex("MyList", NewIndex{"PrimaryKey", {"ID"}});
  }
  const jet::Status filled = velloran_test::WithTableWriter(path, "MyList", [](jet::TableWriter& writer) -> jet::Status {
    for (int i = 0; i < kSongs; ++i) {
      jet::Value id = i % 4 == 0 ? jet::Value(jet::Null{}) : jet::Value(IdOf(i));
      JET_RETURN_IF_ERROR(writer.Insert({id, jet::Value(jet::FromUtf8("Song " + std::to_string(i)))}).status());
    }
    return jet::Status::Ok();
  });
  EXPECT_TRUE(filled.ok()) << filled.error().message();
  return path;
}

struct Cost { uint64_t entries = 0; uint64_t pages = 0; };

template <typename Work>
Cost CostOf(Work work) {
  const jet::IndexCursor::Counters before = jet::IndexCursor::Totals();
  work();
  const jet::IndexCursor::Counters after = jet::IndexCursor::Totals();
  return {after.entries - before.entries, after.pages - before.pages};
}

TEST(TableCursor, MovesCostOnePathAndAKeyEditingWalkMeetsEachRowOnce) {
  ScratchDir folder;
  const std::string path = BuildSongTable(folder);
  auto db = Connection::Open(path);
  auto songs = db->OpenRecordset("MyList");

  // The catalogue check: the ends of the PrimaryKey order, not the rows between them.
  int64_t highest = 0;
  const Cost check = CostOf([&] {
    songs->SelectIndex("PrimaryKey");
    ASSERT_GT(songs->RecordCount(), 0);
    songs->MoveLast();
    highest = songs->Field("ID").ToInteger();
    songs->MoveFirst();
    EXPECT_TRUE(songs->Field("ID").is_null()) << "rows without an ID come first";
  });
  const std::vector<int64_t> ids = SortedIds();
  EXPECT_EQ(highest, ids.back());
  EXPECT_LE(check.entries, 6u) << "first, last and first again, no walk";
  EXPECT_LE(check.pages, 12u) << "a few root-to-leaf paths of a tree over " << kSongs << " entries";
  songs->MoveLast();
  EXPECT_EQ(songs->RecordCount(), kSongs) << "after MoveLast the count is the table's";

  // A seek lands on its row through one path too.
  const Cost seek = CostOf([&] {
    songs->SeekEqual(FieldValue(IdOf(1)));
    ASSERT_FALSE(songs->NoMatch());
    EXPECT_EQ(songs->Field("Song").ToText(), "Song 1");
    songs->MoveNext();
    EXPECT_EQ(songs->Field("ID").ToInteger(), *std::upper_bound(ids.begin(), ids.end(), IdOf(1)));
  });
  EXPECT_LE(seek.entries, 4u);

  // Numbering the rows without an ID in one transaction, as the catalogue check does: each
  // numbered row moves to the end of the order, and the walk goes on with the next empty one.
  // Every Update changes the file, so each MoveNext finds its place again: a path, not a walk.
  std::vector<std::string> numbered;
  const Cost numbering = CostOf([&] {
    songs->MoveFirst();
    db->BeginTrans();
    int64_t next = highest;
    while (!songs->AtEnd() && songs->Field("ID").is_null()) {
      numbered.push_back(songs->Field("Song").ToText());
      velloran_test::Change(*songs, "ID", ++next);
      songs->MoveNext();
    }
    db->CommitTrans();
    ASSERT_FALSE(songs->AtEnd());
    EXPECT_EQ(songs->Field("ID").ToInteger(), ids.front()) << "after the empty IDs comes the smallest";
  });
  // Each row without an ID met once; rows with equal keys lie in row order, which for this table
  // is insertion order.
  std::vector<std::string> unnumbered;
  for (int n = 0; n < kUnnumbered; ++n) unnumbered.push_back("Song " + std::to_string(4 * n));
  EXPECT_EQ(numbered, unnumbered);
  EXPECT_LE(numbering.entries, 4u * kUnnumbered) << "a few entries a row, not the rows before it";
  EXPECT_LE(numbering.pages, 12u * kUnnumbered);

  // The numbers landed on those rows, after the highest ID there was.
  auto fresh = Connection::Open(path);
  EXPECT_TRUE(fresh->OpenRecordset("SELECT ID FROM MyList WHERE ID IS NULL")->AtEnd());
  const std::string numbered_rows = " FROM MyList WHERE ID > " + std::to_string(highest) + " ORDER BY ID";
  EXPECT_EQ(velloran_test::TextsOf(*fresh, "SELECT ID" + numbered_rows), velloran_test::Numbers(highest + 1, highest + kUnnumbered));
  EXPECT_EQ(velloran_test::TextsOf(*fresh, "SELECT Song" + numbered_rows), unnumbered);
}

}  // namespace
}  // namespace velloran
