// Seeks per second on a table's primary-key index: each seek descends from the root, so the figure
// measures the index page decoding and key comparison that every lookup by song number pays.
//
// usage: index_seek_bench [FILE [TABLE [INDEX]]]   (default: the largest shared fixture, Keys, PrimaryKey)
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/table/index_cursor.h"

int main(int argc, char** argv) {
  std::string file = argc > 1 ? argv[1] : std::string(VELLORAN_SHARED_DIR) + "/fixtures/generated/keysV2000.mdb";
  std::string table = argc > 2 ? argv[2] : "Keys";
  std::string index_name = argc > 3 ? argv[3] : "PrimaryKey";
  auto db = jet::Database::Open(file);
  if (!db.ok()) {
    std::fprintf(stderr, "%s\n", db.error().message().c_str());
    return 1;
  }
  auto def = db.value()->ReadTable(table);
  if (!def.ok() || def->FindIndex(index_name) == nullptr) {
    std::fprintf(stderr, "no table %s with index %s\n", table.c_str(), index_name.c_str());
    return 1;
  }
  const jet::PhysicalIndex& index = def->physical_indexes[def->FindIndex(index_name)->physical_index];
  jet::IndexCursor cursor(db.value()->pager(), def->page, index);

  // The keys present, read by walking the index once.
  std::vector<std::string> keys;
  cursor.BeforeFirst();
  while (cursor.Next().value()) keys.push_back(cursor.entry().key);
  if (keys.empty()) {
    std::fprintf(stderr, "the index is empty\n");
    return 1;
  }
  std::mt19937 random(42);
  std::uniform_int_distribution<size_t> pick(0, keys.size() - 1);
  const int kSeeks = 200000;
  size_t found = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kSeeks; ++i) found += cursor.SeekEqual(keys[pick(random)]).value() ? 1 : 0;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("index seek: %s %s.%s, %zu entries\n", file.c_str(), table.c_str(), index_name.c_str(), keys.size());
  std::printf("  %d seeks in %.3f s: %.0f seeks/s (%.2f us each), %zu found\n", kSeeks, seconds, kSeeks / seconds,
              seconds * 1e6 / kSeeks, found);
  return found == static_cast<size_t>(kSeeks) ? 0 : 1;
}
