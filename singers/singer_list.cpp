#include "singers/singer_list.h"

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "app/settings.h"

namespace velloran {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsSongNumber(const std::string& field) {
  size_t i = field[0] == '-' || field[0] == '+' ? 1 : 0;
  bool digit = false, point = false;
  for (; i < field.size(); ++i) {
    if (field[i] >= '0' && field[i] <= '9') {
      digit = true;
    } else if (field[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

// Walks the file field by field. Fields end at a comma or a line end; a field that starts with
// a double quote runs to the next double quote, line ends included.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}

  int line() const { return line_; }
  // Skips blanks and empty lines; false at the end of the file.
  bool More() {
    while (pos_ < text_.size() && (IsBlank(text_[pos_]) || text_[pos_] == '\r' || text_[pos_] == '\n')) Step();
    return pos_ < text_.size();
  }
  // The next field; `quoted` tells whether it was in quotes.
  jet::Result<std::string> Next(bool& quoted) {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) Step();
    quoted = pos_ < text_.size() && text_[pos_] == '"';
    std::string field;
    if (quoted) {
      const int opened = line_;
      Step();
      // The file cannot escape a quote inside a name, so only a quote that ends the field (one
      // followed by a comma, a line end or the end of the file) closes it.
      while (pos_ < text_.size() && !ClosingQuote()) field += Step();
      if (pos_ == text_.size()) return Refuse(opened, "a double quote opened here is never closed");
      Step();
      while (pos_ < text_.size() && IsBlank(text_[pos_])) Step();
    } else {
      while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\r' && text_[pos_] != '\n')
        field += Step();
      while (!field.empty() && IsBlank(field.back())) field.pop_back();
    }
    for (char c : field) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 && c != '\t' && c != '\r' && c != '\n') return Refuse(line_, "it holds binary data");
    }
    if (pos_ < text_.size() && text_[pos_] == ',') Step();
    return field;
  }
  jet::Error Refuse(int line, const std::string& why) const {
    return jet::Error(jet::ErrorCode::kCorrupt,
                      "line " + std::to_string(line) + " is not a singers list line: " + why);
  }

 private:
  bool ClosingQuote() const {
    if (text_[pos_] != '"') return false;
    size_t after = pos_ + 1;
    while (after < text_.size() && IsBlank(text_[after])) ++after;
    return after == text_.size() || text_[after] == ',' || text_[after] == '\r' || text_[after] == '\n';
  }
  char Step() {
    const char c = text_[pos_++];
    if (c == '\n') ++line_;
    return c;
  }
  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

// The Windows-1252 byte of each character beyond ASCII the code page has, keyed by the character
// in UTF-8. Taken from the reader's own decoding of every byte, so writing and reading agree.
const std::map<std::string, char>& Cp1252Bytes() {
  static const std::map<std::string, char> bytes = [] {
    std::map<std::string, char> table;
    for (int b = 0x80; b <= 0xFF; ++b) {
      const char byte = static_cast<char>(b);
      table.emplace(DecodeSettingsText(std::string_view(&byte, 1)), byte);
    }
    return table;
  }();
  return bytes;
}

// `utf8` in Windows-1252; nullopt when it holds a character that code page has no byte for.
std::optional<std::string> InCp1252(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
    if (length == 1) {
      out += utf8[i++];
      continue;
    }
    const auto found = Cp1252Bytes().find(utf8.substr(i, length));
    if (found == Cp1252Bytes().end()) return std::nullopt;
    out += found->second;
    i += length;
  }
  return out;
}

}  // namespace

void SingerList::Remove(int slot) {
  if (slot < 1 || slot > count()) return;
  entries_.erase(entries_.begin() + slot);
}

std::string SingerList::LineOf(const std::string& name, const ResultRow& song) {
  return name + " - " + song.SongNumber + " - " + song.Song;
}

std::string SingerList::Format() const {
  std::string out;
  for (int i = 1; i <= count(); ++i) {
    const SingerEntry& e = (*this)[i];
    out += "\"" + e.Name + "\"," + e.Song.SongNumber + ",\"" + e.Song.Song + "\"\r\n";
  }
  // The Windows tools that share these files read them in Windows-1252. A name that code page
  // cannot spell would come back as question marks, so such a list is kept whole in UTF-8.
  std::optional<std::string> cp1252 = InCp1252(out);
  return cp1252 ? std::move(*cp1252) : out;
}

jet::Status SingerList::Parse(std::string_view bytes) {
  std::vector<SingerEntry> read{SingerEntry{}};
  const std::string text = DecodeSettingsText(bytes);
  FieldReader reader(text);
  while (reader.More()) {
    const int first_line = reader.line();
    std::string fields[3];
    for (int f = 0; f < 3; ++f) {
      if (f > 0 && !reader.More())
        return reader.Refuse(first_line, "the singer there has no " + std::string(f == 1 ? "song number" : "song title"));
      bool quoted = false;
      const int at = reader.line();
      jet::Result<std::string> field = reader.Next(quoted);
      if (!field.ok()) return field.error();
      if (f == 1 && (quoted || field->empty() || !IsSongNumber(*field)))
        return reader.Refuse(at, "the song number \"" + *field + "\" is not a number");
      fields[f] = std::move(*field);
    }
    SingerEntry e;
    e.Name = std::move(fields[0]);
    e.Song.SongNumber = std::move(fields[1]);
    e.Song.Song = std::move(fields[2]);
    read.push_back(std::move(e));
  }
  entries_ = std::move(read);
  return jet::Status::Ok();
}

jet::Status SingerList::Save(const std::string& path) const { return WriteFileAtomically(path, Format()); }

jet::Status SingerList::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return jet::Error(jet::ErrorCode::kIo,
                      "The singers list " + path + " cannot be opened. Check that it exists and that you may read it.");
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  jet::Status parsed = Parse(bytes.str());
  if (!parsed.ok()) {
    return jet::Error(jet::ErrorCode::kCorrupt, "The singers list " + path + " cannot be loaded: " +
                                                    parsed.error().message() +
                                                    ". The queue is unchanged; choose a file saved by this program.");
  }
  return parsed;
}

}  // namespace velloran
