#include "jet/pages/long_value_writer.h"

#include <vector>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/long_value.h"
#include "jet/pages/data_page_writer.h"
#include "jet/pages/long_value.h"
#include "jet/pages/usage_map.h"
#include "jet/pages/usage_map_writer.h"

namespace jet {

namespace {

// A page stays in the free-space map while it could take one more small value.
constexpr uint32_t kRoomWorthListing = RowSpaceUsage(kMaxInlineLongValue + 1);
constexpr uint32_t kChainChunk = kMaxLongValueRow - 4;

// The definition's bytes: the first page whole, then each continuation page past its header.
Result<std::string> DefinitionBytes(Pager& pager, uint32_t first) {
  std::string bytes;
  std::set<uint32_t> seen;
  for (uint32_t page = first; page != 0;) {
    if (!seen.insert(page).second) return pager.Corrupt(page, "the table definition's page chain forms a cycle");
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageTableDefinition, "table definition"));
    size_t from = bytes.empty() ? 0 : 8;
    bytes.append(reinterpret_cast<const char*>(data) + from, pager.page_size() - from);
    page = Get32(data + 4);
  }
  return bytes;
}

// Skips `count` length-prefixed names; false when the bytes end first.
bool SkipNames(const std::string& bytes, size_t count, size_t* pos) {
  for (size_t i = 0; i < count; ++i) {
    if (*pos + 2 > bytes.size()) return false;
    *pos += 2 + Get16(reinterpret_cast<const uint8_t*>(bytes.data()) + *pos);
  }
  return *pos <= bytes.size();
}

bool IsLongValuePage(const uint8_t* data) { return data[0] == kPageData && Get32(data + 4) == kLongValuePageOwner; }

}  // namespace

Result<std::map<uint16_t, LongValueMaps>> ReadLongValueMaps(Pager& pager, const TableDef& def) {
  const Format& f = pager.format();
  std::map<uint16_t, LongValueMaps> maps;
  JET_ASSIGN_OR_RETURN(std::string bytes, DefinitionBytes(pager, def.page));
  const size_t physical = def.physical_indexes.size();
  size_t pos = f.tdef_header_end + physical * f.tdef_physical_index_count_entry + def.columns.size() * f.column_entry_size;
  if (!SkipNames(bytes, def.columns.size(), &pos)) return maps;
  pos += physical * f.physical_index_entry_size + def.logical_indexes.size() * f.logical_index_entry_size;
  if (!SkipNames(bytes, def.logical_indexes.size(), &pos)) return maps;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
  while (pos + 10 <= bytes.size()) {
    uint16_t number = Get16(p + pos);
    if (number == 0xFFFF) break;
    LongValueMaps m{Get32(p + pos + 2), Get32(p + pos + 6)};
    pos += 10;
    const ColumnDef* column = def.ColumnByNumber(number);
    bool sane = RowPointerPage(m.owned) < pager.page_count() && RowPointerPage(m.free_space) < pager.page_count();
    if (column != nullptr && IsLongValue(column->type) && sane && m.present()) maps[number] = m;
  }
  return maps;
}

std::string InlineLongValueField(const std::string& data) {
  std::string field(kLongValueFieldSize, '\0');
  Put32(reinterpret_cast<uint8_t*>(field.data()), static_cast<uint32_t>(data.size()) | kLongValueInline);
  return field + data;
}

Status LongValueWriter::LoadCandidates() {
  if (loaded_) return Status::Ok();
  loaded_ = true;
  if (!maps_.present()) return Status::Ok();
  JET_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, ReadUsageMap(pager_, maps_.free_space));
  for (uint32_t page : pages) {
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager_.ReadPage(page));
    if (!IsLongValuePage(data)) {
      return pager_.Corrupt(page, "the usage map of a column's long values lists this page as having room, but it "
                                  "holds no long values (page type " + std::to_string(data[0]) + ")");
    }
    candidates_.insert(page);
  }
  return Status::Ok();
}

Status LongValueWriter::UpdateFreeSpace(uint32_t page) {
  JET_ASSIGN_OR_RETURN(bool room, NewRowFits(pager_, page, kRoomWorthListing - 2));
  bool listed = candidates_.count(page) != 0;
  if (room == listed) return Status::Ok();
  if (room) candidates_.insert(page);
  else candidates_.erase(page);
  if (!maps_.present()) return Status::Ok();
  return SetPageInUsageMap(pager_, maps_.free_space, page, room);
}

Result<uint32_t> LongValueWriter::PageFor(uint32_t size) {
  JET_RETURN_IF_ERROR(LoadCandidates());
  // The newest pages first: older ones are mostly full.
  for (auto it = candidates_.rbegin(); it != candidates_.rend(); ++it) {
    JET_ASSIGN_OR_RETURN(bool fits, NewRowFits(pager_, *it, size));
    if (fits) return *it;
  }
  JET_ASSIGN_OR_RETURN(uint32_t page, AllocatePage(pager_));
  JET_RETURN_IF_ERROR(InitDataPage(pager_, page, kLongValuePageOwner));
  if (maps_.present()) JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, maps_.owned, page, true));
  // Listed now; UpdateFreeSpace takes it out again once it fills.
  candidates_.insert(page);
  if (maps_.present()) JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, maps_.free_space, page, true));
  return page;
}

Result<uint32_t> LongValueWriter::AppendLongValueRow(const std::string& row) {
  JET_ASSIGN_OR_RETURN(uint32_t page, PageFor(static_cast<uint32_t>(row.size())));
  JET_ASSIGN_OR_RETURN(uint8_t slot, AppendRow(pager_, page, row, 0));
  JET_RETURN_IF_ERROR(UpdateFreeSpace(page));
  return (page << 8) | slot;
}

Result<std::string> LongValueWriter::Store(const std::string& data) {
  if (data.size() > kLongValueLengthMask) {
    return Error(ErrorCode::kInvalidArgument, pager_.path() + ": a long value of " + std::to_string(data.size()) +
                                                  " bytes is larger than Access allows");
  }
  std::string field(kLongValueFieldSize, '\0');
  uint8_t* f = reinterpret_cast<uint8_t*>(field.data());
  uint32_t length = static_cast<uint32_t>(data.size());
  if (length <= kMaxLongValueRow) {
    JET_ASSIGN_OR_RETURN(uint32_t pointer, AppendLongValueRow(data));
    Put32(f, length | kLongValueSingleRow);
    Put32(f + 4, pointer);
    return field;
  }
  // A chain, written from its last piece back, so that each piece knows its successor.
  std::vector<size_t> starts;
  for (size_t at = 0; at < data.size(); at += kChainChunk) starts.push_back(at);
  uint32_t next = 0;
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    std::string row(4, '\0');
    Put32(reinterpret_cast<uint8_t*>(row.data()), next);
    row.append(data, *it, kChainChunk);
    JET_ASSIGN_OR_RETURN(next, AppendLongValueRow(row));
  }
  Put32(f, length);
  Put32(f + 4, next);
  return field;
}

Status LongValueWriter::FreeRow(uint32_t pointer) {
  uint32_t page = RowPointerPage(pointer);
  if (page == 0 || page >= pager_.page_count()) return Error(ErrorCode::kCorrupt, pager_.path() + ": a memo points past the file");
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager_.ReadPage(page));
  if (!IsLongValuePage(data)) return pager_.Corrupt(page, "a memo points to a page that holds no long values");
  JET_RETURN_IF_ERROR(DeleteRow(pager_, page, RowPointerRow(pointer)));
  JET_RETURN_IF_ERROR(LoadCandidates());
  return UpdateFreeSpace(page);
}

Status LongValueWriter::Free(const uint8_t* field, uint32_t size) {
  if (size < kLongValueFieldSize) return Error(ErrorCode::kCorrupt, pager_.path() + ": a memo field is shorter than its header");
  uint32_t header = Get32(field);
  if (header & kLongValueInline) return Status::Ok();
  uint32_t pointer = Get32(field + 4);
  if (header & kLongValueSingleRow) return FreeRow(pointer);
  // The whole chain is found before any of it is freed: a chain cut short is damage to report,
  // not a reason to free half of it.
  std::vector<uint32_t> rows;
  JET_RETURN_IF_ERROR(WalkLongValueChain(pager_, pointer, header & kLongValueLengthMask,
                                         [&](uint32_t row, const RowSlot&, uint32_t) { rows.push_back(row); }));
  for (uint32_t row : rows) JET_RETURN_IF_ERROR(FreeRow(row));
  return Status::Ok();
}

}  // namespace jet
