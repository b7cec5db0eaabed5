// Memo and OLE values. The row holds a 12-byte field: a length whose top bits say where the data
// is, a row pointer and a reserved word. The data is inline after the field, on one row of an LVAL
// page, or spread over a chain of LVAL rows each of which starts with the pointer to the next.
#pragma once

#include <cstdint>
#include <functional>

#include "jet/file/pager.h"
#include "jet/pages/data_page.h"
#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

constexpr uint32_t kLongValueInline = 0x80000000;
constexpr uint32_t kLongValueSingleRow = 0x40000000;
constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
constexpr uint32_t kLongValueFieldSize = 12;

// Walks the LVAL rows of a chained long value of `length` bytes that starts at `pointer`, calling
// `visit` with each row, in order, and how many of the value's bytes it holds. kCorrupt naming a
// page when the chain ends before its length, loops, or leads to a missing row; nothing is
// visited after that.
Status WalkLongValueChain(Pager& pager, uint32_t pointer, uint32_t length,
                          const std::function<void(uint32_t pointer, const RowSlot& slot, uint32_t take)>& visit);

// Reads the bytes of a long value whose stored field (12-byte header plus any inline data) is
// `field`. Fails on a length or pointer that does not fit the file, and on a cyclic chain.
Result<Bytes> ReadLongValue(Pager& pager, const uint8_t* field, uint32_t field_size);

}  // namespace jet
