// The catalogue check a host meets before every search: a missing file, a database not yet set
// up, a table brought up to the program's design, old favourites fields replaced, rows numbered,
// and the Retry/Cancel question while another program holds the table.

#include <algorithm>
#include <map>

#include "catalogue/catalogue_design.h"
#include "tests/catalogue/other_program.h"
#include "tests/catalogue/scripted_host.h"

namespace velloran {
namespace {

using velloran_test::FieldNames;
using velloran_test::Indexes;
using velloran_test::Numbers;
using velloran_test::ProgramEnded;
using velloran_test::ScriptedHost;
using Window = velloran_test::KaraokeWindow;

const char kNotConfigured[] = "This database is not properly configured, launching Table/Field selector.";

// The values of `field` in MyList's rows `where` finds, in its order.
std::vector<std::string> Values(const std::string& path, const std::string& field, const std::string& where) {
  return velloran_test::TextsOf(*Connection::Open(path), "SELECT [" + field + "] FROM [MyList] WHERE " + where);
}

TEST(CheckDatabase, NewDatabaseGetsDefaultsThenTheProgramsTable) {
  Window w;
  const std::string path = w.folder.File("new.mdb");
  Connection::Create(path);
  w.Use(path, "");
  w.host.selector = [&] { w.form.Databases.current().Table = ""; };  // a selector that leaves no table
  EXPECT_FALSE(w.form.CheckDatabase());
  EXPECT_EQ(w.host.messages, (std::vector<std::string>{kNotConfigured, "Database not ready for use!"}));

  // The host closes the selector without choosing anything: the check goes on with the defaults
  // and makes the table itself, without the indexes on fields it does not have.
  w.host.selector = nullptr;
  w.host.messages.clear();
  EXPECT_TRUE(w.form.CheckDatabase());
  EXPECT_EQ(w.host.messages, std::vector<std::string>{kNotConfigured});
  EXPECT_EQ(std::pair(w.host.selector_shown, w.host.select_enabled), std::pair(2, 1));
  EXPECT_EQ(w.form.Databases.current(), (DatabaseEntry{path, "MyList", "Artist", "Song", "SongNumber", "DiskID"}));
  auto db = Connection::Open(path);
  EXPECT_EQ(FieldNames(*db, "MyList"), (std::vector<std::string>{"ID", "HotlistA", "PrintYN"}));
  EXPECT_EQ(Indexes(*db, "MyList"), (std::map<std::string, std::vector<std::string>>{
                                        {"HotlistA", {"HotlistA"}}, {"PrimaryKey", {"ID"}}}));
  db->Close();

  // Now the host's selector creates the mapped fields, as the real selector does.
  w.host.messages.clear();
  w.host.selector = [&] {
    auto db = Connection::Open(path);
    CatalogueDesign design(*db, w.host);
    design.CreateField("MyList", "SongNumber", kTypeLong, 0);
    for (const char* field : {"DiskID", "Song", "Artist"}) design.CreateField("MyList", field, kTypeText, 255);
    db->Close();
  };
  EXPECT_TRUE(w.form.CheckDatabase());
  EXPECT_EQ(w.host.messages, std::vector<std::string>{kNotConfigured});
  db = Connection::Open(path);
  EXPECT_EQ(db->TableDef("MyList").fields.size(), 7u);
  for (const FieldInfo& f : db->TableDef("MyList").fields) EXPECT_TRUE(f.type != FieldType::kText || f.allow_zero_length) << f.name;
  EXPECT_EQ(Indexes(*db, "MyList").size(), 5u);
  db->Close();

  // In shape: no message, no selector, nothing changes.
  w.host.messages.clear();
  EXPECT_TRUE(w.form.CheckDatabase());
  EXPECT_EQ(std::pair(w.host.messages.size(), w.host.selector_shown), std::pair(size_t{0}, 3));
}

TEST(CheckDatabase, OldFavouritesFieldIsReplacedAndRowsWithoutIdAreNumbered) {
  REQUIRE_SHARED_FIXTURES();
  Window w;
  const std::string path = w.folder.CopyOfSongs();
  {
    // The older design: favourites in "Hotlist", no print flag.
    auto db = Connection::Open(path);
    ScriptedHost host;
    CatalogueDesign design(*db, host);
    design.DropIndex("MyList", "HotlistA");
    design.DeleteField("MyList", "HotlistA");
    design.DeleteField("MyList", "PrintYN");
    design.CreateField("MyList", "Hotlist", kTypeText, 10);
    design.CreateIndex("MyList", "Hotlist", "Hotlist");
    EXPECT_TRUE(design.IndexExists("MyList", "Hotlist"));
    EXPECT_TRUE(host.messages.empty());
    db->Close();
  }
  const std::vector<std::string> unnumbered = Values(path, "SongNumber", "[ID] Is Null");  // in storage order
  ASSERT_EQ(unnumbered.size(), 13u);

  w.Use(path);
  EXPECT_TRUE(w.form.CheckDatabase());
  EXPECT_TRUE(w.host.messages.empty());

  auto db = Connection::Open(path);
  std::vector<std::string> fields = FieldNames(*db, "MyList");
  EXPECT_EQ(std::vector<std::string>(fields.end() - 2, fields.end()), (std::vector<std::string>{"HotlistA", "PrintYN"}));
  EXPECT_EQ(std::count(fields.begin(), fields.end(), "Hotlist"), 0);
  auto indexes = Indexes(*db, "MyList");
  EXPECT_EQ(indexes.count("Hotlist"), 0u);
  EXPECT_EQ(indexes["HotlistA"], std::vector<std::string>{"HotlistA"});
  db->Close();

  // 501, 502, ... in the order the PrimaryKey index yields the empty IDs: the table's order.
  EXPECT_EQ(Values(path, "ID", "[ID] > 500 ORDER BY [ID]"), Numbers(501, 513));
  EXPECT_EQ(Values(path, "SongNumber", "[ID] > 500 ORDER BY [ID]"), unnumbered);
  EXPECT_TRUE(Values(path, "ID", "[ID] Is Null").empty());
}

TEST(CheckDatabase, TableWithoutAnyIdIsNumberedFromOne) {
  REQUIRE_SHARED_FIXTURES();
  Window w;
  const std::string path = w.folder.CopyOfSongs();
  w.Use(path);
  Connection::Open(path)->Execute("UPDATE [MyList] SET [ID] = Null");
  ASSERT_TRUE(w.form.CheckDatabase());
  EXPECT_EQ(Values(path, "ID", "[ID] Is Not Null ORDER BY [ID]"), Numbers(1, 500)) << "every one of the 500 songs numbered";
}

TEST(CatalogueDesign, NamesAndIndexesAsTheProgramAsksForThem) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", folder, path);
  auto db = Connection::Open(path);
  ScriptedHost host;
  CatalogueDesign design(*db, host);

  // (Names in any letter case: ObjectNames in the host fault tests.)
  EXPECT_EQ(std::tuple(design.FieldExists("MyList", "Genre"), design.FieldExists("Nothing", "ID"), design.IndexExists("MyList", "PrimaryKey"),
                       design.IndexExists("MyList", "primarykey"), design.IndexExists("Nothing", "PrimaryKey")),
            std::tuple(false, false, true, false, false));  // index names match exactly

  // An index on a field the table lacks is skipped without a word; so is one that exists.
  design.CreateIndex("MyList", "Genre", "Song,Genre");
  EXPECT_FALSE(design.IndexExists("MyList", "Genre"));
  design.CreateIndex("MyList", "SongArtist", "Song,Artist");
  EXPECT_EQ(Indexes(*db, "MyList")["SongArtist"], (std::vector<std::string>{"Song", "Artist"}));
  design.CreateIndex("Nothing", "X", "ID");
  EXPECT_EQ(host.messages, std::vector<std::string>{"ERROR! Table not found in database, cannot create index."});

  // A field for a missing table makes the table, with its ID first.
  design.CreateField("Extra", "Notes", kTypeMemo);
  EXPECT_EQ(FieldNames(*db, "Extra"), (std::vector<std::string>{"ID", "Notes"}));
  EXPECT_TRUE(db->TableDef("Extra").fields[1].allow_zero_length);
  design.CreateField("Extra", "notes", kTypeText, 20);  // already there, in another letter case
  EXPECT_EQ(FieldNames(*db, "Extra").size(), 2u);
  design.DropIndex("MyList", "SongArtist");
  design.DropIndex("MyList", "SongArtist");  // gone: nothing to do
  EXPECT_FALSE(design.IndexExists("MyList", "SongArtist"));
  design.DeleteField("Extra", "Notes");
  EXPECT_EQ(FieldNames(*db, "Extra"), std::vector<std::string>{"ID"});
  db->Close();
}

// Another program writing holds the table: the host is asked until it lets go, or cancels.
TEST(CatalogueDesign, HeldTableAsksRetryUntilFreeAndCancelEndsTheProgram) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", folder, path);
  const std::string question = "Unable to modify database design, close all access to the database and try again.";
  auto db = Connection::Open(path);
  auto writer = velloran_test::AnotherProgramWriting(path);
  ASSERT_NE(writer, nullptr);
  ScriptedHost host;
  host.answers = {MessageAnswer::kRetry, MessageAnswer::kRetry};
  host.on_message = [&] { if (host.messages.size() == 2) writer.reset(); };  // it lets go while asked again
  EXPECT_TRUE(CatalogueDesign(*db, host).FieldExists("MyList", "Song"));
  EXPECT_EQ(host.messages, (std::vector<std::string>{question, question}));

  writer = velloran_test::AnotherProgramWriting(path);
  ASSERT_NE(writer, nullptr);
  ScriptedHost cancelling;
  cancelling.answers = {MessageAnswer::kRetry, MessageAnswer::kCancel};
  EXPECT_THROW(CatalogueDesign(*db, cancelling).FieldExists("MyList", "Song"), ProgramEnded);
  EXPECT_EQ(cancelling.messages.size(), 2u);
}

}  // namespace
}  // namespace velloran
