#include "jet/text/text_fold.h"

#include <array>
#include <memory>
#include <unordered_map>

#include "jet/text/collation.h"
#include "jet/text/text_codec.h"

namespace jet {

namespace {

using collation_internal::CharCode;

// Everything the sort order knows of a character, packed so that equal weights give equal numbers.
uint64_t Pack(const CharCode& c) {
  return static_cast<uint64_t>(c.cls) << 56 | static_cast<uint64_t>(c.weight_len) << 53 |
         static_cast<uint64_t>(c.code_len) << 50 | static_cast<uint64_t>(c.mark) << 48 |
         static_cast<uint64_t>(c.code) << 32 | c.weight;
}

using FoldTable = std::array<char16_t, 0x10000>;

// Each unit maps to the lowest unit with the same weights. Built once; lookups are then one load.
std::unique_ptr<FoldTable> BuildFoldTable(JetVersion version) {
  auto table = std::make_unique<FoldTable>();
  std::unordered_map<uint64_t, char16_t> first_with;
  first_with.reserve(size_t{1} << 15);
  for (uint32_t u = 0; u < 0x10000; ++u) {
    const char16_t unit = static_cast<char16_t>(u);
    (*table)[u] = unit;
    CharCode code;
    if (version == JetVersion::kJet4) {
      code = collation_internal::LookupGeneral(unit);
    } else {
      uint8_t byte;
      if (!UnicodeToCp1252(unit, &byte)) continue;
      code = collation_internal::LookupGeneral97(byte);
    }
    if (code.weight_len == 0) continue;  // no weight of its own: only matches itself
    (*table)[u] = first_with.emplace(Pack(code), unit).first->second;
  }
  return table;
}

// Each built when first used: a process that opens only Jet 4 files never builds the other.
const FoldTable& FoldTableFor(JetVersion version) {
  if (version == JetVersion::kJet4) {
    static const std::unique_ptr<FoldTable> jet4 = BuildFoldTable(JetVersion::kJet4);
    return *jet4;
  }
  static const std::unique_ptr<FoldTable> jet3 = BuildFoldTable(JetVersion::kJet3);
  return *jet3;
}

}  // namespace

char16_t FoldUnit(JetVersion version, char16_t unit) { return FoldTableFor(version)[unit]; }

const char16_t* FoldTableOf(JetVersion version) { return FoldTableFor(version).data(); }

void FoldText(JetVersion version, std::u16string_view text, std::u16string* out) {
  const FoldTable& table = FoldTableFor(version);
  out->resize(text.size());
  char16_t* dst = out->data();
  for (size_t i = 0; i < text.size(); ++i) dst[i] = table[text[i]];
}

// Names are nearly always ASCII, and an ASCII character is one unit either way: those are folded
// byte by byte, without decoding. Object names follow the Jet 4 weights in every file, so that a
// name means the same whichever version holds it.
bool SameObjectName(std::string_view a, std::string_view b) {
  const FoldTable& table = FoldTableFor(JetVersion::kJet4);
  if (a.size() == b.size()) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
      const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x >= 0x80 || y >= 0x80) break;
      if (x != y && table[x] != table[y]) return false;
    }
    if (i == a.size()) return true;
  } else {
    const auto ascii = [](std::string_view s) {
      for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
      return true;
    };
    if (ascii(a) && ascii(b)) return false;
  }
  const Text x = FromUtf8(std::string(a)), y = FromUtf8(std::string(b));
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (x[i] != y[i] && table[x[i]] != table[y[i]]) return false;
  return true;
}

}  // namespace jet
