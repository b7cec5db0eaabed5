#include "jet/text/text_fold.h"

#include <array>
#include <memory>
#include <span>
#include <vector>

#include "jet/text/collation.h"
#include "jet/text/fold_runs.h"
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

// The first unit seen with each packed code, in a table of open addressing.
class FirstWith {
 public:
  // The unit first offered with `packed` (this one when it is the first).
  char16_t Offer(uint64_t packed, char16_t unit) {
    for (size_t slot = (packed * 0x9E3779B97F4A7C15u) >> (64 - kBits);; slot = (slot + 1) & (kSlots - 1)) {
      if (!used_[slot]) {
        used_[slot] = true;
        keys_[slot] = packed;
        units_[slot] = unit;
        return unit;
      }
      if (keys_[slot] == packed) return units_[slot];
    }
  }

 private:
  static constexpr int kBits = 17;  // twice the most codes there can be
  static constexpr size_t kSlots = size_t{1} << kBits;
  std::vector<uint64_t> keys_ = std::vector<uint64_t>(kSlots);
  std::vector<char16_t> units_ = std::vector<char16_t>(kSlots);
  std::vector<bool> used_ = std::vector<bool>(kSlots);
};

// Each built when first used, from its runs: a process that opens only Jet 4 files never builds
// the other.
const FoldTable& FoldTableFor(JetVersion version) {
  const auto build = [](std::span<const FoldRun> runs) {
    auto table = std::make_unique<FoldTable>();
    for (uint32_t u = 0; u < 0x10000; ++u) (*table)[u] = static_cast<char16_t>(u);
    for (const FoldRun& run : runs) {
      for (uint32_t i = 0, u = run.first; i < run.count; ++i, u += run.stride) (*table)[u] = static_cast<char16_t>(static_cast<int32_t>(u) + run.step);
    }
    return table;
  };
  if (version == JetVersion::kJet4) {
    static const std::unique_ptr<FoldTable> jet4 = build(FoldRunsOf(JetVersion::kJet4));
    return *jet4;
  }
  static const std::unique_ptr<FoldTable> jet3 = build(FoldRunsOf(JetVersion::kJet3));
  return *jet3;
}

}  // namespace

// Each unit maps to the lowest unit with the same weights.
std::vector<char16_t> FoldingFromWeights(JetVersion version) {
  std::vector<char16_t> table(0x10000);
  for (uint32_t u = 0; u < 0x10000; ++u) table[u] = static_cast<char16_t>(u);
  FirstWith first_with;
  const auto fold = [&](char16_t unit, const CharCode& code) {
    // No weight of its own: only matches itself.
    table[unit] = code.weight_len == 0 ? unit : first_with.Offer(Pack(code), unit);
  };
  if (version == JetVersion::kJet4) {
    // The runs cover every unit in order: walked, not searched for each unit.
    const collation_internal::CharRun* runs = collation_internal::kGeneralRuns;
    for (size_t r = 0; r < collation_internal::kGeneralRunsCount; ++r) {
      const uint32_t end = r + 1 < collation_internal::kGeneralRunsCount ? runs[r + 1].first : 0x10000;
      for (uint32_t u = runs[r].first; u < end; ++u) fold(static_cast<char16_t>(u), collation_internal::CodeInRun(runs[r], static_cast<char16_t>(u)));
    }
    return table;
  }
  for (uint32_t u = 0; u < 0x10000; ++u) {
    const char16_t unit = static_cast<char16_t>(u);
    uint8_t byte;
    if (UnicodeToCp1252(unit, &byte)) fold(unit, collation_internal::LookupGeneral97(byte));
  }
  return table;
}

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
