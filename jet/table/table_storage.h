// The pages behind a table definition (Jet 4): its usage maps, each a 69-byte row on a page of
// usage maps (a data page owned by no table), and the root pages of its indexes; making them for
// a new table, index or long-value column, and giving them back when those go away.
// Everything here runs inside a pager write.
#pragma once

#include <cstdint>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/table_def_writer.h"

namespace jet {

// Adds an empty inline usage map (start page 0, 512 bits) and returns its row pointer. It goes on
// `preferred_page` when that is a page of usage maps with room, otherwise on a new one.
Result<uint32_t> AddUsageMapRow(Pager& pager, uint32_t preferred_page);

// A new, empty leaf page for an index of the table defined at `definition_page`, recorded in the
// index's usage map `map_pointer`; returns its number.
Result<uint32_t> CreateIndexRoot(Pager& pager, uint32_t definition_page, uint32_t map_pointer);

// Gives a definition that has none its storage, in the order Access lays it out: the owned-pages
// and free-space maps, two maps for each long-value column (by column number), then a map and an
// empty root page for each physical index. Maps go on `map_page` while it has room (0: a new page).
Status AllocateTableStorage(Pager& pager, StoredTableDef* stored, uint32_t map_page);

// Storage for one more physical index (the last of stored->def) and for one more long-value
// column: maps near the table's own maps.
Status AllocateIndexStorage(Pager& pager, StoredTableDef* stored, PhysicalIndex* index);
Status AllocateLongValueStorage(Pager& pager, StoredTableDef* stored, uint16_t column_number);

// Zeroes `page` and marks it free in the global usage map.
Status ReleaseClearedPage(Pager& pager, uint32_t page);

// Deletes the usage map at `map_pointer`: with `release_pages`, every page it records is released
// first (a free-space map records pages its owned-pages map releases). The bitmap pages of a
// reference map go too, and so does the page of maps once no map is left on it.
Status DropUsageMap(Pager& pager, uint32_t map_pointer, bool release_pages);

// Every usage map of a definition: owned pages, free space, indexes, long-value columns.
std::vector<uint32_t> UsageMapsOf(const StoredTableDef& stored);

}  // namespace jet
