// LIKE patterns as Access matches them, on the character folding of text_fold.h.
//
// Pattern syntax: '*' any run of characters (also none), '?' one character, '#' one digit 0-9,
// '[abc]' one of the listed characters, '[!abc]' one character not listed, '[a-z]' a range;
// inside brackets '*', '?', '#' and '[' stand for themselves, a '-' first or last in the list
// too; '[]' matches nothing at all (it is left out). Outside brackets every other character,
// ']' included, stands for itself. A character is one UTF-16 code unit.
//
// Comparison follows the General sort order, as Access's text comparison does: two characters
// match when the sort order gives them the same weights, so case does not matter while accents
// do ('É' matches 'é', not 'e'). A range holds the characters that sort between its ends,
// inclusively ('[a-f]' holds 'B' and 'é').
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/text/text_fold.h"  // FoldText, FoldUnit

namespace jet {

class LikePattern {
 public:
  // Fails (kInvalidArgument) on a '[' without its ']' and on a range whose ends are reversed.
  static Result<LikePattern> Compile(JetVersion version, const Text& pattern);

  // Whether the whole of `text` matches. Characters are folded as they are compared, so a
  // pattern that fails early reads little of the text. Two threads may match at once.
  bool Matches(std::u16string_view text) const;
  // The same for a text as a row stores it (text_codec.h), read in place where its form allows:
  // one byte a character, or UTF-16. Not for two threads at once: a text that must be decoded
  // first is decoded into the pattern's own buffer.
  bool MatchesStored(const uint8_t* bytes, size_t size) const;

  // The longest string of plain characters (folded) that every matching text contains; empty
  // when the pattern has none.
  std::u16string RequiredText() const;
  // The folded string x when the pattern is '*x*' with x plain characters only: a text matches
  // exactly when its folding contains x.
  std::optional<std::u16string> ContainedText() const;
  // Whether every text matches (a pattern of '*' alone).
  bool MatchesAnyText() const;

 private:
  struct CharSet;
  struct Element {
    enum class Kind : uint8_t { kChar, kAny, kDigit, kSet } kind;
    char16_t unit = 0;  // kChar: the folded character
    int set = -1;       // kSet: index into sets_
  };
  // The elements between two '*'; each matches exactly one character.
  struct Segment {
    std::vector<Element> elements;
    std::u16string literal;  // the folded characters when every element is kChar
    bool plain = true;
  };

  LikePattern(JetVersion version, const char16_t* fold) : version_(version), fold_(fold) {}
  Status Parse(std::u16string_view pattern);
  Result<int> ParseSet(std::u16string_view pattern, size_t* pos);
  bool ElementMatches(const Element& e, char16_t folded) const;
  // Units: a text's code units, by index (sql_like.cpp has the kinds of text they read).
  template <typename Units>
  bool MatchesUnits(const Units& text) const;
  template <typename Units>
  bool SegmentAt(const Segment& s, const Units& text, size_t at) const;
  template <typename Units>
  size_t Find(const Segment& s, const Units& text, size_t from, size_t end) const;

  JetVersion version_;
  const char16_t* fold_;  // the version's folding table: 65,536 units
  std::vector<Segment> segments_;  // pattern = segments_ joined by '*'
  std::vector<std::shared_ptr<CharSet>> sets_;
  mutable Text decoded_;  // a stored text that had to be decoded first
};

}  // namespace jet
