#include "flags/favourites_file.h"

namespace velloran {

namespace {

std::string Unquoted(std::string field) {
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = field.substr(1, field.size() - 2);
  return field;
}

}  // namespace

std::string FavouritesLine(const std::string& song_number, const std::string& lists) {
  return song_number + "," + lists + "\r\n";
}

bool IsFavouritesText(const std::string& lists) {
  return lists.size() == 10 && lists.find_first_not_of("01") == std::string::npos;
}

std::string ToggledList(std::string lists, int n) {
  if (lists.size() < 10) lists.resize(10, '0');
  char& c = lists[static_cast<size_t>(n - 1)];
  c = c == '1' ? '0' : '1';
  return lists;
}

ParsedFavourites ParseFavourites(const std::string& text) {
  ParsedFavourites out;
  size_t at = 0;
  int line_number = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    ++line_number;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    const size_t comma = line.find(',');
    FavouritesEntry entry;
    entry.line = line_number;
    if (comma != std::string::npos) {
      entry.song_number = Unquoted(line.substr(0, comma));
      entry.lists = Unquoted(line.substr(comma + 1));
    }
    if (comma == std::string::npos || entry.song_number.empty() || !IsFavouritesText(entry.lists)) {
      out.bad_lines.push_back(line_number);
    } else {
      out.entries.push_back(std::move(entry));
    }
  }
  return out;
}

}  // namespace velloran
