// The query a host's search text becomes: number searches, text searches, quoting and the
// characters a search text may not carry into the SQL.
#include <gtest/gtest.h>

#include "catalogue/search_query.h"
#include "catalogue/string_functions.h"

namespace velloran {
namespace {

TEST(SearchQuery, NumbersSearchSongNumbersFromThatNumberUp) {
  struct Case {
    const char* typed;
    const char* condition;
  };
  const Case cases[] = {
      {"5", "[SongNumber] >= 5"},
      {"12abc", "[SongNumber] >= 12"},
      {"1 2", "[SongNumber] >= 12"},      // blanks inside a number are ignored
      {" 4\t0 ", "[SongNumber] >= 40"},
      {"2.5", "[SongNumber] >= 2.5"},
      {"&H10", "[SongNumber] >= 16"},
      {"&O17", "[SongNumber] >= 15"},
      {"1e3", "[SongNumber] >= 1000"},
      {"+7 Nation Army", "[SongNumber] >= 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SearchQuery q = BuildSearchQuery("MyList", c.typed);
    EXPECT_EQ(q.sql, std::string("SELECT * FROM [MyList] WHERE ") + c.condition);
    EXPECT_EQ(q.sort_list, "[SongNumber]");
  }
}

TEST(SearchQuery, OtherTextsSearchTitlesAndArtists) {
  struct Case {
    const char* typed;
    const char* pattern;  // what stands between the asterisks
  };
  const Case cases[] = {
      {"love", "love"},
      {"0", "0"},          // zero and negative numbers are text searches
      {"-3", "-3"},
      {"O'Brien", "O''Brien"},
      {"what?", "what"},
      {"[\"?]", ""},       // nothing but removed characters: every row with a title or artist
      {"", ""},
      {"a*b", "a*b"},      // wildcards keep their meaning
      {"#1 hits", "#1 hits"},
      {"it''s", "it''''s"},
      {"&Hzz", "&Hzz"},    // no hexadecimal digits: value 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SearchQuery q = BuildSearchQuery("Songs", c.typed);
    std::string p = c.pattern;
    EXPECT_EQ(q.sql, "SELECT * FROM [Songs] WHERE [Song] LIKE '*" + p + "*' OR [Artist] LIKE '*" + p + "*'");
    EXPECT_EQ(q.sort_list, "[Song],[Artist]");
  }
}

TEST(StringFunctions, ReplacementNeverRevisitsWhatItInserted) {
  EXPECT_EQ(ReplaceText("a'b''c", "'", "''"), "a''b''''c");
  EXPECT_EQ(ReplaceText("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceText("abc", "", "x"), "abc");
  EXPECT_EQ(RemoveCharacters("[a]?\"b\"", "\"?[]"), "ab");
}

TEST(StringFunctions, LeadingNumbersReadAsTheHostTypedThem) {
  EXPECT_EQ(LeadingNumber("abc"), 0);
  EXPECT_EQ(LeadingNumber("-12.5x"), -12.5);
  EXPECT_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("5."), 5);
  EXPECT_EQ(LeadingNumber("1.2.3"), 1.2);
  EXPECT_EQ(LeadingNumber("3e"), 3);
  EXPECT_EQ(LeadingNumber("2D2"), 200);
  EXPECT_EQ(LeadingNumber("&HFFFF"), -1);      // a 16-bit hexadecimal value is signed
  EXPECT_EQ(LeadingNumber("&H10000"), 65536);
  EXPECT_EQ(LeadingNumber("&HFFFFFFFF"), -1);
  EXPECT_EQ(ShortestNumberText(5), "5");
  EXPECT_EQ(ShortestNumberText(2.5), "2.5");
  EXPECT_EQ(ShortestNumberText(1234567), "1234567");
}

}  // namespace
}  // namespace velloran
