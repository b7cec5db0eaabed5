// Folding the texts of rows into the bytes FoldedColumns keeps (folded_columns.h): one unit at a
// time, or a whole text kept one byte a character from a table of each byte's folded bytes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace jet {

// Writes the one to three bytes kept for folded unit `u` at `p`; returns the end of them.
inline char* PutFoldedUnit(char16_t u, char* p) {
  if (u < 0x80 && u != 0) {
    *p++ = static_cast<char>(u);
  } else if (u < 0x800) {
    *p++ = static_cast<char>(0xC0 | u >> 6);
    *p++ = static_cast<char>(0x80 | (u & 0x3F));
  } else {
    *p++ = static_cast<char>(0xE0 | u >> 12);
    *p++ = static_cast<char>(0x80 | (u >> 6 & 0x3F));
    *p++ = static_cast<char>(0x80 | (u & 0x3F));
  }
  return p;
}

// Folds texts kept one byte a character (Jet 4's compressed form without two-byte runs) into
// the bytes the folded texts keep, from a table of each byte's folded bytes; a stretch of
// sixteen ASCII bytes at once where the folding of ASCII is one shift of one range of bytes
// (upper case for lower), as the General order's is: most titles and artists are ASCII.
class ByteFolder {
 public:
  // `wide`: may fold with the processor's widest instructions where it has them (off only to
  // compare the ways).
  explicit ByteFolder(const char16_t* fold, bool wide = true) {
    for (uint32_t b = 0; b < 256; ++b) {
      char bytes[4] = {};
      size_[b] = static_cast<uint8_t>(PutFoldedUnit(fold[b], bytes) - bytes);
      std::memcpy(&bytes_[b], bytes, 4);
    }
    // The bytes ASCII folding changes, their range and shift; a block fold only when they are
    // one range with one shift into ASCII.
    int lo = 0, hi = -1, shift = 0;
    bool one_shift = true;
    for (int b = 1; b < 0x80; ++b) {
      if (fold[b] == b) continue;
      if (hi < 0) lo = b, shift = fold[b] - b;
      one_shift = one_shift && fold[b] < 0x80 && fold[b] - b == shift && (hi < 0 || hi == b - 1);
      hi = b;
    }
    blocks_ = one_shift;
    lo_ = static_cast<int8_t>(hi < 0 ? 1 : lo);
    hi_ = static_cast<int8_t>(hi < 0 ? 0 : hi);
    shift_ = static_cast<int8_t>(shift);
#if defined(__x86_64__)
    // Every byte but zero folds to one or two bytes (its folded unit is below U+0800), the
    // first of them and the second put in tables that the processor looks up 64 at a time.
    bool short_units = true;
    for (uint32_t b = 1; b < 256; ++b) {
      short_units = short_units && size_[b] <= 2;
      first_[b] = static_cast<uint8_t>(bytes_[b] & 0xFF);
      second_[b] = static_cast<uint8_t>(bytes_[b] >> 8 & 0xFF);
    }
    wide_ = wide && short_units && WideFoldAvailable();
#endif
  }

  // Writes at `out` (room for `n`) the first folded byte of each of the `n`
  // stored bytes at `p`: a byte that folds to one ASCII byte as that byte, any other as a byte
  // of 0x80 or more (the lead of its folded bytes). Bytes looked for that are all ASCII lie in
  // these exactly where they lie in the folded text. False, with `out` unspecified, where a zero
  // byte (a switch to two-byte runs) is met.
  bool FirstBytes(const uint8_t* p, size_t n, char* out) const {
    for (size_t i = 0; i < n; ++i) {
      if (p[i] == 0) return false;
      out[i] = static_cast<char>(bytes_[p[i]] & 0xFF);
    }
    return true;
  }

  // Whether the fold of the `n` stored bytes at `p` holds `needle`, ASCII bytes (1 it does, 0 it
  // does not), found where the bytes' first folded bytes (FirstBytes) hold it; -1 where the bytes
  // cannot tell (the processor lacks the way, or a zero byte is met): the caller then lists them
  // with FirstBytes.
  int HoldsFolded(const uint8_t* p, size_t n, std::string_view needle) const {
#if defined(__x86_64__)
    if (wide_ && !needle.empty()) return HoldsFoldedWide(p, n, needle);
#endif
    return -1;
  }

  // Whether the mark that begins a text kept a byte a character (bytes FF FE) folds to no ASCII
  // byte, so that HoldsFolded over two such texts side by side finds no needle across them.
  bool MarkSeparates() const { return (bytes_[0xFF] & 0x80) != 0 && (bytes_[0xFE] & 0x80) != 0; }

  // Bytes a fold of `n` stored bytes may write: three per byte, and a block's store past them.
  static size_t Room(size_t n) { return n * 3 + 16; }

  // Writes the folded bytes of `n` stored bytes at `out`; their end, or null when a zero byte
  // (a switch to two-byte runs) is met. With `padded`, the 15 bytes after the text may be read:
  // a text shorter than a block is then folded as one too.
  char* Fold(const uint8_t* p, size_t n, char* out, bool padded) const {
#if defined(__x86_64__)
    if (wide_) return FoldWide(p, n, out);
#endif
    size_t i = 0;
#if defined(__SSE2__)
    if (blocks_) {
      const __m128i zero = _mm_setzero_si128();
      const __m128i below = _mm_set1_epi8(static_cast<char>(lo_ - 1)), above = _mm_set1_epi8(static_cast<char>(hi_ + 1));
      const __m128i shift = _mm_set1_epi8(static_cast<char>(shift_));
      // Each block is folded as ASCII up to its first byte that is not (an accented letter, or
      // a zero), which the table folds; the next block starts right after it.
      while (i + 16 <= n || (padded && i < n)) {
        const size_t left = std::min<size_t>(16, n - i);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const uint32_t odd = static_cast<uint32_t>(_mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) &
                             ((uint32_t{1} << left) - 1);
        // ASCII compares the same signed or not; the lanes from the odd byte on are written over.
        const __m128i in = _mm_and_si128(_mm_cmpgt_epi8(v, below), _mm_cmplt_epi8(v, above));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi8(v, _mm_and_si128(in, shift)));
        const size_t plain = odd == 0 ? left : static_cast<size_t>(std::countr_zero(odd));
        out += plain;
        i += plain;
        if (odd == 0) continue;
        out = Bytes(p + i, 1, out);
        if (out == nullptr) return nullptr;
        ++i;
      }
      return Bytes(p + i, n - i, out);
    }
#endif
    return Bytes(p + i, n - i, out);
  }

 private:
#if defined(__x86_64__)
  static bool WideFoldAvailable() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
  }

// GCC 12's own AVX-512 intrinsics start some results from a deliberately undefined register and
// then warn that it may be used uninitialized; the warning is about the header, not this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
  // Looks up each byte of `v` in a table of 256 bytes held as four registers of 64.
  __attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) static __m512i Lookup(__m512i v, const uint8_t* table) {
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(table), v, _mm512_loadu_si512(table + 64));
    const __m512i high = _mm512_permutex2var_epi8(_mm512_loadu_si512(table + 128), v, _mm512_loadu_si512(table + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
  }

  // Fold for 32 stored bytes at a time, whatever they hold, without a branch on any of them:
  // each byte is put twice, the first copy looked up as its folded first byte and the second as
  // its second, and the second copies of bytes that fold to one byte are squeezed out. Null at a
  // zero byte, as Bytes.
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt"))) char* FoldWide(const uint8_t* p, size_t n,
                                                                                                     char* out) const {
    alignas(64) static constexpr uint8_t kTwice[64] = {0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,
                                                       8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15,
                                                       16, 16, 17, 17, 18, 18, 19, 19, 20, 20, 21, 21, 22, 22, 23, 23,
                                                       24, 24, 25, 25, 26, 26, 27, 27, 28, 28, 29, 29, 30, 30, 31, 31};
    const __m512i twice = _mm512_load_si512(kTwice);
    constexpr uint64_t kSeconds = 0xAAAAAAAAAAAAAAAAull;
    for (size_t i = 0; i < n; i += 32) {
      const size_t left = std::min<size_t>(32, n - i);
      const __mmask32 in = static_cast<__mmask32>(_bzhi_u64(~uint64_t{0}, static_cast<unsigned>(left)));
      const __m256i v = _mm256_maskz_loadu_epi8(in, p + i);
      if ((_mm256_cmpeq_epi8_mask(v, _mm256_setzero_si256()) & in) != 0) return nullptr;
      const __m512i pairs = _mm512_permutexvar_epi8(twice, _mm512_castsi256_si512(v));
      const __m512i first = Lookup(pairs, first_), second = Lookup(pairs, second_);
      const __m512i folded = _mm512_mask_blend_epi8(kSeconds, first, second);
      // A first byte at or above 0x80 leads two: only then is the second kept.
      const uint64_t keep = (~kSeconds | (_mm512_movepi8_mask(first) & kSeconds)) & _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(2 * left));
      const size_t count = static_cast<size_t>(_mm_popcnt_u64(keep));
      _mm512_mask_storeu_epi8(out, _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(count)), _mm512_maskz_compress_epi8(keep, folded));
      out += count;
    }
    return out;
  }

  // Sixty-four places at a time: those where the first, the second and the last byte of the
  // needle are; only those are compared in full, byte by byte. Where the needle's last byte lies
  // in the same block (titles and artists are mostly shorter than one), the block's folded first
  // bytes are moved along for the second and the last, rather than loaded and looked up again.
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,bmi2"))) int HoldsFoldedWide(const uint8_t* p, size_t n,
                                                                                        std::string_view needle) const {
    alignas(64) static constexpr uint8_t kLanes[64] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                                       16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
                                                       32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47,
                                                       48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
    const size_t m = needle.size();
    const __m512i lanes = _mm512_load_si512(kLanes);
    const __m512i next = _mm512_add_epi8(lanes, _mm512_set1_epi8(1)), last = _mm512_add_epi8(lanes, _mm512_set1_epi8(static_cast<char>(m - 1)));
    const __m512i head = _mm512_set1_epi8(needle[0]), second = _mm512_set1_epi8(needle[m > 1 ? 1 : 0]),
                  tail = _mm512_set1_epi8(needle[m - 1]);
    for (size_t i = 0; i < n; i += 64) {
      const size_t left = std::min<size_t>(64, n - i);
      const __mmask64 in = _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(left));
      const __m512i v = _mm512_maskz_loadu_epi8(in, p + i);
      if (_mm512_mask_cmpeq_epi8_mask(in, v, _mm512_setzero_si512()) != 0) return -1;
      if (i + m > n) continue;  // no needle begins here; the bytes were checked for zeros
      const size_t starts = std::min<size_t>(64, n - m + 1 - i);  // places a needle may begin
      const __mmask64 can = _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(starts));
      const __m512i folded = Lookup(v, first_);
      if (m == 1) {
        if (_mm512_mask_cmpeq_epi8_mask(can, folded, head) != 0) return 1;
        continue;
      }
      // Lanes moved in from past the block are its own first ones again: only places whose
      // needle ends inside the block take the moved lanes.
      const __m512i ends = starts + m - 1 <= 64 ? _mm512_permutexvar_epi8(last, folded)
                                                : Lookup(_mm512_maskz_loadu_epi8(can, p + i + m - 1), first_);
      const __m512i seconds = starts + 1 <= 64 ? _mm512_permutexvar_epi8(next, folded)
                                               : Lookup(_mm512_maskz_loadu_epi8(can, p + i + 1), first_);
      uint64_t hits = _mm512_mask_cmpeq_epi8_mask(can, folded, head) & _mm512_mask_cmpeq_epi8_mask(can, seconds, second) &
                      _mm512_mask_cmpeq_epi8_mask(can, ends, tail);
      for (; hits != 0; hits &= hits - 1) {
        const size_t at = i + static_cast<size_t>(std::countr_zero(hits));
        size_t k = 2;
        while (k + 1 < m && p[at + k] != 0 && first_[p[at + k]] == static_cast<uint8_t>(needle[k])) ++k;
        if (k + 1 >= m) return 1;
      }
    }
    return 0;
  }
#pragma GCC diagnostic pop
#endif

  char* Bytes(const uint8_t* p, size_t n, char* out) const {
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = p[i];
      if (b == 0) return nullptr;
      std::memcpy(out, &bytes_[b], 4);
      out += size_[b];
    }
    return out;
  }

  uint32_t bytes_[256];  // each byte's folded bytes, the first at the lowest address
  uint8_t size_[256];
  bool blocks_ = false;
#if defined(__x86_64__)
  alignas(64) uint8_t first_[256] = {}, second_[256] = {};
  bool wide_ = false;
#endif
  int8_t lo_ = 1, hi_ = 0, shift_ = 0;
};

}  // namespace jet
