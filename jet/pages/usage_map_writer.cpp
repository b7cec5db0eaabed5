#include "jet/pages/usage_map_writer.h"

#include <cstring>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/base/format.h"
#include "jet/pages/usage_map.h"

namespace jet {

namespace {

// The map's row on its page, writable.
struct MapRow {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
};

Result<MapRow> WritableMapRow(Pager& pager, uint32_t map_pointer) {
  uint32_t page = map_pointer >> 8, row = map_pointer & 0xFF;
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, row));
  if (slot.deleted() || slot.size < 5) return pager.Corrupt(page, "usage map row " + std::to_string(row) + " is missing");
  JET_ASSIGN_OR_RETURN(const uint8_t* before, pager.ReadPage(page));
  uint32_t offset = static_cast<uint32_t>(slot.bytes - before);
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  return MapRow{data + offset, slot.size};
}

inline bool GetBit(const uint8_t* bitmap, uint32_t bit) { return (bitmap[bit / 8] >> (bit % 8)) & 1; }
inline void SetBit(uint8_t* bitmap, uint32_t bit, bool on) {
  if (on) bitmap[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  else bitmap[bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
}

// Turns an inline map into a reference map holding the same pages plus `page`.
Status ConvertToReference(Pager& pager, uint32_t map_pointer, uint32_t page) {
  std::vector<uint32_t> pages;
  JET_ASSIGN_OR_RETURN(pages, ReadUsageMap(pager, map_pointer));
  pages.push_back(page);
  {
    JET_ASSIGN_OR_RETURN(MapRow row, WritableMapRow(pager, map_pointer));
    std::memset(row.bytes, 0, row.size);
    row.bytes[0] = kUsageMapReference;
  }
  for (uint32_t p : pages) JET_RETURN_IF_ERROR(SetPageInUsageMap(pager, map_pointer, p, true));
  return Status::Ok();
}

Status SetInReferenceMap(Pager& pager, uint32_t map_pointer, uint32_t page, bool present) {
  const uint32_t bits_per_page = (pager.page_size() - 4) * 8;
  uint32_t slot = page / bits_per_page;
  JET_ASSIGN_OR_RETURN(MapRow row, WritableMapRow(pager, map_pointer));
  if (1 + 4 * (slot + 1) > row.size) {
    return Error(ErrorCode::kUnsupported, pager.path() + ": page " + std::to_string(page) + " lies beyond what a usage map can record");
  }
  uint32_t bitmap_page = Get32(row.bytes + 1 + 4 * slot);
  if (bitmap_page == 0) {
    if (!present) return Status::Ok();
    JET_ASSIGN_OR_RETURN(bitmap_page, AllocatePage(pager));
    JET_ASSIGN_OR_RETURN(uint8_t* fresh, pager.MutablePage(bitmap_page));
    fresh[0] = kPageUsageBitmap;
    fresh[1] = 0x01;
    // Allocation may have moved pages around in memory: look the row up again.
    JET_ASSIGN_OR_RETURN(row, WritableMapRow(pager, map_pointer));
    Put32(row.bytes + 1 + 4 * slot, bitmap_page);
  }
  JET_ASSIGN_OR_RETURN(uint8_t* bitmap, pager.MutablePage(bitmap_page));
  if (bitmap[0] != kPageUsageBitmap) return pager.Corrupt(bitmap_page, "a usage map points to a page that is no usage bitmap");
  SetBit(bitmap + 4, page % bits_per_page, present);
  return Status::Ok();
}

// Moves the global map's window so that it covers `page`; pages newly covered that exist are in
// use (as they counted while outside the window), pages past the end of the file are free.
void SlideGlobalWindow(Pager& pager, MapRow row, uint32_t page) {
  const uint32_t bits = (row.size - 5) * 8;
  uint32_t old_start = Get32(row.bytes + 1);
  uint32_t new_start = (page / bits) * bits;
  std::vector<uint8_t> bitmap(row.size - 5, 0);
  for (uint32_t i = 0; i < bits; ++i) {
    uint32_t p = new_start + i;
    bool free = p >= pager.page_count();
    if (p >= old_start && p < old_start + bits) free = GetBit(row.bytes + 5, p - old_start);
    SetBit(bitmap.data(), i, free);
  }
  Put32(row.bytes + 1, new_start);
  std::memcpy(row.bytes + 5, bitmap.data(), bitmap.size());
}

}  // namespace

Status SetPageInUsageMap(Pager& pager, uint32_t map_pointer, uint32_t page, bool present) {
  JET_ASSIGN_OR_RETURN(MapRow row, WritableMapRow(pager, map_pointer));
  if (row.bytes[0] == kUsageMapReference) return SetInReferenceMap(pager, map_pointer, page, present);
  if (row.bytes[0] != kUsageMapInline) return pager.Corrupt(map_pointer >> 8, "unknown usage map type");
  const uint32_t bits = (row.size - 5) * 8;
  uint32_t start = Get32(row.bytes + 1);
  if (page >= start && page < start + bits) {
    SetBit(row.bytes + 5, page - start, present);
    return Status::Ok();
  }
  if (!present) return Status::Ok();
  // Outside the window: move it when every recorded page and `page` fit in one window.
  uint32_t low = page, high = page;
  for (uint32_t i = 0; i < bits; ++i) {
    if (!GetBit(row.bytes + 5, i)) continue;
    low = std::min(low, start + i);
    high = std::max(high, start + i);
  }
  if (high - low >= bits) return ConvertToReference(pager, map_pointer, page);
  std::vector<uint32_t> recorded;
  for (uint32_t i = 0; i < bits; ++i)
    if (GetBit(row.bytes + 5, i)) recorded.push_back(start + i);
  recorded.push_back(page);
  Put32(row.bytes + 1, low);
  std::memset(row.bytes + 5, 0, row.size - 5);
  for (uint32_t p : recorded) SetBit(row.bytes + 5, p - low, true);
  return Status::Ok();
}

Result<uint32_t> AllocatePage(Pager& pager) {
  JET_ASSIGN_OR_RETURN(uint32_t page, pager.AppendPage());
  JET_ASSIGN_OR_RETURN(MapRow row, WritableMapRow(pager, kGlobalUsageMapPointer));
  if (row.bytes[0] != kUsageMapInline) return pager.Corrupt(1, "the global usage map is not an inline map");
  const uint32_t bits = (row.size - 5) * 8;
  if (page >= Get32(row.bytes + 1) + bits) SlideGlobalWindow(pager, row, page);
  uint32_t start = Get32(row.bytes + 1);
  if (page >= start) SetBit(row.bytes + 5, page - start, false);
  return page;
}

Status ReleasePage(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(MapRow row, WritableMapRow(pager, kGlobalUsageMapPointer));
  if (row.bytes[0] != kUsageMapInline) return pager.Corrupt(1, "the global usage map is not an inline map");
  const uint32_t bits = (row.size - 5) * 8;
  uint32_t start = Get32(row.bytes + 1);
  if (page >= start && page < start + bits) SetBit(row.bytes + 5, page - start, true);
  return Status::Ok();
}

}  // namespace jet
