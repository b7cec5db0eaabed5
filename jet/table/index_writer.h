// Index maintenance: adding and removing one entry of an index's B-tree (Jet 4 files only).
//
// Both calls run inside a pager write (Pager::BeginWrite) and leave the tree in the shape real
// files have:
//   - every page holds its entries in (key, row pointer) order, re-encoded with a freshly computed
//     shared key prefix, entry-end bitmask and free-space field, and names the table definition;
//   - an intermediate page with two or more children keeps its last child in the tail field and
//     an entry for each other child; a page with one child keeps it as an entry. Each entry equals
//     the last entry of its child's subtree, so the entry of a child whose last entry changes is
//     rewritten, up the tree as far as the change reaches;
//   - leaf pages are linked through prev/next from the first to the last; intermediate pages are
//     linked only to siblings under the same parent;
//   - a page that overflows splits in two (the new page takes the lower half and goes before it);
//     when the root splits, its contents move to a new page below it, so the root keeps its page
//     number (the table definition points to it);
//   - a page left empty is unlinked, dropped from its parent and released (global usage map and
//     the index's own map); an empty root becomes an empty leaf.
// New pages come from AllocatePage and are added to the index's usage map.
//
// Neither call decides which rows belong in the index (ignore-nulls, required columns) nor
// updates the table definition's unique-entry count: the caller does both, using the results.
//
// On kConstraint, kInvalidArgument and on kCorrupt found before any change, nothing has been
// changed. Any other failure may leave the write half done: the caller rolls it back.
#pragma once

#include <string>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"

namespace jet {

class IndexNodeCache;  // index_tree.h

// The longest key an entry may have: one that still lets any full page split into two.
constexpr size_t kMaxIndexKeySize = 1800;

// Adds (key, row) to `index` of the table whose definition starts at def.page.
// Returns true when no other entry had this key (so the index's unique-entry count grows).
// Errors: kConstraint when `index` is unique and already holds the key (an entry whose columns are
// all NULL never conflicts); kInvalidArgument when (key, row) is already there, the key is empty
// or longer than kMaxIndexKeySize, or no write is open; kUnsupported for Jet 3 files; kCorrupt
// for a damaged tree.
// `cache`, when given, keeps decoded pages for the next call (see IndexNodeCache).
Result<bool> InsertIndexEntry(Pager& pager, const TableDef& def, const PhysicalIndex& index, std::string key,
                              RowId row, IndexNodeCache* cache = nullptr);

// Removes the entry (key, row). Returns true when no entry with this key remains.
// Errors: kCorrupt when the entry is not there (or the tree is damaged); otherwise as above.
Result<bool> DeleteIndexEntry(Pager& pager, const TableDef& def, const PhysicalIndex& index, const std::string& key,
                              RowId row, IndexNodeCache* cache = nullptr);

}  // namespace jet
