// Per-address allowances: each address may do a thing `burst` times at once and then `per_second`
// times a second on average (a token bucket). Addresses not seen for a while are forgotten, so a
// stream of new addresses cannot grow the table without end.
#pragma once

#include <string>
#include <unordered_map>

namespace velloran {

struct Rate {
  double burst;
  double per_second;
};

class RateLimiter {
 public:
  explicit RateLimiter(Rate rate) : rate_(rate) {}

  // Whether `address` may go ahead at time `now` (seconds); counts it when it may.
  bool Allow(const std::string& address, double now);
  // Seconds until `address` may go ahead again.
  int WaitSeconds(const std::string& address) const;

 private:
  struct Bucket {
    double tokens;
    double at;
  };
  Rate rate_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace velloran
