#include "jet/table_cursor.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/row_decoder.h"
#include "jet/usage_map.h"

namespace jet {

Result<std::unique_ptr<TableCursor>> TableCursor::Open(Pager& pager, const TableDef& def) {
  JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
  // The owned-pages map also lists pages that are not rows of this table (long-value pages, pages
  // of another kind); only data pages that name this definition as their owner hold its rows.
  std::vector<uint32_t> pages;
  for (uint32_t page : owned) {
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(page));
    if (data[0] == kPageData && Get32(data + 4) == def.page) pages.push_back(page);
  }
  return std::unique_ptr<TableCursor>(new TableCursor(pager, def, std::move(pages)));
}

Result<std::set<uint32_t>> FindMovedHomes(Pager& pager, uint32_t owner, const std::vector<uint32_t>& pages) {
  std::set<uint32_t> homes;
  for (uint32_t p : pages) {
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(p));
    if (data[0] != kPageData || Get32(data + 4) != owner) continue;
    const uint16_t count = DataPageRowCount(pager.format(), data);
    for (uint32_t r = 0; r < count; ++r) {
      JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, p, r));
      if (!slot.forwarding()) continue;
      // Follow the chain to its end: only the final home holds the row.
      JET_ASSIGN_OR_RETURN(uint32_t pointer, ForwardingPointer(pager, p, slot));
      for (int hops = 0;; ++hops) {
        if (hops == 16) return pager.Corrupt(p, "the forwarding pointers of row " + std::to_string(r) + " form a cycle");
        JET_ASSIGN_OR_RETURN(RowSlot next, ReadRowSlot(pager, RowPointerPage(pointer), RowPointerRow(pointer)));
        if (!next.forwarding()) break;
        JET_ASSIGN_OR_RETURN(pointer, ForwardingPointer(pager, RowPointerPage(pointer), next));
      }
      homes.insert(pointer);
    }
  }
  return homes;
}

Result<bool> TableCursor::IsLiveMovedHome(uint32_t page, uint32_t row) {
  if (!moved_homes_known_) {
    JET_ASSIGN_OR_RETURN(moved_homes_, FindMovedHomes(pager_, def_.page, pages_));
    moved_homes_known_ = true;
  }
  return moved_homes_.count((page << 8) | row) != 0;
}

Result<bool> TableCursor::Next() {
  while (page_index_ < pages_.size()) {
    uint32_t page = pages_[page_index_];
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager_.ReadPage(page));
    uint16_t count = DataPageRowCount(pager_.format(), data);
    while (++row_ < count) {
      JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager_, page, static_cast<uint32_t>(row_)));
      if (slot.deleted() || slot.forwarding()) continue;
      if (slot.moved_home()) {
        JET_ASSIGN_OR_RETURN(bool live, IsLiveMovedHome(page, static_cast<uint32_t>(row_)));
        if (!live) continue;
      }
      std::string where = "page " + std::to_string(page) + ", row " + std::to_string(row_);
      JET_RETURN_IF_ERROR(DecodeRow(pager_, def_, slot.bytes, slot.size, where, &values_));
      return true;
    }
    ++page_index_;
    row_ = -1;
  }
  return false;
}

}  // namespace jet
