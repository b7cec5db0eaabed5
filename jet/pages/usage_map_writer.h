// Changing usage maps, and adding pages to the file.
//
// A table or index map has a set bit for each page it owns (or, for a free-space map, each owned
// page with room for another row). An inline map covers a window of pages from its start page;
// when a page falls outside it the window moves if everything still fits, otherwise the map
// becomes a reference map whose bitmap pages are created as needed. The map's row keeps its size.
//
// The global usage map (row 0 of page 1) works the other way round: a set bit marks a FREE page,
// and pages outside its window count as in use. Its window moves forward as the file grows.
#pragma once

#include <cstdint>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/usage_map.h"

namespace jet {

// Adds `page` to (present) or removes it from the map stored at `map_pointer`.
Status SetPageInUsageMap(Pager& pager, uint32_t map_pointer, uint32_t page, bool present);

// Appends a zero-filled page to the file and records it as used in the global usage map.
// Inside a write only.
Result<uint32_t> AllocatePage(Pager& pager);

// Records `page` as free in the global usage map (when its window covers it; otherwise the
// page is simply never reused, which is safe).
Status ReleasePage(Pager& pager, uint32_t page);

}  // namespace jet
