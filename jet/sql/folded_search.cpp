#include "jet/sql/folded_search.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "jet/text/text_fold.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
// The hit scan also comes in 32-byte steps, for processors that have them (chosen as it runs).
#define JET_WIDE_SCAN 1
#include <immintrin.h>
#endif

namespace jet {

const char* FindBytes(const char* from, const char* end, std::string_view needle) {
  const size_t m = needle.size();
  if (m == 0) return from;
  if (end - from < static_cast<std::ptrdiff_t>(m)) return end;
  if (m == 1) {
    const void* hit = std::memchr(from, needle[0], static_cast<size_t>(end - from));
    return hit == nullptr ? end : static_cast<const char*>(hit);
  }
  const char* last_start = end - m;
  const char* p = from;
#if defined(__SSE2__)
  // Sixteen places at a time: those where both the first and the last byte of the needle are
  // where they should be; only those are compared in full.
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  for (; p + 15 <= last_start; p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + m - 1));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask != 0) {
      const int i = __builtin_ctz(mask);
      if (std::memcmp(p + i + 1, needle.data() + 1, m - 2) == 0) return p + i;
      mask &= mask - 1;
    }
  }
#endif
  for (; p <= last_start; ++p) {
    if (p[0] == needle[0] && std::memcmp(p, needle.data(), m) == 0) return p;
  }
  return end;
}

namespace {

// Whether the text of `size` bytes at p holds `needle`, for texts as short as titles mostly are:
// sixteen places at a time, the bytes up to `readable` being there to read past the text's end
// (what lies past it is never taken for the text: only places inside it are looked at).
bool Holds(const char* p, size_t size, std::string_view needle, const char* readable) {
  const size_t m = needle.size();
  if (size < m) return false;
  const size_t places = size - m + 1;  // where the needle could begin
#if defined(__SSE2__)
  if (static_cast<size_t>(readable - p) >= ((places + 15) & ~size_t{15}) + m - 1) {
    const __m128i first = _mm_set1_epi8(needle[0]), last = _mm_set1_epi8(needle[m - 1]);
    for (size_t at = 0; at < places; at += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + m - 1));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
      if (places - at < 16) mask &= (1u << (places - at)) - 1;
      for (; mask != 0; mask &= mask - 1) {
        const size_t i = at + static_cast<size_t>(std::countr_zero(mask));
        if (m <= 2 || std::memcmp(p + i + 1, needle.data() + 1, m - 2) == 0) return true;
      }
    }
    return false;
  }
#endif
  return FindBytes(p, p + size, needle) != p + size;
}

}  // namespace

namespace {

constexpr size_t kBlock = 64;

// Which text each place where `needle` begins lies in (row * columns + k), counted from the zero
// bytes that end the texts before it: no search over where the texts start, so that a needle
// found in every other row costs little more than one found nowhere. After a hit, the rest of
// that text is not looked at.
template <typename OnHit>
class HitScan {
 public:
  HitScan(std::string_view needle, OnHit& on_hit, bool wide) : needle_(needle), on_hit_(on_hit), wide_(wide) {}

  void Chunk(const char* p, const char* end) {
#if defined(JET_WIDE_SCAN)
    if (wide_) p = WideBlocks(p, end);
#endif
#if defined(__SSE2__)
    p = Blocks(p, end);
#endif
    const size_t m = needle_.size();
    for (; p < end; ++p) {
      if (*p == 0) {
        ++text_;
      } else if (static_cast<size_t>(end - p) >= m && *p == needle_[0] && std::memcmp(p, needle_.data(), m) == 0) {
        on_hit_(text_);
        p = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(end - p))) - 1;  // every text ends in a zero
      }
    }
  }

 private:
#if defined(__SSE2__)
  // Whole blocks of 64 bytes while the needle's last byte at a block's last place lies before
  // `end`; returns where they stop. The zeros are counted sixteen bytes at a time in byte lanes
  // (at most four a block each), summed before a lane could overflow; only a block with a place
  // where the needle's first and last bytes both are has its zeros' places worked out.
  const char* Blocks(const char* p, const char* end) {
    const size_t m = needle_.size();
    const __m128i zero = _mm_setzero_si128(), first = _mm_set1_epi8(needle_[0]), last = _mm_set1_epi8(needle_[m - 1]);
    __m128i lanes = zero, sums = zero;
    int blocks = 0;
    const auto add_lanes = [&] {
      sums = _mm_add_epi64(sums, _mm_sad_epu8(lanes, zero));
      lanes = zero;
      blocks = 0;
    };
    for (; end - p >= static_cast<std::ptrdiff_t>(kBlock + m - 1); p += kBlock) {
      __m128i zeros[4], any = zero;
      uint64_t hits = 0;
      for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i + m - 1));
        zeros[i] = _mm_cmpeq_epi8(a, zero);
        const __m128i h = _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last));
        any = _mm_or_si128(any, h);
        hits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(h))} << (16 * i);
      }
      if (_mm_movemask_epi8(any) != 0) {
        add_lanes();
        text_ += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) + static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
        sums = zero;
        uint64_t zero_bits = 0;
        for (int i = 0; i < 4; ++i) zero_bits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(zeros[i]))} << (16 * i);
        Hits(p, hits, zero_bits);
        text_ += static_cast<uint64_t>(std::popcount(zero_bits));
        continue;
      }
      for (int i = 0; i < 4; ++i) lanes = _mm_sub_epi8(lanes, zeros[i]);
      if (++blocks == 63) add_lanes();
    }
    add_lanes();
    text_ += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) + static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    return p;
  }
#endif

#if defined(JET_WIDE_SCAN)
  // Blocks as Blocks takes them, each in two steps of 32 bytes, the zeros counted by instruction.
  __attribute__((target("avx2,popcnt"))) const char* WideBlocks(const char* p, const char* end) {
    const size_t m = needle_.size();
    const __m256i zero = _mm256_setzero_si256(), first = _mm256_set1_epi8(needle_[0]), last = _mm256_set1_epi8(needle_[m - 1]);
    // A third byte, the second, for needles of three and more: "r?l" comes far more often than "rul".
    const size_t mid = m > 2 ? 1 : 0;
    const __m256i second = _mm256_set1_epi8(needle_[mid]);
    for (; end - p >= static_cast<std::ptrdiff_t>(kBlock + m - 1); p += kBlock) {
      const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
      const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + m - 1));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + m + 31));
      const uint64_t zero_bits = uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a0, zero)))} |
                                 uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a1, zero)))} << 32;
      const __m256i c0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + mid));
      const __m256i c1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + mid + 32));
      const __m256i h0 = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(a0, first), _mm256_cmpeq_epi8(b0, last)),
                                          _mm256_cmpeq_epi8(c0, second));
      const __m256i h1 = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(a1, first), _mm256_cmpeq_epi8(b1, last)),
                                          _mm256_cmpeq_epi8(c1, second));
      const uint64_t hits = uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(h0))} |
                            uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(h1))} << 32;
      if (hits != 0) Hits(p, hits, zero_bits);
      text_ += static_cast<uint64_t>(_mm_popcnt_u64(zero_bits));
    }
    return p;
  }
#endif

  // The candidates of one block, text_ being the text its first byte lies in. Always inlined, so
  // that in WideBlocks its bit counts are single instructions too.
  __attribute__((always_inline)) inline void Hits(const char* p, uint64_t hits, uint64_t zero_bits) {
    const size_t m = needle_.size();
    while (hits != 0) {
      const int i = std::countr_zero(hits);
      hits &= hits - 1;
      if (m > 2 && (p[i + 1] != needle_[1] || std::memcmp(p + i + 2, needle_.data() + 2, m - 2) != 0)) continue;
      on_hit_(text_ + static_cast<uint64_t>(std::popcount(zero_bits & ((uint64_t{1} << i) - 1))));
      // The rest of the text holds nothing more to find: on from its zero (if in this block).
      const uint64_t after = zero_bits & ~((uint64_t{2} << i) - 1);
      hits &= after == 0 ? 0 : ~(after - 1);
    }
  }

  std::string_view needle_;
  OnHit& on_hit_;
  bool wide_;
  uint64_t text_ = 0;
};

template <typename OnHit>
void ForEachHit(const FoldedColumns& folded, std::string_view needle, OnHit on_hit) {
#if defined(JET_WIDE_SCAN)
  static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
#else
  constexpr bool wide = false;
#endif
  HitScan<OnHit> scan(needle, on_hit, wide);
  for (size_t chunk = 0; chunk < folded.chunks.size(); ++chunk) {
    const char* p = folded.chunks[chunk].get();
    scan.Chunk(p, p + folded.chunk_used[chunk]);
  }
}

// Marks the rows with a text of a masked column that holds `needle`; with `verify`, only those
// whose whole text `verify` matches too. The needle holds no zero byte, so a place where it is
// found lies inside one text.
void MarkHolding(const FoldedColumns& folded, uint32_t mask, std::string_view needle, const LikePattern* verify,
                 std::vector<uint8_t>* match) {
  const size_t width = folded.columns.size();
  uint8_t* marks = match->data();
  std::u16string units;
  uint64_t refused = UINT64_MAX;  // the last text `verify` refused: a text holding the needle twice is tried once
  ForEachHit(folded, needle, [&](uint64_t text) {
    const size_t row = width == 1 ? text : width == 2 ? text >> 1 : text / width;
    const size_t k = text - row * width;
    if (marks[row] != 0 || (mask >> k & 1) == 0 || text == refused) return;
    if (verify != nullptr) {
      FoldedUnitsOf(folded.Text(row, k), &units);
      if (!verify->Matches(units)) {
        refused = text;
        return;
      }
    }
    marks[row] = 1;
  });
}

}  // namespace

FoldedSearch::FoldedSearch(const std::vector<FoldedTerm>& terms) {
  for (const FoldedTerm& t : terms) {
    Term term{t.column_mask, t.like, Term::Kind::kEvery, std::string()};
    if (std::optional<std::u16string> contained = t.like->ContainedText()) {
      term.kind = Term::Kind::kContains;
      AppendFoldedBytes(*contained, &term.needle);
    } else if (const std::u16string required = t.like->RequiredText(); !required.empty()) {
      term.kind = Term::Kind::kRequires;
      AppendFoldedBytes(required, &term.needle);
    } else if (t.like->MatchesAnyText()) {
      term.kind = Term::Kind::kAny;
    }
    terms_.push_back(std::move(term));
  }
}

bool FoldedSearch::TextMatches(const Term& term, std::string_view text) const {
  switch (term.kind) {
    case Term::Kind::kAny: return true;
    case Term::Kind::kContains: return FindBytes(text.data(), text.data() + text.size(), term.needle) != text.data() + text.size();
    case Term::Kind::kRequires:
      if (FindBytes(text.data(), text.data() + text.size(), term.needle) == text.data() + text.size()) return false;
      [[fallthrough]];
    case Term::Kind::kEvery: FoldedUnitsOf(text, &units_); return term.like->Matches(units_);
  }
  return false;
}

bool FoldedSearch::Matches(const FoldedColumns& folded, size_t row) const {
  const size_t width = folded.columns.size();
  const size_t first = row * width;
  const uint64_t from = folded.starts[first], to = folded.starts[first + width];
  // The row's texts end to end in one chunk: a needle looked for in all of them is looked for
  // once in their bytes, as it cannot span the zero between two (a NULL, kept empty, holds nothing).
  const bool together = from / FoldedColumns::kChunkBytes == to / FoldedColumns::kChunkBytes;
  const char* row_bytes = folded.At(from);
  const char* readable = folded.chunks[from / FoldedColumns::kChunkBytes].get() + FoldedColumns::kChunkBytes;
  for (const Term& term : terms_) {
    if (together && term.kind == Term::Kind::kContains && term.mask + 1 == uint32_t{1} << width) {
      if (Holds(row_bytes, to - from - 1, term.needle, readable)) return true;
      continue;
    }
    for (size_t k = 0; k < width; ++k) {
      if ((term.mask >> k & 1) != 0 && !folded.Null(row, k) && TextMatches(term, folded.Text(row, k))) return true;
    }
  }
  return false;
}

void FoldedSearch::MatchRows(const FoldedColumns& folded, const uint32_t* rows, size_t count, const uint32_t* rows_end,
                             uint8_t* out) const {
  // Rows met in another order than storage lie far apart, and finding a row's bytes takes two
  // reads from memory, one after the other: where its texts begin, then the texts. So while a
  // row is tested, where the texts of the row kFar on begin is fetched, and the texts of the
  // row kNear on (whose places came in meanwhile): a steady stream of reads in flight.
  constexpr size_t kNear = 8, kFar = 16;
  const size_t width = folded.columns.size();
  const size_t ahead = static_cast<size_t>(rows_end - rows);
  for (size_t i = 0; i < count; ++i) {
    if (i + kFar < ahead) __builtin_prefetch(&folded.starts[rows[i + kFar] * width]);
    if (i + kNear < ahead) {
      // A row's texts often cross from one line of memory into the next: both are fetched.
      const uint32_t* place = &folded.starts[rows[i + kNear] * width];
      __builtin_prefetch(folded.At(place[0]));
      __builtin_prefetch(folded.At(place[width] - 1));
    }
    out[i] = Matches(folded, rows[i]);
  }
}

void FoldedSearch::MarkAll(const FoldedColumns& folded, std::vector<uint8_t>* match) const {
  match->assign(folded.rows(), 0);
  for (const Term& term : terms_) {
    if (term.kind == Term::Kind::kContains || term.kind == Term::Kind::kRequires) {
      MarkHolding(folded, term.mask, term.needle, term.kind == Term::Kind::kRequires ? term.like : nullptr, match);
      continue;
    }
    for (size_t row = 0; row < folded.rows(); ++row) {
      for (size_t k = 0; k < folded.columns.size() && !(*match)[row]; ++k) {
        if ((term.mask >> k & 1) != 0 && !folded.Null(row, k) && TextMatches(term, folded.Text(row, k))) (*match)[row] = 1;
      }
    }
  }
}

}  // namespace jet
