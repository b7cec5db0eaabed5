// Changing the design of tables that hold rows: columns and indexes added and dropped, tables
// dropped with everything that points to them. Starts from copies of the fixtures and from new
// databases; every result passes the check that verifies each index entry against its row.
#include <gtest/gtest.h>

#include "jet/schema/create_database.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/table_def_writer.h"
#include "tests/jet/schema_test_support.h"

namespace {

using namespace schema_test;
using velloran_test::ScratchDir;

Value TextValue(const std::string& s) { return Value(jet::FromUtf8(s)); }

// Columns added to a table with rows leave the rows where they are (old rows read them as NULL,
// a Boolean as No: SchemaRandom); an autonumber or a required column cannot be added to them.
TEST(AlterTable, AddColumnsToATableWithRows) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  auto data_pages = [&] {
    auto pager = jet::Pager::Open(path);
    return jet::ReadUsageMap(*pager.value(), TableNamed(*pager.value(), "MyList").owned_pages_map)->size();
  };
  const size_t data_pages_before = data_pages();
  ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
  for (const jet::ColumnDesign& c : {Column("Genre", ColumnType::kText, 50), Column("Plays", ColumnType::kLong),
                                   Column("Karaoke", ColumnType::kBoolean), Column("Lyrics", ColumnType::kMemo)}) {
    ASSERT_OK_LET(added, jet::AddColumn(*db.value(), "MyList", c));
  }
  const jet::ColumnDesign counter{.name = "Counter", .type = ColumnType::kLong, .autonumber = true}, required{.name = "Must", .required = true};
  EXPECT_EQ(jet::AddColumn(*db.value(), "MyList", counter).error().code(), jet::ErrorCode::kInvalidArgument);
  EXPECT_EQ(jet::AddColumn(*db.value(), "MyList", required).error().code(), jet::ErrorCode::kConstraint);
  db.value().reset();
  EXPECT_EQ(Problems(path), std::vector<std::string>());
  EXPECT_EQ(data_pages(), data_pages_before) << "rows were rewritten";
}

TEST(AlterTable, AddIndexFillsItFromTheRowsOrChangesNothing) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
  for (const jet::IndexDesign& index :
       {Index("ArtistSong", {{"Artist"}, {"Song", false}}), Index("ByDisk", {{"DiskID"}}), Index("SongNumberToo", {{"SongNumber"}})})
    ASSERT_TRUE(jet::AddIndex(*db.value(), "MyList", index).ok()) << index.name;
  db.value().reset();
  const std::string good = ReadWholeFile(path);
  EXPECT_EQ(Problems(path), std::vector<std::string>());  // every entry checked against its row
  {
    const velloran_test::LoadedTable songs = velloran_test::LoadTable(path, "MyList", false);
    const jet::TableDef& def = songs.def;
    const jet::LogicalIndex* artist_song = def.FindIndex("ArtistSong");
    ASSERT_NE(artist_song, nullptr);
    const jet::PhysicalIndex& filled = def.physical_indexes[artist_song->physical_index];
    // The check above held every entry to its row, so the entries' distinct keys are the rows'.
    std::set<std::string> keys;
    for (jet::IndexCursor c(songs.db->pager(), def.page, filled); c.Next().value();) keys.insert(c.entry().key);
    EXPECT_EQ(filled.unique_entry_count, keys.size());
    EXPECT_FALSE(filled.columns[1].ascending);
    EXPECT_EQ(def.FindIndex("SongNumberToo")->physical_index, def.FindIndex("SongNumber")->physical_index);  // shared
    EXPECT_EQ(def.physical_indexes.size(), 7u);
  }
  db = jet::WritableDatabase::Open(path);
  // A unique index on a repeated artist; a primary key on hotlists, some of them NULL.
  for (const jet::IndexDesign& index : {Index("OneArtist", {{"Artist"}}, false, true), Index("ByHotlist", {{"HotlistA"}}, true)}) {
    ASSERT_TRUE(velloran_test::FailsWith(jet::AddIndex(*db.value(), "MyList", index), jet::ErrorCode::kConstraint)) << index.name;
  }
  db.value().reset();
  EXPECT_TRUE(ReadWholeFile(path) == good) << "a refused change altered the file";
}

TEST(AlterTable, DropColumnsAndIndexes) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  std::vector<uint32_t> song_pages;  // the dropped index's pages, its root among them
  {
    auto pager = jet::Pager::Open(path);
    jet::TableDef def = TableNamed(*pager.value(), "MyList");
    const jet::PhysicalIndex& song = def.physical_indexes[def.FindIndex("Song")->physical_index];
    song_pages = jet::ReadUsageMap(*pager.value(), song.usage_map).value();
    song_pages.push_back(song.root_page);
  }
  ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
  EXPECT_EQ(jet::DropColumn(*db.value(), "MyList", "Song").error().code(), jet::ErrorCode::kInvalidArgument);
  ASSERT_TRUE(jet::AddIndex(*db.value(), "MyList", Index("SongNumberToo", {{"SongNumber"}})).ok());
  ASSERT_TRUE(jet::DropIndex(*db.value(), "MyList", "Song").ok());
  ASSERT_TRUE(jet::DropColumn(*db.value(), "MyList", "song").ok());
  ASSERT_TRUE(jet::DropIndex(*db.value(), "MyList", "SongNumber").ok());  // its twin keeps the tree
  ASSERT_TRUE(InsertAll(*db.value(), "MyList", {{int64_t{7000}, int64_t{1}, TextValue("SC1"), TextValue("Someone"), Value(true), TextValue("x")}}).ok());
  db.value().reset();

  EXPECT_EQ(Problems(path), std::vector<std::string>());
  auto pager = jet::Pager::Open(path);
  jet::TableDef def = TableNamed(*pager.value(), "MyList");
  EXPECT_EQ(def.max_columns, 7);  // column numbers are never reused
  EXPECT_EQ(def.FindColumn("Song"), nullptr);
  EXPECT_EQ(def.FindColumn("Artist")->number, 4);
  std::vector<std::string> names;
  for (const jet::LogicalIndex& li : def.logical_indexes) names.push_back(li.name + "#" + std::to_string(li.number));
  EXPECT_EQ(names, (std::vector<std::string>{"PrimaryKey#0", "Artist#1", "HotlistA#2", "SongNumberToo#3"}));
  EXPECT_EQ(def.physical_indexes.size(), 4u);
  std::set<uint32_t> free = FreePages(*pager.value());
  for (uint32_t page : song_pages) EXPECT_EQ(free.count(page), 1u) << "page " << page << " of the dropped index";
  // (Rows written and read after columns and indexes are dropped: SchemaRandom.)
}

TEST(DropTable, RemovesItsRowsAndReleasesEveryPage) {
  ScratchDir scratch;
  std::string path = scratch.path() + "/drop.mdb";
  ASSERT_TRUE(jet::CreateDatabase(path).ok());
  jet::TableDesign design{"Gone", {Column("ID", ColumnType::kLong), Column("Name", ColumnType::kText), Column("Notes", ColumnType::kMemo)},
                      {Index("PrimaryKey", {{"ID"}}, true), Index("Name", {{"Name"}})}};
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < 400; ++i) rows.push_back({int64_t{i}, TextValue("name " + std::to_string(i)), TextValue(std::string(200 + i, 'm'))});
  {
    auto db = jet::WritableDatabase::Open(path);
    ASSERT_TRUE(jet::CreateTable(*db.value(), design).ok());
    ASSERT_TRUE(jet::CreateTable(*db.value(), {"Kept", {Column("A", ColumnType::kLong)}, {Index("A", {{"A"}})}}).ok());
    ASSERT_TRUE(InsertAll(*db.value(), "Gone", rows).ok());
    ASSERT_TRUE(InsertAll(*db.value(), "Kept", {{int64_t{1}}, {int64_t{2}}}).ok());
  }
  // Every page the table owns: its definition, its page of usage maps, and what each map lists.
  std::set<uint32_t> owned;
  uint32_t gone_page = 0;
  {
    ASSERT_OK_LET(pager, jet::Pager::Open(path));
    jet::TableDef gone = TableNamed(*pager.value(), "Gone");
    gone_page = gone.page;
    ASSERT_OK_LET(stored, jet::ReadStoredTableDef(*pager.value(), gone.page));
    owned.insert(gone.page);
    owned.insert(jet::RowPointerPage(gone.owned_pages_map));
    std::vector<uint32_t> maps = {gone.owned_pages_map};
    for (const jet::PhysicalIndex& index : gone.physical_indexes) maps.push_back(index.usage_map);
    for (const jet::LongValueMapRef& ref : stored->extras.long_value_maps) maps.push_back(ref.owned);
    for (uint32_t map : maps)
      for (uint32_t p : UsagePages(*pager.value(), map)) owned.insert(p);
  }
  ASSERT_GT(owned.size(), 30u);  // 400 rows with memos: data, long-value and index pages
  {
    auto db = jet::WritableDatabase::Open(path);
    ASSERT_OK_LET(dropped, jet::DropTable(*db.value(), "gone"));
  }
  EXPECT_EQ(Problems(path), std::vector<std::string>());
  auto pager = jet::Pager::Open(path);
  std::set<uint32_t> free = FreePages(*pager.value());
  for (uint32_t p : owned) {
    EXPECT_EQ(free.count(p), 1u) << "page " << p << " was not released";
    EXPECT_EQ(pager.value()->ReadPage(p).value()[0], 0) << "page " << p << " was not cleared";
  }
  jet::TableDef objects = TableNamed(*pager.value(), "MSysObjects"), aces = TableNamed(*pager.value(), "MSysACEs");
  for (const auto& row : ReadRows(*pager.value(), objects)) EXPECT_NE(IntOf(jet::ColumnValue(objects, row, "Id")), gone_page);
  for (const auto& row : ReadRows(*pager.value(), aces)) EXPECT_NE(IntOf(jet::ColumnValue(aces, row, "ObjectId")), gone_page);
  EXPECT_EQ(ReadRows(*pager.value(), TableNamed(*pager.value(), "Kept")).size(), 2u);
  // (A dropped table's name taken again: SchemaRandom.)
}

// Relationships: dropping either side removes the relationship rows and the other side's entries.
TEST(DropTable, TakesItsRelationshipsAlong) {
  COPY_FIXTURE_OR_SKIP("access/indexTestV2003.mdb", scratch, path);
  ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
  EXPECT_EQ(jet::DropIndex(*db.value(), "Table1", "id").error().code(), jet::ErrorCode::kUnsupported);
  ASSERT_TRUE(jet::DropTable(*db.value(), "Table2").ok());
  const jet::TableDef table1 = TableNamed(db.value()->pager(), "Table1");
  EXPECT_EQ(table1.FindIndex("Table2Table1"), nullptr);
  EXPECT_NE(table1.FindIndex("Table3Table1"), nullptr);
  ASSERT_TRUE(jet::DropTable(*db.value(), "Table1").ok());
  for (const jet::LogicalIndex& li : TableNamed(db.value()->pager(), "Table3").logical_indexes) EXPECT_FALSE(li.foreign_key()) << li.name;
  EXPECT_EQ(ReadRows(db.value()->pager(), TableNamed(db.value()->pager(), "MSysRelationships")).size(), 0u);
  ASSERT_TRUE(jet::DropIndex(*db.value(), "Table3", "id").ok());  // no relationship left
  db.value().reset();
  EXPECT_EQ(Problems(path), std::vector<std::string>());
  if (Have("mdb-tables")) {
    std::string tables;
    EXPECT_EQ(RunCommand("mdb-tables -1 '" + path + "'", &tables), 0);
    EXPECT_EQ(tables, "Table3\n");
  }
}

}  // namespace
