#include "catalogue/row_order.h"

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "jet/index_cursor.h"
#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/usage_map.h"

namespace velloran {

namespace {

class IndexOrder final : public RowOrder {
 public:
  IndexOrder(jet::Pager& pager, uint32_t owner, uint32_t root) : cursor_(pager, owner, root) {}

  jet::Result<bool> First() override { return cursor_.First(); }
  jet::Result<bool> Last() override { return cursor_.Last(); }
  jet::Result<bool> Next() override { return cursor_.Next(); }
  jet::Result<bool> Prev() override { return cursor_.Prev(); }
  jet::Result<bool> SeekAtOrAfter(const OrderPlace& place) override { return cursor_.SeekAtOrAfter(place.key, place.row); }
  OrderPlace place() const override { return {cursor_.entry().key, cursor_.row()}; }

 private:
  jet::IndexCursor cursor_;
};

// The pages come from the owned-pages map, which is small beside the pages it lists; each page
// is checked to be a data page of this table only when the walk reaches it.
class StorageOrder final : public RowOrder {
 public:
  StorageOrder(jet::Pager& pager, uint32_t owner, std::shared_ptr<const std::vector<uint32_t>> pages)
      : pager_(pager), owner_(owner), owned_(std::move(pages)), pages_(*owned_) {}

  jet::Result<bool> First() override { return Find(0, 0, true); }
  jet::Result<bool> Last() override { return Find(pages_.size(), 0, false); }
  jet::Result<bool> Next() override {
    if (page_index_ >= pages_.size()) return false;  // after the last row
    return Find(page_index_, row_ + 1, true);
  }
  jet::Result<bool> Prev() override {
    if (before_first_) return false;
    if (page_index_ >= pages_.size()) return Last();
    if (row_ == 0) return Find(page_index_, 0, false);
    return Find(page_index_ + 1, row_, false);
  }
  jet::Result<bool> SeekAtOrAfter(const OrderPlace& place) override {
    const size_t at = static_cast<size_t>(std::lower_bound(pages_.begin(), pages_.end(), place.row.page) - pages_.begin());
    return Find(at, at < pages_.size() && pages_[at] == place.row.page ? place.row.row : 0, true);
  }
  OrderPlace place() const override { return {std::string(), jet::RowId{pages_[page_index_], static_cast<uint8_t>(row_)}}; }

 private:
  // Forward: the first live row at or after slot `row` of pages_[index]. Backward: the last live
  // row before pages_[index] (row 0), or before slot `row` of pages_[index - 1] (row > 0).
  jet::Result<bool> Find(size_t index, uint32_t row, bool forward);
  jet::Result<std::optional<uint32_t>> LiveRow(uint32_t page, uint32_t from, bool forward, uint32_t before);
  jet::Result<bool> IsLiveMovedHome(uint32_t page, uint32_t row);

  jet::Pager& pager_;
  uint32_t owner_;
  std::shared_ptr<const std::vector<uint32_t>> owned_;
  const std::vector<uint32_t>& pages_;  // owned pages, ascending; not every one holds rows of the table
  size_t page_index_ = 0;
  uint32_t row_ = 0;
  bool before_first_ = true;
  std::set<uint32_t> moved_homes_;  // row pointers; filled on first need
  bool moved_homes_known_ = false;
};

// The live row of `page` nearest `from` in the direction of the walk (backward: below `before`).
jet::Result<std::optional<uint32_t>> StorageOrder::LiveRow(uint32_t page, uint32_t from, bool forward, uint32_t before) {
  using Found = std::optional<uint32_t>;
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager_.ReadPage(page));
  if (data[0] != jet::kPageData || jet::Get32(data + 4) != owner_) return Found();
  const uint32_t count = jet::DataPageRowCount(pager_.format(), data);
  const auto live = [&](uint32_t r) -> jet::Result<bool> {
    JET_ASSIGN_OR_RETURN(jet::RowSlot slot, jet::ReadRowSlot(pager_, page, r));
    if (slot.deleted() || slot.forwarding()) return false;  // a moved row is met at its new home
    if (slot.moved_home()) return IsLiveMovedHome(page, r);
    return true;
  };
  if (forward) {
    for (uint32_t r = from; r < count; ++r) {
      JET_ASSIGN_OR_RETURN(bool yes, live(r));
      if (yes) return Found(r);
    }
    return Found();
  }
  for (uint32_t r = std::min(before, count); r-- > 0;) {
    JET_ASSIGN_OR_RETURN(bool yes, live(r));
    if (yes) return Found(r);
  }
  return Found();
}

jet::Result<bool> StorageOrder::Find(size_t index, uint32_t row, bool forward) {
  if (forward) {
    for (; index < pages_.size(); ++index, row = 0) {
      JET_ASSIGN_OR_RETURN(std::optional<uint32_t> found, LiveRow(pages_[index], row, true, 0));
      if (found) {
        page_index_ = index;
        row_ = *found;
        before_first_ = false;
        return true;
      }
    }
    page_index_ = pages_.size();
    before_first_ = false;
    return false;
  }
  // Backward from slot `row` of pages_[index - 1], or from the end of that page when row is 0.
  for (; index > 0; --index, row = 0) {
    JET_ASSIGN_OR_RETURN(std::optional<uint32_t> found, LiveRow(pages_[index - 1], 0, false, row == 0 ? 0x100 : row));
    if (found) {
      page_index_ = index - 1;
      row_ = *found;
      before_first_ = false;
      return true;
    }
  }
  page_index_ = 0;
  before_first_ = true;
  return false;
}

// A slot flagged as a moved row's home holds a row only when a forwarding chain of this table
// ends there, so that a stray flag never brings back a row. Finding the chains reads every page;
// that happens only when the walk meets such a slot, as the table's scans do.
jet::Result<bool> StorageOrder::IsLiveMovedHome(uint32_t page, uint32_t row) {
  if (!moved_homes_known_) {
    JET_ASSIGN_OR_RETURN(moved_homes_, jet::FindMovedHomes(pager_, owner_, pages_));
    moved_homes_known_ = true;
  }
  return moved_homes_.count((page << 8) | row) != 0;
}

}  // namespace

jet::Result<std::shared_ptr<const std::vector<uint32_t>>> OwnedPagesCache::Get(jet::Pager& pager, const jet::TableDef& def) {
  if (generation_ != pager.generation()) {
    by_table_.clear();
    generation_ = pager.generation();
  }
  auto& kept = by_table_[def.page];
  if (kept == nullptr) {
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, jet::ReadUsageMap(pager, def.owned_pages_map));
    if (!std::is_sorted(pages.begin(), pages.end())) std::sort(pages.begin(), pages.end());  // maps list them in order
    kept = std::make_shared<const std::vector<uint32_t>>(std::move(pages));
  }
  return kept;
}

jet::Result<std::unique_ptr<RowOrder>> OpenStorageOrder(jet::Pager& pager, const jet::TableDef& def, OwnedPagesCache* cache) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const std::vector<uint32_t>> pages, cache->Get(pager, def));
  return std::unique_ptr<RowOrder>(new StorageOrder(pager, def.page, std::move(pages)));
}

jet::Result<std::unique_ptr<RowOrder>> OpenIndexOrder(jet::Pager& pager, const jet::TableDef& def, size_t physical_index) {
  if (physical_index >= def.physical_indexes.size()) {
    return jet::Error(jet::ErrorCode::kCorrupt, "table \"" + def.name + "\": an index has no B-tree; repair the database");
  }
  return std::unique_ptr<RowOrder>(new IndexOrder(pager, def.page, def.physical_indexes[physical_index].root_page));
}

}  // namespace velloran
