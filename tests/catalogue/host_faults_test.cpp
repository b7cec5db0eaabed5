// What a host meets beyond the program's own song table: a table whose fields are mapped to other
// names, object names written in another letter case, and engine errors in the middle of a
// search, a print-flag toggle and the numbering of a table's rows.

#include <fstream>
#include <optional>

#include "catalogue/catalogue_design.h"
#include "jet/database.h"
#include "jet/sql/sql_select.h"
#include "tests/catalogue/other_program.h"
#include "tests/catalogue/scripted_host.h"
#include "tests/jet/faulty_os.h"

namespace velloran {
namespace {

using velloran_test::ErrorOf;
using velloran_test::ExpectError;
using velloran_test::ReadWholeFile;
using velloran_test::ScratchDir;
using velloran_test::ScriptedHost;
using Window = velloran_test::KaraokeWindow;

// The operating system with a disk that can fill up: while `full`, every write of a file opened
// through it fails as a disk with no room left does, while reads and everything else go on.
struct FullDisk {
  bool full = true;
  velloran_test::FaultyOs os{[this](velloran_test::DiskCall call) { return full && call == velloran_test::DiskCall::kWrite ? ENOSPC : 0; }};
  jet::Os* previous = jet::Os::SetDefaultForTesting(&os);
  ~FullDisk() { jet::Os::SetDefaultForTesting(previous); }
};

TEST(FieldMapping, SearchListAndIndexesUseTheMappedFields) {
  Window w;
  const std::string path = w.folder.File("tunes.mdb");
  Connection::Create(path);
  {
    std::unique_ptr<Connection> db = Connection::Open(path);
    db->CreateTable("Tunes", {NewField{"Title"}, NewField{"Performer"}, NewField{"Num", FieldType::kLong}, NewField{"Disc"}});
    std::unique_ptr<Recordset> rows = db->OpenRecordset("Tunes");
    for (const auto& [title, performer, num, disc] : {std::tuple{"Lovesick", "Anna", 3, "D-3"}, std::tuple{"Blue", "Lovejoy", 1, "D-1"},
                                                      std::tuple{"Rain", "Cole", 2, "D-2"}})
      velloran_test::AddRow(*rows, {{"Title", title}, {"Performer", performer}, {"Num", num}, {"Disc", disc}});
  }
  w.Use(DatabaseEntry{path, "Tunes", "Performer", "Title", "Num", "Disc"});
  ASSERT_TRUE(w.form.CheckDatabase());
  w.Search("love");  // titles and performers, sorted by title
  EXPECT_EQ(w.Songs(), (std::vector<std::string>{"Blue", "Lovesick"}));
  EXPECT_EQ(w.form.Results[2], (ResultRow{1, "D-3", "3", "Lovesick", "Anna", false}))
      << "every mapped field, and the program's own ID, comes across";
  w.Search("2");  // song numbers from 2 up, in number order
  EXPECT_EQ(w.Songs(), (std::vector<std::string>{"Rain", "Lovesick"}));
  EXPECT_TRUE(w.host.messages.empty());
  // The indexes that serve the searches are on the mapped fields.
  EXPECT_EQ(velloran_test::Indexes(*Connection::Open(path), "Tunes"),
            (std::map<std::string, std::vector<std::string>>{
                {"Artist", {"Performer"}}, {"HotlistA", {"HotlistA"}}, {"PrimaryKey", {"ID"}}, {"Song", {"Title"}}, {"SongNumber", {"Num"}}}));
}

// A name matches whatever its letters' case, accented letters included, in every lookup: the
// engine's own, its queries' and the program's design checks. Accents still tell names apart.
TEST(ObjectNames, EveryLookupFoldsLetterCaseOneWay) {
  ScratchDir folder;
  const std::string path = folder.File("names.mdb");
  Connection::Create(path);
  std::unique_ptr<Connection> db = Connection::Open(path);
  db->CreateTable("Ärger", {NewField{"Größe"}});
  db->CreateTable("Ärger2", {NewField{"A"}});
  db->CreateTable("Arger", {NewField{"A"}});  // another name: the accent counts
  EXPECT_EQ(ErrorOf([&] { db->CreateTable("ÄRGER", {NewField{"A"}}); }).kind(), EngineError::Kind::kInvalid);

  const velloran_test::LoadedTable read = velloran_test::LoadTable(path, "ärger", false);  // as `velloran-jet export FILE ärger` reads it
  EXPECT_EQ(read.def.name, "Ärger");
  EXPECT_NE(read.def.FindColumn("GRÖßE"), nullptr);

  EXPECT_EQ(db->TableDef("ärger").name, "Ärger");
  EXPECT_EQ(db->OpenRecordset("ärger")->Fields().at(0).name, "Größe");
  EXPECT_EQ(db->OpenRecordset("SELECT [größe] FROM ärger")->Fields().at(0).name, "Größe");
  ScriptedHost host;
  CatalogueDesign design(*db, host);
  EXPECT_EQ(std::tuple(design.TableExists("ärger"), design.FieldExists("ärger", "GRÖßE"), design.TableExists("Ärgers")), std::tuple(true, true, false));
}

// Gives a data page a row count that cannot fit it: any read of its rows meets the damage.
void DamagePage(const std::string& path, uint32_t page) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(page) * 4096 + 12);
  file.write("\xFF\x0F", 2);
}

// The data pages of MyList: the one holding its first row in storage order, the last one, and
// those holding songs that have no ID yet.
struct SongPages { std::vector<uint32_t> without_id; uint32_t first = 0; uint32_t last = 0; };
SongPages PagesOfSongs(const std::string& path) {
  SongPages pages;
  EXPECT_OK_LET(db, jet::Database::Open(path));
  jet::ReadScope scope(db.value()->pager());
  EXPECT_OK_LET(all, jet::ExecuteSelect(*db.value(), "SELECT ID FROM MyList"));
  for (bool first = true; all.value()->Next().value(); first = false) {
    if (first) pages.first = all.value()->row_id().page;
    pages.last = std::max(pages.last, all.value()->row_id().page);
    if (std::holds_alternative<jet::Null>(all.value()->values()[0])) pages.without_id.push_back(all.value()->row_id().page);
  }
  return pages;
}

bool PrintFlagOfSong5(const std::string& path) {
  return Connection::Open(path)->OpenRecordset("SELECT PrintYN FROM MyList WHERE ID = 5")->Field("PrintYN").ToBool();
}

// A print-flag toggle that cannot be written says why and what to do, changes nothing, and the
// same pending change goes through once the obstacle is gone: another program's write, a full disk.
TEST(EngineFaults, AToggleThatCannotBeWrittenSaysSoChangesNothingAndSucceedsLater) {
  ScratchDir folder;
  const std::string path = folder.CopyOfSongs();
  const bool before = PrintFlagOfSong5(path);
  const std::string before_bytes = ReadWholeFile(path);
  FullDisk disk;  // the handle opens its files through it
  disk.full = false;
  std::unique_ptr<Connection> db = Connection::Open(path);
  std::unique_ptr<Recordset> rows = db->OpenRecordset("MyList");
  rows->SelectIndex("PrimaryKey");
  rows->SeekEqual(FieldValue(int32_t{5}));
  ASSERT_FALSE(rows->NoMatch());
  rows->Edit();
  rows->SetField("PrintYN", !before);
  {
    auto writer = velloran_test::AnotherProgramWriting(path);
    ASSERT_NE(writer, nullptr);
    ExpectError([&] { rows->Update(); }, EngineError::Kind::kInUse, "try again");
  }
  disk.full = true;
  ExpectError([&] { rows->Update(); }, EngineError::Kind::kFailed, "disk is full");
  EXPECT_EQ(ReadWholeFile(path), before_bytes);
  EXPECT_EQ(PrintFlagOfSong5(path), before) << "the failed write left nothing behind in this process either";
  disk.full = false;
  rows->Update();  // the pending change survived the failed writes
  EXPECT_EQ(PrintFlagOfSong5(path), !before);
}

// A damaged page met by the numbering of the rows without an ID, and one met by a search: each
// ends its work with an error that names the file and says to repair it, and changes nothing; once
// the file is sound again the same window works on.
TEST(EngineFaults, DamagedPagesEndTheNumberingAndTheSearchWithAMessageAndChangeNothing) {
  Window w;
  const std::string path = w.folder.CopyOfSongs();
  w.Use(path);
  const std::vector<uint8_t> sound = velloran_test::ReadBytes(path);
  SongPages pages = PagesOfSongs(path);
  ASSERT_GT(pages.without_id.size(), 1u);
  std::optional<uint32_t> later;  // a page the numbering reaches after it numbered some rows
  for (uint32_t p : pages.without_id) if (p != pages.without_id.front() && p != pages.first) later = p;
  ASSERT_TRUE(later.has_value());
  DamagePage(path, *later);
  const std::string damaged = ReadWholeFile(path);
  ExpectError([&] { w.form.CheckDatabase(); }, EngineError::Kind::kDamaged, "repair");
  EXPECT_EQ(ReadWholeFile(path), damaged) << "all or nothing: the rows numbered before the damage was met have no ID either";
  velloran_test::WriteBytes(path, sound);
  w.Search("love");  // numbers the rows first
  const std::vector<std::string> found = w.Songs();
  ASSERT_GT(found.size(), 10u);
  EXPECT_TRUE(Connection::Open(path)->OpenRecordset("SELECT ID FROM MyList WHERE ID IS NULL")->AtEnd());

  const std::vector<uint8_t> numbered = velloran_test::ReadBytes(path);
  pages = PagesOfSongs(path);
  ASSERT_NE(pages.last, pages.first);
  DamagePage(path, pages.last);
  // Met while the song texts are gathered, and by a walk of the numbers among rows it has shown.
  for (const char* search : {"love", "1"}) {
    SCOPED_TRACE(search);
    const EngineError error = ErrorOf([&] { w.Search(search); });
    EXPECT_EQ(error.kind(), EngineError::Kind::kDamaged);
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("repair"), std::string::npos) << "says what to do: " << error.what();
  }
  velloran_test::WriteBytes(path, numbered);
  w.Search("love");
  EXPECT_EQ(w.Songs(), found);
}

}  // namespace
}  // namespace velloran
