#include "jet/text/collation.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "jet/text/text_codec.h"

namespace jet {
namespace collation_internal {
namespace {

CharCode Resolve(const CharRun* runs, size_t count, char16_t unit) {
  // The tables cover every unit from 0, so the run is the last one starting at or before `unit`.
  const CharRun* run =
      std::upper_bound(runs, runs + count, unit,
                       [](char16_t u, const CharRun& r) { return u < r.first; }) - 1;
  return CodeInRun(*run, unit);
}

}  // namespace

CharCode CodeInRun(const CharRun& run, char16_t unit) {
  CharCode code;
  code.cls = run.cls;
  code.weight_len = run.weight_len;
  code.code_len = run.code_len;
  code.code = run.code;
  code.mark = run.mark;
  const uint32_t steps = unit - run.first;
  if (run.weight_len == 0 || steps == 0) {
    code.weight = run.weight;
  } else if (run.dense) {
    code.weight = run.weight + steps;
  } else {
    // Count in a base-254 space whose low digit runs 0x02..0xFF.
    const uint32_t ordinal = (run.weight >> 8) * 254 + (run.weight & 0xFF) - 2 + steps;
    code.weight = (ordinal / 254) << 8 | (ordinal % 254 + 2);
  }
  return code;
}

CharCode LookupGeneral(char16_t unit) {
  // Most text is Latin: its codes are looked up once, not searched for in every key.
  static const std::array<CharCode, 256> kLatin1 = [] {
    std::array<CharCode, 256> codes;
    for (char16_t u = 0; u < codes.size(); ++u) codes[u] = Resolve(kGeneralRuns, kGeneralRunsCount, u);
    return codes;
  }();
  if (unit < kLatin1.size()) return kLatin1[unit];
  return Resolve(kGeneralRuns, kGeneralRunsCount, unit);
}

CharCode LookupGeneral97(uint8_t byte) {
  return Resolve(kGeneral97Runs, kGeneral97RunsCount, byte);
}

void AppendBigEndian(uint64_t value, int bytes, std::string* out) {
  for (int i = bytes - 1; i >= 0; --i) out->push_back(static_cast<char>(value >> (8 * i)));
}

void InvertFrom(size_t start, std::string* out) {
  for (size_t i = start; i < out->size(); ++i) (*out)[i] = static_cast<char>(~(*out)[i]);
}

}  // namespace collation_internal

namespace {

using collation_internal::AppendBigEndian;
using collation_internal::CharClass;
using collation_internal::CharCode;
using collation_internal::InvertFrom;

constexpr char kEndInline = 0x01;  // ends the inline weights; also separates later Jet 4 sections
constexpr char kEndKey = 0x00;
constexpr uint8_t kNoAccent = 0x02;

// The units that take part in a key: at most kMaxKeyTextLength, without trailing blanks.
std::u16string_view KeyedPart(const Text& text) {
  std::u16string_view view(text);
  view = view.substr(0, std::min(view.size(), kMaxKeyTextLength));
  while (!view.empty() && view.back() == u' ') view.remove_suffix(1);
  return view;
}

// Builds a Jet 4 text key. After the inline weights come, in order:
//   0x01, then one accent byte per weighted character (0x02 = none; trailing 0x00-0x02 dropped);
//   if there are extended marks or unprintables: 0x01 0x01, then the packed extended marks and the fixed
//   tail FF 02 80 FF 80 (plus FF when unprintables follow), then 0x01 and the unprintables, each as a
//   big-endian 0x8000 | (7 + 4 * position), 0x06 and its code;
//   and finally 0x00.
class Jet4TextKey {
 public:
  explicit Jet4TextKey(std::string* out) : out_(out) {}

  void Add(char16_t unit);
  void Finish();

 private:
  void AddAccent(int position, const CharCode& code);
  void AddUnprintable(int position, const CharCode& code);
  void AppendMarks();

  std::string* out_;
  int weighted_ = 0;       // characters that have written an inline weight
  std::string accents_;    // written up to the last accented character only
  int accent_chars_ = 0;   // weighted characters that accents_ accounts for
  int accent_lead_ = 0;    // 1 if accents_ begins with a modifier that had no character to modify
  std::string unprintables_;
  std::string marks_;      // one extended mark (2 or 3) per extended character
};

void Jet4TextKey::Add(char16_t unit) {
  const CharCode code = collation_internal::LookupGeneral(unit);
  const int position = weighted_;
  if (code.weight_len > 0) {
    AppendBigEndian(code.weight, code.weight_len, out_);
    ++weighted_;
  }
  switch (code.cls) {
    case CharClass::kAccented:
    case CharClass::kModifier:
      AddAccent(position, code);
      break;
    case CharClass::kExtended:
      if (code.code_len > 0) AddAccent(position, code);
      marks_.push_back(static_cast<char>(code.mark));
      break;
    case CharClass::kUnprintable:
      AddUnprintable(position, code);
      break;
    default:
      break;
  }
}

void Jet4TextKey::AddAccent(int position, const CharCode& code) {
  if (accent_chars_ < position) {
    accents_.append(position - accent_chars_, static_cast<char>(kNoAccent));
    accent_chars_ = position;
  }
  if (code.cls != CharClass::kModifier) {
    AppendBigEndian(code.code, code.code_len, &accents_);
    ++accent_chars_;
  } else if (!accents_.empty()) {
    accents_.back() = static_cast<char>(accents_.back() + code.code);
  } else {
    accents_.push_back(static_cast<char>(code.code));
    accent_lead_ = 1;
  }
}

void Jet4TextKey::AddUnprintable(int position, const CharCode& code) {
  // The position counts accent bytes, as if the accents were padded up to this character.
  if (!accents_.empty()) {
    position = static_cast<int>(accents_.size()) + (position - accent_chars_) - accent_lead_;
  }
  AppendBigEndian(0x8000 | (7 + 4 * position), 2, &unprintables_);
  unprintables_.push_back(0x06);
  AppendBigEndian(code.code, code.code_len, &unprintables_);
}

void Jet4TextKey::AppendMarks() {
  // Trailing 3s are the default and are not written; the rest go three to a byte under a 0x80 prefix.
  std::string marks = marks_;
  while (!marks.empty() && marks.back() == 3) marks.pop_back();
  for (size_t i = 0; i < marks.size(); i += 3) {
    uint8_t byte = 0x80;
    for (size_t j = 0; j < 3 && i + j < marks.size(); ++j) byte |= marks[i + j] << (4 - 2 * j);
    out_->push_back(static_cast<char>(byte));
  }
  out_->append("\xFF\x02\x80\xFF\x80", 5);
}

void Jet4TextKey::Finish() {
  out_->push_back(kEndInline);
  while (!accents_.empty() && static_cast<uint8_t>(accents_.back()) <= kNoAccent) accents_.pop_back();
  out_->append(accents_);
  if (marks_.empty() && unprintables_.empty()) return;
  out_->append(2, kEndInline);
  if (!marks_.empty()) {
    AppendMarks();
    if (!unprintables_.empty()) out_->push_back(static_cast<char>(0xFF));
  }
  if (!unprintables_.empty()) {
    out_->push_back(kEndInline);
    out_->append(unprintables_);
  }
}

void AppendJet4TextKey(std::u16string_view text, bool ascending, std::string* key) {
  const size_t start = key->size();
  Jet4TextKey builder(key);
  for (char16_t unit : text) builder.Add(unit);
  builder.Finish();
  if (!ascending) {
    key->push_back(kEndKey);
    InvertFrom(start, key);
  }
  key->push_back(kEndKey);
}

// Jet 3 keys have no section separators: the inline weights, then either 0x00 or the accents as
// nibbles between two 0 nibbles. A significant letter without an accent before an accented character
// takes a 2 nibble; other characters take none.
void AppendJet3TextKey(std::u16string_view text, bool ascending, std::string* key) {
  const size_t start = key->size();
  std::string nibbles;
  int pending = 0;  // significant letters since the last accent
  for (char16_t unit : text) {
    uint8_t byte;
    if (!UnicodeToCp1252(unit, &byte)) continue;
    const CharCode code = collation_internal::LookupGeneral97(byte);
    AppendBigEndian(code.weight, code.weight_len, key);
    if (code.cls == CharClass::kSignificant) {
      ++pending;
    } else if (code.cls == CharClass::kAccented) {
      if (nibbles.empty()) nibbles.push_back(0);
      nibbles.append(pending, kNoAccent);
      nibbles.push_back(static_cast<char>(code.code & 0x0F));
      pending = 0;
    }
  }
  if (nibbles.empty()) {
    key->push_back(kEndKey);
  } else {
    nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2) {
      const int low = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
      key->push_back(static_cast<char>(nibbles[i] << 4 | low));
    }
  }
  if (!ascending) InvertFrom(start, key);
}

// What each unit below U+0100 adds to a key, where the quick way makes its part: an inline weight
// (up to four bytes), and for an accented letter the code the accents section gets.
struct QuickCode {
  enum Kind : uint8_t { kNone, kWeight, kAccent } kind = kNone;  // kNone: the quick way does not serve
  uint8_t weight_len = 0, code_len = 0;
  char weight[4] = {}, code[2] = {};
};

// Jet 3 keys the quick way only ASCII, its letters that could carry an accent among it: with no
// accented character in a text they add no accent nibbles.
std::array<QuickCode, 256> MakeQuickCodes(JetVersion version) {
  std::array<QuickCode, 256> codes;
  for (uint32_t u = 1; u < codes.size(); ++u) {
    const bool jet3 = version == JetVersion::kJet3;
    if (jet3 && u >= 0x80) continue;
    const CharCode code = jet3 ? collation_internal::LookupGeneral97(static_cast<uint8_t>(u)) : collation_internal::LookupGeneral(static_cast<char16_t>(u));
    QuickCode& quick = codes[u];
    if (jet3) {
      quick.kind = code.cls == CharClass::kAccented ? QuickCode::kNone : QuickCode::kWeight;
    } else if (code.cls == CharClass::kSimple || code.cls == CharClass::kIgnored) {
      quick.kind = QuickCode::kWeight;
    } else if (code.cls == CharClass::kAccented && code.code_len <= 2) {
      quick.kind = QuickCode::kAccent;
    }
    std::string bytes;
    AppendBigEndian(code.weight, code.weight_len, &bytes);
    quick.weight_len = static_cast<uint8_t>(bytes.size());
    std::memcpy(quick.weight, bytes.data(), bytes.size());
    bytes.clear();
    AppendBigEndian(code.code, code.code_len, &bytes);
    quick.code_len = static_cast<uint8_t>(bytes.size());
    std::memcpy(quick.code, bytes.data(), bytes.size());
  }
  return codes;
}

}  // namespace

bool AppendUtf8TextKey(JetVersion version, std::string_view utf8, bool ascending, std::string* key) {
  static const std::array<QuickCode, 256> kJet3 = MakeQuickCodes(JetVersion::kJet3), kJet4 = MakeQuickCodes(JetVersion::kJet4);
  const bool jet3 = version == JetVersion::kJet3;
  const std::array<QuickCode, 256>& quick = jet3 ? kJet3 : kJet4;
  // The inline weights, then the accents as Jet4TextKey keeps them: one accent byte (or code) per weighted character up to the last
  // accented one, 0x02 for those without.
  char weights[4 * kMaxKeyTextLength], accents[2 * kMaxKeyTextLength];
  char* out = weights;
  size_t accents_size = 0, weighted = 0, accented = 0;
  // As KeyedPart cuts a text: at kMaxKeyTextLength units (counted only where there may be more:
  // no more units than bytes), then its trailing blanks.
  size_t end = utf8.size();
  if (end > kMaxKeyTextLength) {
    size_t units = 0;
    for (end = 0; end < utf8.size() && units < kMaxKeyTextLength; ++units) end += static_cast<uint8_t>(utf8[end]) < 0xC0 ? 1 : 2;
    end = std::min(end, utf8.size());
  }
  while (end > 0 && utf8[end - 1] == ' ') --end;
  for (size_t i = 0; i < end; ++i) {
    uint32_t u = static_cast<uint8_t>(utf8[i]);
    // Units U+0080-U+00FF come as two bytes led by 0xC2 or 0xC3; longer ones the quick way does not serve.
    if (u >= 0x80) u = (u & 0xFE) == 0xC2 && i + 1 < end ? (u & 0x1F) << 6 | (static_cast<uint8_t>(utf8[++i]) & 0x3F) : 0;
    const QuickCode& code = quick[u];
    if (code.kind == QuickCode::kNone) return false;
    std::memcpy(out, code.weight, 4);
    out += code.weight_len;
    const size_t position = weighted;
    weighted += code.weight_len > 0;
    if (code.kind != QuickCode::kAccent) continue;
    if (accented < position) {
      std::memset(accents + accents_size, kNoAccent, position - accented);
      accents_size += position - accented;
      accented = position;
    }
    std::memcpy(accents + accents_size, code.code, code.code_len);
    accents_size += code.code_len;
    ++accented;
  }
  const size_t start = key->size();
  key->append(weights, static_cast<size_t>(out - weights));
  // How the builders end such a key: Jet 4's end of the inline weights and its accents (none of
  // them trailing unaccented), Jet 3's end of the key.
  if (!jet3) {
    key->push_back(kEndInline);
    while (accents_size > 0 && static_cast<uint8_t>(accents[accents_size - 1]) <= kNoAccent) --accents_size;
    key->append(accents, accents_size);
  }
  if (jet3 || !ascending) key->push_back(kEndKey);
  if (!ascending) InvertFrom(start, key);
  if (!jet3) key->push_back(kEndKey);
  return true;
}

void AppendTextKey(JetVersion version, const Text& text, bool ascending, std::string* key) {
  if (version == JetVersion::kJet3) {
    AppendJet3TextKey(KeyedPart(text), ascending, key);
  } else {
    AppendJet4TextKey(KeyedPart(text), ascending, key);
  }
}

int CompareText(JetVersion version, const Text& a, const Text& b) {
  std::string key_a, key_b;
  AppendTextKey(version, a, true, &key_a);
  AppendTextKey(version, b, true, &key_b);
  // std::string compares bytes as unsigned char, which is the key order.
  const int result = key_a.compare(key_b);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace jet
