#include "jet/pages/data_page.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/pages/table_def.h"

namespace jet {

uint16_t DataPageRowCount(const Format& format, const uint8_t* page) {
  return Get16(page + format.data_row_count);
}

Result<RowSlot> ReadRowSlot(Pager& pager, uint32_t page, uint32_t row) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageData, "data"));
  return RowSlotOf(pager, page, data, row);
}

namespace {

// Why a slot's bounds cannot be trusted; kNone when they can.
enum class SlotFault { kNone, kCount, kRow, kOffsets };

// The slot `row` of a data page, with its bounds checked against the page, without wording an
// error: every row a search reads passes here, and only a damaged page needs the words.
inline SlotFault SlotOf(const Format& format, const uint8_t* data, uint32_t row, RowSlot* slot, uint32_t* start,
                        uint32_t* end) {
  const uint16_t count = DataPageRowCount(format, data);
  const uint32_t table_end = format.data_row_offsets + 2u * count;
  if (table_end > format.page_size) return SlotFault::kCount;
  if (row >= count) return SlotFault::kRow;
  const uint16_t raw = Get16(data + format.data_row_offsets + 2 * row);
  slot->deleted_flag = (raw & kRowDeleted) != 0;
  slot->overflow_flag = (raw & kRowOverflow) != 0;
  if (slot->deleted()) return SlotFault::kNone;  // a deleted slot's bytes are never read, so a stale offset is harmless
  *start = raw & kRowOffsetMask;
  *end = format.page_size;
  // Earlier slots always lie higher on the page, so the previous slot's start ends this row.
  if (row > 0) *end = Get16(data + format.data_row_offsets + 2 * (row - 1)) & kRowOffsetMask;
  if (*start < table_end || *start > *end || *end > format.page_size) return SlotFault::kOffsets;
  slot->bytes = data + *start;
  slot->size = *end - *start;
  return SlotFault::kNone;
}

}  // namespace

Result<RowSlot> RowSlotOf(const Pager& pager, uint32_t page, const uint8_t* data, uint32_t row) {
  RowSlot slot;
  uint32_t start = 0, end = 0;
  switch (SlotOf(pager.format(), data, row, &slot, &start, &end)) {
    case SlotFault::kNone: return slot;
    case SlotFault::kCount: {
      const uint16_t count = DataPageRowCount(pager.format(), data);
      return pager.Corrupt(page, "row count " + std::to_string(count) + " does not fit the page");
    }
    case SlotFault::kRow: {
      const uint16_t count = DataPageRowCount(pager.format(), data);
      return pager.Corrupt(page, "row " + std::to_string(row) + " does not exist (the page has " + std::to_string(count) + " rows)");
    }
    case SlotFault::kOffsets: break;
  }
  return pager.Corrupt(page, "row " + std::to_string(row) + " has offsets " + std::to_string(start) + ".." +
                                 std::to_string(end) + " outside the page's row area");
}

Result<uint32_t> ForwardingPointer(const Pager& pager, uint32_t page, const RowSlot& slot) {
  if (slot.size < 4) return pager.Corrupt(page, "a forwarding row is too short to hold its pointer");
  return Get32(slot.bytes);
}

bool ForwardingChainStarts(const std::vector<std::pair<uint32_t, uint32_t>>& forwarding, std::vector<std::pair<uint32_t, uint32_t>>* starts) {
  // Where each slot points, and what points at each place, looked up in sorted lists: of a slot
  // listed twice, the first counts. (Hash maps of as many entries cost milliseconds on a catalogue
  // with thousands of moved rows, in every first search of it.)
  std::vector<std::pair<uint32_t, uint32_t>> next(forwarding), back;
  back.reserve(forwarding.size());
  for (const auto& [from, to] : forwarding) back.emplace_back(to, from);
  const auto by_first = [](const std::pair<uint32_t, uint32_t>& a, const std::pair<uint32_t, uint32_t>& b) { return a.first < b.first; };
  // A build meets the slots in storage order: sorted already.
  if (!std::is_sorted(next.begin(), next.end(), by_first)) std::stable_sort(next.begin(), next.end(), by_first);
  std::stable_sort(back.begin(), back.end(), by_first);
  const auto find = [&](const std::vector<std::pair<uint32_t, uint32_t>>& list, uint32_t key) -> const uint32_t* {
    const auto at = std::lower_bound(list.begin(), list.end(), std::make_pair(key, uint32_t{0}), by_first);
    return at != list.end() && at->first == key ? &at->second : nullptr;
  };
  starts->clear();
  for (const auto& [from, to] : forwarding) {
    uint32_t end = to;
    for (int hops = 1; const uint32_t* on = find(next, end); ++hops) {
      if (hops == kMaxForwardingHops) return false;
      end = *on;
    }
    uint32_t start = *find(back, end);
    for (int hops = 1; const uint32_t* on = find(back, start); ++hops) {
      if (hops == kMaxForwardingHops) return false;
      start = *on;
    }
    starts->emplace_back(end, start);
  }
  std::sort(starts->begin(), starts->end());
  starts->erase(std::unique(starts->begin(), starts->end(), [](const auto& a, const auto& b) { return a.first == b.first; }), starts->end());
  return true;
}

Result<RowSlot> FollowForwarding(Pager& pager, uint32_t page, uint32_t row, uint32_t* end, const ForwardingWalk& walk) {
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, row));
  uint32_t at = page << 8 | row;
  for (int hops = 0; slot.forwarding(); ++hops) {
    if (hops == kMaxForwardingHops) {
      return pager.Corrupt(page, "the forwarding pointers of row " + std::to_string(row) + " form a cycle");
    }
    if (hops > 0 && walk.passed != nullptr) walk.passed->push_back(at);
    JET_ASSIGN_OR_RETURN(at, ForwardingPointer(pager, RowPointerPage(at), slot));
    if (walk.table_pages != nullptr && walk.table_pages->count(RowPointerPage(at)) == 0) {
      return pager.Corrupt(page, "the forwarding pointer of row " + std::to_string(row) + " leaves its table");
    }
    JET_ASSIGN_OR_RETURN(slot, ReadRowSlot(pager, RowPointerPage(at), RowPointerRow(at)));
  }
  *end = at;
  return slot;
}

Result<RowSlot> ReadRowFollowingOverflow(Pager& pager, uint32_t page, uint32_t row, uint32_t* home,
                                         const ForwardingWalk& walk) {
  // Most rows never moved: one page read and one slot check serve them, and only a slot that
  // forwards, or is damaged, takes the walk below, which words the errors.
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageData, "data"));
  RowSlot slot;
  uint32_t start = 0, end = 0;
  if (SlotOf(pager.format(), data, row, &slot, &start, &end) == SlotFault::kNone && !slot.forwarding()) {
    if (home != nullptr) *home = page << 8 | row;
    return slot;
  }
  uint32_t last = 0;
  JET_ASSIGN_OR_RETURN(slot, FollowForwarding(pager, page, row, &last, walk));
  if (slot.deleted() && last != (page << 8 | row)) {
    return pager.Corrupt(RowPointerPage(last), "a forwarding pointer leads to deleted row " + std::to_string(RowPointerRow(last)));
  }
  if (home != nullptr) *home = last;
  return slot;
}

}  // namespace jet
