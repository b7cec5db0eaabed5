// A cursor over one index: walks its entries in key order in either direction and seeks.
// Each entry's row pointer names the row's original slot, which may forward to a moved row;
// ReadRowFollowingOverflow reaches the row itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "jet/index_page.h"
#include "jet/pager.h"
#include "jet/status.h"
#include "jet/table_cursor.h"
#include "jet/table_def.h"

namespace jet {

class IndexCursor {
 public:
  // `owner` is the table definition's page, which every page of the index must name.
  IndexCursor(Pager& pager, uint32_t owner, const PhysicalIndex& index)
      : pager_(pager), owner_(owner), root_(index.root_page) {}

  // Positions before the first entry (Next reaches it) or after the last (Prev reaches it).
  void BeforeFirst() { state_ = State::kBeforeFirst; }
  void AfterLast() { state_ = State::kAfterLast; }

  // Moves one entry on; false (and positioned past the end) when there is none.
  Result<bool> Next();
  Result<bool> Prev();

  // Positions on the first entry whose key is at or after `key`; false when every key is smaller.
  Result<bool> SeekAtOrAfter(const std::string& key);
  // Positions on the first entry whose key equals `key`; false (no match) otherwise.
  Result<bool> SeekEqual(const std::string& key);

  // The current entry; only valid after a call that returned true.
  const IndexEntry& entry() const { return leaf_->entries[position_]; }
  RowId row() const { return {entry().data_page, entry().data_row}; }

 private:
  enum class State { kBeforeFirst, kOnEntry, kAfterLast };

  using PageRef = std::shared_ptr<const IndexPage>;

  // Decoded pages are kept while the pager's pages stay as they were: seeks descend through the
  // same upper pages.
  Result<PageRef> ReadOwnedPage(uint32_t page);
  // Descends from the root to the leftmost (or rightmost) leaf.
  Result<PageRef> EdgeLeaf(bool leftmost);
  // Steps to the neighbouring non-empty leaf; false when there is none.
  Result<bool> StepLeaf(bool forward);

  Pager& pager_;
  uint32_t owner_;
  uint32_t root_;
  State state_ = State::kBeforeFirst;
  PageRef leaf_;
  size_t position_ = 0;
  std::unordered_map<uint32_t, PageRef> decoded_;
  uint64_t generation_ = 0;  // the pager's generation when decoded_ was filled
};

}  // namespace jet
