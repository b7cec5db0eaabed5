// The rules Access keeps on every row change: required columns, enforced relationships (refused,
// or cascaded where the relationship says so), system tables kept by the engine, one autonumber a
// table, and values a column cannot hold. Every refused change leaves the file byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "jet/row_writer.h"
#include "jet/schema/create_database.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_update.h"
#include "tests/jet/process_support.h"
#include "tests/jet/schema_test_support.h"

namespace {

using namespace schema_test;
using velloran_test::ScratchDir;

// A tool command (its arguments; "F" stands for the file) and the fragment of the message that
// refuses it (none: it must succeed).
struct Step { std::vector<std::string> args; const char* refusal = nullptr; };

std::string ToolOutput(const ScratchDir& dir, const std::string& file, std::vector<std::string> args, int* code) {
  for (std::string& a : args)
    if (a == "F") a = file;
  args.insert(args.begin(), VELLORAN_JET_TOOL);
  std::string out;
  *code = velloran_test::RunToEnd(args, dir.path() + "/tool.out", &out);
  return out;
}

// Runs each change and checks its outcome; a refused one must leave the file as it was.
void Expect(const std::string& file, const std::string& what, const char* refusal,
            const std::function<std::pair<bool, std::string>()>& change) {
  SCOPED_TRACE(what);
  const std::string before = ReadWholeFile(file);
  auto [ok, message] = change();
  if (refusal == nullptr) {
    EXPECT_TRUE(ok) << message;
    return;
  }
  EXPECT_FALSE(ok);
  EXPECT_NE(message.find(refusal), std::string::npos) << message;
  EXPECT_TRUE(ReadWholeFile(file) == before) << "the refused change altered the file";
}

void RunTool(const ScratchDir& dir, const std::string& file, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    std::string what;
    for (const std::string& a : step.args) what += a + " ";
    Expect(file, what, step.refusal, [&] {
      int code = 0;
      std::string out = ToolOutput(dir, file, step.args, &code);
      return std::make_pair(code == 0, out);
    });
  }
}

std::pair<bool, std::string> Outcome(const jet::Status& status) {
  return {status.ok(), status.ok() ? std::string() : status.error().message()};
}

TEST(AccessRules, RelationshipsOfAnAccessFileAndSystemTablesThroughTheTool) {
  // Table1.otherfk1 refers to Table2.id (cascading deletes), Table1.otherfk2 to Table3.id
  // (cascading updates).
  COPY_FIXTURE_OR_SKIP("access/indexTestV2000.mdb", dir, file);
  RunTool(dir, file,
          {{{"insert", "F", "Table1", "id=10", "otherfk1=99", "otherfk2=10"}, "no row of table \"Table2\""},
           {{"insert", "F", "Table1", "id=10", "otherfk1=2", "otherfk2=99"}, "no row of table \"Table3\""},
           {{"update", "F", "Table1", "id=0", "otherfk1=7"}, "no row of table \"Table2\""},
           {{"delete", "F", "Table3", "id=11"}, "2 rows of table \"Table1\" refer to this row's id = 11"},
           {{"update", "F", "Table2", "id=1", "id=5"}, "which does not cascade updates"},
           {{"insert", "F", "MSysObjects", "Name=x"}, "\"MSysObjects\" is a system table"},
           {{"update", "F", "MSysRelationships", "szObject=Table1", "grbit=2"}, "is a system table"},
           {{"delete", "F", "MSysRelationships", "szObject=Table1"}, "is a system table"},
           {{"insert", "F", "Table1", "id=10", "otherfk2=12"}},  // a NULL foreign key names no row
           {{"update", "F", "Table3", "id=13", "id=15"}},        // Table1's row 3 follows
           {{"delete", "F", "Table2", "id=1"}},                  // Table1's rows 1 and 2 go with it
           {{"delete", "F", "Table3", "id=12"}, "which does not cascade deletes"}});
  int code = 0;
  EXPECT_EQ(ToolOutput(dir, file, {"export", "F", "Table1"}, &code),
            "id,otherfk1,otherfk2,data,otherfk3\n0,0,10,\"baz0\",0\n3,2,15,\"baz13\",0\n10,,12,,\n");
  EXPECT_EQ(ToolOutput(dir, file, {"export", "F", "Table3"}, &code), "id,data\n10,\"bar10\"\n11,\"bar11\"\n12,\"bar12\"\n15,\"bar13\"\n");
  EXPECT_EQ(Problems(file), std::vector<std::string>{});
}

// A new, empty database at `file`, open for writing (null, and the test failed, when it cannot be).
std::unique_ptr<jet::WritableDatabase> NewDatabase(const std::string& file) {
  jet::Status created = jet::CreateDatabase(file);
  if (!created.ok()) ADD_FAILURE() << created.error().message();
  auto db = jet::WritableDatabase::Open(file);
  if (!db.ok()) ADD_FAILURE() << db.error().message();
  return db.ok() ? std::move(db).value() : nullptr;
}

// Changes `table` through a RowWriter in one write; `pick` names a row by its first column.
jet::Status Change(jet::WritableDatabase& db, const std::string& table,
                   const std::function<jet::Status(jet::RowWriter&, const std::function<jet::RowId(int64_t)>&)>& body) {
  return db.Write([&]() -> jet::Status {
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table));
    JET_ASSIGN_OR_RETURN(auto writer, jet::RowWriter::Open(db.pager(), def));
    std::vector<jet::RowId> ids;
    std::vector<std::vector<Value>> rows = velloran_test::ReadRows(db.pager(), writer->def(), &ids);
    auto pick = [&](int64_t key) {
      for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i][0] == Value(key)) return ids[i];
      ADD_FAILURE() << "no row " << key << " in " << table;
      return jet::RowId{};
    };
    return body(*writer, pick);
  });
}

TEST(AccessRules, RequiredColumnsAndARelationshipTheEngineRecorded) {
  ScratchDir dir;
  const std::string file = dir.path() + "/own.mdb";
  std::unique_ptr<jet::WritableDatabase> opened = NewDatabase(file);
  ASSERT_TRUE(opened);
  jet::WritableDatabase& db = *opened;
  const jet::ColumnDesign name{.name = "name", .size = 40, .required = true}, title{.name = "title", .size = 40, .required = true},
      id{.name = "id", .type = ColumnType::kLong, .autonumber = true};
  ASSERT_TRUE(jet::CreateTable(db, {"Artists", {Column("code", ColumnType::kLong), name, Column("mentor", ColumnType::kLong)},
                                    {Index("pk", {{"code"}}, true)}}).ok());
  ASSERT_TRUE(jet::CreateTable(db, {"Songs", {id, Column("artist", ColumnType::kLong), title}, {}}).ok());
  const Value null = jet::Null{};
  auto insert = [&](const std::string& table, std::vector<Value> row) {
    return Change(db, table, [&](jet::RowWriter& w, auto&) { return w.Insert(row).status(); });
  };
  auto text = [](const char* s) { return Value(jet::FromUtf8(s)); };
  const Value one = int64_t{1}, two = int64_t{2};
  const std::vector<std::vector<Value>> first_artists = {
      {one, text("A1"), null}, {two, text("A2"), two}, {int64_t{3}, text("A3"), two}};  // 2 mentors itself and 3
  for (const std::vector<Value>& artist : first_artists) ASSERT_TRUE(insert("Artists", artist).ok());
  for (const Value& artist : {one, one, two}) ASSERT_TRUE(insert("Songs", {null, artist, text("song")}).ok());

  // Then Songs.artist comes to refer to Artists.code, cascading updates and deletes (Songs has no
  // index on it), and Artists.mentor too, cascading deletes only: the rules the row changes above
  // read must not outlive this.
  auto relate = [&]() -> jet::Status {
    JET_ASSIGN_OR_RETURN(jet::TableDef rel, jet::ReadSystemTable(db.pager(), "MSysRelationships"));
    std::vector<std::vector<Value>> rows;
    for (auto [child, column, grbit] : {std::tuple{"Songs", "artist", 0x1100}, {"Artists", "mentor", 0x1000}}) {
      JET_ASSIGN_OR_RETURN(auto row, jet::MakeRow(db.pager(), rel, {{"ccolumn", one}, {"grbit", int64_t{grbit}}, {"icolumn", int64_t{0}},
                                                        {"szColumn", text(column)}, {"szObject", text(child)},
                                                        {"szReferencedColumn", text("code")},
                                                        {"szReferencedObject", text("Artists")},
                                                        {"szRelationship", jet::FromUtf8(std::string("Artists") + child)}}));
      rows.push_back(std::move(row));
    }
    return jet::InsertRows(db.pager(), rel, rows);
  };
  ASSERT_TRUE(db.Write(relate).ok());
  auto change = [&](const std::string& table, int64_t key, std::vector<Value> row) {
    return Outcome(Change(db, table, [&](jet::RowWriter& w, auto& pick) {
      return row.empty() ? w.Delete(pick(key)) : w.Update(pick(key), row);  // no values: delete
    }));
  };
  Expect(file, "a song of no artist", "no row of table \"Artists\" has the key that artist = 4 names",
         [&] { return Outcome(insert("Songs", {null, int64_t{4}, text("x")})); });
  Expect(file, "an artist without a name", "column \"name\" is required",
         [&] { return Outcome(insert("Artists", {int64_t{4}, null, null})); });
  Expect(file, "a song's title taken away", "column \"title\" is required", [&] { return change("Songs", 1, {one, one, null}); });
  Expect(file, "a system table", "is a system table", [&] { return Outcome(insert("MSysACEs", {})); });
  Expect(file, "a mentor's code changed", "2 rows of table \"Artists\" refer to this row's code = 2",
         [&] { return change("Artists", 2, {int64_t{20}, text("A2"), two}); });
  Expect(file, "an artist's code changed", nullptr, [&] { return change("Artists", 1, {int64_t{10}, text("A1"), null}); });
  // Artist 2 mentors itself and artist 3: both go, and the song of 2.
  Expect(file, "a mentor deleted", nullptr, [&] { return change("Artists", 2, {}); });
  velloran_test::LoadedTable songs = velloran_test::LoadTable(file, "Songs"), artists = velloran_test::LoadTable(file, "Artists");
  ASSERT_EQ(songs.rows.size(), 2u);
  for (const auto& row : songs.rows) EXPECT_EQ(row[1], Value(int64_t{10}));
  ASSERT_EQ(artists.rows.size(), 1u);
  EXPECT_EQ(artists.rows[0][0], Value(int64_t{10}));
  EXPECT_EQ(Problems(file), std::vector<std::string>{});
}

TEST(AccessRules, ATableHasOneAutonumber) {
  ScratchDir dir;
  const std::string file = dir.path() + "/auto.mdb";
  std::unique_ptr<jet::WritableDatabase> db = NewDatabase(file);
  ASSERT_TRUE(db);
  const jet::ColumnDesign first{.name = "a", .type = ColumnType::kLong, .autonumber = true},
      second{.name = "b", .type = ColumnType::kLong, .autonumber = true};
  Expect(file, "created with two", "a table has at most one autonumber column",
         [&] { return Outcome(jet::CreateTable(*db, {"Two", {first, second}, {}})); });
  ASSERT_TRUE(jet::CreateTable(*db, {"One", {first}, {}}).ok());
  Expect(file, "a second added", "a table has at most one autonumber column", [&] { return Outcome(jet::AddColumn(*db, "One", second)); });
}

TEST(AccessRules, ValuesAreTakenWholeOrRefused) {
  ScratchDir dir;
  const std::string file = dir.path() + "/values.mdb";
  RunTool(dir, file,
          {{{"create", "F"}},
           {{"create-table", "F", "V", "id:long", "single:single", "double:double", "money:currency", "words:text:20"}},
           {{"insert", "F", "V", "id=1", "single=3.4028234e38", "money=-922337203685477.5808"}},
           {{"insert", "F", "V", "id=2", "single=-1.4e-45", "money=922337203685477.5807", "words=\xF0\x9F\x8E\xA4 caf\xC3\xA9"}},
           {{"insert", "F", "V", "id=3", "single=1e39"}, "is not a number a Single holds"},
           {{"insert", "F", "V", "id=3", "double=1e999"}, "is not a number a Double holds"},
           {{"insert", "F", "V", "id=3", "money=-922337203685477.5809"}, "is not an amount"},
           {{"insert", "F", "V", "id=3", "words=\xFF"}, "not valid UTF-8 (byte 1 of 1)"},
           {{"insert", "F", "V", "id=3", "words=ab\xC0\xAF"}, "not valid UTF-8 (byte 3 of 4)"},
           {{"insert", "F", "V", "id=3", "words=\xE2\x82"}, "not valid UTF-8 (byte 1 of 2)"}});
  ASSERT_OK_LET(opened, jet::WritableDatabase::Open(file));
  jet::WritableDatabase& db = *opened.value();
  const std::vector<Step> statements = {
      {{"UPDATE V SET single = 1e39 WHERE id = 1"}, "1e+39 is out of range for column \"single\" (Single)"},
      {{"UPDATE V SET double = 1e999 WHERE id = 1"}, "is out of range for column \"double\" (Double)"},
      {{"UPDATE V SET words = '\xFF' WHERE id = 1"}, "not valid UTF-8"},
      {{"UPDATE MSysObjects SET Flags = 0"}, "is a system table"},
      {{"UPDATE V SET money = -922337203685477.5808, single = 3.4028234e38 WHERE id = 2"}},
      {{"UPDATE V SET money = '922337203685477.5807' WHERE id = 1"}}};
  for (const Step& s : statements) {
    Expect(file, s.args[0], s.refusal, [&] {
      return Outcome(db.Write([&]() -> jet::Status {
        JET_ASSIGN_OR_RETURN(jet::Statement parsed, jet::ParseStatement(s.args[0]));
        return jet::ExecuteUpdate(db, db.pager(), std::get<jet::UpdateStatement>(parsed), s.args[0]).status();
      }));
    });
  }
  velloran_test::LoadedTable v = velloran_test::LoadTable(file, "V");
  const Value null = jet::Null{};  // columns: id, single, double, money, words
  EXPECT_EQ(v.rows, (std::vector<std::vector<Value>>{
                        {int64_t{1}, 3.4028234e38f, null, jet::Currency{INT64_MAX}, null},
                        {int64_t{2}, 3.4028234e38f, null, jet::Currency{INT64_MIN}, jet::FromUtf8("\xF0\x9F\x8E\xA4 caf\xC3\xA9")}}));
}

}  // namespace
