// Reading one row of a table by its place: the slot (RowId) its index entries name, or where a
// cursor found its bytes. A place may have been given up since it was found; it then holds no
// row of the table, which is an answer, not an error.
#pragma once

#include <cstddef>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/table/storage_cursor.h"

namespace jet {

// The values of the row at `id` (following it where it moved), one per position in `columns`
// (positions in def.columns), decoding no other column. False when no live row of the table is
// there now. `values` is overwritten; its room is reused.
Result<bool> ReadRowAt(Pager& pager, const TableDef& def, RowId id, const std::vector<size_t>& columns,
                       std::vector<Value>* values);

// Where the bytes of the row whose slot is `id` live now: `id` itself unless the row moved.
Result<RowId> RowHome(Pager& pager, RowId id);

}  // namespace jet
