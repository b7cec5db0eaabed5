// A table's rows in storage order, as a cursor that moves both ways and can find a place again.
// The SQL scan walks it forward; the table set's storage order walks, seeks and steps back in it.
//
// Storage order is the order of the owned pages the cursor is given (ascending page numbers, as
// the table's usage map lists them) and, on each page, of its row slots. The cursor stands only on
// live rows of the table:
//   - every page it is given must be a data page naming the table's definition as its owner
//     (long values and indexes keep their pages in maps of their own); any other page fails the
//     move, as the rows kept there would otherwise go missing without a word;
//   - a page whose bytes fail the page test (when one is given) is passed over as if it held no
//     rows, in every direction and by seeks alike: a search skips pages that cannot hold its text;
//   - deleted slots are passed over, and so are forwarding slots (a row that grew and moved, whose
//     old slot the indexes still name): a moved row is met once, at its new home, where its bytes are,
//     and header() names it by that old slot, the place that stays its own however often it moves;
//   - a slot flagged as a moved row's home counts only when a forwarding chain of this table ends
//     there, so that a stray flag never brings back a row. Finding the chains reads every page of
//     the table; that happens once, when a move first meets such a slot.
//
// Places are (page, row) pairs, ordered by page and then by row. SeekAtOrAfter stands on the first
// live row at or after a place: the row there when it is still live, else the next one; a place on
// a page the cursor was not given lies before the first given page above it.
//
// Each move returns whether the cursor stands on a row. When it does not, it is before the first
// row or after the last, and Next (Prev) from there reaches the first (last) row; Next after the
// last and Prev before the first stay where they are.
//
// Damage: a page that cannot be read or is not a data page of the table, a row slot whose offsets
// do not fit its page, or forwarding pointers that form a cycle fail the move with an error that
// names the file and the page. A failed move leaves the cursor where it was, so a caller that tries again meets the same
// damage rather than passing it by.
//
// A page's header is read once for each state of the pager's pages (its generation), so the
// cursor may go on walking after the file changed under it; the moved-row homes are not looked
// for again, so a caller that wants rows moved since then opens a new cursor.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "jet/pages/data_page.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  bool operator==(const RowId&) const = default;
};

// The bytes of `page`, one of the pages the owned-pages map of the table defined on page `owner`
// lists; kCorrupt naming the page unless it is a data page of that table.
Result<const uint8_t*> ReadOwnedDataPage(Pager& pager, uint32_t owner, uint32_t page);
// The same check of a page's bytes the caller read itself.
Status CheckOwnedDataPage(const Pager& pager, uint32_t owner, uint32_t page, const uint8_t* data);

// The table's moved rows, as row pointers ((page << 8) | row): the end of each forwarding chain
// on `pages` (the row's home, where its bytes are), mapped to the slot that begins the chain (the
// one its index entries name). `pages` must all be data pages of the table whose definition is on
// page `owner` (ReadOwnedDataPage). Reads every such page; fails where FollowForwarding does.
Result<std::map<uint32_t, uint32_t>> FindMovedRows(Pager& pager, uint32_t owner, const std::vector<uint32_t>& pages);

// Whether a data page may hold a row the caller wants (its bytes, page_size of them).
using PageTest = std::function<bool(const uint8_t* page)>;

class StorageCursor {
 public:
  // `owner` is the page of the table's definition, which its data pages name; `pages` the table's
  // owned pages, ascending. Keeps a reference to `pager`, which must outlive the cursor. Reads
  // nothing until the first move.
  StorageCursor(Pager& pager, uint32_t owner, std::shared_ptr<const std::vector<uint32_t>> pages,
                PageTest page_test = nullptr);

  Result<bool> First();
  Result<bool> Last();
  // Inline, with the walk it starts: a scan calls it once for every row.
  [[gnu::always_inline]] Result<bool> Next() { return at_ == At::kRow ? Walk(index_, int64_t{row_} + 1, 1) : NextOffRow(); }
  Result<bool> Prev();
  Result<bool> SeekAtOrAfter(RowId place);

  bool on_row() const { return at_ == At::kRow; }
  // The current row's place and its bytes; valid while on_row(), the bytes only until the pager's
  // pages change.
  RowId row() const { return RowId{(*pages_)[index_], static_cast<uint8_t>(row_)}; }
  // The current row's place as its index entries name it, which a writer is handed and which an
  // index walk reports: row(), or a moved row's first slot, whose place outlives the row's moves.
  RowId header() const { return slot_.moved_home() ? MovedHeader() : row(); }
  const RowSlot& slot() const { return slot_; }

 private:
  enum class At { kBeforeFirst, kRow, kAfterLast };
  static constexpr int64_t kPageEnd = UINT32_MAX;

  // Stands on the first live row from slot `row` of page `index` on, in the direction of `step`:
  // +1 forward, on to the following pages; -1 backward, on to the pages before, from the page's
  // last slot when `row` lies past it (kPageEnd). It is in this header and always inlined, so that
  // a scan's loop holds it.
  [[gnu::always_inline]] Result<bool> Walk(size_t index, int64_t row, int step);
  Result<bool> NextOffRow();
  // Whether CountSlots's answer for page `index` still holds.
  bool Counted(size_t index) const { return index == counted_index_ && counted_generation_ == pager_.generation(); }
  // The slots the cursor reads on page `index`: none unless it holds rows of the table it wants.
  Result<uint32_t> CountSlots(size_t index);
  // Whether slot `row` of `page`, which has a flag set, holds a live row.
  Result<bool> FlaggedLive(uint32_t page, uint32_t row, const RowSlot& slot);
  Result<bool> IsLiveMovedHome(uint32_t page, uint32_t row);
  RowId MovedHeader() const;
  void StandOn(size_t index, uint32_t row, const RowSlot& slot);

  Pager& pager_;
  uint32_t owner_;
  std::shared_ptr<const std::vector<uint32_t>> pages_;
  PageTest page_test_;

  At at_ = At::kBeforeFirst;
  size_t index_ = 0;  // position in *pages_ of the current row's page
  uint32_t row_ = 0;
  RowSlot slot_;

  // CountSlots's last answer, good while the pager's generation stays counted_generation_.
  size_t counted_index_ = SIZE_MAX;
  uint64_t counted_generation_ = 0;
  uint32_t counted_slots_ = 0;

  std::map<uint32_t, uint32_t> moved_homes_;  // row pointers, home to header; filled on first need
  bool moved_homes_known_ = false;
};

inline void StorageCursor::StandOn(size_t index, uint32_t row, const RowSlot& slot) {
  at_ = At::kRow;
  index_ = index;
  row_ = row;
  slot_ = slot;
}

// The common slot, a plain live row, is told without a call. One return for both outcomes lets
// the compiler fold the answer into a scan's test of it.
inline Result<bool> StorageCursor::Walk(size_t index, int64_t row, int step) {
  const std::vector<uint32_t>& pages = *pages_;
  bool found = false;
  // Backward from the first page, the index wraps past the last one, which ends the walk.
  for (; index < pages.size(); index += static_cast<size_t>(step), row = step > 0 ? 0 : kPageEnd) {
    uint32_t count = counted_slots_;
    if (!Counted(index)) {
      JET_ASSIGN_OR_RETURN(count, CountSlots(index));
    }
    if (row >= count) row = step > 0 ? count : int64_t{count} - 1;
    for (; row >= 0 && row < count; row += step) {
      JET_ASSIGN_OR_RETURN(const RowSlot slot, ReadRowSlot(pager_, pages[index], static_cast<uint32_t>(row)));
      if (slot.deleted_flag || slot.overflow_flag) {
        JET_ASSIGN_OR_RETURN(const bool live, FlaggedLive(pages[index], static_cast<uint32_t>(row), slot));
        if (!live) continue;
      }
      StandOn(index, static_cast<uint32_t>(row), slot);
      found = true;
      break;
    }
    if (found) break;
  }
  if (!found) at_ = step > 0 ? At::kAfterLast : At::kBeforeFirst;
  return found;
}

}  // namespace jet
