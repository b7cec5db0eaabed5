#include "jet/pages/data_page.h"

#include "jet/base/bytes.h"

namespace jet {

uint16_t DataPageRowCount(const Format& format, const uint8_t* page) {
  return Get16(page + format.data_row_count);
}

Result<RowSlot> ReadRowSlot(Pager& pager, uint32_t page, uint32_t row) {
  const Format& format = pager.format();
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageData, "data"));
  uint16_t count = DataPageRowCount(format, data);
  uint32_t table_end = format.data_row_offsets + 2u * count;
  if (table_end > format.page_size) return pager.Corrupt(page, "row count " + std::to_string(count) + " does not fit the page");
  if (row >= count) {
    return pager.Corrupt(page, "row " + std::to_string(row) + " does not exist (the page has " + std::to_string(count) + " rows)");
  }
  uint16_t raw = Get16(data + format.data_row_offsets + 2 * row);
  RowSlot slot;
  slot.deleted_flag = (raw & kRowDeleted) != 0;
  slot.overflow_flag = (raw & kRowOverflow) != 0;
  if (slot.deleted()) return slot;  // a deleted slot's bytes are never read, so a stale offset is harmless
  uint32_t start = raw & kRowOffsetMask;
  uint32_t end = format.page_size;
  // Earlier slots always lie higher on the page, so the previous slot's start ends this row.
  if (row > 0) end = Get16(data + format.data_row_offsets + 2 * (row - 1)) & kRowOffsetMask;
  if (start < table_end || start > end || end > format.page_size) {
    return pager.Corrupt(page, "row " + std::to_string(row) + " has offsets " + std::to_string(start) + ".." +
                                   std::to_string(end) + " outside the page's row area");
  }
  slot.bytes = data + start;
  slot.size = end - start;
  return slot;
}

Result<uint32_t> ForwardingPointer(const Pager& pager, uint32_t page, const RowSlot& slot) {
  if (slot.size < 4) return pager.Corrupt(page, "a forwarding row is too short to hold its pointer");
  return Get32(slot.bytes);
}

Result<RowSlot> ReadRowFollowingOverflow(Pager& pager, uint32_t page, uint32_t row, uint32_t* home) {
  // A moved row may move again; a longer chain than this can only be a cycle.
  for (int hops = 0; hops < 16; ++hops) {
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, row));
    if (!slot.forwarding()) {
      if (hops > 0 && slot.deleted()) return pager.Corrupt(page, "a forwarding pointer leads to a deleted row");
      if (home != nullptr) *home = page << 8 | row;
      return slot;
    }
    JET_ASSIGN_OR_RETURN(uint32_t pointer, ForwardingPointer(pager, page, slot));
    row = pointer & 0xFF;
    page = pointer >> 8;
  }
  return pager.Corrupt(page, "forwarding pointers form a cycle");
}

}  // namespace jet
