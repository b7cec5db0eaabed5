// A 64-bit digest of a page's bytes, for telling whether a page is still what something was
// decoded from without decoding it again.
//
// Every byte counts, and a change of any of them changes every bit of the digest with even odds:
// four lanes each take every fourth 8-byte word, multiplied by odd constants and rotated so that
// a word's high bits reach the low ones; the lanes are then folded together and the result mixed
// once more. That two states of a page give the same digest is as likely as guessing a random
// 64-bit number, and the digest reads a page about as fast as memory delivers it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jet {

namespace page_digest_detail {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87u;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Fu;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9u;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63u;

inline uint64_t Word(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

inline uint64_t Lane(uint64_t lane, uint64_t word) { return std::rotl(lane + word * kPrime2, 31) * kPrime1; }

inline uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  return h ^ (h >> 32);
}

}  // namespace page_digest_detail

inline uint64_t PageDigest(const uint8_t* bytes, size_t size) {
  using namespace page_digest_detail;
  uint64_t a = kPrime1 + kPrime2, b = kPrime2, c = 0, d = 0 - kPrime1;
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    a = Lane(a, Word(bytes + i));
    b = Lane(b, Word(bytes + i + 8));
    c = Lane(c, Word(bytes + i + 16));
    d = Lane(d, Word(bytes + i + 24));
  }
  uint64_t h = std::rotl(a, 1) + std::rotl(b, 7) + std::rotl(c, 12) + std::rotl(d, 18) + size;
  // Pages are a multiple of 32 bytes long; any other length is finished a word, then a byte, at a time.
  for (; i + 8 <= size; i += 8) h = std::rotl(h ^ Lane(0, Word(bytes + i)), 27) * kPrime1 + kPrime4;
  for (; i < size; ++i) h = std::rotl(h ^ (bytes[i] * kPrime4), 11) * kPrime1;
  return Mix(h);
}

}  // namespace jet
