// Turning the text a host types into the query on the song table.
#pragma once

#include <string>

#include "catalogue/database_list.h"

namespace velloran {

struct SearchQuery {
  std::string sql;        // a complete SELECT without ORDER BY
  std::string sort_list;  // the ORDER BY list to run it with
};

// A text that begins with a positive number searches song numbers from that number up; any other
// text searches song titles and artists for it, in the fields `fields` maps to those roles. Apostrophes are doubled for the SQL literal and
// the characters '"', '?', '[' and ']' removed; the LIKE wildcards '*' and '#' keep their meaning.
SearchQuery BuildSearchQuery(const std::string& table, const std::string& search_text,
                             const SongFields& fields = SongFields{});

}  // namespace velloran
