// The General sort order: how Access orders text and how it writes text into index keys.
//
// A text key is a byte string whose unsigned lexicographic order is the sort order. Each character has
// an inline weight that ignores case and accents; the accents, the positions of unprintable characters
// and a few other marks follow in later sections, so they only break ties between texts whose inline
// weights are equal. Upper and lower case letters have identical weights and marks: texts that differ
// only in case have the same key, which is why Access treats them as equal in indexes.
//
// Jet 4 files (Access 2000-2003) key the UTF-16 text itself. Jet 3 files (Access 97) key the text's
// code page 1252 bytes with a smaller table; the caller still passes UTF-16, and characters that code
// page 1252 cannot represent contribute nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "jet/base/format.h"
#include "jet/base/value.h"

namespace jet {

// Only the first 255 UTF-16 code units of a text take part in its key and in comparisons.
constexpr size_t kMaxKeyTextLength = 255;

// Appends the key bytes of a non-NULL text value, exactly as Access writes them after the column's
// flag byte in an index entry. The text is first cut to kMaxKeyTextLength units, then its trailing
// blanks (U+0020) are dropped. A descending column stores the bytes inverted (and, in Jet 4, followed
// by an uninverted 0x00).
void AppendTextKey(JetVersion version, const Text& text, bool ascending, std::string* key);

// AppendTextKey for a text given as UTF-8 (a zero unit as the two bytes C0 80), without making a
// Text first, where the text is of the characters most titles and artists are made of: in Jet 4,
// units below U+0100 whose part in a key is an inline weight and at most an accent (letters,
// accented or not, digits, blanks); in Jet 3, ASCII without accents. False, with nothing
// appended, for any other text: its key is then AppendTextKey's of its units.
bool AppendUtf8TextKey(JetVersion version, std::string_view utf8, bool ascending, std::string* key);

// Compares two texts the way Access's General sort order does: <0, 0 or >0. Texts compare equal when
// their ascending keys are equal: same letters ignoring case, same accents, trailing blanks and the
// characters the sort order ignores left out.
int CompareText(JetVersion version, const Text& a, const Text& b);

// The weight tables, generated into collation_data.cpp by tools/gen_collation.py. Internal to the
// collation code and its tests.
namespace collation_internal {

// How a code unit takes part in a key.
enum class CharClass : uint8_t {
  kIgnored,      // contributes nothing
  kSimple,       // an inline weight only
  kAccented,     // an inline weight and an accent code
  kExtended,     // Jet 4: an inline weight, an optional accent code and a two-bit extended mark
  kUnprintable,  // Jet 4: no inline weight; its code and position follow the accents
  kModifier,     // Jet 4: no inline weight; its code is added to the previous character's accent
  kSignificant,  // Jet 3: an inline weight; a letter that could have carried an accent
};

// A run of consecutive code units of one class that share everything but the inline weight. The weight
// grows by one step per code unit. A step skips the low bytes 0x00 and 0x01, which would read as
// terminators, unless the run is dense. A run ends where the next one starts.
struct CharRun {
  char16_t first;
  CharClass cls;
  uint8_t weight_len = 0;  // 0-4 bytes
  uint32_t weight = 0;     // weight of `first`, big-endian in the low weight_len bytes
  uint8_t code_len = 0;    // bytes of `code`: an accent (1-2), an unprintable or a modifier code (1)
  uint16_t code = 0;
  uint8_t mark = 0;        // kExtended: 2 or 3
  bool dense = false;
};

// Jet 4: runs covering every code unit 0x0000-0xFFFF, sorted by `first`.
extern const CharRun kGeneralRuns[];
extern const size_t kGeneralRunsCount;
// Jet 3: runs covering the code page 1252 bytes 0x00-0xFF.
extern const CharRun kGeneral97Runs[];
extern const size_t kGeneral97RunsCount;

// What one code unit contributes, resolved from its run.
struct CharCode {
  CharClass cls = CharClass::kIgnored;
  uint8_t weight_len = 0;
  uint32_t weight = 0;
  uint8_t code_len = 0;
  uint16_t code = 0;
  uint8_t mark = 0;
};

// Looks up a Jet 4 code unit, or a Jet 3 code page 1252 byte.
CharCode LookupGeneral(char16_t unit);
// The code of `unit`, which lies in `run` (it is the run's first or comes after it, before the next
// run's first): for a walk over many units that steps through the runs instead of searching them.
CharCode CodeInRun(const CharRun& run, char16_t unit);
CharCode LookupGeneral97(uint8_t byte);
// Byte helpers shared by the key builders (here and in index_key.cpp).
void AppendBigEndian(uint64_t value, int bytes, std::string* out);
// Inverts every byte of *out from `start` on: how descending columns store their bytes.
void InvertFrom(size_t start, std::string* out);

}  // namespace collation_internal
}  // namespace jet
