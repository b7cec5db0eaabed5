// Rows on data pages: the slot table, its flags, and row bounds.
//
// The two flag bits of a slot's offset combine into four states:
//   neither        a live row;
//   0x4000 alone   a forwarding slot: the row grew, moved, and the slot holds a 4-byte pointer
//                  (row byte, 24-bit page) to its new home; indexes keep pointing here;
//   0x8000 alone   the new home of a moved row: live, but reached by a scan in its own place;
//   both           a deleted row.
#pragma once

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

struct RowSlot {
  const uint8_t* bytes = nullptr;  // the row's bytes on the page; null for a deleted slot
  uint32_t size = 0;
  bool deleted_flag = false;
  bool overflow_flag = false;

  bool deleted() const { return deleted_flag && overflow_flag; }
  bool forwarding() const { return overflow_flag && !deleted_flag; }
  bool moved_home() const { return deleted_flag && !overflow_flag; }
};

// Number of row slots on a data page (already read and type-checked).
uint16_t DataPageRowCount(const Format& format, const uint8_t* page);

// The slot `row` of data page `page`, with its bounds checked against the page. Rows are packed
// from the end of the page downwards, so a row ends where the previous slot's row starts.
Result<RowSlot> ReadRowSlot(Pager& pager, uint32_t page, uint32_t row);
// The same for a data page whose bytes (`data`, already type-checked) the caller read itself.
Result<RowSlot> RowSlotOf(const Pager& pager, uint32_t page, const uint8_t* data, uint32_t row);

// The 24-bit page and row byte a forwarding slot points to, packed as a row pointer.
Result<uint32_t> ForwardingPointer(const Pager& pager, uint32_t page, const RowSlot& slot);

// A row may move more than once, each move leaving a forwarding slot behind; a chain of more
// forwarding pointers than this can only be a cycle.
inline constexpr int kMaxForwardingHops = 16;

// Where each chain of the forwarding slots `forwarding` ((slot, where it points), as row
// pointers) begins, by where it ends: (end, start), by end; a row that moved more than once left
// slots in the middle of its chain, and is named by the first. False when a chain is longer than
// kMaxForwardingHops either way (a cycle, or a slot listed twice over).
bool ForwardingChainStarts(const std::vector<std::pair<uint32_t, uint32_t>>& forwarding,
                           std::vector<std::pair<uint32_t, uint32_t>>* starts);

// What a walk along a forwarding chain checks and reports besides the slot it ends on.
struct ForwardingWalk {
  // The data pages of the row's table, where the caller knows them: a pointer to any other page
  // is damage. Not checked when null.
  const std::set<uint32_t>* table_pages = nullptr;
  // Receives the row pointers of the forwarding slots past the first (a row that moved more than
  // once left them behind), in chain order.
  std::vector<uint32_t>* passed = nullptr;
};

// The slot that ends the forwarding chain starting at slot (page, row): the first that does not
// forward, whether it holds the row's bytes or is deleted. `end` receives its row pointer. Fails
// on a pointer that leads nowhere and on a chain longer than kMaxForwardingHops (a cycle).
Result<RowSlot> FollowForwarding(Pager& pager, uint32_t page, uint32_t row, uint32_t* end,
                                 const ForwardingWalk& walk = {});

// Reads the row that (page, row) stands for, following forwarding slots as FollowForwarding does;
// also fails on a pointer that leads to a deleted row. The result is deleted() only when the slot
// at (page, row) itself is deleted. `home`, when given, receives the row pointer of the slot that
// holds the row's bytes: where the row lives now.
Result<RowSlot> ReadRowFollowingOverflow(Pager& pager, uint32_t page, uint32_t row, uint32_t* home = nullptr,
                                         const ForwardingWalk& walk = {});

}  // namespace jet
