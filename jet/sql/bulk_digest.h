// A 64-bit digest of a long stretch of bytes (a kept file of tens of megabytes), taken about as
// fast as memory delivers them, so that trusting a file costs little more than reading it.
//
// Sixteen lanes each take every sixteenth 8-byte word: a lane's state is spread over its upper
// and lower halves (shifted down and xored), multiplied by an odd constant and added the word and
// the product of the word's halves (after a per-lane key). The lanes depend on nothing but their
// own words, so that vector instructions take four of them at once; a change of any byte
// changes its lane for good (the multiplier is invertible), and the lanes are folded together by
// a full mix at the end, with the length. The plain code and the vector code give the same value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

class BulkDigest {
 public:
  // The ways whole stripes of 128 bytes are taken: plain code, four lanes a register (AVX2, which
  // keeps up with memory: wider registers would only wait longer for it), or the widest the
  // processor has.
  enum class Way { kPlain, kFour, kWidest };
  static bool Supported(Way way);

  explicit BulkDigest(Way way = Way::kWidest);

  // Adds the next `size` bytes; pieces of any length give the digest of the bytes end to end.
  void Add(const void* bytes, size_t size);
  // The digest of everything added.
  uint64_t Value() const;

  static constexpr size_t kLanes = 16, kStripe = kLanes * 8;
  using StripesFn = void (*)(uint64_t* lanes, const unsigned char* bytes, size_t stripes);

 private:
  uint64_t lanes_[kLanes];
  unsigned char pending_[kStripe];
  size_t pending_size_ = 0;
  uint64_t total_ = 0;
  StripesFn stripes_;
};

}  // namespace jet
