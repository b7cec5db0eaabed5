// Whether a stretch of stored bytes (a data page, say) could hold a text that contains a given
// string, compared as LIKE compares characters (the sort order's folding: 'a' matches 'A' and
// the full-width 'Ａ'). A search for a word in titles and artists asks this of every page before
// it reads the page's rows: most pages cannot hold the word, and this test reads them at the
// speed of memchr.
//
// The test never says no to bytes that hold such a text, in any of the forms a row stores texts
// in (text_codec.h): one byte a character, UTF-16, or one byte a character switching to UTF-16
// and back within the text. It may say yes to bytes that hold none.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/format.h"

namespace jet {

class TextPresence {
 public:
  // A test for texts that contain `folded` (units as FoldUnit gives them). Nothing when no
  // useful test can be made (no character of it has stored forms the test can find).
  static std::optional<TextPresence> For(JetVersion version, const std::u16string& folded);

  bool MayHold(const uint8_t* bytes, size_t size) const;

  // How one character of the string may appear: one of `single` as one byte (compressed, or the
  // low byte of UTF-16 with a zero high byte), or one of `pairs` as two bytes (UTF-16).
  struct Character {
    std::bitset<256> single;
    std::vector<std::pair<uint8_t, uint8_t>> pairs;
  };

 private:

  bool MatchesAt(const uint8_t* bytes, size_t size, size_t at, size_t character) const;

  std::vector<Character> characters_;
  std::vector<uint8_t> first_bytes_;  // every byte the first character's form can start with
};

// Every unit of the version's folding table that folds to `folded`, itself included.
std::vector<char16_t> UnitsFoldingTo(JetVersion version, char16_t folded);

}  // namespace jet
