// The favourites export file: one line per song that is in at least one favourites list, the
// song number, a comma and the ten "0"/"1" characters of its lists, each line ended by CR LF.
// The same text is the backup the program keeps across runs.
#pragma once

#include <string>
#include <vector>

namespace velloran {

constexpr const char* kNoFavourites = "0000000000";

// One line of the file, as written.
std::string FavouritesLine(const std::string& song_number, const std::string& lists);

// Whether `lists` is exactly ten characters, each "0" or "1".
bool IsFavouritesText(const std::string& lists);

// `lists` with character `n` (1-based) flipped between "0" and "1"; an empty or short value
// is filled up with "0" to ten characters first.
std::string ToggledList(std::string lists, int n);

struct FavouritesEntry {
  std::string song_number;  // as written, without enclosing quotes
  std::string lists;
  int line = 0;             // 1-based line of the file
};

struct ParsedFavourites {
  std::vector<FavouritesEntry> entries;
  std::vector<int> bad_lines;  // lines that are not a song number, a comma and ten "0"/"1"
};

// Reads the lines of a favourites file. Blank lines are ignored; a field may be enclosed in
// double quotes; lines end with CR LF, LF or CR.
ParsedFavourites ParseFavourites(const std::string& text);

}  // namespace velloran
