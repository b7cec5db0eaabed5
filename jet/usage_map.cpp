#include "jet/usage_map.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/table_def.h"

namespace jet {

void AppendSetBits(const uint8_t* bitmap, size_t length, uint32_t first_page, std::vector<uint32_t>* pages) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = bitmap[i];
    while (b != 0) {
      int bit = __builtin_ctz(b);
      pages->push_back(first_page + static_cast<uint32_t>(i * 8 + bit));
      b = static_cast<uint8_t>(b & (b - 1));
    }
  }
}

Result<std::vector<uint32_t>> ReadUsageMap(Pager& pager, uint32_t row_pointer) {
  uint32_t map_page = RowPointerPage(row_pointer);
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, map_page, RowPointerRow(row_pointer)));
  if (slot.deleted() || slot.size < 1) {
    return pager.Corrupt(map_page, "usage map row " + std::to_string(RowPointerRow(row_pointer)) + " is missing");
  }
  std::vector<uint32_t> pages;
  if (slot.bytes[0] == kUsageMapInline) {
    if (slot.size < 5) return pager.Corrupt(map_page, "inline usage map is too short");
    AppendSetBits(slot.bytes + 5, slot.size - 5, Get32(slot.bytes + 1), &pages);
  } else if (slot.bytes[0] == kUsageMapReference) {
    const uint32_t bits_per_page = (pager.page_size() - 4) * 8;
    for (uint32_t i = 0; 1 + 4 * (i + 1) <= slot.size; ++i) {
      uint32_t bitmap_page = Get32(slot.bytes + 1 + 4 * i);
      if (bitmap_page == 0) continue;
      JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(bitmap_page, kPageUsageBitmap, "usage bitmap"));
      AppendSetBits(data + 4, pager.page_size() - 4, i * bits_per_page, &pages);
    }
  } else {
    return pager.Corrupt(map_page, "unknown usage map type " + std::to_string(slot.bytes[0]));
  }
  for (uint32_t p : pages) {
    if (p >= pager.page_count()) {
      // Access leaves bits for pages it has not yet written at the end of a file; they own nothing.
      pages.resize(static_cast<size_t>(&p - pages.data()));
      break;
    }
  }
  return pages;
}

}  // namespace jet
