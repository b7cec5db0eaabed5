#include "jet/table/storage_cursor.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/table_def.h"

namespace jet {

Result<const uint8_t*> ReadOwnedDataPage(Pager& pager, uint32_t owner, uint32_t page) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(page));
  JET_RETURN_IF_ERROR(CheckOwnedDataPage(pager, owner, page, data));
  return data;
}

Status CheckOwnedDataPage(const Pager& pager, uint32_t owner, uint32_t page, const uint8_t* data) {
  if (data[0] == kPageData && Get32(data + 4) == owner) return Status::Ok();
  std::string found = data[0] == kPageData ? "a data page of the table defined on page " + std::to_string(Get32(data + 4))
                                           : "a page of type " + std::to_string(data[0]);
  return pager.Corrupt(page, "the usage map of the table defined on page " + std::to_string(owner) +
                                 " lists this page as one of its data pages, but it is " + found +
                                 "; the rows the table kept there cannot be found: repair the file from a copy");
}

Result<std::map<uint32_t, uint32_t>> FindMovedRows(Pager& pager, uint32_t owner, const std::vector<uint32_t>& pages) {
  std::vector<std::pair<uint32_t, uint32_t>> forwarding;  // every forwarding slot, and where it points
  for (uint32_t p : pages) {
    JET_ASSIGN_OR_RETURN(const uint8_t* data, ReadOwnedDataPage(pager, owner, p));
    const uint16_t count = DataPageRowCount(pager.format(), data);
    for (uint32_t r = 0; r < count; ++r) {
      JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, p, r));
      if (!slot.forwarding()) continue;
      JET_ASSIGN_OR_RETURN(uint32_t target, ForwardingPointer(pager, p, slot));
      forwarding.emplace_back((p << 8) | r, target);
    }
  }
  for (const auto& [from, to] : forwarding) {
    // Every chain is followed, so that a pointer leading nowhere or a cycle fails here.
    uint32_t home = 0;
    JET_RETURN_IF_ERROR(FollowForwarding(pager, RowPointerPage(from), RowPointerRow(from), &home).status());
  }
  std::vector<std::pair<uint32_t, uint32_t>> starts;  // none longer than a chain just followed
  if (!ForwardingChainStarts(forwarding, &starts)) return pager.Corrupt(owner, "the forwarding pointers of its rows form a cycle");
  return std::map<uint32_t, uint32_t>(starts.begin(), starts.end());
}

StorageCursor::StorageCursor(Pager& pager, uint32_t owner, std::shared_ptr<const std::vector<uint32_t>> pages,
                             PageTest page_test)
    : pager_(pager), owner_(owner), pages_(std::move(pages)), page_test_(std::move(page_test)) {}

Result<bool> StorageCursor::First() { return Walk(0, 0, 1); }

Result<bool> StorageCursor::Last() { return Walk(pages_->size() - 1, kPageEnd, -1); }

Result<bool> StorageCursor::NextOffRow() {
  if (at_ == At::kAfterLast) return false;
  return First();
}

Result<bool> StorageCursor::Prev() {
  switch (at_) {
    case At::kBeforeFirst: return false;
    case At::kAfterLast: return Last();
    case At::kRow: break;
  }
  return Walk(index_, int64_t{row_} - 1, -1);
}

Result<bool> StorageCursor::SeekAtOrAfter(RowId place) {
  const std::vector<uint32_t>& pages = *pages_;
  const size_t at = static_cast<size_t>(std::lower_bound(pages.begin(), pages.end(), place.page) - pages.begin());
  return Walk(at, at < pages.size() && pages[at] == place.page ? place.row : 0, 1);
}

// A slot with a flag set: deleted, forwarding, or a moved row's home.
Result<bool> StorageCursor::FlaggedLive(uint32_t page, uint32_t row, const RowSlot& slot) {
  if (slot.deleted() || slot.forwarding()) return false;
  return IsLiveMovedHome(page, row);
}

// A walk asks for the same page once for each of its rows; the test of a page's bytes (a search
// for words in them) is worth doing once.
Result<uint32_t> StorageCursor::CountSlots(size_t index) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, ReadOwnedDataPage(pager_, owner_, (*pages_)[index]));
  const bool wanted = page_test_ == nullptr || page_test_(data);
  counted_slots_ = wanted ? DataPageRowCount(pager_.format(), data) : 0;
  counted_index_ = index;
  counted_generation_ = pager_.generation();
  return counted_slots_;
}

Result<bool> StorageCursor::IsLiveMovedHome(uint32_t page, uint32_t row) {
  if (!moved_homes_known_) {
    JET_ASSIGN_OR_RETURN(moved_homes_, FindMovedRows(pager_, owner_, *pages_));
    moved_homes_known_ = true;
  }
  return moved_homes_.count((page << 8) | row) != 0;
}

// The cursor stands on a moved home only where IsLiveMovedHome found its chain.
RowId StorageCursor::MovedHeader() const {
  const auto header = moved_homes_.find((*pages_)[index_] << 8 | row_);
  return header == moved_homes_.end() ? row() : RowId{RowPointerPage(header->second), RowPointerRow(header->second)};
}

}  // namespace jet
