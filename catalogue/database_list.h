// The configured song databases and which of them is in use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velloran {

// The names of the four fields a song table maps to the program's roles. Everything that reads or
// writes songs (the search, the list, the song book, adding and importing songs) names these; the
// fields the program creates itself (ID, PrintYN, HotlistA) keep their fixed names.
struct SongFields {
  std::string song = "Song";
  std::string artist = "Artist";
  std::string number = "SongNumber";
  std::string disc = "DiskID";
};

// One configured database: the file, its song table and the names of the four fields the
// program maps (the field mapping). Empty texts are filled with their defaults at the first check.
struct DatabaseEntry {
  std::string Database;
  std::string Table;
  std::string ArtistField;
  std::string SongField;
  std::string SongNumberField;
  std::string DiskIDField;

  // The mapped names, each one still empty taken as its default.
  SongFields Fields() const {
    SongFields f;
    if (!SongField.empty()) f.song = SongField;
    if (!ArtistField.empty()) f.artist = ArtistField;
    if (!SongNumberField.empty()) f.number = SongNumberField;
    if (!DiskIDField.empty()) f.disc = DiskIDField;
    return f;
  }

  bool operator==(const DatabaseEntry&) const = default;
};

// Entries 1..n are the configured databases; entry 0 stands for "no database", always exists, has
// only empty texts and is never saved.
struct DatabaseList {
  std::vector<DatabaseEntry> entries{DatabaseEntry{}};
  int16_t CurrentDB = 0;

  DatabaseEntry& current() { return entries.at(static_cast<size_t>(CurrentDB)); }
  const DatabaseEntry& current() const { return entries.at(static_cast<size_t>(CurrentDB)); }
  int count() const { return static_cast<int>(entries.size()) - 1; }
};

}  // namespace velloran
