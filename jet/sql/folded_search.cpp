#include "jet/sql/folded_search.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "jet/text/text_fold.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
// The hit scan also comes in steps of 32 and 64 bytes, for processors that have them (chosen as it runs).
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
// How far ahead the wider steps ask for the texts: the processor's own fetching ahead of a
// stream leaves the scan waiting for memory a quarter of the time, and a kilobyte ahead is too
// near when other processes share the memory (a fifth slower than four).
constexpr size_t kAhead = 4096;

// The widest step the processor takes, found once; a test may ask for narrower ones.
size_t WidestStep() {
  static const size_t widest = [] {
#if defined(JET_WIDE_SCAN)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("popcnt")) return 64;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) return 32;
#endif
    return 16;
  }();
  return widest;
}
std::atomic<size_t> step_limit{SIZE_MAX};

#if defined(JET_WIDE_SCAN)
__attribute__((target("avx2"), always_inline)) inline __m256i Load32(const char* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}
// The top bits of two comparisons' 32 bytes each, the first's lowest.
__attribute__((target("avx2"), always_inline)) inline uint64_t Bits32(__m256i low, __m256i high) {
  return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(low))} | uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(high))} << 32;
}
#endif

// Which text each place where `needle` begins lies in (row * columns + k), counted from the zero
// bytes that end the texts before it: no search over where the texts start, so that a needle
// found in every other row costs little more than one found nowhere. After a hit, the rest of
// that text is not looked at. The count of texts passed is kept in a local while blocks are
// scanned: a member would be written back after every block, as the hit's marks may alias it.
template <typename OnHit>
class HitScan {
 public:
  // `text`: the text the first byte scanned lies in.
  HitScan(std::string_view needle, OnHit& on_hit, size_t step, uint64_t text) : needle_(needle), on_hit_(on_hit), step_(step), text_(text) {}

  void Chunk(const char* p, const char* end) {
#if defined(JET_WIDE_SCAN)
    if (step_ >= 64) p = Blocks64(p, end);
    if (step_ >= 32) p = Blocks32(p, end);
#endif
#if defined(__SSE2__)
    p = Blocks16(p, end);
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
  // Whether a block of 64 bytes from p can be scanned whole: the needle's last byte at the
  // block's last place lies before `end`.
  bool Room(const char* p, const char* end) const {
    return end - p >= static_cast<std::ptrdiff_t>(kBlock + needle_.size() - 1);
  }
  // A third byte compared besides the first and the last, the second, for needles of three and
  // more: "r?l" comes far more often than "rul".
  size_t Mid() const { return needle_.size() > 2 ? 1 : 0; }

#if defined(__SSE2__)
  // The zeros are counted sixteen bytes at a time in byte lanes (at most four a block each),
  // summed before a lane could overflow; only a block with a place where the needle's first and
  // last bytes both are has its zeros' places worked out.
  const char* Blocks16(const char* p, const char* end) {
    const size_t m = needle_.size();
    const __m128i zero = _mm_setzero_si128(), first = _mm_set1_epi8(needle_[0]), last = _mm_set1_epi8(needle_[m - 1]);
    __m128i lanes = zero;
    int blocks = 0;
    uint64_t text = text_;
    const auto add_lanes = [&] {
      const __m128i sums = _mm_sad_epu8(lanes, zero);
      text += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) + static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
      lanes = zero;
      blocks = 0;
    };
    for (; Room(p, end); p += kBlock) {
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
        uint64_t zero_bits = 0;
        for (int i = 0; i < 4; ++i) zero_bits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(zeros[i]))} << (16 * i);
        Hits(p, hits, zero_bits, text);
        text += static_cast<uint64_t>(std::popcount(zero_bits));
        continue;
      }
      for (int i = 0; i < 4; ++i) lanes = _mm_sub_epi8(lanes, zeros[i]);
      if (++blocks == 63) add_lanes();
    }
    add_lanes();
    text_ = text;
    return p;
  }
#endif

#if defined(JET_WIDE_SCAN)
  // Each block in two steps of 32 bytes, the zeros counted by instruction.
  __attribute__((target("avx2,popcnt"))) const char* Blocks32(const char* p, const char* end) {
    const size_t m = needle_.size(), mid = Mid();
    const __m256i zero = _mm256_setzero_si256(), first = _mm256_set1_epi8(needle_[0]), last = _mm256_set1_epi8(needle_[m - 1]);
    const __m256i second = _mm256_set1_epi8(needle_[mid]);
    uint64_t text = text_;
    for (; Room(p, end); p += kBlock) {
      __builtin_prefetch(p + kAhead);
      const __m256i a0 = Load32(p), a1 = Load32(p + 32);
      const uint64_t zero_bits = Bits32(_mm256_cmpeq_epi8(a0, zero), _mm256_cmpeq_epi8(a1, zero));
      const __m256i h0 = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(a0, first), _mm256_cmpeq_epi8(Load32(p + m - 1), last)),
                                          _mm256_cmpeq_epi8(Load32(p + mid), second));
      const __m256i h1 = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(a1, first), _mm256_cmpeq_epi8(Load32(p + m + 31), last)),
                                          _mm256_cmpeq_epi8(Load32(p + mid + 32), second));
      const uint64_t hits = Bits32(h0, h1);
      if (hits != 0) HitsApart(p, hits, zero_bits, text);
      text += static_cast<uint64_t>(_mm_popcnt_u64(zero_bits));
    }
    text_ = text;
    return p;
  }

  // A block in one step: the comparisons give bit masks straight away, each narrowing the last.
  // A fourth byte, the one before the last, for needles of four and more: a word shares its
  // first, second and last letters with many others ("wild", "wind"), and each candidate
  // costs far more than a comparison. Two blocks a round, with one test of whether either has
  // a candidate; the candidates are worked out in line, where the loop's registers stay put.
  __attribute__((target("avx512f,avx512bw,popcnt"))) const char* Blocks64(const char* p, const char* end) {
    const size_t m = needle_.size(), mid = Mid(), third = m > 3 ? m - 2 : mid;
    const __m512i first = _mm512_set1_epi8(needle_[0]), last = _mm512_set1_epi8(needle_[m - 1]);
    const __m512i second = _mm512_set1_epi8(needle_[mid]), before_last = _mm512_set1_epi8(needle_[third]);
    uint64_t text = text_;
    const auto candidates = [&](const char* at, __m512i a) __attribute__((target("avx512f,avx512bw"))) {
      __mmask64 hits = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(a, first), _mm512_loadu_si512(at + m - 1), last);
      hits = _mm512_mask_cmpeq_epi8_mask(hits, _mm512_loadu_si512(at + mid), second);
      return _mm512_mask_cmpeq_epi8_mask(hits, _mm512_loadu_si512(at + third), before_last);
    };
    for (; Room(p + kBlock, end); p += 2 * kBlock) {
      __builtin_prefetch(p + kAhead);
      __builtin_prefetch(p + kAhead + kBlock);
      const __m512i a0 = _mm512_loadu_si512(p), a1 = _mm512_loadu_si512(p + kBlock);
      const uint64_t zeros0 = _mm512_testn_epi8_mask(a0, a0), zeros1 = _mm512_testn_epi8_mask(a1, a1);
      const uint64_t hits0 = candidates(p, a0), hits1 = candidates(p + kBlock, a1);
      const uint64_t in0 = static_cast<uint64_t>(_mm_popcnt_u64(zeros0));
      if ((hits0 | hits1) != 0) [[unlikely]] {
        Hits(p, hits0, zeros0, text);
        Hits(p + kBlock, hits1, zeros1, text + in0);
      }
      text += in0 + static_cast<uint64_t>(_mm_popcnt_u64(zeros1));
    }
    text_ = text;
    return p;
  }
#endif

#if defined(JET_WIDE_SCAN)
  // Hits for the 32-byte step, out of its loop: inlined there, what a hit needs would crowd the
  // count of texts the loop carries out of the registers, into memory.
  __attribute__((target("popcnt"), noinline)) void HitsApart(const char* p, uint64_t hits, uint64_t zero_bits, uint64_t text) {
    Hits(p, hits, zero_bits, text);
  }
#endif

  // The candidates of one block, `text` being the text its first byte lies in. Always inlined,
  // so that in the wider steps its bit counts are single instructions too.
  __attribute__((always_inline)) inline void Hits(const char* p, uint64_t hits, uint64_t zero_bits, uint64_t text) {
    const size_t m = needle_.size();
    while (hits != 0) {
      const int i = std::countr_zero(hits);
      hits &= hits - 1;
      // Compared in line, not by a call, which would cost the wider steps their registers.
      size_t same = 1;
      while (same < m && p[i + same] == needle_[same]) ++same;
      if (same < m) continue;
      on_hit_(text + static_cast<uint64_t>(std::popcount(zero_bits & ((uint64_t{1} << i) - 1))));
      // The rest of the text holds nothing more to find: on from its zero (if in this block).
      const uint64_t after = zero_bits & ~((uint64_t{2} << i) - 1);
      hits &= after == 0 ? 0 : ~(after - 1);
    }
  }

  std::string_view needle_;
  OnHit& on_hit_;
  size_t step_;
  uint64_t text_;
};

// The hits in the texts [first, end) (end past the last text, or all of them).
template <typename OnHit>
void ForEachHit(const FoldedColumns& folded, size_t first, size_t end, std::string_view needle, OnHit on_hit) {
  if (first >= end) return;
  HitScan<OnHit> scan(needle, on_hit, FoldedScanStep(), first);
  const uint64_t from = folded.starts[first], to = folded.starts[end];
  for (size_t chunk = from / FoldedColumns::kChunkBytes; chunk < folded.chunks.size() && chunk * FoldedColumns::kChunkBytes < to; ++chunk) {
    const char* p = folded.chunks[chunk].get();
    const uint64_t at = chunk * FoldedColumns::kChunkBytes;
    const char* begin = p + (from > at ? from - at : 0);
    scan.Chunk(begin, p + std::min<uint64_t>(folded.chunk_used[chunk], to - at));
  }
}

// MarkHolding over the texts of rows [first, end).
void MarkHoldingIn(const FoldedColumns& folded, size_t first, size_t end, uint32_t mask, std::string_view needle, const LikePattern* verify,
                   std::vector<uint64_t>* marks) {
  const size_t width = folded.columns.size();
  uint64_t* bits = marks->data();
  std::u16string units;
  uint64_t refused = UINT64_MAX;  // the last text `verify` refused: a text holding the needle twice is tried once
  ForEachHit(folded, first * width, end * width, needle, [&](uint64_t text) {
    const size_t row = width == 1 ? text : width == 2 ? text >> 1 : text / width;
    const size_t k = text - row * width;
    const uint64_t bit = uint64_t{1} << (row % 64);
    if ((bits[row / 64] & bit) != 0 || (mask >> k & 1) == 0 || text == refused) return;
    if (verify != nullptr) {
      FoldedUnitsOf(folded.Text(row, k), &units);
      if (!verify->Matches(units)) {
        refused = text;
        return;
      }
    }
    bits[row / 64] |= bit;
  });
}

// Texts of more rows than this are scanned on two threads, half the rows each: fewer take less
// time than a thread takes to start.
std::atomic<size_t> one_thread_rows{kOneThreadScanRows};

// Marks the rows with a text of a masked column that holds `needle`; with `verify`, only those
// whose whole text `verify` matches too. The needle holds no zero byte, so a place where it is
// found lies inside one text. The later half of many rows is scanned meanwhile on another
// thread: split where a word of marks begins, so that the two never write the same word.
void MarkHolding(const FoldedColumns& folded, uint32_t mask, std::string_view needle, const LikePattern* verify,
                 std::vector<uint64_t>* marks) {
  const size_t rows = folded.rows(), half = rows / 2 & ~size_t{63};
  if (rows <= one_thread_rows.load(std::memory_order_relaxed)) return MarkHoldingIn(folded, 0, rows, mask, needle, verify, marks);
  // Checking a text against `verify` may fail to allocate, on either thread: what the other
  // throws is thrown here once it is joined, as one thread would have thrown it.
  std::exception_ptr failed;
  std::thread thread;
  try {
    thread = std::thread([&] {
      try {
        MarkHoldingIn(folded, half, rows, mask, needle, verify, marks);
      } catch (...) {
        failed = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return MarkHoldingIn(folded, 0, rows, mask, needle, verify, marks);  // no thread to be had
  }
  {
    struct Joined {
      std::thread& thread;
      ~Joined() { thread.join(); }
    } joined{thread};
    MarkHoldingIn(folded, 0, half, mask, needle, verify, marks);
  }
  if (failed) std::rethrow_exception(failed);
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

std::vector<std::pair<uint32_t, std::string>> FoldedSearch::AsciiNeedles() const {
  std::vector<std::pair<uint32_t, std::string>> needles;
  for (const Term& term : terms_) {
    const bool ascii = std::none_of(term.needle.begin(), term.needle.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
    if (term.kind != Term::Kind::kContains || term.needle.empty() || !ascii) return {};
    needles.emplace_back(term.mask, term.needle);
  }
  return needles;
}

bool HoldsBytes(const char* p, size_t size, std::string_view needle, const char* readable) { return Holds(p, size, needle, readable); }

bool FoldedSearch::MatchesTexts(const std::string_view* texts, size_t width, uint8_t nulls, const char* readable) const {
  const char* const row_bytes = texts[0].data();
  const size_t row_size = static_cast<size_t>(texts[width - 1].data() + texts[width - 1].size() - row_bytes);
  for (const Term& term : terms_) {
    // As Matches: a needle looked for in all the texts is looked for once in their bytes.
    if (readable != nullptr && term.kind == Term::Kind::kContains && term.mask + 1 == uint32_t{1} << width) {
      if (Holds(row_bytes, row_size, term.needle, readable)) return true;
      continue;
    }
    for (uint32_t mask = term.mask; mask != 0; mask &= mask - 1) {
      const int k = std::countr_zero(mask);
      if ((nulls >> k & 1) == 0 && TextMatches(term, texts[k])) return true;
    }
  }
  return false;
}

void FoldedSearch::MatchRows(const FoldedColumns& folded, const uint32_t* rows, size_t count, const uint32_t* rows_end,
                             uint8_t* out) const {
  // Rows met in another order than storage lie far apart, and finding a row's bytes takes two
  // reads from memory, one after the other: where its texts begin, then the texts. So while a
  // row is tested, where the texts of the row kFar on begin is fetched, and the texts of the
  // row kNear on (whose places came in meanwhile): a steady stream of reads in flight, long
  // enough to cover memory as slow as it is when other processes share it.
  constexpr size_t kNear = 12, kFar = 24;
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

void FoldedSearch::MarkAll(const FoldedColumns& folded, std::vector<uint64_t>* marks) const {
  const size_t rows = folded.rows();
  marks->assign((rows + 63) / 64, 0);
  for (const Term& term : terms_) {
    if (term.kind == Term::Kind::kContains || term.kind == Term::Kind::kRequires) {
      MarkHolding(folded, term.mask, term.needle, term.kind == Term::Kind::kRequires ? term.like : nullptr, marks);
      continue;
    }
    for (size_t row = 0; row < rows; ++row) {
      uint64_t& word = (*marks)[row / 64];
      const uint64_t bit = uint64_t{1} << (row % 64);
      for (size_t k = 0; k < folded.columns.size() && (word & bit) == 0; ++k) {
        if ((term.mask >> k & 1) != 0 && !folded.Null(row, k) && TextMatches(term, folded.Text(row, k))) word |= bit;
      }
    }
  }
}

namespace {

#if defined(JET_WIDE_SCAN)
// GCC 12's own AVX-512 intrinsics start some results from a deliberately undefined register and
// then warn that it may be used uninitialized; the warning is about the header, not this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Sixteen rows a round, their marks' words gathered by one instruction per eight.
__attribute__((target("avx512f,avx2"))) size_t PassUnmarked16(const uint64_t* words, const uint32_t* rows, size_t i, size_t end) {
  const __m512i one = _mm512_set1_epi64(1), low = _mm512_set1_epi64(63);
  for (; i + 16 <= end; i += 16) {
    const __m512i r = _mm512_loadu_si512(rows + i);
    const __m256i r0 = _mm512_castsi512_si256(r), r1 = _mm512_extracti64x4_epi64(r, 1);
    const __m512i w0 = _mm512_i32gather_epi64(_mm256_srli_epi32(r0, 6), words, 8);
    const __m512i w1 = _mm512_i32gather_epi64(_mm256_srli_epi32(r1, 6), words, 8);
    const __m512i b0 = _mm512_sllv_epi64(one, _mm512_and_si512(_mm512_cvtepu32_epi64(r0), low));
    const __m512i b1 = _mm512_sllv_epi64(one, _mm512_and_si512(_mm512_cvtepu32_epi64(r1), low));
    if ((_mm512_test_epi64_mask(w0, b0) | _mm512_test_epi64_mask(w1, b1)) != 0) break;
  }
  return i;
}
#pragma GCC diagnostic pop
#endif

}  // namespace

size_t FirstMarked(const std::vector<uint64_t>& marks, const uint32_t* rows, size_t from, size_t end) {
  // Many rows a round with one test: a walk passes a hundred rows or more for each it finds, and
  // their marks' reads, independent of one another, overlap.
  const uint64_t* words = marks.data();
  const auto marked = [words](uint32_t r) { return words[r / 64] >> (r % 64) & 1; };
  size_t i = from;
#if defined(JET_WIDE_SCAN)
  if (FoldedScanStep() >= 64) i = PassUnmarked16(words, rows, i, end);
#endif
  for (; i + 8 <= end; i += 8) {
    const uint64_t any = marked(rows[i]) | marked(rows[i + 1]) | marked(rows[i + 2]) | marked(rows[i + 3]) |
                         marked(rows[i + 4]) | marked(rows[i + 5]) | marked(rows[i + 6]) | marked(rows[i + 7]);
    if (any != 0) break;
  }
  for (; i < end && marked(rows[i]) == 0; ++i) {
  }
  return i;
}

void ScanOnOneThreadUpTo(size_t rows) { one_thread_rows.store(rows, std::memory_order_relaxed); }

void LimitFoldedScanStep(size_t bytes) { step_limit.store(bytes, std::memory_order_relaxed); }

size_t FoldedScanStep() { return std::min(WidestStep(), step_limit.load(std::memory_order_relaxed)); }

}  // namespace jet
