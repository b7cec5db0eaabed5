#include "jet/sql/bulk_digest.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define JET_WIDE_DIGEST 1
#endif

namespace jet {

struct BulkDigest::Ways {
  // Takes whole stripes into the lanes `from` holds, leaving them in `to` (which may be the same).
  void (*stripes)(const uint64_t* from, uint64_t* to, const unsigned char* bytes, size_t stripes);
  uint64_t (*fold)(const uint64_t* lanes);  // the lanes keyed, mixed one by one and summed
};

namespace {

constexpr size_t kLanes = BulkDigest::kLanes, kStripe = BulkDigest::kStripe;
constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87u, kPrime2 = 0xC2B2AE3D27D4EB4Fu;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9u, kPrime4 = 0x85EBCA77C2B2AE63u;
constexpr uint64_t kMultiplier = 0x9E3779B1u;  // odd, and under 2^32: one 32-bit multiply a half
// The turn of a lane a stripe: odd, so that each of 64 stripes in a row is turned differently.
constexpr int kTurn = 23;

// Lane j's key: the lanes start apart, so that equal words in two lanes weigh differently, and are
// keyed again, differently, as they are folded.
constexpr uint64_t Key(size_t j) { return kPrime2 * (2 * j + 1) ^ kPrime4; }
template <typename F>
constexpr std::array<uint64_t, kLanes> Table(F f) {
  std::array<uint64_t, kLanes> table{};
  for (size_t j = 0; j < kLanes; ++j) table[j] = f(j);
  return table;
}
constexpr auto kStart = Table([](size_t j) { return Key(j); });
constexpr auto kFoldKeys = Table([](size_t j) { return Key(kLanes + j); });
constexpr auto kMultipliers = Table([](size_t) { return kMultiplier; });

uint64_t Word(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  return h ^ (h >> 32);
}

void PlainStripes(const uint64_t* from, uint64_t* to, const unsigned char* bytes, size_t stripes) {
  // The lanes kept apart from the bytes, which the compiler could otherwise not tell they alias.
  std::array<uint64_t, kLanes> lanes;
  std::memcpy(lanes.data(), from, sizeof lanes);
  for (size_t s = 0; s < stripes; ++s, bytes += kStripe) {
    for (size_t j = 0; j < kLanes; ++j) {
      const uint64_t x = Word(bytes + 8 * j) ^ lanes[j];
      lanes[j] = std::rotl(lanes[j], kTurn) + Word(bytes + 8 * (j ^ 1)) + (x & 0xFFFFFFFFu) * (x >> 32);
    }
  }
  std::memcpy(to, lanes.data(), sizeof lanes);
}

// Each lane's mix is undone by nothing else: the shift-xor and the odd multiplier lose nothing,
// so a lane that differs still differs when the lanes are summed.
uint64_t PlainFold(const uint64_t* lanes) {
  uint64_t sum = 0;
  for (size_t j = 0; j < kLanes; ++j) {
    const uint64_t y = lanes[j] ^ kFoldKeys[j];
    sum += (y ^ y >> 29) * kMultiplier;
  }
  return sum;
}

constexpr BulkDigest::Ways kPlainWays{PlainStripes, PlainFold};

#if defined(JET_WIDE_DIGEST)

// Both widths take the same steps as the plain code, a register of lanes at a time: the word beside
// a lane's own is the other half of its 128 bits (0x4E), the halves of a word swap within it (0xB1),
// and a lane is multiplied by the 32-bit multiplier a half at a time. The steps are written
// once, in a macro rather than a template, because each width's functions must be compiled for its
// instructions whatever the optimisation: a register passed between code compiled for different
// instructions is passed differently.
#define JET_WIDE_WAYS(Wide, kInstructions)                                                                      \
  __attribute__((target(kInstructions))) void Wide##Stripes(const uint64_t* from, uint64_t* to,                 \
                                                            const unsigned char* bytes, size_t stripes) {       \
    using V = Wide::V;                                                                                          \
    constexpr size_t kRegisters = kStripe / sizeof(V), kPer = sizeof(V) / 8;                                    \
    V acc[kRegisters];                                                                                          \
    for (size_t r = 0; r < kRegisters; ++r) acc[r] = Wide::Load(from + kPer * r);                               \
    for (size_t s = 0; s < stripes; ++s, bytes += kStripe) {                                                    \
      for (size_t r = 0; r < kRegisters; ++r) {                                                                 \
        const V word = Wide::Load(bytes + sizeof(V) * r), x = Wide::Xor(word, acc[r]);                          \
        const V product = Wide::Multiply(x, Wide::Shuffle<0xB1>(x));                                            \
        acc[r] = Wide::Add(Wide::Turn(acc[r]), Wide::Add(Wide::Shuffle<0x4E>(word), product));                  \
      }                                                                                                         \
    }                                                                                                           \
    for (size_t r = 0; r < kRegisters; ++r) Wide::Store(to + kPer * r, acc[r]);                                 \
  }                                                                                                             \
  __attribute__((target(kInstructions))) uint64_t Wide##Fold(const uint64_t* lanes) {                           \
    using V = Wide::V;                                                                                          \
    constexpr size_t kPer = sizeof(V) / 8;                                                                      \
    const V multiplier = Wide::Load(kMultipliers.data());                                                       \
    V sum = Wide::Xor(multiplier, multiplier);                                                                  \
    for (size_t r = 0; r < kLanes / kPer; ++r) {                                                                \
      const V y = Wide::Xor(Wide::Load(lanes + kPer * r), Wide::Load(kFoldKeys.data() + kPer * r));            \
      const V spread = Wide::Xor(y, Wide::Right<29>(y));                                                        \
      const V high = Wide::Left<32>(Wide::Multiply(Wide::Right<32>(spread), multiplier));                       \
      sum = Wide::Add(sum, Wide::Add(Wide::Multiply(spread, multiplier), high));                                \
    }                                                                                                           \
    uint64_t parts[kPer], total = 0;                                                                            \
    Wide::Store(parts, sum);                                                                                    \
    for (const uint64_t part : parts) total += part;                                                            \
    return total;                                                                                               \
  }

// GCC 12's AVX-512 intrinsics begin from a register left undefined on purpose, and warn of it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#define JET_EIGHT __attribute__((target("avx512f"), always_inline)) inline
#define JET_FOUR __attribute__((target("avx2"), always_inline)) inline
struct Eight {
  using V = __m512i;
  JET_EIGHT static V Load(const void* p) { return _mm512_loadu_si512(p); }
  JET_EIGHT static void Store(void* p, V a) { _mm512_storeu_si512(p, a); }
  JET_EIGHT static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
  JET_EIGHT static V Add(V a, V b) { return _mm512_add_epi64(a, b); }
  JET_EIGHT static V Multiply(V a, V b) { return _mm512_mul_epu32(a, b); }
  JET_EIGHT static V Turn(V a) { return _mm512_rol_epi64(a, kTurn); }
  template <int kImm>
  JET_EIGHT static V Shuffle(V a) { return _mm512_shuffle_epi32(a, _MM_PERM_ENUM(kImm)); }
  template <int kBits>
  JET_EIGHT static V Left(V a) { return _mm512_slli_epi64(a, kBits); }
  template <int kBits>
  JET_EIGHT static V Right(V a) { return _mm512_srli_epi64(a, kBits); }
};
struct Four {
  using V = __m256i;
  JET_FOUR static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); }
  JET_FOUR static void Store(void* p, V a) { _mm256_storeu_si256(static_cast<V*>(p), a); }
  JET_FOUR static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  JET_FOUR static V Add(V a, V b) { return _mm256_add_epi64(a, b); }
  JET_FOUR static V Multiply(V a, V b) { return _mm256_mul_epu32(a, b); }
  JET_FOUR static V Turn(V a) { return _mm256_or_si256(Left<kTurn>(a), Right<64 - kTurn>(a)); }
  template <int kImm>
  JET_FOUR static V Shuffle(V a) { return _mm256_shuffle_epi32(a, kImm); }
  template <int kBits>
  JET_FOUR static V Left(V a) { return _mm256_slli_epi64(a, kBits); }
  template <int kBits>
  JET_FOUR static V Right(V a) { return _mm256_srli_epi64(a, kBits); }
};

JET_WIDE_WAYS(Eight, "avx512f")
JET_WIDE_WAYS(Four, "avx2")
#undef JET_EIGHT
#undef JET_FOUR
#undef JET_WIDE_WAYS
#pragma GCC diagnostic pop

constexpr BulkDigest::Ways kFourWays{FourStripes, FourFold}, kEightWays{EightStripes, EightFold};

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
}
#endif

// The ways asked for, or the nearest narrower one this processor has.
const BulkDigest::Ways* Pick(BulkDigest::Way way) {
#if defined(JET_WIDE_DIGEST)
  using Way = BulkDigest::Way;
  if ((way == Way::kEight || way == Way::kWidest) && HasAvx512()) return &kEightWays;
  if (way != Way::kPlain && HasAvx2()) return &kFourWays;
#else
  (void)way;
#endif
  return &kPlainWays;
}

// The last stripe padded with zeros: the length, mixed in here, tells it from a longer one.
uint64_t Finish(const BulkDigest::Ways& ways, uint64_t* lanes, const unsigned char* rest, size_t rest_size, uint64_t total) {
  if (rest_size > 0) {
    unsigned char last[kStripe] = {};
    std::memcpy(last, rest, rest_size);
    ways.stripes(lanes, lanes, last, 1);
  }
  return Mix(ways.fold(lanes) + Mix(total + kPrime3));
}

}  // namespace

bool BulkDigest::Supported(Way way) {
#if defined(JET_WIDE_DIGEST)
  if (way == Way::kFour) return HasAvx2();
  if (way == Way::kEight) return HasAvx512();
#else
  if (way == Way::kFour || way == Way::kEight) return false;
#endif
  return true;
}

BulkDigest::BulkDigest(Way way) : ways_(Pick(way)) { std::memcpy(lanes_, kStart.data(), sizeof lanes_); }

void BulkDigest::Add(const void* data, size_t size) {
  if (size == 0) return;  // an empty list's bytes may be no pointer at all, which no copy may be given
  const auto* bytes = static_cast<const unsigned char*>(data);
  total_ += size;
  if (pending_size_ > 0) {
    const size_t take = std::min(size, kStripe - pending_size_);
    std::memcpy(pending_ + pending_size_, bytes, take);
    pending_size_ += take;
    bytes += take;
    size -= take;
    if (pending_size_ < kStripe) return;
    ways_->stripes(lanes_, lanes_, pending_, 1);
    pending_size_ = 0;
  }
  ways_->stripes(lanes_, lanes_, bytes, size / kStripe);
  pending_size_ = size % kStripe;
  std::memcpy(pending_, bytes + size - pending_size_, pending_size_);
}

uint64_t BulkDigest::Value() const {
  uint64_t lanes[kLanes];
  std::memcpy(lanes, lanes_, sizeof lanes);
  return Finish(*ways_, lanes, pending_, pending_size_, total_);
}

uint64_t BulkDigest::Of(const void* data, size_t size, Way way) {
  const Ways& ways = *Pick(way);
  const auto* bytes = static_cast<const unsigned char*>(data);
  uint64_t lanes[kLanes];
  ways.stripes(kStart.data(), lanes, bytes, size / kStripe);
  return Finish(ways, lanes, bytes + size - size % kStripe, size % kStripe, size);
}

}  // namespace jet
