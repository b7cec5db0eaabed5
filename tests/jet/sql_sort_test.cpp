// The incremental sort behind ORDER BY: whatever share of the rows a caller takes, they come out
// exactly as a full stable sort by key would give them (equal keys, which the random keys give
// often, in the order they were added, across chunk boundaries too).
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "jet/sql/sql_sort.h"

namespace {

jet::RowId IdOf(size_t i) { return jet::RowId{static_cast<uint32_t>(i / 200), static_cast<uint8_t>(i % 200)}; }

// Keys that tie often, share long prefixes (past the eight bytes compared first), are prefixes of
// one another and hold the bytes 0x00 and 0xFF, which must compare as unsigned.
std::string RandomKey(std::mt19937& random) {
  static const char kBytes[] = {'\x00', 'a', 'b', '\x7f', '\x80', '\xff'};
  std::string key = random() % 2 ? "a long shared prefix" : "";
  for (int n = static_cast<int>(random() % 4); n > 0; --n) key += kBytes[random() % sizeof kBytes];
  return key;
}

std::vector<jet::RowId> StableOrder(const std::vector<std::string>& keys) {
  std::vector<size_t> order(keys.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
  std::vector<jet::RowId> ids;
  for (size_t i : order) ids.push_back(IdOf(i));
  return ids;
}

TEST(SqlSort, RowsComeOutInStableKeyOrderHoweverFewAreTaken) {
  std::mt19937 random(20240611);
  jet::IncrementalSort sort;
  // Sizes around the first chunk (2,048 rows) and several chunks beyond it.
  for (size_t n : {0, 1, 2, 9, 2047, 2048, 2049, 4097, 30000}) {
    for (int trial = 0; trial < 3; ++trial) {
      SCOPED_TRACE(std::to_string(n) + " rows, trial " + std::to_string(trial));
      sort.Clear();  // the same object, reused as a cursor reuses it for each run
      std::vector<std::string> keys;
      for (size_t i = 0; i < n; ++i) {
        keys.push_back(RandomKey(random));
        sort.Add(keys.back(), IdOf(i));
      }
      ASSERT_EQ(sort.size(), n);
      const std::vector<jet::RowId> expected = StableOrder(keys);
      // The first trial takes everything; the others stop at a random row.
      const size_t take = trial == 0 ? n : random() % (n + 1);
      std::vector<jet::RowId> taken;
      jet::RowId id;
      while (taken.size() < take && sort.Next(&id)) taken.push_back(id);
      ASSERT_EQ(taken.size(), take);
      EXPECT_TRUE(std::equal(taken.begin(), taken.end(), expected.begin()));
      EXPECT_EQ(sort.remaining(), n - take);
      if (take == n) {
        EXPECT_FALSE(sort.Next(&id));
      }
    }
  }
}

}  // namespace
