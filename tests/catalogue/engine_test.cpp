// The program's database interface over real Access files: query walks, table sets with seek and
// edit, adding rows, action statements, design changes, Access 97 files, sharing one file between
// connections and processes. Every test works on copies in a scratch folder.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <tuple>

#include "tests/catalogue/other_program.h"
#include "tests/catalogue/scripted_host.h"

namespace velloran {
namespace {

using velloran_test::Change;
using velloran_test::ErrorOf;
using velloran_test::ExpectError;
using velloran_test::InAnotherProcess;
using velloran_test::RowOf;
using velloran_test::ScratchDir;
using Kind = EngineError::Kind;
using Row = std::vector<FieldValue>;
using NamedValues = std::vector<std::pair<std::string, FieldValue>>;  // fields by name

constexpr char kSongs[] = "generated/songsV2000.mdb";

std::string Song42(Connection& db) { return db.OpenRecordset("SELECT Song FROM MyList WHERE ID = 42")->Field("Song").ToText(); }

// Walks a set from its first row, calling `visit` on each.
int64_t Walk(Recordset& set, const std::function<void(Recordset&)>& visit = nullptr) {
  int64_t rows = 0;
  for (set.MoveFirst(); !set.AtEnd(); set.MoveNext(), ++rows)
    if (visit) visit(set);
  return rows;
}

int64_t CountWhere(Connection& db, const std::string& condition) {
  auto set = db.OpenRecordset("SELECT ID FROM MyList WHERE " + condition);
  set->MoveLast();
  return set->RecordCount();
}

// Deletes the songs of MyList whose number is `doomed` or, with `lengthen`, gives them titles too
// long for their pages' room, so that their rows move; through database handles of its own (the
// program has no way to delete rows).
void DeleteSongs(const std::string& path, const std::function<bool(int64_t)>& doomed, bool lengthen = false) {
  const velloran_test::LoadedTable songs = velloran_test::LoadTable(path, "MyList");
  const jet::Status status = velloran_test::WithTableWriter(path, "MyList", [&](jet::TableWriter& writer) -> jet::Status {
    for (size_t i = 0; i < songs.rows.size(); ++i) {
      if (!doomed(std::get<int64_t>(songs.at(i, "SongNumber")))) continue;
      std::vector<jet::Value> values = songs.rows[i];
      values[songs.Col("Song")] = jet::Text(255, u'l');
      JET_RETURN_IF_ERROR(lengthen ? writer.Update(songs.ids[i], values) : writer.Delete(songs.ids[i]));
    }
    return jet::Status::Ok();
  });
  ASSERT_TRUE(status.ok()) << status.error().message();
}

TEST(EngineQuery, WalksInOrderAndCountsWhatItVisited) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  // Under a hold of the read lock the moves take a shorter way: both must agree.
  for (bool hold : {false, true}) {
    SCOPED_TRACE(hold ? "holding the read lock" : "taking the read lock per move");
    auto db = hold ? Connection::OpenHoldingReads(path) : Connection::Open(path);
    int64_t elvis = 0;  // the rows the query must find, counted through a table set
    auto table = db->OpenRecordset("MyList");
    Walk(*table, [&](Recordset& s) { elvis += s.Field("Artist").ToText().rfind("Elvis", 0) == 0; });
    ASSERT_GT(elvis, 5);

    auto q = db->OpenRecordset("SELECT SongNumber, Song, Artist FROM MyList WHERE Artist LIKE 'Elvis*' ORDER BY SongNumber DESC");
    ASSERT_EQ(q->Fields().size(), 3u);
    EXPECT_EQ(q->Fields()[0].name, "SongNumber");
    EXPECT_EQ(q->RecordCount(), 1) << "only the first row has been visited";
    std::vector<int64_t> numbers;
    for (; !q->AtEnd(); q->MoveNext()) {
      if (numbers.size() == 5) {
        EXPECT_EQ(q->RecordCount(), 6) << "five moves from the first row visit six rows";
      }
      if (numbers.size() == 2) q->Edit();  // left unwritten: the next move abandons it
      if (numbers.size() == 3) {
        EXPECT_EQ(ErrorOf([&] { q->Update(); }).kind(), Kind::kInvalid);
      }
      EXPECT_EQ(q->Field("artist").ToText().rfind("Elvis", 0), 0u);  // names ignore letter case
      numbers.push_back(q->Field("SongNumber").ToInteger());
    }
    EXPECT_EQ(std::pair(static_cast<int64_t>(numbers.size()), q->RecordCount()), std::pair(elvis, elvis));
    EXPECT_TRUE(std::is_sorted(numbers.rbegin(), numbers.rend()));
    EXPECT_EQ(ErrorOf([&] { q->Field("Song"); }).kind(), Kind::kInvalid) << "no current row at the end";
    q->MoveFirst();
    EXPECT_EQ(q->Field("SongNumber").ToInteger(), numbers.front());
    q->MoveLast();
    EXPECT_EQ(q->Field("SongNumber").ToInteger(), numbers.back());
    EXPECT_EQ(ErrorOf([&] { q->Field("Rating"); }).kind(), Kind::kNotFound);
    EXPECT_EQ(ErrorOf([&] { q->SeekEqual(FieldValue(int64_t{1})); }).kind(), Kind::kInvalid);

    // MoveLast straight after opening reaches the full count; NULL titles sort first.
    auto by_title = db->OpenRecordset("SELECT Song FROM MyList ORDER BY Song");
    std::string copied = "an earlier row's title";  // a NULL copied for a list empties the room
    by_title->CopyTextAt(0, copied);
    EXPECT_EQ(copied, "");
    EXPECT_TRUE(by_title->Field("Song").is_null());
    by_title->MoveLast();
    EXPECT_EQ(by_title->RecordCount(), 500);
    auto none = db->OpenRecordset("SELECT * FROM MyList WHERE SongNumber > 99999");
    none->MoveLast();
    EXPECT_EQ(std::pair(none->AtEnd(), none->RecordCount()), std::pair(true, int64_t{0}));

    db->Close();  // ends its sets
    EXPECT_EQ(ErrorOf([&] { table->MoveFirst(); }).kind(), Kind::kInvalid);
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("MyList"); }).kind(), Kind::kInvalid);
    table->Close();
    EXPECT_EQ(ErrorOf([&] { table->Field("ID"); }).kind(), Kind::kInvalid);
  }
}

// Every field of a row as each kind a list keeps, in one line of text per row.
struct TextRows final : Recordset::CopiedRows {
  explicit TextRows(const std::vector<Recordset::CopiedField>& asked) : fields(asked) {}
  const std::vector<Recordset::CopiedField>& fields;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string*> texts;
  size_t current = 0;
  std::string* const* Start(size_t n) override {
    if (rows.size() <= n) rows.resize(n + 1);
    current = n;
    // As a list's reused room holds: a text not written shows.
    rows[n].resize(fields.size(), "an earlier row's text");
    texts.clear();
    for (std::string& text : rows[n]) texts.push_back(&text);
    return texts.data();
  }
  void Finish(const int64_t* numbers) override {
    using As = Recordset::CopiedField::As;
    for (size_t k = 0; k < fields.size(); ++k) {
      if (fields[k].as == As::kWhole) rows[current][k] = std::to_string(numbers[k]);
      if (fields[k].as == As::kYesNo) rows[current][k] = numbers[k] == 1 ? "yes" : numbers[k] == 0 ? "no" : "neither";
    }
  }
};

// A query set copies rows straight from the file; what it copies and where it ends must be what
// the plain moves give (Recordset::CopyRows), walked from the start or from the middle.
TEST(EngineQuery, CopyingRowsReadsWhatTheMovesRead) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  using As = Recordset::CopiedField::As;
  const std::vector<std::string> queries = {
      "SELECT * FROM MyList WHERE SongNumber >= 1250 ORDER BY SongNumber",
      "SELECT * FROM MyList WHERE Song LIKE '*e*' OR Artist LIKE '*e*' ORDER BY Song, Artist",
      "SELECT Artist, PrintYN, ID FROM MyList ORDER BY Artist DESC"};
  for (bool hold : {false, true}) {
    auto db = hold ? Connection::OpenHoldingReads(path) : Connection::Open(path);
    for (const std::string& sql : queries) {
      for (const auto& [skip, most] : {std::pair{0, 0}, {0, 1}, {0, 40}, {3, 1000}, {0, 1000}}) {
        SCOPED_TRACE(sql + (hold ? ", holding" : "") + ", from row " + std::to_string(skip) + ", up to " + std::to_string(most));
        auto fast = db->OpenRecordset(sql), plain = db->OpenRecordset(sql);
        std::vector<Recordset::CopiedField> fields;
        for (size_t p = 0; p < fast->Fields().size(); ++p)
          for (As as : {As::kText, As::kWhole, As::kYesNo}) fields.push_back({p, as});
        TextRows fast_rows(fields), plain_rows(fields);
        for (int i = 0; i < skip; ++i) fast->MoveNext(), plain->MoveNext();
        EXPECT_EQ(fast->CopyRows(fields, most, fast_rows), plain->Recordset::CopyRows(fields, most, plain_rows));
        EXPECT_EQ(fast_rows.rows, plain_rows.rows);
        // Where a set stands (at its end, or on a row its last field shows) and the rows it has met.
        const auto place = [last = fast->Fields().size() - 1](Recordset& s) {
          return std::tuple(s.AtEnd(), s.AtEnd() ? FieldValue() : s.FieldAt(last), s.RecordCount());
        };
        EXPECT_EQ(place(*fast), place(*plain));
        fast->MoveFirst(), plain->MoveFirst();
        EXPECT_EQ(place(*fast), place(*plain));
        fast->MoveLast(), plain->MoveLast();
        EXPECT_EQ(place(*fast), place(*plain));
      }
    }
  }
}

TEST(EngineQuery, ErrorsNameTheStatement) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  auto db = Connection::Open(path);
  // Each error names what it was given: the statement, or the table it looked for.
  const std::tuple<std::function<void()>, Kind, const char*> cases[] = {
      {[&] { db->OpenRecordset("SELECT * FROM MyList WHERE"); }, Kind::kInvalid, "SELECT * FROM MyList WHERE"},
      {[&] { db->OpenRecordset("SELECT * FROM Karaoke"); }, Kind::kNotFound, "Karaoke"},
      {[&] { db->Execute("UPDATE MyList SET Rating = 5"); }, Kind::kNotFound, "UPDATE MyList SET Rating = 5"},
      {[&] { db->Execute("DELETE FROM MyList"); }, Kind::kInvalid, "DELETE FROM MyList"},
      {[&] { db->Execute("SELECT * FROM MyList"); }, Kind::kInvalid, ""},
      {[&] { db->OpenRecordset("NoSuchTable"); }, Kind::kNotFound, "NoSuchTable"},
      {[&] { Connection::Open(scratch.path() + "/missing.mdb"); }, Kind::kNotFound, "missing.mdb"},
      {[&] { Connection::Open(scratch.path() + "/notes.mdb"); }, Kind::kDamaged, "notes.mdb"},
  };
  std::ofstream(scratch.path() + "/notes.mdb") << std::string(4096, 'x');
  for (const auto& [action, kind, named] : cases) ExpectError(action, kind, named);
  // A file that is no database at all is nothing to repair: the host is sent to the right file.
  const std::string not_a_database = ErrorOf([&] { Connection::Open(scratch.path() + "/notes.mdb"); }).what();
  EXPECT_NE(not_a_database.find("open the song catalogue's own Access file"), std::string::npos) << not_a_database;
  EXPECT_EQ(not_a_database.find("Compact and Repair"), std::string::npos) << not_a_database;
  // A copy cut short after its header page: the message the host reads begins as a sentence.
  std::ofstream(scratch.path() + "/cut.mdb") << velloran_test::ReadWholeFile(path).substr(0, 4096);
  const std::string cut = ErrorOf([&] { Connection::Open(scratch.path() + "/cut.mdb")->OpenRecordset("MyList"); }).what();
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(cut[0]))) << cut;
}

TEST(EngineTableSet, SeeksOnAnIndexAndUpdatesTheRow) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  {
    auto db = Connection::Open(path);
    auto songs = db->OpenRecordset("MyList");
    EXPECT_EQ(ErrorOf([&] { songs->SeekEqual(FieldValue(int64_t{42})); }).kind(), Kind::kInvalid) << "no index selected";
    songs->SelectIndex("PrimaryKey");
    EXPECT_TRUE(songs->Field("ID").is_null()) << "rows whose key is empty come first in index order";
    songs->SeekEqual(FieldValue(int64_t{42}));
    ASSERT_FALSE(songs->NoMatch());
    EXPECT_EQ(std::pair(songs->Field("Song").ToText(), songs->Field("PrintYN").ToBool()), std::pair(std::string("World Star Girl"), false));
    EXPECT_EQ(ErrorOf([&] { songs->SetField("PrintYN", FieldValue(true)); }).kind(), Kind::kInvalid) << "Edit first";
    songs->Edit();
    songs->SetField("PrintYN", FieldValue(true));
    EXPECT_TRUE(songs->Field("PrintYN").ToBool()) << "the pending row shows the change";
    EXPECT_EQ(ErrorOf([&] { songs->SetField("SongNumber", FieldValue("forty")); }).kind(), Kind::kInvalid);
    songs->Update();
    EXPECT_EQ(songs->Field("ID").ToInteger(), 42) << "Update keeps the position";
    songs->MoveNext();
    EXPECT_EQ(songs->Field("ID").ToInteger(), 43) << "the walk goes on in index order";

    // A value too long for its field fails the Update and changes nothing.
    songs->Edit();
    songs->SetField("HotlistA", FieldValue("12345678901"));
    EXPECT_EQ(ErrorOf([&] { songs->Update(); }).kind(), Kind::kInvalid);

    songs->SeekEqual(FieldValue(int64_t{9999}));
    EXPECT_TRUE(songs->NoMatch());
    songs->SelectIndex("Song");
    songs->SeekEqual(FieldValue("world star girl"));  // text keys compare regardless of letter case
    ASSERT_FALSE(songs->NoMatch());
    EXPECT_EQ(songs->Field("ID").ToInteger(), 42);
    songs->MoveNext();
    const FieldValue follower = songs->Field("ID");
    songs->SeekEqual(FieldValue("World Star Girl"));
    // Changing the key moves the row within the index order; it stays the current row, and the
    // walk goes on with the row that followed it before.
    Change(*songs, "Song", "Zzz Last Song");
    EXPECT_EQ(songs->Field("ID").ToInteger(), 42);
    songs->MoveNext();
    EXPECT_EQ(songs->Field("ID"), follower);
    songs->MoveLast();
    EXPECT_EQ(songs->Field("ID").ToInteger(), 42) << "the renamed song sorts last";
    EXPECT_EQ(ErrorOf([&] { songs->SelectIndex("Rating"); }).kind(), Kind::kNotFound);

    EXPECT_EQ(Walk(*db->OpenRecordset("[MyList]")), 500) << "a table name in brackets opens the table";
  }
  auto fresh = Connection::Open(path);
  EXPECT_EQ(RowOf(*fresh->OpenRecordset("SELECT PrintYN, HotlistA, Song FROM MyList WHERE ID = 42")), (Row{true, "0000000000", "Zzz Last Song"}));
  EXPECT_EQ(RowOf(*fresh->OpenRecordset("SELECT HotlistA FROM MyList WHERE ID = 43")), Row{"0100000000"}) << "the failed Update wrote nothing";
}

// (A walk of the PrimaryKey index that numbers the rows with empty keys as it goes: CheckDatabase
// in catalogue_design_test, TableCursor.)
TEST(EngineTableSet, AddNewWritesMemoAndNullValues) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  const std::string notes(5000, 'n');
  {
    auto db = Connection::Open(path);
    db->AppendField("MyList", NewField{"Notes", FieldType::kMemo, 0, true});
    auto songs = db->OpenRecordset("MyList");
    const FieldValue first_id = songs->Field("ID");
    songs->AddNew();
    EXPECT_TRUE(songs->Field("Song").is_null()) << "a new row starts empty";
    for (const auto& [field, value] : NamedValues{{"SongNumber", int64_t{2001}}, {"Song", "Brand New Song"}, {"Notes", notes}, {"DiskID", ""}})
      songs->SetField(field, value);
    songs->Update();
    EXPECT_EQ(songs->Field("ID"), first_id) << "after AddNew the position stays where it was";
    songs->MoveLast();
    EXPECT_EQ(songs->RecordCount(), 501);
  }
  // The empty disc ID is not null; an unset Yes/No field is No.
  EXPECT_EQ(RowOf(*Connection::Open(path)->OpenRecordset("SELECT Song, Notes, Artist, DiskID, PrintYN FROM MyList WHERE SongNumber = 2001")),
            (Row{"Brand New Song", notes, FieldValue(), "", false}));

  // An autonumber field is filled in when the row is started, and the row gets that number.
  auto unicode = Connection::Open(scratch.CopyFixture("access/testUnicodeCompV2003.mdb"));
  auto table = unicode->OpenRecordset("Table");
  table->AddNew();
  const int64_t number = table->Field("ID").ToInteger();
  EXPECT_GT(number, 8);
  table->SetField("Unicode", FieldValue("Привет, мир"));
  table->Update();
  EXPECT_EQ(unicode->OpenRecordset("SELECT * FROM [Table] WHERE ID = " + std::to_string(number))->Field("Unicode").ToText(), "Привет, мир");
}

TEST(EngineExecute, UpdatesDropsAndChangesNothingOnFailure) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  auto db = Connection::Open(path);
  const int64_t printed_low = CountWhere(*db, "PrintYN = True AND SongNumber < 1100");

  db->Execute("UPDATE MyList SET PrintYN = True, HotlistA = '1111111111' WHERE SongNumber >= 1100");
  EXPECT_EQ(CountWhere(*db, "PrintYN = True"), 401 + printed_low);  // song numbers run 1001..1500
  EXPECT_EQ(CountWhere(*db, "HotlistA = '1111111111'"), 401);

  // A duplicate key in a unique index stops the statement after it changed many rows: none of
  // them is written.
  db->AppendIndex("MyList", NewIndex{"UniqueNumber", {"SongNumber"}, false, true});
  ExpectError([&] { db->Execute("UPDATE MyList SET SongNumber = 1001 WHERE SongNumber > 1400"); }, Kind::kInvalid,
              "UPDATE MyList SET SongNumber = 1001");
  EXPECT_EQ(CountWhere(*db, "SongNumber = 1001"), 1);
  EXPECT_EQ(CountWhere(*db, "SongNumber > 1400"), 100);

  db->Execute("DROP INDEX Artist ON [MyList]");
  EXPECT_EQ(ErrorOf([&] { db->Execute("DROP INDEX Artist ON MyList"); }).kind(), Kind::kNotFound) << "it is gone";
  EXPECT_EQ(Walk(*db->OpenRecordset("SELECT Artist FROM MyList ORDER BY Artist DESC")), 500) << "sorting works without the index";

  db->Execute("DROP TABLE [MyList]");
  db->RefreshTableDefs();
  for (const TableInfo& t : db->TableDefs()) EXPECT_NE(t.name, "MyList");
  EXPECT_EQ(ErrorOf([&] { db->TableDef("MyList"); }).kind(), Kind::kNotFound);
}

TEST(EngineDesign, CreatesADatabaseAndChangesItsDesign) {
  ScratchDir scratch;
  const std::string path = scratch.path() + "/new songs.mdb";
  Connection::Create(path);
  EXPECT_EQ(ErrorOf([&] { Connection::Create(path); }).kind(), Kind::kInvalid) << "never over an existing file";

  auto db = Connection::Open(path);
  db->CreateTable("Songs", {NewField{"ID", FieldType::kLong}, NewField{"SongNumber", FieldType::kLong}, NewField{"Song", FieldType::kText},
                            NewField{"Artist", FieldType::kText, 100, true}, NewField{"PrintYN", FieldType::kBoolean},
                            NewField{"Added", FieldType::kDate}, NewField{"Price", FieldType::kCurrency}});
  db->AppendIndex("Songs", NewIndex{"PrimaryKey", {"ID"}, true, true});
  db->AppendIndex("Songs", NewIndex{"SongArtist", {"Song", "Artist"}});

  const TableInfo songs = db->TableDef("Songs");
  EXPECT_EQ(songs.fields.at(2).size, 255) << "a Text field of size 0 gets 255 characters";
  EXPECT_EQ(std::pair(songs.fields[2].allow_zero_length, songs.fields[3].allow_zero_length), std::pair(false, true));
  ASSERT_EQ(songs.indexes.size(), 2u);
  EXPECT_TRUE(songs.indexes[0].primary && songs.indexes[0].unique);
  EXPECT_EQ(songs.indexes[1].fields, (std::vector<std::string>{"Song", "Artist"}));

  db->AppendField("Songs", NewField{"Notes", FieldType::kMemo, 0, true});
  db->DeleteField("Songs", "PrintYN");
  EXPECT_EQ(velloran_test::FieldNames(*db, "Songs"), (std::vector<std::string>{"ID", "SongNumber", "Song", "Artist", "Added", "Price", "Notes"}));

  auto set = db->OpenRecordset("Songs");
  EXPECT_TRUE(set->AtEnd());
  for (int64_t i = 3; i >= 1; --i)
    velloran_test::AddRow(*set, {{"ID", i}, {"Song", "Song " + std::to_string(i)}, {"Added", "2024-02-29 21:30:05"}, {"Price", 2.5}});
  set->SelectIndex("PrimaryKey");
  set->SeekEqual(FieldValue("2"));  // a text that spells the number
  ASSERT_FALSE(set->NoMatch());
  EXPECT_EQ(RowOf(*set), (Row{int64_t{2}, FieldValue(), "Song 2", FieldValue(), "2024-02-29 21:30:05", 2.5, FieldValue()}));

  db->RefreshTableDefs();
  std::map<std::string, uint32_t> attributes;
  for (const TableInfo& t : db->TableDefs()) attributes[t.name] = t.attributes;
  EXPECT_EQ(std::pair(attributes.at("Songs"), attributes.at("MSysObjects") & kTableSystem), std::pair(0u, kTableSystem));
}

TEST(EngineAccess97, ReadsButRefusesWrites) {
  COPY_FIXTURE_OR_SKIP("access/testV1997.mdb", scratch, path);
  auto db = Connection::Open(path);
  EXPECT_EQ(db->TableDef("Table1").fields.size(), 9u);
  EXPECT_EQ(db->OpenRecordset("SELECT * FROM Table1 ORDER BY A DESC")->Field("G").ToText(), "1974-09-21")
      << "a date without a time reads as the date alone";

  ExpectError([&] { db->Execute("UPDATE Table1 SET C = 1"); }, Kind::kReadOnly, "Access 97");
  auto set = db->OpenRecordset("Table1");
  set->Edit();
  set->SetField("C", FieldValue(int64_t{7}));
  EXPECT_EQ(ErrorOf([&] { set->Update(); }).kind(), Kind::kReadOnly);
  EXPECT_EQ(ErrorOf([&] { db->CreateTable("New", {NewField{"A"}}); }).kind(), Kind::kReadOnly);
  set->MoveFirst();
  EXPECT_EQ(set->Field("C").ToInteger(), 0) << "nothing was written";
}

TEST(EngineSharing, OpenSetsSeeOtherWritersAndWalkOn) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  auto db = Connection::Open(path);

  // Rows deleted behind a sorted walk's back: it goes on with the rows that are still there.
  auto sorted = db->OpenRecordset("SELECT SongNumber FROM MyList ORDER BY DiskID");
  std::set<int64_t> met;
  for (int i = 0; i < 5; ++i, sorted->MoveNext()) met.insert(sorted->Field("SongNumber").ToInteger());
  DeleteSongs(path, [](int64_t number) { return number <= 1050; });
  for (; !sorted->AtEnd(); sorted->MoveNext()) {
    const int64_t number = sorted->Field("SongNumber").ToInteger();
    EXPECT_TRUE(met.insert(number).second) << number << " came twice";
  }
  const int64_t met_deleted = std::count_if(met.begin(), met.end(), [](int64_t n) { return n <= 1050; });
  EXPECT_LE(met_deleted, 5) << "only rows met before the delete may be deleted ones";
  EXPECT_EQ(static_cast<int64_t>(met.size()), 450 + met_deleted);
  EXPECT_EQ(sorted->RecordCount(), static_cast<int64_t>(met.size()));

  // Rows met, then moved off their pages by another program: the scan's second run knows them.
  auto scan = db->OpenRecordset("SELECT SongNumber FROM MyList");
  met.clear();
  for (int i = 0; i < 5; ++i, scan->MoveNext()) met.insert(scan->Field("SongNumber").ToInteger());
  DeleteSongs(path, [&](int64_t number) { return met.count(number) != 0; }, true);
  for (; !scan->AtEnd(); scan->MoveNext()) {
    EXPECT_TRUE(met.insert(scan->Field("SongNumber").ToInteger()).second) << scan->Field("SongNumber").ToInteger() << " came twice";
  }
  EXPECT_EQ(scan->RecordCount(), 450) << "every song still there, once";

  // A table set whose current row, and a row ahead of it, go: the walk goes on with the next
  // row that is still there, skipping none.
  std::vector<int64_t> order;
  auto table = db->OpenRecordset("MyList");
  Walk(*table, [&](Recordset& s) { order.push_back(s.Field("SongNumber").ToInteger()); });
  ASSERT_GT(order.size(), 20u);
  table->MoveFirst();
  for (int i = 0; i < 10; ++i) table->MoveNext();
  ASSERT_EQ(table->Field("SongNumber").ToInteger(), order[10]);
  DeleteSongs(path, [&](int64_t number) { return number == order[10] || number == order[12]; });
  std::vector<int64_t> rest;
  for (table->MoveNext(); !table->AtEnd(); table->MoveNext()) rest.push_back(table->Field("SongNumber").ToInteger());
  std::vector<int64_t> expected(order.begin() + 11, order.end());
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(rest, expected);
}

// This process keeps the pages it read for every connection it opens later. A change must show
// all the same, made by this program through another connection (however many other files were
// opened in between) or by another program: in rows a walk read ahead before the change, after
// MoveFirst, in a connection kept open and in one opened afterwards; the walk meets every row once.
TEST(EngineSharing, PagesKeptForLaterConnectionsNeverHideAChange) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  auto kept = Connection::Open(path);
  EXPECT_EQ(Song42(*kept), "World Star Girl");
  std::vector<std::unique_ptr<Connection>> others;
  for (int i = 0; i < 4; ++i) {
    const std::string other = scratch.path() + "/other" + std::to_string(i) + ".mdb";
    std::filesystem::copy_file(path, other);
    others.push_back(Connection::Open(other));
  }
  // (Some songs of the fixture have no ID yet.)
  auto walk = kept->OpenRecordset("SELECT ID, Song FROM MyList WHERE ID > 0 ORDER BY ID");
  walk->MoveNext();  // the rows after this one are read ahead now
  Connection::Open(path)->Execute("UPDATE MyList SET Song = 'Changed Here' WHERE ID <= 3");
  walk->MoveNext();
  ASSERT_EQ(walk->Field("ID").ToInteger(), 3);
  EXPECT_EQ(walk->Field("Song").ToText(), "Changed Here");

  const int64_t sixth = std::stoll(velloran_test::TextsOf(*kept, "SELECT ID FROM MyList WHERE ID > 0 ORDER BY ID").at(5));
  ASSERT_TRUE(InAnotherProcess([&] {
    Connection::Open(path)->Execute("UPDATE MyList SET Song = 'Changed Elsewhere' WHERE ID = 42 OR ID = " + std::to_string(sixth));
  }));
  usleep(5000);  // longer than a walk trusts what it read ahead without looking at the file
  int64_t last = 3, rows = 3;
  for (walk->MoveNext(); !walk->AtEnd(); walk->MoveNext(), ++rows) {
    EXPECT_GT(walk->Field("ID").ToInteger(), last);
    last = walk->Field("ID").ToInteger();
    if (last == sixth) {
      EXPECT_EQ(walk->Field("Song").ToText(), "Changed Elsewhere");
    }
  }
  EXPECT_EQ(rows, 487);  // the songs that have an ID
  walk->MoveFirst();
  EXPECT_EQ(walk->Field("Song").ToText(), "Changed Here");
  EXPECT_EQ(Song42(*Connection::Open(path)) + " / " + Song42(*kept), "Changed Elsewhere / Changed Elsewhere");
}

// A connection holding its reads sees the file as it was when the hold began: another program's
// write waits for the release; a write through the connection itself ends the hold, so that the
// others are not kept waiting after it.
TEST(EngineSharing, HeldReadsSeeOneMomentAndGiveWayToTheirOwnWrites) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  auto db = Connection::OpenHoldingReads(path);
  EXPECT_EQ(Song42(*db), "World Star Girl");
  const pid_t writer = velloran_test::ForkChild(
      [&] { return Connection::Open(path)->Execute("UPDATE MyList SET Song = 'Changed Elsewhere' WHERE ID = 42"), 0; });
  ASSERT_GT(writer, 0);
  usleep(300000);
  EXPECT_EQ(waitpid(writer, nullptr, WNOHANG), 0) << "the other program's write went ahead during the hold";
  EXPECT_EQ(Song42(*db), "World Star Girl");
  db->ReleaseReads();
  EXPECT_TRUE(velloran_test::ExitedCleanly(writer));
  EXPECT_EQ(Song42(*db), "Changed Elsewhere");

  db->HoldReads();
  db->Execute("UPDATE MyList SET Song = 'Changed Here' WHERE ID = 42");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(InAnotherProcess([&] { Connection::Open(path)->Execute("UPDATE MyList SET Song = 'Third' WHERE ID = 42"); }));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << "the write waited for a hold that should have ended";
  EXPECT_EQ(Song42(*db), "Third");
}

// A program that puts other bytes in the file and sets its modification time back, as tools
// restoring a backup do, still has its bytes read by the next connection.
TEST(EngineSharing, FileRewrittenWithItsOldTimeIsReadAfresh) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  const std::string other = scratch.path() + "/other.mdb";
  std::filesystem::copy_file(path, other);
  Connection::Open(other)->Execute("UPDATE MyList SET Song = 'Other Star Girl' WHERE ID = 42");  // same length
  ASSERT_EQ(std::filesystem::file_size(other), std::filesystem::file_size(path));
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  usleep(100000);  // the file's time is well in the past: its pages are kept for later connections
  EXPECT_EQ(Song42(*Connection::Open(path)), "World Star Girl");

  const std::string bytes = velloran_test::ReadWholeFile(other);
  std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(Song42(*Connection::Open(path)), "Other Star Girl");
}

TEST(EngineSharing, TableSetsRefuseAFileAnotherProgramIsWriting) {
  COPY_FIXTURE_OR_SKIP(kSongs, scratch, path);
  auto db = Connection::Open(path);
  {
    auto writer = velloran_test::AnotherProgramWriting(path);
    ASSERT_NE(writer, nullptr);
    ExpectError([&] { db->OpenRecordset("MyList"); }, Kind::kInUse, path);
    auto query = db->OpenRecordset("SELECT * FROM MyList WHERE ID = 42");  // reading goes on meanwhile
    EXPECT_EQ(query->Field("Song").ToText(), "World Star Girl");
  }
  EXPECT_NO_THROW(db->OpenRecordset("MyList"));

  {
    auto access = velloran_test::AccessHoldingOpen(scratch.path() + "/songsV2000.ldb");
    ASSERT_NE(access, nullptr);
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("MyList"); }).kind(), Kind::kInUse);
    ExpectError([&] { db->Execute("UPDATE MyList SET PrintYN = False"); }, Kind::kInUse, "songsV2000.ldb");
  }
  EXPECT_NO_THROW(db->Execute("UPDATE MyList SET PrintYN = False")) << "a lock file nobody holds is ignored";
}

// Every fixture opens; each local user table reads the same rows as a table set and as a query.
TEST(EngineConnection, OpensEveryFixtureAndReadsEachTableBothWays) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  for (const std::string& fixture : velloran_test::AllFixtures()) {
    SCOPED_TRACE(fixture);
    auto db = Connection::Open(scratch.CopyFixture(fixture));
    int user_tables = 0;
    for (const TableInfo& table : db->TableDefs()) {
      if (table.attributes != 0) continue;
      ++user_tables;
      SCOPED_TRACE(table.name);
      auto rows = db->OpenRecordset(table.name);
      auto query = db->OpenRecordset("SELECT * FROM [" + table.name + "]");
      ASSERT_EQ(rows->Fields().size(), table.fields.size());
      ASSERT_EQ(query->Fields().size(), table.fields.size());
      int64_t walked = 0;
      for (; !rows->AtEnd(); rows->MoveNext(), query->MoveNext(), ++walked) {
        ASSERT_FALSE(query->AtEnd());
        for (const FieldInfo& field : table.fields) ASSERT_EQ(rows->Field(field.name), query->Field(field.name)) << field.name;
      }
      EXPECT_TRUE(query->AtEnd());
      EXPECT_EQ(std::pair(rows->RecordCount(), query->RecordCount()), std::pair(walked, walked));
    }
    if (fixture.find("empty") == std::string::npos) {
      EXPECT_GT(user_tables, 0);
    }
  }
}

TEST(EngineFieldValue, ConvertsAsTheListShowsValues) {
  EXPECT_NE(FieldValue(), FieldValue(""));
  const std::pair<FieldValue, const char*> texts[] = {
      {FieldValue(), ""}, {true, "True"}, {2.5, "2.5"}, {5.0, "5"}, {int64_t{-12}, "-12"}, {int64_t{0}, "0"},
      {int64_t{7}, "7"}, {int64_t{100}, "100"}, {int64_t{50099}, "50099"}, {int64_t{-1234567890123}, "-1234567890123"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"}};
  for (const auto& [value, text] : texts) {
    EXPECT_EQ(value.ToText(), text);
    std::string copied = "an earlier row's text";  // as a list refills its room
    value.CopyTextTo(copied);
    EXPECT_EQ(copied, text);
  }
  // Halves round to the even neighbour.
  const std::pair<FieldValue, int64_t> integers[] = {{true, -1}, {" 42 ", 42}, {"2.5", 2}, {"3.5", 4}, {"forty", 0}};
  for (const auto& [value, integer] : integers) EXPECT_EQ(value.ToInteger(), integer) << value.ToText();
  EXPECT_EQ(FieldValue("1e3").ToNumber(), 1000.0);
  for (const FieldValue& yes : {FieldValue("YES"), FieldValue("-1"), FieldValue(0.5)}) EXPECT_TRUE(yes.ToBool()) << yes.ToText();
  for (const FieldValue& no : {FieldValue("no"), FieldValue("2")}) EXPECT_FALSE(no.ToBool()) << no.ToText();
}

}  // namespace
}  // namespace velloran
