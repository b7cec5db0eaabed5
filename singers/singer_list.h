// The evening's queue of singers, each with the song they asked for, and the singers file
// (.sng) it is saved to and loaded from. The queue is program-wide: it outlives the singers
// window and is emptied at every start.
//
// A .sng file holds one line per singer in queue order: the name in double quotes, a comma, the
// song number bare, a comma, the song title in double quotes, CR LF. Quotes inside a name are
// not escaped (the format has no way to); only a quote followed by a comma or a line end closes
// a field, so a name holding a quote reads back unless the quote comes right before a comma.
//
// The file is written in Windows-1252, as the Windows tools that share it expect, unless a name or
// title holds a character that code page lacks: then the whole file is UTF-8. A file is read as
// UTF-8 when it is valid UTF-8 (as this program wrote lists before) and as Windows-1252 otherwise.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalogue/result_set.h"
#include "jet/base/status.h"

namespace velloran {

// One singer and a copy of the chosen song's row.
struct SingerEntry {
  std::string Name;
  ResultRow Song;
  bool operator==(const SingerEntry&) const = default;
};

class SingerList {
 public:
  // Slots 1..count(); slot 0 always exists and holds no singer.
  int count() const { return static_cast<int>(entries_.size()) - 1; }
  bool empty() const { return count() == 0; }
  const SingerEntry& operator[](int slot) const { return entries_.at(static_cast<size_t>(slot)); }

  void Append(const std::string& name, const ResultRow& song) { entries_.push_back(SingerEntry{name, song}); }
  // Removes slot `slot` (1..count()); the singers behind it move up one place.
  void Remove(int slot);
  void Clear() { entries_.resize(1); }

  // The line the singers window shows for `slot`: "Ann - 1042 - Yesterday".
  std::string Line(int slot) const { return LineOf((*this)[slot].Name, (*this)[slot].Song); }
  static std::string LineOf(const std::string& name, const ResultRow& song);

  // The bytes of the whole file for slots 1..count().
  std::string Format() const;
  // Reads the bytes of a whole file. A file that is not a list of singers (an unclosed quote, a
  // singer short of a field, a song number that is not a number, binary bytes) is refused with an
  // error naming the line; the queue is then left as it was.
  jet::Status Parse(std::string_view bytes);

  // Save and Load to and from `path`. Saving writes a temporary file beside it and renames it
  // over the old one, so a failure halfway never loses the last list saved.
  jet::Status Save(const std::string& path) const;
  jet::Status Load(const std::string& path);

 private:
  std::vector<SingerEntry> entries_{SingerEntry{}};
};

}  // namespace velloran
