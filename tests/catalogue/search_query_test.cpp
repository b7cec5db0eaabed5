// The query a host's search text becomes: a text that begins with a positive number searches song
// numbers from it up, read as a host types numbers; any other text searches titles and artists,
// its apostrophes doubled and the characters the SQL may not carry removed.
#include <gtest/gtest.h>

#include "catalogue/search_query.h"

namespace velloran {
namespace {

TEST(SearchQuery, NumbersSearchFromThatNumberUpAndOtherTextsSearchTitlesAndArtists) {
  // `from_number`: null for a search of titles and artists, whose `pattern` stands between the asterisks.
  struct Case { const char* typed; const char* from_number; const char* pattern = nullptr; };
  const Case cases[] = {
      {"5", "5"},         {"12abc", "12"},     {"1 2", "12"},  // blanks inside a number are ignored
      {" 4\t0 ", "40"},   {"2.5", "2.5"},      {".5", "0.5"},       {"5.", "5"},
      {"1.2.3", "1.2"},   {"1e3", "1000"},     {"3e", "3"},         {"2D2", "200"},
      {"&H10", "16"},     {"&O17", "15"},      {"&H10000", "65536"}, {"1234567", "1234567"},
      {"+7 Nation Army", "7"},
      {"love", nullptr, "love"}, {"-12.5x", nullptr, "-12.5x"}, {"&HFFFFFFFF", nullptr, "&HFFFFFFFF"}, {"what?", nullptr, "what"},
      {"O'Brien", nullptr, "O''Brien"}, {"", nullptr, ""}, {"#1 hits", nullptr, "#1 hits"},
      {"0", nullptr, "0"}, {"-3", nullptr, "-3"},  // zero and negative numbers are text searches
      {"&HFFFF", nullptr, "&HFFFF"},  // a 16-bit hexadecimal value is signed: -1
      {"&Hzz", nullptr, "&Hzz"},  // no hexadecimal digits: value 0
      {"it''s", nullptr, "it''''s"},  // what was inserted is not replaced again
      {"[\"?]", nullptr, ""},  // nothing but removed characters: every row with a title or artist
      {"a*b", nullptr, "a*b"},  // wildcards keep their meaning
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const SearchQuery q = BuildSearchQuery("Songs", c.typed);
    if (c.from_number != nullptr) {
      EXPECT_EQ(q.sql, std::string("SELECT * FROM [Songs] WHERE [SongNumber] >= ") + c.from_number);
      EXPECT_EQ(q.sort_list, "[SongNumber]");
    } else {
      const std::string p = c.pattern;
      EXPECT_EQ(q.sql, "SELECT * FROM [Songs] WHERE [Song] LIKE '*" + p + "*' OR [Artist] LIKE '*" + p + "*'");
      EXPECT_EQ(q.sort_list, "[Song],[Artist]");
    }
  }
}

}  // namespace
}  // namespace velloran
