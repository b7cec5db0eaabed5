// A cursor over one index's entries that can be put back on any entry, key and row pointer alike.
//
// Entries are ordered by key and then by row pointer, and an intermediate page carries the last
// entry of each child's subtree, so a seek to an exact (key, row) descends one root-to-leaf path
// however many entries share the key: a walk that lost its place because the file changed finds
// it again in a few page reads. The cursor is good for one state of the file: when the pager's
// pages change, open a new one (the tree's root may have moved).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "jet/index_page.h"
#include "jet/pager.h"
#include "jet/status.h"
#include "jet/table_cursor.h"

namespace jet {

class IndexEntryCursor {
 public:
  // `owner` is the table definition's page, which every page of the index must name.
  IndexEntryCursor(Pager& pager, uint32_t owner, uint32_t root) : pager_(pager), owner_(owner), root_(root) {}

  // Each returns whether the cursor is on an entry; when not, it is before the first entry or
  // after the last, and Next (Prev) from there reaches the first (last) one.
  Result<bool> First();
  Result<bool> Last();
  Result<bool> Next();
  Result<bool> Prev();
  // The first entry ordered at or after (key, row).
  Result<bool> SeekAtOrAfter(const std::string& key, RowId row);

  // The current entry; only valid while the last move returned true.
  const IndexEntry& entry() const { return leaf_->entries[position_]; }
  RowId row() const { return {entry().data_page, entry().data_row}; }

  // Work done by every cursor of the process: entries moved onto and index pages read. Lets a
  // test check that a walk costs what it should without timing it.
  struct Counters {
    uint64_t entries = 0;
    uint64_t pages = 0;
  };
  static Counters Totals();

 private:
  enum class State { kBeforeFirst, kOnEntry, kAfterLast };
  using PageRef = std::shared_ptr<const IndexPage>;

  // Intermediate pages are kept (a seek passes the same few again); leaves are not, so that a
  // long walk holds one leaf at a time.
  Result<PageRef> ReadOwnedPage(uint32_t page);
  // Descends to the leaf where (key, row) is or belongs; with no target, to the first or last leaf.
  Result<PageRef> DescendTo(const IndexEntry* target, bool leftmost);
  // Steps to the neighbouring leaf that has entries; false when there is none.
  Result<bool> StepLeaf(bool forward);
  bool Land(bool on);  // records the outcome of a move

  Pager& pager_;
  uint32_t owner_;
  uint32_t root_;
  State state_ = State::kBeforeFirst;
  PageRef leaf_;
  size_t position_ = 0;
  std::unordered_map<uint32_t, PageRef> upper_pages_;

  static std::atomic<uint64_t> entries_visited_;
  static std::atomic<uint64_t> pages_read_;
};

}  // namespace jet
