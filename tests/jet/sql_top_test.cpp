// SELECT TOP against the songs fixture: each statement returns what the same statement without
// TOP returns, cut after its first n rows (or n percent of them, rounded up) but for the rows
// that follow tying with the last kept on every ORDER BY column, with indexes and without.
#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/sql/sql_select.h"
#include "jet/text/collation.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Value;
using Rows = std::vector<std::vector<Value>>;

Rows RunSelect(jet::Database& db, const std::string& sql, bool use_indexes) {
  Rows rows;
  auto cursor = jet::ExecuteSelect(db, sql, jet::SelectOptions{use_indexes});
  EXPECT_TRUE(cursor.ok()) << cursor.error().message();
  if (!cursor.ok()) return rows;
  while (true) {
    auto more = cursor.value()->Next();
    EXPECT_TRUE(more.ok()) << more.error().message();
    if (!more.ok() || !*more) break;
    rows.push_back(cursor.value()->values());
  }
  return rows;
}

bool Tie(const Value& a, const Value& b) {
  const auto* ta = std::get_if<jet::Text>(&a);
  const auto* tb = std::get_if<jet::Text>(&b);
  if (ta != nullptr && tb != nullptr) return jet::CompareText(jet::JetVersion::kJet4, *ta, *tb) == 0;
  return a == b;
}

TEST(SqlTop, FirstRowsAndTiesAsTheWholeResultGivesThem) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", dir, path);
  ASSERT_OK_LET(db, jet::Database::Open(path));
  struct Case {
    std::string top;   // the TOP clause
    std::string rest;  // the statement after it; the ORDER BY columns come first in the list
    size_t order_columns;
    uint64_t count;
    bool percent;
  };
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
      const Rows all = RunSelect(*db.value(), "SELECT " + c.rest, use_indexes);
      ASSERT_FALSE(all.empty());
      size_t keep = c.percent ? (all.size() * c.count + 99) / 100 : std::min<size_t>(c.count, all.size());
      while (c.order_columns > 0 && keep < all.size()) {
        bool tie = true;
        for (size_t k = 0; k < c.order_columns; ++k) tie = tie && Tie(all[keep][k], all[keep - 1][k]);
        if (!tie) break;
        ++keep;
      }
      const Rows top = RunSelect(*db.value(), "SELECT " + c.top + " " + c.rest, use_indexes);
      EXPECT_EQ(top.size(), keep);
      EXPECT_TRUE(std::equal(top.begin(), top.end(), all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(keep, top.size()))));
    }
  }
  for (const char* bad : {"SELECT TOP 0 ID FROM MyList", "SELECT TOP -2 ID FROM MyList", "SELECT TOP 2.5 ID FROM MyList",
                          "SELECT TOP 101 PERCENT ID FROM MyList", "SELECT TOP n ID FROM MyList"}) {
    auto cursor = jet::ExecuteSelect(*db.value(), bad);
    ASSERT_FALSE(cursor.ok()) << bad;
    EXPECT_NE(cursor.error().message().find("TOP "), std::string::npos) << cursor.error().message();
  }
}

}  // namespace
