// Folding the texts of rows into the bytes FoldedColumns keeps (folded_columns.h): one unit at a
// time, or a whole text kept one byte a character from a table of each byte's folded bytes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
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
  explicit ByteFolder(const char16_t* fold) {
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
  }

  // Bytes a fold of `n` stored bytes may write: three per byte, and a block's store past them.
  static size_t Room(size_t n) { return n * 3 + 16; }

  // Writes the folded bytes of `n` stored bytes at `out`; their end, or null when a zero byte
  // (a switch to two-byte runs) is met. With `padded`, the 15 bytes after the text may be read:
  // a text shorter than a block is then folded as one too.
  char* Fold(const uint8_t* p, size_t n, char* out, bool padded) const {
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
  int8_t lo_ = 1, hi_ = 0, shift_ = 0;
};

}  // namespace jet
