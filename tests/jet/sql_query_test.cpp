// SELECT and UPDATE against the generated fixtures. Every query's rows are checked against a
// reference written here the simple way: read the whole table with TableCursor, keep the rows a
// C++ predicate accepts, std::stable_sort them with Access's ordering (NULLs first, texts by
// CompareText, numbers numerically). Each query also runs with indexes turned off, and both
// runs must return the reference rows in the reference order.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>

#include "jet/text/collation.h"
#include "jet/database.h"
#include "jet/sql/sql_select.h"
#include "jet/sql/sql_update.h"
#include "jet/table/table_cursor.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Text;
using jet::Value;
using Row = std::vector<Value>;

using Table = velloran_test::LoadedTable;
using velloran_test::FixturePath;
using velloran_test::LoadTable;

// Access's order of two values of one column.
int Order(const Value& a, const Value& b) {
  if (jet::IsNull(a) || jet::IsNull(b)) return jet::IsNull(b) - jet::IsNull(a);
  if (std::holds_alternative<Text>(a)) return jet::CompareText(jet::JetVersion::kJet4, std::get<Text>(a), std::get<Text>(b));
  auto number = [](const Value& v) -> int64_t {
    if (const bool* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
    return std::get<int64_t>(v);
  };
  return (number(a) > number(b)) - (number(a) < number(b));
}

struct Query {
  std::string sql;
  std::function<bool(const Table&, const Row&)> keep;
  std::vector<std::pair<std::string, bool>> order;  // column, ascending
  std::vector<std::string> columns;                 // empty: all
  std::string plan;                                 // expected plan with indexes
};

std::vector<Row> Reference(const Table& t, const Query& q) {
  std::vector<Row> kept;
  for (const Row& r : t.rows)
    if (!q.keep || q.keep(t, r)) kept.push_back(r);
  std::vector<std::pair<size_t, bool>> order;
  for (const auto& [name, ascending] : q.order) order.emplace_back(t.Col(name), ascending);
  std::stable_sort(kept.begin(), kept.end(), [&](const Row& a, const Row& b) {
    for (const auto& [column, ascending] : order) {
      const int c = Order(a[column], b[column]);
      if (c != 0) return ascending ? c < 0 : c > 0;
    }
    return false;
  });
  for (Row& r : kept) {
    if (q.columns.empty()) break;
    Row projected;
    for (const std::string& c : q.columns) projected.push_back(r[t.Col(c)]);
    r = std::move(projected);
  }
  return kept;
}

// What a SELECT gave: its first `limit` rows, its plan, how many rows it read to give them, and
// whether a walk gave way to a scan.
struct Outcome { std::vector<Row> rows; std::string plan; uint64_t rows_read = 0; bool gave_way = false; };

Outcome Execute(jet::Database& db, const std::string& sql, jet::SelectOptions options, size_t limit = SIZE_MAX) {
  Outcome run;
  EXPECT_OK_LET(cursor, jet::ExecuteSelect(db, sql, options));
  if (!cursor.ok()) return run;
  run.plan = cursor.value()->plan();
  while (run.rows.size() < limit) {
    EXPECT_OK_LET(more, cursor.value()->Next());
    if (!more.ok() || !more.value()) break;
    run.rows.push_back(cursor.value()->values());
  }
  run.rows_read = cursor.value()->rows_read();
  run.gave_way = cursor.value()->walk_gave_way();
  return run;
}

std::vector<Row> Fetch(jet::Database& db, const std::string& sql, bool use_indexes, bool folded = false) {
  return Execute(db, sql, {use_indexes, 0, folded}).rows;
}

// The rows in a fixed order of their contents (the fixtures hold Long, Text, Memo, Boolean).
std::vector<Row> ByContent(std::vector<Row> rows) {
  auto render = [](const Row& row) {
    std::string s;
    for (const Value& v : row) {
      s += std::to_string(v.index()) + ":";
      if (const int64_t* i = std::get_if<int64_t>(&v)) s += std::to_string(*i);
      if (const bool* b = std::get_if<bool>(&v)) s += *b ? "1" : "0";
      if (const Text* t = std::get_if<Text>(&v)) s += jet::ToUtf8(*t);
      s += '\x1F';
    }
    return s;
  };
  std::sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return render(a) < render(b); });
  return rows;
}

void Check(Table& t, const Query& q) {
  SCOPED_TRACE(q.sql);
  const std::vector<Row> expected = Reference(t, q);
  const Outcome indexed = Execute(*t.db, q.sql, {true, 0, false});
  EXPECT_EQ(indexed.plan, q.plan);
  EXPECT_EQ(Fetch(*t.db, q.sql, false), expected);  // a scan keeps the table's order
  EXPECT_EQ(Fetch(*t.db, q.sql, false, true), expected);
  // Without ORDER BY an index walk may return the rows in its own order.
  const auto in_order = [&](const std::vector<Row>& rows) { return q.order.empty() ? ByContent(rows) : rows; };
  EXPECT_EQ(in_order(indexed.rows), in_order(expected));
  EXPECT_EQ(in_order(Fetch(*t.db, q.sql, true, true)), in_order(expected));
}

bool HasText(const Value& v) { return std::holds_alternative<Text>(v); }
std::string Utf8(const Value& v) { return HasText(v) ? jet::ToUtf8(std::get<Text>(v)) : std::string(); }

bool ContainsAsciiIgnoringCase(const Value& v, const std::string& needle) {
  std::string s = Utf8(v);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return HasText(v) && s.find(needle) != std::string::npos;
}

int64_t Long(const Value& v) { return std::get<int64_t>(v); }

using Keep = std::function<bool(const Table&, const Row&)>;

// Rows whose `column` is a number in [low, high].
Keep NumberIn(const char* column, int64_t low, int64_t high) {
  return [=](const Table& t, const Row& r) {
    const Value& v = r[t.Col(column)];
    return !jet::IsNull(v) && Long(v) >= low && Long(v) <= high;
  };
}

// Rows whose `column` is a text in [low, high) by Access's order (equal to `low` without `high`).
Keep TextIn(const char* column, const char16_t* low, const char16_t* high = nullptr) {
  return [=](const Table& t, const Row& r) {
    const Value& v = r[t.Col(column)];
    if (!HasText(v)) return false;
    const int from = jet::CompareText(jet::JetVersion::kJet4, std::get<Text>(v), low);
    return high == nullptr ? from == 0 : from >= 0 && jet::CompareText(jet::JetVersion::kJet4, std::get<Text>(v), high) < 0;
  };
}

// Rows where any of `columns` holds `word`, ignoring case.
Keep Mentions(const std::string& word, std::vector<const char*> columns) {
  return [=](const Table& t, const Row& r) {
    return std::any_of(columns.begin(), columns.end(), [&](const char* c) { return ContainsAsciiIgnoringCase(r[t.Col(c)], word); });
  };
}

class SqlSongs : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SHARED_FIXTURES();
    t_ = LoadTable(FixturePath("generated/songsV2000.mdb"), "MyList");
    ASSERT_EQ(t_.rows.size(), 500u);
  }
  Table t_;
};

// The main search, number ranges, NULLs, flags, patterns and numbers matched as text.
TEST_F(SqlSongs, QueriesReturnTheReferenceRowsWithAndWithoutIndexes) {
  const Keep love = Mentions("love", {"Song", "Artist"});
  ASSERT_GT(Reference(t_, {"", love, {}, {}, ""}).size(), 10u);
  const size_t id = t_.Col("ID"), song = t_.Col("Song"), print = t_.Col("PrintYN"), disk = t_.Col("DiskID");
  auto sf = [&](const Table&, const Row& r) {
    const std::string s = Utf8(r[disk]);
    if (s.size() != 9 || s.compare(0, 2, "SF") != 0 || s.compare(6, 2, "-0") != 0 || s[8] < '1' || s[8] > '5') return false;
    return std::all_of(s.begin() + 2, s.begin() + 6, [](char c) { return c >= '0' && c <= '9'; });
  };
  const Keep ends_in_7 = [](const Table& t, const Row& r) { return NumberIn("SongNumber", 1000, 1099)(t, r) && Long(r[t.Col("SongNumber")]) % 10 == 7; };
  const Query queries[] = {
      {"SELECT * FROM [MyList] WHERE [Song] LIKE '*love*' OR [Artist] LIKE '*LOVE*' ORDER BY [Artist], [Song]", love,
       {{"Artist", true}, {"Song", true}}, {}, "index \"Artist\", then sort rows with equal keys"},
      {"select song, [ARTIST], id from mylist where song like '*love*' or artist like '*love*' order by song desc", love,
       {{"Song", false}}, {"Song", "Artist", "ID"}, "index \"Song\" backward"},
      {"SELECT * FROM [MyList] WHERE [SongNumber] >= 1480 ORDER BY [SongNumber]", NumberIn("SongNumber", 1480, 1 << 30),
       {{"SongNumber", true}}, {}, "index \"SongNumber\" over a range"},
      {"SELECT * FROM MyList WHERE SongNumber >= 1250 AND SongNumber < 1300 ORDER BY SongNumber DESC",
       NumberIn("SongNumber", 1250, 1299), {{"SongNumber", false}}, {}, "index \"SongNumber\" backward over a range"},
      {"SELECT * FROM MyList WHERE 1020 >= SongNumber AND SongNumber > 1010.5 AND ID > 11",
       [&](const Table& t, const Row& r) { return NumberIn("SongNumber", 1011, 1020)(t, r) && Long(r[id]) > 11; }, {}, {},
       "index \"SongNumber\" over a range"},
      {"SELECT * FROM MyList WHERE SongNumber = 1007 ORDER BY Song", NumberIn("SongNumber", 1007, 1007), {{"Song", true}}, {},
       "index \"SongNumber\" over a range, then sort"},
      {"SELECT * FROM MyList WHERE SongNumber > 2000 ORDER BY SongNumber", NumberIn("SongNumber", 2001, 0),
       {{"SongNumber", true}}, {}, "index \"SongNumber\" over a range"},
      {"SELECT * FROM MyList ORDER BY SongNumber DESC, ID", nullptr, {{"SongNumber", false}, {"ID", true}}, {},
       "index \"SongNumber\" backward, then sort rows with equal keys"},
      {"SELECT * FROM MyList WHERE [ID] Is Null ORDER BY SongNumber", [&](const Table&, const Row& r) { return jet::IsNull(r[id]); },
       {{"SongNumber", true}}, {}, "index \"SongNumber\""},
      {"SELECT * FROM MyList WHERE Song Is Not Null AND PrintYN = True ORDER BY ID DESC",
       [&](const Table&, const Row& r) { return !jet::IsNull(r[song]) && std::get<bool>(r[print]); }, {{"ID", false}}, {},
       "index \"PrimaryKey\" backward"},
      {"SELECT * FROM MyList WHERE NOT PrintYN AND NOT (Song LIKE '*a*')",
       [&](const Table&, const Row& r) { return !std::get<bool>(r[print]) && HasText(r[song]) && !ContainsAsciiIgnoringCase(r[song], "a"); },
       {}, {}, "scan"},
      {"SELECT * FROM MyList WHERE DiskID LIKE 'sf####-0[1-5]' ORDER BY DiskID", sf, {{"DiskID", true}}, {}, "scan, then sort"},
      {"SELECT ID FROM MyList WHERE SongNumber LIKE '10?7'", ends_in_7, {}, {"ID"}, "scan"},
      // Text comparisons ignore case: the Song index serves a point lookup.
      {"SELECT * FROM MyList WHERE Song = 'LOVE'", TextIn("Song", u"love"), {}, {}, "index \"Song\" over a range"},
  };
  for (const Query& q : queries) Check(t_, q);
}

TEST_F(SqlSongs, IndexWalksStopWhenTheCallerStops) {
  for (const char* sql : {"SELECT * FROM [MyList] WHERE [SongNumber] >= 1100 ORDER BY [SongNumber]",
                          "SELECT * FROM [MyList] ORDER BY [Song]", "SELECT * FROM [MyList] ORDER BY [ID] DESC"}) {
    const Outcome run = Execute(*t_.db, sql, {}, 3);
    EXPECT_EQ(run.rows.size(), 3u) << sql;
    EXPECT_EQ(run.rows_read, 3u) << sql;
  }
  // The seek lands on the first row in range; rows before it are never read.
  const Outcome first = Execute(*t_.db, "SELECT SongNumber FROM MyList WHERE SongNumber >= 1100 ORDER BY SongNumber", {}, 1);
  EXPECT_EQ(first.rows, std::vector<Row>{Row{int64_t{1100}}});
  EXPECT_EQ(first.rows_read, 1u);
}

// ORDER BY Song, Artist walks the Song index and sorts only the rows with equal titles. However
// early the walk gives way to a scan (a small budget forces it after any number of rows, before
// or after rows were handed out), the rows and their order stay those of the full sort.
TEST_F(SqlSongs, RunSortingWalksGiveWayToAScanWithoutLosingOrRepeatingRows) {
  const Query queries[] = {
      {"SELECT * FROM MyList WHERE Song LIKE '*love*' OR Artist LIKE '*love*' ORDER BY Song, Artist", Mentions("love", {"Song", "Artist"}),
       {{"Song", true}, {"Artist", true}}, {}, "index \"Song\", then sort rows with equal keys"},
      {"SELECT * FROM MyList ORDER BY Artist DESC, Song, ID", nullptr, {{"Artist", false}, {"Song", true}, {"ID", true}},
       {}, "index \"Artist\" backward, then sort rows with equal keys"},
      {"SELECT ID, Song FROM MyList WHERE Song LIKE '*y''s*' ORDER BY Song, SongNumber DESC", Mentions("y's", {"Song"}),
       {{"Song", true}, {"SongNumber", false}}, {"ID", "Song"}, "index \"Song\", then sort rows with equal keys"},
  };
  const size_t rare_rows = Reference(t_, queries[2]).size();
  ASSERT_GT(rare_rows, 0u);
  ASSERT_LT(rare_rows, 20u);
  for (const Query& q : queries) {
    Check(t_, q);
    const std::vector<Row> expected = Reference(t_, q);
    for (uint64_t budget : {1, 2, 3, 7, 40, 250, 499, 500, 501, 100000}) {
      SCOPED_TRACE(q.sql + " with a walk budget of " + std::to_string(budget));
      const Outcome run = Execute(*t_.db, q.sql, {true, budget, false});
      EXPECT_EQ(run.rows, expected);
      // The walk reads all 500 rows unless it gives way first, which it does on reaching the
      // budget at the latest; the scan then reads every row on the pages that may hold the
      // words searched for (all of them when the condition searches for none).
      EXPECT_EQ(run.gave_way, budget <= 500);
      if (budget <= 500) {
        EXPECT_LE(run.rows_read, budget + 500);
        EXPECT_GE(run.rows_read, budget / 4 + (q.keep == nullptr ? 500 : expected.size()));
      } else {
        EXPECT_EQ(run.rows_read, 500u);
      }
    }
  }
}

// Where the condition matches almost nothing, the walk gives way after a quarter of its budget;
// where it matches often, only at the budget. The scan that follows a search for a word no page
// holds reads no row at all.
TEST_F(SqlSongs, RunSortingWalksGiveWayEarlyWhenRowsRarelyMatch) {
  const std::pair<const char*, uint64_t> cases[] = {
      {"SELECT * FROM MyList WHERE Song LIKE '*zzqx*' ORDER BY Song, Artist", 100},
      {"SELECT * FROM MyList WHERE Song LIKE '*' OR Song Is Null ORDER BY Song, Artist", 400 + 500},
  };
  for (const auto& [sql, rows_read] : cases) {
    SCOPED_TRACE(sql);
    const Outcome run = Execute(*t_.db, sql, {true, 400, false});
    EXPECT_EQ(run.rows.size(), std::string(sql).find("zzqx") == std::string::npos ? 500u : 0u);
    EXPECT_TRUE(run.gave_way);
    EXPECT_EQ(run.rows_read, rows_read);
  }
}

// A caller that keeps the first rows of a run-sorting walk reads only the runs they come from
// and the row that ends the last of them.
TEST_F(SqlSongs, RunSortingWalksReadLittleMoreThanTheRowsTaken) {
  const size_t song = t_.Col("Song");
  const Query q{"SELECT * FROM MyList ORDER BY Song, Artist", nullptr, {{"Song", true}, {"Artist", true}}, {}, ""};
  const std::vector<Row> expected = Reference(t_, q);
  ASSERT_OK_LET(cursor, jet::ExecuteSelect(*t_.db, q.sql));
  for (size_t taken = 1; taken <= 40; ++taken) {
    ASSERT_TRUE(cursor.value()->Next().value());
    ASSERT_EQ(cursor.value()->values(), expected[taken - 1]);
    const Value& last = expected[taken - 1][song];
    const auto in_runs = std::count_if(t_.rows.begin(), t_.rows.end(), [&](const Row& r) { return Order(r[song], last) <= 0; });
    EXPECT_EQ(cursor.value()->rows_read(), static_cast<uint64_t>(in_runs) + 1) << taken;
  }
}

TEST_F(SqlSongs, ExecutionErrorsNameTheStatement) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM [Songs]", "unknown table \"Songs\" at position 14 near \"[Songs]\""},
      {"SELECT Title FROM MyList", "unknown column \"Title\" in table \"MyList\" at position 7 near \"Title\""},
      {"SELECT * FROM MyList ORDER BY Title", "unknown column \"Title\" in table \"MyList\" at position 30"},
      {"SELECT * FROM MyList WHERE [Song] = 1", "type mismatch (column \"Song\" is Text, 1 is a number) at position 36"},
      {"SELECT * FROM MyList WHERE [SongNumber] = 'a'", "type mismatch (column \"SongNumber\" is Long, 'a' is a text)"},
  };
  for (const auto& [sql, expected] : cases) {
    auto cursor = jet::ExecuteSelect(*t_.db, sql);
    ASSERT_FALSE(cursor.ok()) << sql;
    EXPECT_EQ(cursor.error().message().find(expected), 0u) << cursor.error().message();
    EXPECT_NE(cursor.error().message().find(std::string("in: ") + sql), std::string::npos);
  }
  EXPECT_EQ(jet::ExecuteSelect(*t_.db, "SELECT * FROM Nope").error().code(), jet::ErrorCode::kNotFound);
}

TEST_F(SqlSongs, UpdatesArePreparedForTheWriter) {
  const std::string sql = "UPDATE [mylist] SET [PrintYN] = True, HotlistA = '0000000001', [DiskID] = Null, SongNumber = 1005.5 "
                          "WHERE [SongNumber] = 1005 OR [Song] = 'Crazy'";
  ASSERT_OK_LET(statement, jet::ParseStatement(sql));
  const auto& update = std::get<jet::UpdateStatement>(statement.value());
  ASSERT_OK_LET(prepared, jet::PrepareUpdate(*t_.db, update, sql));
  ASSERT_EQ(prepared->assignments.size(), 4u);
  EXPECT_EQ(prepared->assignments[3].second, Value(int64_t{1006}));  // rounds to even

  ASSERT_OK_LET(rows, jet::RowsToUpdate(*t_.db, update, sql));
  std::vector<jet::RowId> expected;
  for (size_t i = 0; i < t_.rows.size(); ++i) {
    const Row& r = t_.rows[i];
    const bool selected = NumberIn("SongNumber", 1005, 1005)(t_, r) || TextIn("Song", u"crazy")(t_, r);
    EXPECT_EQ(prepared->Selects(r).value(), selected);
    if (selected) expected.push_back(t_.ids[i]);
  }
  ASSERT_GE(expected.size(), 2u);
  EXPECT_EQ(rows.value(), expected);

  const std::pair<const char*, const char*> errors[] = {
      {"UPDATE MyList SET Song = 'a', [song] = 'b'", "column \"Song\" is assigned twice at position 30"},
      {"UPDATE MyList SET Title = 'a'", "unknown column \"Title\""},
      {"UPDATE MyList SET SongNumber = 99999999999", "99999999999 is out of range for column \"SongNumber\" (Long) at position 31"},
      {"UPDATE MyList SET SongNumber = 'abc'", "type mismatch: column \"SongNumber\" is Long, the value is a text"},
      {"UPDATE MyList SET SongNumber = ID", "only constant values can be assigned at position 31"},
      {"UPDATE MyList SET Song = 'a' WHERE Song = 1", "type mismatch"},
  };
  for (const auto& [bad, expected_error] : errors) {
    ASSERT_OK_LET(s, jet::ParseStatement(bad));
    auto p = jet::PrepareUpdate(*t_.db, std::get<jet::UpdateStatement>(s.value()), bad);
    ASSERT_FALSE(p.ok()) << bad;
    EXPECT_EQ(p.error().message().find(expected_error), 0u) << p.error().message();
  }
}

// SELECT TOP returns what the same statement without TOP returns, cut after its first n rows (or
// n percent of them, rounded up) but for the rows that follow tying with the last kept on every
// ORDER BY column, with indexes and without.
TEST_F(SqlSongs, TopKeepsTheFirstRowsAndTheirTies) {
  // The TOP clause, the statement after it (the ORDER BY columns first in its list), how many ORDER BY columns.
  struct Case { std::string top, rest; size_t order_columns; uint64_t count; bool percent; };
  const Case cases[] = {
      {"TOP 3", "Artist, ID FROM MyList ORDER BY Artist", 1, 3, false},  // the 14 without an artist tie
      {"TOP 20", "Artist, ID FROM MyList ORDER BY Artist DESC", 1, 20, false},
      {"TOP 5", "ID, Song FROM MyList", 0, 5, false},  // no order: the first rows of the plan
      {"TOP 7", "Song, ID FROM MyList WHERE Song LIKE '*love*' ORDER BY Song", 1, 7, false},
      {"TOP 4", "ID FROM MyList WHERE ID > 100 ORDER BY ID DESC", 1, 4, false},  // an index walk, no sort
      {"TOP 6", "Song, Artist FROM MyList ORDER BY Song, Artist", 2, 6, false},
      {"TOP 1000", "ID FROM MyList", 0, 1000, false},  // more than there are
      {"TOP 10 PERCENT", "Artist FROM MyList ORDER BY Artist", 1, 10, true},
      {"TOP 1 PERCENT", "ID FROM MyList WHERE Song LIKE '*night*'", 0, 1, true},
  };
  for (const Case& c : cases) {
    for (bool use_indexes : {true, false}) {
      SCOPED_TRACE(c.top + " " + c.rest + (use_indexes ? "" : " (scan)"));
      const std::vector<Row> all = Fetch(*t_.db, "SELECT " + c.rest, use_indexes);
      ASSERT_FALSE(all.empty());
      size_t keep = c.percent ? (all.size() * c.count + 99) / 100 : std::min<size_t>(c.count, all.size());
      // Rows tying with the last kept on every ORDER BY column stay.
      auto same = [](const Value& a, const Value& b) { return Order(a, b) == 0; };
      while (c.order_columns > 0 && keep < all.size() &&
             std::equal(all[keep].begin(), all[keep].begin() + c.order_columns, all[keep - 1].begin(), same))
        ++keep;
      const std::vector<Row> top = Fetch(*t_.db, "SELECT " + c.top + " " + c.rest, use_indexes);
      EXPECT_EQ(top, std::vector<Row>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep)));
    }
  }
  for (const char* bad : {"0", "-2", "2.5", "101 PERCENT", "n"})
    EXPECT_TRUE(velloran_test::FailsWith(jet::ExecuteSelect(*t_.db, std::string("SELECT TOP ") + bad + " ID FROM MyList"), jet::ErrorCode::kInvalidArgument, {"TOP "})) << bad;
}

// (Ordering by exactly an index's columns, either way: SqlEveryIndex.)
TEST(SqlKeys, OrdersMatchAccessWhicheverPathIsTaken) {
  REQUIRE_SHARED_FIXTURES();
  Table t = LoadTable(FixturePath("generated/keysV2000.mdb"), "Keys");
  ASSERT_EQ(t.rows.size(), 3000u);
  const size_t flag = t.Col("Flag");
  const Query queries[] = {
      {"SELECT ID, Txt, Num FROM Keys WHERE Num > 0 ORDER BY Txt, Num", NumberIn("Num", 1, INT64_MAX), {{"Txt", true}, {"Num", true}},
       {"ID", "Txt", "Num"}, "index \"TxtNum\""},
      {"SELECT * FROM Keys ORDER BY Num DESC", nullptr, {{"Num", false}}, {}, "index \"NumDesc\""},
      {"SELECT * FROM Keys WHERE Num <= 100 AND Num >= -100 ORDER BY Num DESC", NumberIn("Num", -100, 100), {{"Num", false}}, {},
       "index \"NumDesc\" over a range"},
      {"SELECT * FROM Keys WHERE Num <= 100 AND Num >= -100 ORDER BY Num", NumberIn("Num", -100, 100), {{"Num", true}}, {},
       "index \"Num\" over a range"},
      {"SELECT * FROM Keys WHERE Flag = False ORDER BY Flag, ID", [&](const Table&, const Row& r) { return !std::get<bool>(r[flag]); },
       {{"Flag", true}, {"ID", true}}, {}, "index \"Flag\" over a range, then sort"},
      {"SELECT * FROM Keys WHERE Txt >= 'a' AND Txt < 'b' ORDER BY Txt DESC", TextIn("Txt", u"a", u"b"), {{"Txt", false}}, {},
       "index \"Txt\" backward over a range"},
      {"SELECT * FROM Keys WHERE Txt >= 'ç' AND Txt < 'd'", TextIn("Txt", u"ç", u"d"), {}, {}, "index \"Txt\" over a range"},
      {"SELECT * FROM Keys WHERE Txt = 'a' ORDER BY ID", TextIn("Txt", u"a"), {{"ID", true}}, {}, "index \"Txt\" over a range, then sort"},
      // The Memo column cannot be indexed: sorting by it sorts in memory by its first 255 characters.
      {"SELECT ID, Memo FROM Keys WHERE Memo LIKE '*love*' ORDER BY Memo DESC, ID", Mentions("love", {"Memo"}),
       {{"Memo", false}, {"ID", true}}, {"ID", "Memo"}, "scan, then sort"},
  };
  for (const Query& q : queries) Check(t, q);
}

// Damaged rows and index pages: every query ends in rows or in an error that names the file,
// never in a crash (the sanitizer build checks every read).
TEST(SqlDamage, QueriesOverDamagedPagesFailCleanly) {
  REQUIRE_SHARED_FIXTURES();
  velloran_test::ScratchDir scratch;
  const std::string clean = velloran_test::ReadWholeFile(velloran_test::FixturePath("generated/songsV2000.mdb"));
  constexpr size_t kPage = 4096;
  const char* queries[] = {
      "SELECT * FROM MyList WHERE Song LIKE '*love*' OR Artist LIKE '*love*' ORDER BY Artist, Song",
      "SELECT * FROM MyList WHERE SongNumber >= 1100 ORDER BY SongNumber",
      "SELECT * FROM MyList ORDER BY Song DESC",
      "SELECT ID FROM MyList WHERE Song = 'Crazy'",
  };
  int failures = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::string bytes = clean;
    std::mt19937 random(seed);
    for (size_t page = 1; page < bytes.size() / kPage; ++page) {
      const char type = bytes[page * kPage];
      if (type != 0x01 && type != 0x03 && type != 0x04) continue;  // rows and index pages
      for (int n = 0; n < 6; ++n) bytes[page * kPage + 8 + random() % (kPage - 8)] = static_cast<char>(random());
    }
    const std::string path = scratch.path() + "/damaged" + std::to_string(seed) + ".mdb";
    std::ofstream(path, std::ios::binary) << bytes;
    auto db = jet::Database::Open(path);
    if (!db.ok()) continue;
    for (const char* sql : queries) {
      for (bool use_indexes : {true, false}) {
        auto cursor = jet::ExecuteSelect(*db.value(), sql, jet::SelectOptions{use_indexes});
        jet::Result<bool> more = cursor.ok() ? cursor.value()->Next() : jet::Result<bool>(cursor.error());
        for (int rows = 0; more.ok() && more.value() && rows < 1000; ++rows) more = cursor.value()->Next();
        if (more.ok()) continue;
        ++failures;
        EXPECT_NE(more.error().message().find(path), std::string::npos) << more.error().message();
      }
    }
  }
  EXPECT_GT(failures, 0);  // the damage was seen, not only survived
}

// A value written as a SQL constant, or "" for values the dialect cannot write.
std::string Literal(const Value& v) {
  char buf[64];
  if (const int64_t* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const bool* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const double* d = std::get_if<double>(&v)) return std::snprintf(buf, sizeof buf, "%.17g", *d), buf;
  if (const float* f = std::get_if<float>(&v)) return std::snprintf(buf, sizeof buf, "%.17g", double{*f}), buf;
  if (const auto* t = std::get_if<jet::DateTime>(&v)) return std::snprintf(buf, sizeof buf, "%.17g", t->days), buf;
  if (const Text* t = std::get_if<Text>(&v)) {
    std::string quoted = "'";
    for (char c : jet::ToUtf8(*t)) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
  }
  return "";
}

// Every index of every fixture (Access 97 and 2000-2003 files, ascending and descending columns,
// several columns, every key type): ordering by its columns walks an index, forward and backward,
// and returns the rows in exactly the order the in-memory sort gives; a range on its first column
// (from the middle row's value) returns exactly the rows a scan finds.
TEST(SqlEveryIndex, WalksAgreeWithSorting) {
  REQUIRE_SHARED_FIXTURES();
  int walks = 0, ranges = 0;
  for (const std::string& fixture : velloran_test::AllFixtures()) {
    auto db = jet::Database::Open(velloran_test::FixturePath(fixture));
    if (!db.ok()) continue;
    for (const std::string& table : db.value()->UserTableNames()) {
      auto def = db.value()->ReadTable(table);
      if (!def.ok()) continue;
      for (const jet::LogicalIndex& index : def->logical_indexes) {
        const jet::PhysicalIndex& physical = def->physical_indexes[index.physical_index];
        for (bool reversed : {false, true}) {
          const std::string from = "SELECT * FROM [" + table + "]";
          std::string order = " ORDER BY ";
          for (size_t k = 0; k < physical.columns.size(); ++k) {
            const jet::ColumnDef* c = def->ColumnByNumber(physical.columns[k].column_number);
            order += (k ? ", [" : "[") + c->name + "]" + (physical.columns[k].ascending != reversed ? "" : " DESC");
          }
          const std::string sql = from + order;
          SCOPED_TRACE(fixture + ": " + sql);
          if (!jet::ExecuteSelect(*db.value(), sql).ok()) continue;  // a column type that cannot be sorted
          const Outcome by_index = Execute(*db.value(), sql, {});
          EXPECT_EQ(by_index.rows, Fetch(*db.value(), sql, false));
          // An index that leaves out NULL rows cannot order them all, and GUID keys are not walked.
          const bool walked = by_index.plan.find("index") == 0, guid = std::any_of(
              physical.columns.begin(), physical.columns.end(),
              [&](const jet::IndexColumn& k) { return def->ColumnByNumber(k.column_number)->type == jet::ColumnType::kGuid; });
          EXPECT_TRUE(walked || physical.ignore_nulls() || guid) << by_index.plan;
          walks += walked;
          if (by_index.rows.empty() || reversed) continue;
          const jet::ColumnDef* lead = def->ColumnByNumber(physical.columns[0].column_number);
          const size_t lead_at = static_cast<size_t>(lead - def->columns.data());
          const std::string literal = Literal(by_index.rows[by_index.rows.size() / 2][lead_at]);
          if (literal.empty()) continue;
          for (const char* op : {">= ", "< ", "= ", "> "}) {
            const std::string ranged = from + " WHERE [" + lead->name + "] " + op + literal + order;
            SCOPED_TRACE(ranged);
            const Outcome run = Execute(*db.value(), ranged, {true, 0, false});
            EXPECT_EQ(run.rows, Fetch(*db.value(), ranged, false));
            ranges += run.plan.find("over a range") != std::string::npos && !run.rows.empty();
          }
        }
      }
    }
  }
  EXPECT_GT(walks, 40);
  EXPECT_GT(ranges, 40);
}

}  // namespace
