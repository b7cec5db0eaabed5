#include "jet/pages/data_page_writer.h"

#include <array>
#include <cstring>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/base/format.h"

namespace jet {

namespace {

// A data page's slot table, checked to be packed in slot order.
struct SlotTable {
  uint16_t count = 0;
  std::array<uint16_t, kMaxRowsPerPage> raw;  // offsets with their flag bits (`count` of them)
  uint32_t lowest = 0;        // start of the lowest row (the page end when there is none)
  uint32_t table_end = 0;     // first byte after the slot table

  uint32_t Start(uint32_t row) const { return raw[row] & kRowOffsetMask; }
  uint32_t End(uint32_t row, uint32_t page_size) const { return row == 0 ? page_size : Start(row - 1); }
  uint32_t Free() const { return lowest - table_end; }
};

// A data page to change, with its row count checked; *count and *table_end set.
Result<const uint8_t*> ReadDataPageToChange(Pager& pager, uint32_t page, uint16_t* count, uint32_t* table_end) {
  const Format& f = pager.format();
  if (!f.jet4()) return Error(ErrorCode::kReadOnly, pager.path() + ": only Access 2000 and later databases can be changed");
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageData, "data"));
  *count = Get16(data + f.data_row_count);
  *table_end = f.data_row_offsets + 2u * *count;
  if (*count > kMaxRowsPerPage || *table_end > f.page_size) return pager.Corrupt(page, "the page's row count is impossible");
  return data;
}

Result<SlotTable> ReadSlots(Pager& pager, uint32_t page) {
  const Format& f = pager.format();
  SlotTable t;
  JET_ASSIGN_OR_RETURN(const uint8_t* data, ReadDataPageToChange(pager, page, &t.count, &t.table_end));
  uint32_t previous = f.page_size;
  for (uint32_t i = 0; i < t.count; ++i) {
    uint16_t raw = Get16(data + f.data_row_offsets + 2 * i);
    uint32_t start = raw & kRowOffsetMask;
    // Changing rows moves the ones below them, which is only safe while rows are packed in order.
    if (start > previous || start < t.table_end) {
      return pager.Corrupt(page, "row " + std::to_string(i) + " is not packed below the row before it");
    }
    t.raw[i] = raw;
    previous = start;
  }
  t.lowest = previous;
  return t;
}

// Resizes slot `row` to `new_size` bytes, moving the rows packed below it, and returns where the
// slot's bytes now start. The caller has checked the room.
Result<uint8_t*> ResizeSlot(Pager& pager, uint32_t page, const SlotTable& t, uint8_t row, uint32_t new_size) {
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  uint32_t start = t.Start(row), end = t.End(row, f.page_size);
  int64_t delta = static_cast<int64_t>(new_size) - static_cast<int64_t>(end - start);
  if (delta != 0) {
    // Everything from the lowest row up to this row's start shifts by -delta.
    std::memmove(data + t.lowest - delta, data + t.lowest, start - t.lowest);
    for (uint32_t i = row; i < t.count; ++i) {
      uint32_t moved = static_cast<uint32_t>(static_cast<int64_t>(t.Start(i)) - delta);
      Put16(data + f.data_row_offsets + 2 * i, static_cast<uint16_t>((t.raw[i] & ~kRowOffsetMask) | moved));
    }
  }
  uint32_t new_lowest = static_cast<uint32_t>(static_cast<int64_t>(t.lowest) - delta);
  Put16(data + f.data_free_space, static_cast<uint16_t>(new_lowest - t.table_end));
  return data + (end - new_size);
}

void SetFlags(Pager& pager, uint8_t* data, uint8_t row, uint16_t flags) {
  const Format& f = pager.format();
  uint8_t* slot = data + f.data_row_offsets + 2 * row;
  Put16(slot, static_cast<uint16_t>((Get16(slot) & kRowOffsetMask) | flags));
}

}  // namespace

Status InitDataPage(Pager& pager, uint32_t page, uint32_t owner) {
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  std::memset(data, 0, f.page_size);
  data[0] = kPageData;
  data[1] = 0x01;
  Put16(data + f.data_free_space, static_cast<uint16_t>(f.page_size - f.data_row_offsets));
  Put32(data + 4, owner);
  return Status::Ok();
}

Result<uint32_t> DataPageFreeSpace(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(SlotTable t, ReadSlots(pager, page));
  return t.Free();
}

Result<DataPageRoom> ReadDataPageRoom(Pager& pager, uint32_t page) {
  // The room lies between the slot table and the lowest row, which packing puts in the last slot.
  // Every change checks the packing of the whole page (ReadSlots) before it relies on it; room is
  // asked for far more often (after every row added), so only the ends are read here.
  const Format& f = pager.format();
  uint16_t count = 0;
  uint32_t table_end = 0;
  JET_ASSIGN_OR_RETURN(const uint8_t* data, ReadDataPageToChange(pager, page, &count, &table_end));
  const uint32_t lowest = count == 0 ? f.page_size : Get16(data + table_end - 2) & kRowOffsetMask;
  if (lowest < table_end || lowest > f.page_size) return pager.Corrupt(page, "the page's last row lies outside its rows' area");
  return DataPageRoom{lowest - table_end, count};
}

Result<bool> NewRowFits(Pager& pager, uint32_t page, uint32_t row_size) {
  JET_ASSIGN_OR_RETURN(DataPageRoom room, ReadDataPageRoom(pager, page));
  return room.Fits(row_size);
}

Result<uint8_t> AppendRow(Pager& pager, uint32_t page, const std::string& bytes, uint16_t flags) {
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(SlotTable t, ReadSlots(pager, page));
  uint32_t size = static_cast<uint32_t>(bytes.size());
  if (t.count >= kMaxRowsPerPage || RowSpaceUsage(size) > t.Free()) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ", page " + std::to_string(page) + ": no room for a row of " +
                                                  std::to_string(size) + " bytes");
  }
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  uint32_t start = t.lowest - size;
  std::memcpy(data + start, bytes.data(), size);
  Put16(data + f.data_row_offsets + 2 * t.count, static_cast<uint16_t>(start | flags));
  Put16(data + f.data_row_count, static_cast<uint16_t>(t.count + 1));
  Put16(data + f.data_free_space, static_cast<uint16_t>(start - (t.table_end + 2)));
  return static_cast<uint8_t>(t.count);
}

Result<uint32_t> RoomToGrow(Pager& pager, uint32_t page, uint8_t row) {
  JET_ASSIGN_OR_RETURN(SlotTable t, ReadSlots(pager, page));
  if (row >= t.count) return pager.Corrupt(page, "row " + std::to_string(row) + " does not exist");
  return t.Free();
}

Status ReplaceRow(Pager& pager, uint32_t page, uint8_t row, const std::string& bytes, uint16_t flags) {
  JET_ASSIGN_OR_RETURN(SlotTable t, ReadSlots(pager, page));
  if (row >= t.count) return pager.Corrupt(page, "row " + std::to_string(row) + " does not exist");
  uint32_t old_size = t.End(row, pager.page_size()) - t.Start(row);
  if (bytes.size() > old_size + t.Free()) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ", page " + std::to_string(page) + ": no room for row " +
                                                  std::to_string(row) + " to grow to " + std::to_string(bytes.size()) + " bytes");
  }
  JET_ASSIGN_OR_RETURN(uint8_t* at, ResizeSlot(pager, page, t, row, static_cast<uint32_t>(bytes.size())));
  std::memcpy(at, bytes.data(), bytes.size());
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  SetFlags(pager, data, row, flags);
  return Status::Ok();
}

Status DeleteRow(Pager& pager, uint32_t page, uint8_t row) {
  JET_ASSIGN_OR_RETURN(SlotTable t, ReadSlots(pager, page));
  if (row >= t.count) return pager.Corrupt(page, "row " + std::to_string(row) + " does not exist");
  JET_RETURN_IF_ERROR(ResizeSlot(pager, page, t, row, 0).status());
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  SetFlags(pager, data, row, kRowDeleted | kRowOverflow);
  return Status::Ok();
}

}  // namespace jet
