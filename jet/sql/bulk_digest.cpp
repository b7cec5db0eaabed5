#include "jet/sql/bulk_digest.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "jet/sql/page_digest.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define JET_WIDE_DIGEST 1
#endif

namespace jet {

namespace {

constexpr uint64_t kMultiplier = 0x9E3779B1u;  // odd, and under 2^32: one 32-bit multiply a half

// Lane j's key: different for every lane, so that equal words in two lanes weigh differently.
constexpr uint64_t Key(size_t j) { return page_digest_detail::kPrime2 * (2 * j + 1) ^ page_digest_detail::kPrime4; }
constexpr auto kKeys = [] {
  std::array<uint64_t, BulkDigest::kLanes> keys{};
  for (size_t j = 0; j < keys.size(); ++j) keys[j] = Key(j);
  return keys;
}();

void PlainStripes(uint64_t* state, const unsigned char* bytes, size_t stripes) {
  // The lanes kept apart from the bytes, which the compiler could otherwise not tell they alias.
  std::array<uint64_t, BulkDigest::kLanes> lanes;
  std::memcpy(lanes.data(), state, sizeof lanes);
  for (size_t s = 0; s < stripes; ++s, bytes += BulkDigest::kStripe) {
    for (size_t j = 0; j < BulkDigest::kLanes; ++j) {
      const uint64_t word = page_digest_detail::Word(bytes + 8 * j), x = word ^ kKeys[j];
      lanes[j] = (lanes[j] ^ lanes[j] >> 29) * kMultiplier + word + (x & 0xFFFFFFFFu) * (x >> 32);
    }
  }
  std::memcpy(state, lanes.data(), sizeof lanes);
}

#if defined(JET_WIDE_DIGEST)

// Four lanes a register, four registers: the same steps as PlainStripes, the 64-bit multiply by
// the 32-bit multiplier done as two 32-bit multiplies of the lane's halves.
__attribute__((target("avx2"))) void WideStripes(uint64_t* lanes, const unsigned char* bytes, size_t stripes) {
  __m256i acc[4], key[4];
  const __m256i multiplier = _mm256_set1_epi64x(static_cast<long long>(kMultiplier));
  for (int r = 0; r < 4; ++r) {
    acc[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 4 * r));
    key[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kKeys.data() + 4 * r));
  }
  for (size_t s = 0; s < stripes; ++s, bytes += BulkDigest::kStripe) {
    for (int r = 0; r < 4; ++r) {
      const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * r));
      const __m256i x = _mm256_xor_si256(word, key[r]);
      const __m256i product = _mm256_mul_epu32(x, _mm256_srli_epi64(x, 32));
      const __m256i spread = _mm256_xor_si256(acc[r], _mm256_srli_epi64(acc[r], 29));
      const __m256i low = _mm256_mul_epu32(spread, multiplier);
      const __m256i high = _mm256_slli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(spread, 32), multiplier), 32);
      acc[r] = _mm256_add_epi64(_mm256_add_epi64(low, high), _mm256_add_epi64(word, product));
    }
  }
  for (int r = 0; r < 4; ++r) _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes + 4 * r), acc[r]);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

bool BulkDigest::Supported(Way way) {
#if defined(JET_WIDE_DIGEST)
  if (way == Way::kFour) return HasAvx2();
#else
  if (way == Way::kFour) return false;
#endif
  return true;
}

BulkDigest::BulkDigest(Way way) : stripes_(PlainStripes) {
#if defined(JET_WIDE_DIGEST)
  if (way != Way::kPlain && HasAvx2()) stripes_ = WideStripes;
#else
  (void)way;
#endif
  for (size_t j = 0; j < kLanes; ++j) lanes_[j] = page_digest_detail::kPrime1 + j;
}

void BulkDigest::Add(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  total_ += size;
  if (pending_size_ > 0) {
    const size_t take = std::min(size, kStripe - pending_size_);
    std::memcpy(pending_ + pending_size_, bytes, take);
    pending_size_ += take;
    bytes += take;
    size -= take;
    if (pending_size_ < kStripe) return;
    stripes_(lanes_, pending_, 1);
    pending_size_ = 0;
  }
  stripes_(lanes_, bytes, size / kStripe);
  pending_size_ = size % kStripe;
  std::memcpy(pending_, bytes + size - pending_size_, pending_size_);
}

uint64_t BulkDigest::Value() const {
  uint64_t lanes[kLanes];
  std::memcpy(lanes, lanes_, sizeof lanes);
  if (pending_size_ > 0) {
    // The last stripe padded with zeros: the length, mixed in below, tells it from a longer one.
    unsigned char last[kStripe] = {};
    std::memcpy(last, pending_, pending_size_);
    PlainStripes(lanes, last, 1);
  }
  uint64_t h = page_digest_detail::Mix(total_ + page_digest_detail::kPrime3);
  for (const uint64_t lane : lanes) h = page_digest_detail::Mix(h ^ lane) + page_digest_detail::kPrime4;
  return h;
}

}  // namespace jet
