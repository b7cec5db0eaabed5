#include "jet/sql/text_presence.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "jet/sql/sql_like.h"
#include "jet/text/text_codec.h"

namespace jet {

namespace {

// The units of the folding table grouped by what they fold to: units_[starts_[f] .. starts_[f+1]).
struct FoldClasses {
  std::vector<uint32_t> starts = std::vector<uint32_t>(0x10001, 0);
  std::vector<char16_t> units = std::vector<char16_t>(0x10000);

  explicit FoldClasses(JetVersion version) {
    for (uint32_t u = 0; u < 0x10000; ++u) ++starts[FoldUnit(version, static_cast<char16_t>(u)) + 1];
    for (uint32_t f = 0; f < 0x10000; ++f) starts[f + 1] += starts[f];
    std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
    for (uint32_t u = 0; u < 0x10000; ++u) units[next[FoldUnit(version, static_cast<char16_t>(u))]++] = static_cast<char16_t>(u);
  }
};

const FoldClasses& ClassesFor(JetVersion version) {
  static std::once_flag once[2];
  static const FoldClasses* classes[2];
  const int i = version == JetVersion::kJet3 ? 0 : 1;
  std::call_once(once[i], [&] { classes[i] = new FoldClasses(version); });
  return *classes[i];
}

}  // namespace

std::vector<char16_t> UnitsFoldingTo(JetVersion version, char16_t folded) {
  const FoldClasses& classes = ClassesFor(version);
  return std::vector<char16_t>(classes.units.begin() + classes.starts[folded], classes.units.begin() + classes.starts[folded + 1]);
}

namespace {

// How a character folding to `f` may be stored; nothing when one of its forms begins with a zero
// byte, which the test cannot tell from the zeros between characters (the ideographic space,
// U+3000, which folds with the plain space, is one).
std::optional<TextPresence::Character> CharacterFor(JetVersion version, char16_t f) {
  TextPresence::Character c;
  if (version == JetVersion::kJet3) {
    // One byte a character, in the file's code page.
    for (int b = 1; b < 256; ++b) {
      if (FoldUnit(version, Cp1252ToUnicode(static_cast<uint8_t>(b))) == f) c.single.set(static_cast<size_t>(b));
    }
  } else {
    for (char16_t unit : UnitsFoldingTo(version, f)) {
      const uint8_t low = static_cast<uint8_t>(unit & 0xFF), high = static_cast<uint8_t>(unit >> 8);
      if (low == 0) return std::nullopt;
      if (high == 0) c.single.set(low);
      else c.pairs.emplace_back(low, high);
    }
  }
  if (c.single.none() && c.pairs.empty()) return std::nullopt;
  return c;
}

}  // namespace

// A text holding `folded` holds each stretch of it, so the test looks for the longest stretch
// whose characters it can find ("Baby Summer" without the space, if the space cannot be).
std::optional<TextPresence> TextPresence::For(JetVersion version, const std::u16string& folded) {
  std::vector<Character> run, longest;
  for (char16_t f : folded) {
    std::optional<Character> c = CharacterFor(version, f);
    if (c) {
      run.push_back(std::move(*c));
      if (run.size() > longest.size()) longest = run;
    } else {
      run.clear();
    }
  }
  if (longest.empty()) return std::nullopt;
  TextPresence test;
  test.characters_ = std::move(longest);
  const Character& first = test.characters_.front();
  for (int b = 0; b < 256; ++b) {
    const bool starts_pair = std::any_of(first.pairs.begin(), first.pairs.end(), [&](const auto& p) { return p.first == b; });
    if (first.single.test(static_cast<size_t>(b)) || starts_pair) test.first_bytes_.push_back(static_cast<uint8_t>(b));
  }
  return test;
}

bool TextPresence::MatchesAt(const uint8_t* bytes, size_t size, size_t at, size_t character) const {
  if (character == characters_.size()) return true;
  const Character& c = characters_[character];
  // Whatever follows the character's form: the next character, perhaps after zero bytes (the
  // high byte of a UTF-16 character below 256, and any number of switches between one-byte and
  // UTF-16 runs).
  const auto rest_from = [&](size_t next) {
    for (size_t at_next = next;; ++at_next) {
      if (MatchesAt(bytes, size, at_next, character + 1)) return true;
      if (at_next >= size || bytes[at_next] != 0) return false;
    }
  };
  if (at >= size) return false;
  if (c.single.test(bytes[at]) && rest_from(at + 1)) return true;
  if (at + 1 < size) {
    for (const auto& [low, high] : c.pairs) {
      if (bytes[at] == low && bytes[at + 1] == high && rest_from(at + 2)) return true;
    }
  }
  return false;
}

bool TextPresence::MayHold(const uint8_t* bytes, size_t size) const {
  for (uint8_t first : first_bytes_) {
    const uint8_t* from = bytes;
    const uint8_t* end = bytes + size;
    while (from < end) {
      const void* hit = std::memchr(from, first, static_cast<size_t>(end - from));
      if (hit == nullptr) break;
      const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
      if (MatchesAt(bytes, size, at, 0)) return true;
      from = bytes + at + 1;
    }
  }
  return false;
}

}  // namespace jet
