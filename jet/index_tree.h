// The pages of one index as a change to it sees them: decoded on first use, changed in memory,
// and encoded back together by Flush. Internal to the index writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "jet/index_page.h"
#include "jet/pager.h"
#include "jet/status.h"
#include "jet/table_def.h"

namespace jet {

struct IndexNode {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t prev = 0;
  uint32_t next = 0;
  // Leaf: the entries. Intermediate: one entry per child in order, the tail child included as
  // the last; each carries the last entry (key, row pointer) of its child's subtree.
  std::vector<IndexEntry> entries;
  // False while the last child came from the tail field and its subtree's last entry (which the
  // page does not store) has not been looked up.
  bool last_known = true;
  bool dirty = false;
};

// One page of a root-to-leaf path and where the path leaves it: the child taken, or on the
// leaf the position of the entry looked for.
struct PathStep {
  IndexNode* node = nullptr;
  size_t index = 0;
};

class IndexTree {
 public:
  IndexTree(Pager& pager, const TableDef& def, const PhysicalIndex& index)
      : pager_(pager), def_(def), index_(index) {}

  Pager& pager() { return pager_; }

  // The decoded page; fails when it is no index page of this table or was released.
  Result<IndexNode*> Load(uint32_t page);

  // The path from the root to the leaf where `target` is or belongs (the first position whose
  // entry is not below it).
  Result<std::vector<PathStep>> Descend(const IndexEntry& target);

  // The entry just before position `pos` of `leaf`, or at `pos`, looking into neighbouring
  // leaves when needed; null when there is none. Valid until the tree changes.
  Result<const IndexEntry*> EntryBefore(IndexNode* leaf, size_t pos);
  Result<const IndexEntry*> EntryAt(IndexNode* leaf, size_t pos);

  // Makes the last entry of an intermediate node known (a no-op when it is).
  Status ResolveLast(IndexNode* node, int depth = 0);

  // A fresh page for the index (recorded in the global map and the index's own map).
  Result<IndexNode*> Allocate(bool leaf);
  // Gives `node`'s page back: cleared, free in the global map, out of the index's map. The node
  // stays readable until the tree goes away but can no longer be loaded.
  Status Release(IndexNode* node);

  // Encodes every changed node onto its page.
  Status Flush();

 private:
  Pager& pager_;
  const TableDef& def_;
  const PhysicalIndex& index_;
  std::map<uint32_t, std::unique_ptr<IndexNode>> nodes_;
  std::vector<std::unique_ptr<IndexNode>> released_;
};

}  // namespace jet
