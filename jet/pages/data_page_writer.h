// Changing the rows of a data page (Jet 4), table rows and long-value rows alike.
//
// Rows are packed from the end of the page downwards in slot order: slot i occupies
// [start(i), start(i-1)), slot 0 ends at the end of the page. Every change here keeps that
// packing, so the free space is always the one gap between the slot table and the lowest row,
// and the page's free-space field is rewritten to match it. Slot numbers never change: a row
// that grows or shrinks moves the rows packed below it, and a deleted row keeps its slot with
// both flag bits set and no bytes (as Access leaves it), so index entries and forwarding
// pointers that name other slots stay valid.
#pragma once

#include <cstdint>
#include <string>

#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

// The owner word of long-value pages, "LVAL", read as a little-endian u32.
constexpr uint32_t kLongValuePageOwner = 0x4C41564C;
// The largest row a Jet 4 data page takes: a page less its header and one slot.
constexpr uint32_t kMaxRowSize = 4060;
// Row numbers are one byte, and Access puts no more rows than this on a page.
constexpr uint32_t kMaxRowsPerPage = 255;

// Bytes a new row of `row_size` takes on a page, its slot included.
constexpr uint32_t RowSpaceUsage(uint32_t row_size) { return row_size + 2; }

// Makes `page` (fresh from AllocatePage) an empty data page owned by `owner` (a definition
// page, or kLongValuePageOwner).
Status InitDataPage(Pager& pager, uint32_t page, uint32_t owner);

// The gap between the slot table and the rows of a data page; checks the packing first.
Result<uint32_t> DataPageFreeSpace(Pager& pager, uint32_t page);

// The room a data page has for new rows: free bytes and rows already there.
struct DataPageRoom {
  uint32_t free = 0;
  uint32_t rows = 0;
  // Whether a new row of `row_size` bytes fits (space and slot count).
  bool Fits(uint32_t row_size) const { return rows < kMaxRowsPerPage && RowSpaceUsage(row_size) <= free; }
};
Result<DataPageRoom> ReadDataPageRoom(Pager& pager, uint32_t page);

// Whether a new row of `row_size` bytes fits on `page` (space and slot count).
Result<bool> NewRowFits(Pager& pager, uint32_t page, uint32_t row_size);

// Adds a row in a new slot with the given flag bits (0, or kRowDeleted for a moved row's home);
// returns its slot number. kInvalidArgument when it does not fit.
Result<uint8_t> AppendRow(Pager& pager, uint32_t page, const std::string& bytes, uint16_t flags);

// Replaces the bytes of slot `row` (of any size the page has room for) and sets its flag bits.
// kInvalidArgument when the page lacks the room.
Status ReplaceRow(Pager& pager, uint32_t page, uint8_t row, const std::string& bytes, uint16_t flags);

// How much bigger slot `row` could grow on its page.
Result<uint32_t> RoomToGrow(Pager& pager, uint32_t page, uint8_t row);

// Deletes slot `row`: both flag bits, no bytes; the space returns to the page.
Status DeleteRow(Pager& pager, uint32_t page, uint8_t row);

}  // namespace jet
