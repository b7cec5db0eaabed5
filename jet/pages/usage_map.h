// Usage maps: bitmaps of page numbers that record which pages a table or index owns and which of
// them have free space. A map lives in a row; it is either inline (a start page and a bitmap) or a
// reference map (pointers to bitmap pages that each cover a fixed range of pages).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

constexpr uint8_t kUsageMapInline = 0;
constexpr uint8_t kUsageMapReference = 1;

// The database's own map, of the pages free for any use.
constexpr uint32_t kGlobalUsageMapPointer = (1u << 8) | 0;  // page 1, row 0

// The pages set in the map stored at `row_pointer`, in ascending order. In a table's or index's
// map a bit for a page past the end of the file is damage (kCorrupt naming that page): whatever
// the page held is gone. The global map may mark pages past the end as free: they are dropped.
Result<std::vector<uint32_t>> ReadUsageMap(Pager& pager, uint32_t row_pointer);

// Decodes the page numbers of a map's bytes (without following reference pages for inline maps).
// `first_page` is the page the map's bit 0 stands for. Stops at the first bit for `end_page` or
// beyond, so that a damaged map cannot name pages past the file or wrap around to low page
// numbers, and returns that bit's page; kNoPagePastEnd when there is none.
constexpr uint64_t kNoPagePastEnd = UINT64_MAX;
uint64_t AppendSetBits(const uint8_t* bitmap, size_t length, uint32_t first_page, std::vector<uint32_t>* pages,
                       uint32_t end_page = UINT32_MAX);

}  // namespace jet
