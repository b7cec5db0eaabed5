#include "catalogue/search_query.h"

#include "catalogue/string_functions.h"

namespace velloran {

SearchQuery BuildSearchQuery(const std::string& table, const std::string& search_text, const SongFields& fields) {
  std::string s = ReplaceText(search_text, "'", "''");
  s = RemoveCharacters(s, "\"?[]");
  double number = LeadingNumber(s);
  SearchQuery query;
  std::string condition;
  if (number > 0) {
    condition = "[" + fields.number + "] >= " + ShortestNumberText(number);
    query.sort_list = "[" + fields.number + "]";
  } else {
    condition = "[" + fields.song + "] LIKE '*" + s + "*' OR [" + fields.artist + "] LIKE '*" + s + "*'";
    query.sort_list = "[" + fields.song + "],[" + fields.artist + "]";
  }
  query.sql = "SELECT * FROM [" + table + "] WHERE " + condition;
  return query;
}

}  // namespace velloran
