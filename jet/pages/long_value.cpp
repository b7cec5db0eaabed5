#include "jet/pages/long_value.h"

#include <algorithm>
#include <set>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/table_def.h"

namespace jet {

Status WalkLongValueChain(Pager& pager, uint32_t pointer, uint32_t length,
                          const std::function<void(uint32_t pointer, const RowSlot& slot, uint32_t take)>& visit) {
  std::set<uint32_t> seen;
  uint32_t last_page = 0;
  for (uint64_t covered = 0; covered < length;) {
    if (pointer == 0) {
      return pager.Corrupt(last_page, "a memo chain ends after " + std::to_string(covered) + " of its " +
                                          std::to_string(length) + " bytes");
    }
    uint32_t page = RowPointerPage(pointer);
    if (!seen.insert(pointer).second) return pager.Corrupt(page, "a memo chain loops back on itself");
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, RowPointerRow(pointer)));
    if (slot.deleted() || slot.size < 4) return pager.Corrupt(page, "a memo chain points to a missing row");
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(slot.size - 4, length - covered));
    visit(pointer, slot, take);
    covered += take;
    last_page = page;
    pointer = Get32(slot.bytes);
  }
  return Status::Ok();
}

namespace {

Result<Bytes> ReadChain(Pager& pager, uint32_t pointer, uint32_t length) {
  Bytes out;
  out.reserve(length < (1u << 20) ? length : (1u << 20));  // a damaged length must not allocate wildly
  JET_RETURN_IF_ERROR(WalkLongValueChain(pager, pointer, length, [&](uint32_t, const RowSlot& slot, uint32_t take) {
    out.append(reinterpret_cast<const char*>(slot.bytes + 4), take);
  }));
  return out;
}

}  // namespace

Result<Bytes> ReadLongValue(Pager& pager, const uint8_t* field, uint32_t field_size) {
  if (field_size < kLongValueFieldSize) {
    return Error(ErrorCode::kCorrupt, pager.path() + ": a memo field is " + std::to_string(field_size) + " bytes, less than its header");
  }
  uint32_t header = Get32(field);
  uint32_t length = header & kLongValueLengthMask;
  uint32_t pointer = Get32(field + 4);
  if (header & kLongValueInline) {
    if (length > field_size - kLongValueFieldSize) {
      return Error(ErrorCode::kCorrupt, pager.path() + ": an inline memo claims " + std::to_string(length) +
                                            " bytes but its row holds " + std::to_string(field_size - kLongValueFieldSize));
    }
    return Bytes(reinterpret_cast<const char*>(field + kLongValueFieldSize), length);
  }
  if (header & kLongValueSingleRow) {
    uint32_t page = RowPointerPage(pointer);
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, RowPointerRow(pointer)));
    if (slot.deleted() || length > slot.size) {
      return pager.Corrupt(page, "memo row " + std::to_string(RowPointerRow(pointer)) + " is missing or shorter than its " +
                                     std::to_string(length) + " bytes");
    }
    return Bytes(reinterpret_cast<const char*>(slot.bytes), length);
  }
  if (header & ~kLongValueLengthMask) {
    return Error(ErrorCode::kCorrupt, pager.path() + ": a memo field has an unknown storage kind");
  }
  return ReadChain(pager, pointer, length);
}

}  // namespace jet
