// A cursor over one index: walks its entries in key order in either direction and seeks.
// Each entry's row pointer names the row's original slot, which may forward to a moved row;
// ReadRowFollowingOverflow reaches the row itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "jet/pages/index_page.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"

namespace jet {

class IndexCursor {
 public:
  // `owner` is the table definition's page, which every page of the index must name.
  IndexCursor(Pager& pager, uint32_t owner, const PhysicalIndex& index) : IndexCursor(pager, owner, index.root_page) {}
  IndexCursor(Pager& pager, uint32_t owner, uint32_t root) : pager_(pager), owner_(owner), root_(root) {}

  // Positions before the first entry (Next reaches it) or after the last (Prev reaches it).
  void BeforeFirst() { state_ = State::kBeforeFirst; }
  void AfterLast() { state_ = State::kAfterLast; }

  // Moves one entry on; false (and positioned past the end) when there is none.
  Result<bool> Next();
  Result<bool> Prev();
  // The first (last) entry; false when the index is empty.
  Result<bool> First() {
    BeforeFirst();
    return Next();
  }
  Result<bool> Last() {
    AfterLast();
    return Prev();
  }

  // Positions on the first entry whose key is at or after `key`; false when every key is smaller.
  Result<bool> SeekAtOrAfter(const std::string& key);
  // Positions on the first entry whose key equals `key`; false (no match) otherwise.
  Result<bool> SeekEqual(const std::string& key);
  // Positions on the first entry ordered at or after (key, row). Entries are ordered by key, then
  // by row pointer, and intermediate entries carry their subtree's last entry whole, so this
  // descends one path however many entries share the key: a walk that lost its place because
  // the file changed finds it again in a few page reads.
  Result<bool> SeekAtOrAfter(const std::string& key, RowId row);

  // The current entry; only valid after a call that returned true.
  const IndexEntry& entry() const { return leaf_->entries[position_]; }
  RowId row() const { return {entry().data_page, entry().data_row}; }

  // Work done by every cursor of the process: entries moved onto and index pages decoded. Lets a
  // test check that a walk costs what it should without timing it.
  struct Counters {
    uint64_t entries = 0;
    uint64_t pages = 0;
  };
  static Counters Totals();

 private:
  enum class State { kBeforeFirst, kOnEntry, kAfterLast };

  using PageRef = std::shared_ptr<const IndexPage>;

  // Decoded pages are kept while the pager's pages stay as they were: seeks descend through the
  // same upper pages. Leaves are kept too, up to kKeptLeaves, so that a long walk does not hold
  // the whole index in memory.
  Result<PageRef> ReadOwnedPage(uint32_t page);
  // The first entry not below a target, by `below(entry)`, which must be monotone in index order.
  template <typename Below>
  Result<bool> SeekFirstNotBelow(const Below& below);
  bool Land(bool on);  // counts a move that reached an entry
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
  size_t kept_leaves_ = 0;
  uint64_t generation_ = 0;  // the pager's generation when decoded_ was filled
};

}  // namespace jet
