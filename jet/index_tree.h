// The pages of one index as a change to it sees them: decoded on first use, changed in memory,
// and encoded back together by Flush. Internal to the index writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
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
  // The page keeps the last child in its tail field (so that child's entry is not on the page).
  bool tail_on_page = false;
  // Taken from an IndexNodeCache and not written since: the page still has the bytes kept with it.
  bool as_kept = false;
};

// One page of a root-to-leaf path and where the path leaves it: the child taken, or on the
// leaf the position of the entry looked for.
struct PathStep {
  IndexNode* node = nullptr;
  size_t index = 0;
};

// Decoded pages kept from one change of a table's indexes to the next, so that a run of changes
// (rows inserted one after another in a write) does not decode the same pages again and again.
// A node is kept with the bytes of its page as it was decoded or written, and is used again only
// while the page holds exactly those bytes: whatever else changes the page (another writer of the
// table in the same write, a design change, a rolled-back write) makes it decoded afresh.
class IndexNodeCache {
 public:
  // The kept node of `page` when the page still matches it; null otherwise.
  std::unique_ptr<IndexNode> Take(Pager& pager, uint32_t page);
  // Keeps a node that matches its page as the page is now (unchanged since Take, or written).
  void Keep(Pager& pager, std::unique_ptr<IndexNode> node);

 private:
  struct Kept {
    std::unique_ptr<IndexNode> node;  // null while a tree has it
    std::vector<uint8_t> bytes;       // the page the node was decoded from or written to
  };
  std::unordered_map<uint32_t, Kept> kept_;
};

class IndexTree {
 public:
  // With a cache, pages come from it when they still match, and go back to it when the tree goes.
  IndexTree(Pager& pager, const TableDef& def, const PhysicalIndex& index, IndexNodeCache* cache = nullptr)
      : pager_(pager), def_(def), index_(index), cache_(cache) {}
  ~IndexTree();
  IndexTree(const IndexTree&) = delete;
  IndexTree& operator=(const IndexTree&) = delete;

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
  IndexNodeCache* cache_;
  std::map<uint32_t, std::unique_ptr<IndexNode>> nodes_;
  std::vector<std::unique_ptr<IndexNode>> released_;
};

}  // namespace jet
