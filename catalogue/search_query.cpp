#include "catalogue/search_query.h"

#include "catalogue/string_functions.h"

namespace velloran {

SearchQuery BuildSearchQuery(const std::string& table, const std::string& search_text) {
  std::string s = ReplaceText(search_text, "'", "''");
  s = RemoveCharacters(s, "\"?[]");
  double number = LeadingNumber(s);
  SearchQuery query;
  std::string condition;
  if (number > 0) {
    condition = "[SongNumber] >= " + ShortestNumberText(number);
    query.sort_list = "[SongNumber]";
  } else {
    condition = "[Song] LIKE '*" + s + "*' OR [Artist] LIKE '*" + s + "*'";
    query.sort_list = "Song,Artist";
  }
  query.sql = "SELECT * FROM [" + table + "] WHERE " + condition;
  return query;
}

}  // namespace velloran
