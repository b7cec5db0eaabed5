#include "requests/rate_limiter.h"

#include <algorithm>
#include <cmath>

namespace velloran {

bool RateLimiter::Allow(const std::string& address, double now) {
  if (buckets_.size() > 4096) {
    // A full bucket is as good as a new one: those entries can go.
    std::erase_if(buckets_, [&](const auto& b) {
      return b.second.tokens + (now - b.second.at) * rate_.per_second >= rate_.burst;
    });
  }
  auto [it, fresh] = buckets_.try_emplace(address, Bucket{rate_.burst, now});
  Bucket& b = it->second;
  b.tokens = std::min(rate_.burst, b.tokens + std::max(0.0, now - b.at) * rate_.per_second);
  b.at = std::max(b.at, now);
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

int RateLimiter::WaitSeconds(const std::string& address) const {
  auto it = buckets_.find(address);
  if (it == buckets_.end() || it->second.tokens >= 1 || rate_.per_second <= 0) return 0;
  return static_cast<int>(std::ceil((1 - it->second.tokens) / rate_.per_second));
}

}  // namespace velloran
