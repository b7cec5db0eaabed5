#include "jet/pages/usage_map.h"

#include <cstring>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/table_def.h"

namespace jet {

uint64_t AppendSetBits(const uint8_t* bitmap, size_t length, uint32_t first_page, std::vector<uint32_t>* pages,
                       uint32_t end_page) {
  for (size_t i = 0; i < length; ++i) {
    // Maps of large files are mostly empty stretches: pass eight clear bytes at a time.
    while (i + 8 <= length) {
      uint64_t word;
      std::memcpy(&word, bitmap + i, 8);
      if (word != 0) break;
      i += 8;
    }
    if (i >= length) break;
    uint8_t b = bitmap[i];
    while (b != 0) {
      int bit = __builtin_ctz(b);
      uint64_t page = static_cast<uint64_t>(first_page) + i * 8 + static_cast<uint64_t>(bit);
      if (page >= end_page) return page;  // bits only grow from here
      pages->push_back(static_cast<uint32_t>(page));
      b = static_cast<uint8_t>(b & (b - 1));
    }
  }
  return kNoPagePastEnd;
}

Result<std::vector<uint32_t>> ReadUsageMap(Pager& pager, uint32_t row_pointer) {
  uint32_t map_page = RowPointerPage(row_pointer);
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, map_page, RowPointerRow(row_pointer)));
  if (slot.deleted() || slot.size < 1) {
    return pager.Corrupt(map_page, "usage map row " + std::to_string(RowPointerRow(row_pointer)) + " is missing");
  }
  // A page the map lists past the end of the file was lost (a file cut short, a copy that did
  // not finish): what it held would go missing without a word, so the map is refused instead.
  std::vector<uint32_t> pages;
  uint64_t past_end = kNoPagePastEnd;
  if (slot.bytes[0] == kUsageMapInline) {
    if (slot.size < 5) return pager.Corrupt(map_page, "inline usage map is too short");
    past_end = AppendSetBits(slot.bytes + 5, slot.size - 5, Get32(slot.bytes + 1), &pages, pager.page_count());
  } else if (slot.bytes[0] == kUsageMapReference) {
    const uint32_t bits_per_page = (pager.page_size() - 4) * 8;
    for (uint32_t i = 0; 1 + 4 * (i + 1) <= slot.size && past_end == kNoPagePastEnd; ++i) {
      uint32_t bitmap_page = Get32(slot.bytes + 1 + 4 * i);
      if (bitmap_page == 0) continue;
      JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(bitmap_page, kPageUsageBitmap, "usage bitmap"));
      past_end = AppendSetBits(data + 4, pager.page_size() - 4, i * bits_per_page, &pages, pager.page_count());
    }
  } else {
    return pager.Corrupt(map_page, "unknown usage map type " + std::to_string(slot.bytes[0]));
  }
  if (past_end != kNoPagePastEnd && row_pointer != kGlobalUsageMapPointer) {
    return Error(ErrorCode::kCorrupt, pager.path() + ", page " + std::to_string(past_end) +
                                          ": the page is missing, past the end of the file (" +
                                          std::to_string(pager.page_count()) + " pages), yet the usage map on page " +
                                          std::to_string(map_page) + " lists it; the file was cut short or damaged: repair it from a copy");
  }
  return pages;
}

}  // namespace jet
