// Writing and freeing Memo and OLE values (Jet 4).
//
// A long value is kept in the row when it is small (at most 64 bytes) and the row has room;
// otherwise the row holds a 12-byte field pointing to one row of a long-value ("LVAL") page when
// the value fits one row (4076 bytes), or to the first row of a chain whose rows each start with
// the pointer to the next (the last points to 0) and carry up to 4072 bytes.
//
// A long-value column of an Access 2000 or later definition has its own pair of usage maps (the
// pages it owns, and those of them with room), listed after the index names. New LVAL pages go
// into both; a definition without them (older writers) gets pages that only the global usage map
// records. The free-space map follows every change to a page: a page is in it while it has room
// for another small row.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"

namespace jet {

constexpr uint32_t kMaxInlineLongValue = 64;
constexpr uint32_t kMaxLongValueRow = 4076;  // a data page less its header and one slot

// The usage maps (row pointers) of one long-value column; zero when the definition has none.
struct LongValueMaps {
  uint32_t owned = 0;
  uint32_t free_space = 0;
  bool present() const { return owned != 0 && free_space != 0; }
};

// Reads the per-column long-value maps of `def`, by column number. A definition that ends
// before them, or lists nonsense, yields no maps for the columns concerned.
Result<std::map<uint16_t, LongValueMaps>> ReadLongValueMaps(Pager& pager, const TableDef& def);

// The field of a value kept in the row: the 12-byte header followed by the data.
std::string InlineLongValueField(const std::string& data);

// Stores and frees the long values of one column within one write.
class LongValueWriter {
 public:
  LongValueWriter(Pager& pager, LongValueMaps maps) : pager_(pager), maps_(maps) {}

  // Stores `data` in LVAL rows and returns the 12-byte field that points to them.
  Result<std::string> Store(const std::string& data);

  // Frees the LVAL rows the stored field refers to (nothing for an inline value).
  Status Free(const uint8_t* field, uint32_t size);

 private:
  Status LoadCandidates();
  // A page with room for a row of `size` bytes: a known LVAL page, or a new one.
  Result<uint32_t> PageFor(uint32_t size);
  Result<uint32_t> AppendLongValueRow(const std::string& row);
  // Puts `page` into the free-space map or takes it out, as its room says.
  Status UpdateFreeSpace(uint32_t page);
  Status FreeRow(uint32_t pointer);

  Pager& pager_;
  LongValueMaps maps_;
  bool loaded_ = false;
  std::set<uint32_t> candidates_;  // LVAL pages of this column with room, as the free-space map says
};

}  // namespace jet
