// A 64-bit digest of bytes: of each page read (to tell later whether it is still what something
// was decoded from without decoding it again), and of whole kept files of tens of megabytes (so
// that trusting a file costs little more than reading it). Every byte counts, and a change of any
// of them changes every bit of the digest with even odds.
//
// Thirty-two lanes each take every 32nd 8-byte word: a lane is rotated, then added the word beside
// its own (lane j takes word j^1) and the product of the halves of its own word xored with the
// lane. The lanes depend on nothing but their own words, so that vector instructions take eight (or
// four) of them at once with one 32-bit multiply, and there are enough of them that no lane waits
// for the one before it. A change within one word changes the neighbouring lane by the change
// itself; the product then makes all that a lane adds afterwards depend on it (a rotation and an
// addition alone would let a bit changed in one stripe of 256 bytes stand for a bit changed in the
// next). At the end each lane is keyed and mixed on its own (so that no change of a single lane
// cancels out), the lanes are summed and the sum mixed with the length. The plain code and the
// vector code give the same value, bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

class BulkDigest {
 public:
  // The ways whole stripes are taken: plain code, four lanes a register (AVX2), eight (AVX-512),
  // or the widest the processor has.
  enum class Way { kPlain, kFour, kEight, kWidest };
  static bool Supported(Way way);

  explicit BulkDigest(Way way = Way::kWidest);

  // Adds the next `size` bytes; pieces of any length give the digest of the bytes end to end.
  void Add(const void* bytes, size_t size);
  // The digest of everything added.
  uint64_t Value() const;

  // The digest of `size` bytes taken at once (a page): the same value as Add then Value.
  static uint64_t Of(const void* bytes, size_t size, Way way = Way::kWidest);

  static constexpr size_t kLanes = 32, kStripe = kLanes * 8;
  struct Ways;  // the functions of one way of taking stripes

 private:
  uint64_t lanes_[kLanes];
  unsigned char pending_[kStripe];
  size_t pending_size_ = 0;
  uint64_t total_ = 0;
  const Ways* ways_;
};

}  // namespace jet
