#include "jet/sql/sql_like.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "jet/text/collation.h"
#include "jet/text/text_codec.h"

namespace jet {

namespace {

std::string SingleUnitKey(JetVersion version, char16_t unit) {
  std::string key;
  AppendTextKey(version, Text(1, unit), true, &key);
  return key;
}

Error PatternError(const std::string& what, std::u16string_view pattern) {
  return Error(ErrorCode::kInvalidArgument, "invalid LIKE pattern '" + ToUtf8(Text(pattern)) + "': " + what);
}

}  // namespace

// The characters of one bracket group. Range decisions need the sort order's key of the
// character, so they are remembered per character once made.
struct LikePattern::CharSet {
  bool negated = false;
  std::u16string units;  // folded
  std::vector<std::pair<std::string, std::string>> ranges;  // keys of the ends, inclusive
  JetVersion version = JetVersion::kJet4;
  // Per unit, with ranges: 0 not decided yet, 1 inside a range, 2 outside. Two threads matching
  // at once may both decide a unit, and decide it alike.
  std::unique_ptr<std::atomic<uint8_t>[]> decided;

  bool Contains(char16_t folded) const {
    bool in = units.find(folded) != std::u16string::npos;
    if (!in && decided != nullptr) {
      uint8_t d = decided[folded].load(std::memory_order_relaxed);
      if (d == 0) {
        const std::string key = SingleUnitKey(version, folded);
        d = 2;
        for (const auto& [low, high] : ranges)
          if (low <= key && key <= high) d = 1;
        decided[folded].store(d, std::memory_order_relaxed);
      }
      in = d == 1;
    }
    return in != negated;
  }
};

Result<LikePattern> LikePattern::Compile(JetVersion version, const Text& pattern) {
  LikePattern p(version, FoldTableOf(version));
  JET_RETURN_IF_ERROR(p.Parse(pattern));
  return p;
}

Status LikePattern::Parse(std::u16string_view pattern) {
  const char16_t* fold = fold_;
  segments_.emplace_back();
  for (size_t pos = 0; pos < pattern.size();) {
    const char16_t c = pattern[pos];
    Element e{Element::Kind::kChar};
    if (c == u'*') {
      segments_.emplace_back();
      ++pos;
      continue;
    } else if (c == u'?') {
      e.kind = Element::Kind::kAny;
    } else if (c == u'#') {
      e.kind = Element::Kind::kDigit;
    } else if (c == u'[') {
      JET_ASSIGN_OR_RETURN(e.set, ParseSet(pattern, &pos));
      if (e.set < 0) continue;  // "[]" matches nothing
      e.kind = Element::Kind::kSet;
    } else {
      e.unit = fold[c];
    }
    if (c != u'[') ++pos;
    Segment& s = segments_.back();
    s.elements.push_back(e);
    if (e.kind == Element::Kind::kChar) {
      s.literal.push_back(e.unit);
    } else {
      s.plain = false;
    }
  }
  return Status::Ok();
}

std::u16string LikePattern::RequiredText() const {
  std::u16string longest;
  for (const Segment& s : segments_) {
    if (s.plain && s.literal.size() > longest.size()) longest = s.literal;
  }
  return longest;
}

std::optional<std::u16string> LikePattern::ContainedText() const {
  if (segments_.size() != 3 || !segments_[0].elements.empty() || !segments_[2].elements.empty()) return std::nullopt;
  if (!segments_[1].plain || segments_[1].literal.empty()) return std::nullopt;
  return segments_[1].literal;
}

bool LikePattern::MatchesAnyText() const {
  return segments_.size() > 1 && std::all_of(segments_.begin(), segments_.end(), [](const Segment& s) { return s.elements.empty(); });
}

// Reads the group at *pos ('['), leaves *pos after its ']' and returns its index in sets_, or -1
// for the empty group.
Result<int> LikePattern::ParseSet(std::u16string_view pattern, size_t* pos) {
  const size_t close = pattern.find(u']', *pos + 1);
  if (close == std::u16string_view::npos) return PatternError("'[' without ']'", pattern);
  std::u16string_view body = pattern.substr(*pos + 1, close - *pos - 1);
  *pos = close + 1;
  if (body.empty()) return -1;
  auto set = std::make_shared<CharSet>();
  set->version = version_;
  if (body.size() > 1 && body[0] == u'!') {
    set->negated = true;
    body.remove_prefix(1);
  }
  for (size_t i = 0; i < body.size();) {
    if (i + 2 < body.size() && body[i + 1] == u'-') {
      std::string low = SingleUnitKey(version_, body[i]), high = SingleUnitKey(version_, body[i + 2]);
      if (high < low) return PatternError("the range " + ToUtf8(Text(body.substr(i, 3))) + " is reversed", pattern);
      set->ranges.emplace_back(std::move(low), std::move(high));
      i += 3;
    } else {
      set->units.push_back(FoldUnit(version_, body[i]));
      ++i;
    }
  }
  if (!set->ranges.empty()) set->decided = std::make_unique<std::atomic<uint8_t>[]>(0x10000);
  sets_.push_back(std::move(set));
  return static_cast<int>(sets_.size() - 1);
}

bool LikePattern::ElementMatches(const Element& e, char16_t folded) const {
  switch (e.kind) {
    case Element::Kind::kChar: return folded == e.unit;
    case Element::Kind::kAny: return true;
    case Element::Kind::kDigit: return folded >= u'0' && folded <= u'9';
    case Element::Kind::kSet: return sets_[e.set]->Contains(folded);
  }
  return false;
}

namespace {

// The kinds of text matched, each a run of code units read by index.
struct Utf16Units {  // a decoded text
  std::u16string_view text;
  size_t size() const { return text.size(); }
  char16_t operator[](size_t i) const { return text[i]; }
};
struct ByteUnits {  // Jet 4 compressed text without two-byte runs: a unit per byte
  const uint8_t* bytes;
  size_t count;
  size_t size() const { return count; }
  char16_t operator[](size_t i) const { return bytes[i]; }
};
struct LittleEndianUnits {  // Jet 4 text kept as UTF-16
  const uint8_t* bytes;
  size_t count;
  size_t size() const { return count; }
  char16_t operator[](size_t i) const { return static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8); }
};

}  // namespace

template <typename Units>
bool LikePattern::SegmentAt(const Segment& s, const Units& text, size_t at) const {
  if (s.plain) {
    for (size_t i = 0; i < s.literal.size(); ++i)
      if (fold_[text[at + i]] != s.literal[i]) return false;
    return true;
  }
  for (size_t i = 0; i < s.elements.size(); ++i)
    if (!ElementMatches(s.elements[i], fold_[text[at + i]])) return false;
  return true;
}

// The leftmost place in [from, end) where `s` matches inside text[0, end); npos when none.
template <typename Units>
size_t LikePattern::Find(const Segment& s, const Units& text, size_t from, size_t end) const {
  const size_t length = s.elements.size();
  if (length > end) return std::u16string_view::npos;
  const size_t last = end - length;
  if (s.plain) {
    // Most texts hold few places where the first character matches: test that one alone first.
    const char16_t first = s.literal[0];
    for (size_t at = from; at <= last; ++at)
      if (fold_[text[at]] == first && SegmentAt(s, text, at)) return at;
    return std::u16string_view::npos;
  }
  for (size_t at = from; at <= last; ++at)
    if (SegmentAt(s, text, at)) return at;
  return std::u16string_view::npos;
}

// Each segment matches a fixed number of characters, so the first segment must sit at the start,
// the last at the end, and the ones between may each take their leftmost place: any later
// choice leaves less room for the rest.
template <typename Units>
bool LikePattern::MatchesUnits(const Units& text) const {
  const Segment& first = segments_.front();
  if (segments_.size() == 1) return first.elements.size() == text.size() && SegmentAt(first, text, 0);
  const Segment& last = segments_.back();
  if (first.elements.size() + last.elements.size() > text.size()) return false;
  const size_t end = text.size() - last.elements.size();
  if (!SegmentAt(first, text, 0) || !SegmentAt(last, text, end)) return false;
  size_t pos = first.elements.size();
  for (size_t i = 1; i + 1 < segments_.size(); ++i) {
    const Segment& s = segments_[i];
    if (s.elements.empty()) continue;
    const size_t at = Find(s, text, pos, end);
    if (at == std::u16string_view::npos) return false;
    pos = at + s.elements.size();
  }
  return true;
}

bool LikePattern::Matches(std::u16string_view text) const { return MatchesUnits(Utf16Units{text}); }

bool LikePattern::MatchesStored(const uint8_t* bytes, size_t size) const {
  if (version_ == JetVersion::kJet4) {
    const bool compressed = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (!compressed) return MatchesUnits(LittleEndianUnits{bytes, size / 2});
    // A zero byte switches between one-byte and two-byte runs; without one, a byte is a unit.
    if (std::memchr(bytes + 2, 0, size - 2) == nullptr) return MatchesUnits(ByteUnits{bytes + 2, size - 2});
  }
  DecodeStoredText(version_, bytes, size, &decoded_);
  return Matches(decoded_);
}

}  // namespace jet
