// Looking for LIKE patterns in folded texts: every row at once, at the speed of memory (MarkAll),
// or the rows a walk along some order meets, a few at a time with their memory fetched ahead
// (MatchRows). Either way a row matches exactly when the plain condition would hold for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/sql/folded_columns.h"
#include "jet/sql/sql_like.h"

namespace jet {

// One condition term: rows whose text in columns[k], for a k in `column_mask`, matches `like`.
struct FoldedTerm {
  uint32_t column_mask = 0;
  const LikePattern* like = nullptr;
};

// A search of folded texts for rows that some term matches.
class FoldedSearch {
 public:
  explicit FoldedSearch(const std::vector<FoldedTerm>& terms);

  // Marks every row that some term matches, a bit per row: row r's is bit r % 64 of
  // (*marks)[r / 64] (marks gets a word for every 64 rows begun, bits past the last row clear).
  void MarkAll(const FoldedColumns& folded, std::vector<uint64_t>* marks) const;
  // Whether some term matches row `row`.
  bool Matches(const FoldedColumns& folded, size_t row) const;
  // Whether some term matches a row whose folded texts are `texts`, one per column (bit k of
  // `nulls` set where the row's value of column k is NULL): a row being folded, not yet held.
  // Where its texts lie end to end, each ended by its zero, bytes may be read up to `readable`;
  // null where they do not.
  bool MatchesTexts(const std::string_view* texts, size_t width, uint8_t nulls, const char* readable) const;
  // Every term as (its column mask, the bytes it looks for anywhere in a text), when each is a
  // LIKE '*x*' whose x folds to ASCII bytes; else none. Such bytes are found in a folded text
  // exactly where the text's characters that fold to one ASCII byte hold them in turn.
  std::vector<std::pair<uint32_t, std::string>> AsciiNeedles() const;
  // out[i] = Matches(folded, rows[i]) for i < count; the rows up to rows_end are the ones to be
  // tested next, whose memory is fetched ahead.
  void MatchRows(const FoldedColumns& folded, const uint32_t* rows, size_t count, const uint32_t* rows_end,
                 uint8_t* out) const;

 private:
  struct Term {
    uint32_t mask;
    const LikePattern* like;
    enum class Kind { kContains, kRequires, kAny, kEvery } kind;  // how the rows are found
    std::string needle;  // kContains: the folded string; kRequires: one every match holds
  };
  bool TextMatches(const Term& term, std::string_view text) const;

  std::vector<Term> terms_;
  mutable std::u16string units_;  // scratch
};

// The first i in [from, end) whose row rows[i] is marked in `marks` (as MarkAll marks them); end
// when none is.
size_t FirstMarked(const std::vector<uint64_t>& marks, const uint32_t* rows, size_t from, size_t end);

// MarkAll scans the texts 16, 32 or 64 bytes a step, the widest the processor has; this limits
// the step (SIZE_MAX: no limit), for this whole process, so that every way can be tried on one
// processor. FoldedScanStep is the step a scan takes now.
void LimitFoldedScanStep(size_t bytes);
size_t FoldedScanStep();

// MarkAll looks through the texts of more rows than this on two threads, half the rows each.
constexpr size_t kOneThreadScanRows = 200000;
// Scans the texts of more than `rows` rows on two threads from now on, for this whole process
// (kOneThreadScanRows: as the program does); a test makes small tables take that way.
void ScanOnOneThreadUpTo(size_t rows);

// Whether the `size` bytes at `p` hold `needle`, for texts as short as titles: the bytes up to
// `readable` may be read past them (at least 16 more than the needle's length).
bool HoldsBytes(const char* p, size_t size, std::string_view needle, const char* readable);

// The first place at or after `from` in [from, end) where `needle` begins; end when none.
const char* FindBytes(const char* from, const char* end, std::string_view needle);

}  // namespace jet
