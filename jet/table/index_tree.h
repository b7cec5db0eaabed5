// The pages of one index as a change to it sees them: decoded on first use, changed in memory,
// and encoded back together by Flush. Internal to the index writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "jet/pages/index_page.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"

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
  // The entries are known to be in strictly increasing order: checked when the page was last
  // written, and kept so by every change since (see NoteEntryChanged). Writing the page then
  // need not compare every entry with the next again.
  bool ordered = false;
  // Set when the page holds exactly what WriteIndexPage wrote for this node: `encoded_count`
  // entries taking `encoded_size` bytes with `encoded_prefix` shared, between `encoded_prev` and
  // `encoded_next`. A node read from the file is not known to be encoded that way.
  bool encoded = false;
  size_t encoded_count = 0;
  uint32_t encoded_size = 0, encoded_prefix = 0, encoded_prev = 0, encoded_next = 0;
  // A leaf's one change since it was encoded, when that is an entry inserted at this position.
  static constexpr size_t kNone = SIZE_MAX;
  size_t inserted_at = kNone;
};

// When `node` is a leaf whose only change since it was encoded is one inserted entry that its
// page can take in place (InsertIntoLeafPage), the bytes its entries then take; otherwise none.
// Most inserts are of that kind, and re-encoding the whole page for each cost more than the rest
// of an insert together.
std::optional<uint32_t> SizeAfterInsertInPlace(const IndexNode& node);

// Call after entry `at` of `node` arrived or changed: the node stays known to be in order only
// while that entry still sorts strictly between its neighbours (an intermediate node's tail
// entry is skipped while its end is unknown).
void NoteEntryChanged(IndexNode* node, size_t at);

// One page of a root-to-leaf path and where the path leaves it: the child taken, or on the
// leaf the position of the entry looked for.
struct PathStep {
  IndexNode* node = nullptr;
  size_t index = 0;
};

// Decoded pages kept from one change of a table's indexes to the next, so that a run of changes
// (rows inserted one after another, in one write or in many) does not decode the same pages again
// and again. Kept nodes are used again only while nothing but their owners changed pages since
// they were kept: the pager's generation moves with every page change, so a change the cache was
// not told about (a change made without the cache, a design change, a rolled-back write, another
// handle's commit) drops every kept node. The commit of the write that kept them does not: it
// makes the pages durable as they are (Pager::PagesUnchangedSince). Comparing generations costs
// nothing, where comparing each page with a copy of its bytes cost as much as decoding it again.
// A cache serves one pager; the one a pager owns (Of) serves every table writer on it.
class IndexNodeCache : public Pager::WriterCache {
 public:
  // The cache `pager` keeps across writes, made on first use.
  static IndexNodeCache& Of(Pager& pager);

  // Drops every kept node when a page changed since the cache last matched the file (the last
  // Keep or Vouch, or the commit right after it). A tree calls it before using the cache; so must
  // a caller before Vouch.
  void Revalidate(Pager& pager);
  // The kept node of `page`, or null. Only after Revalidate, and until pages change.
  std::unique_ptr<IndexNode> Take(uint32_t page);
  // Keeps a node that matches its page as the page is now.
  void Keep(std::unique_ptr<IndexNode> node);
  // The caller's word that every page change since Revalidate (or the last Keep or Vouch) was its
  // own and left every kept node's page alone: the kept nodes still match the file.
  void Vouch(Pager& pager);

  size_t kept_count() const { return kept_.size(); }
  // Whether the last entry added to the index with this root went to the end of the tree (a hint:
  // the next descent tries the right edge first).
  bool Appending(uint32_t root) const;
  void SetAppending(uint32_t root, bool appending);

  // The room of the last tree's lists, lent to the next tree so that a change allocates none.
  std::vector<std::unique_ptr<IndexNode>> spare_nodes;
  std::vector<PathStep> spare_path;
  // Nodes kept at most: past it the least recently kept quarter goes. Rows arriving in random key
  // order (song titles) touch every leaf of that index, so a load whose indexes outgrow the cache
  // decodes most pages again on each write: with 2,048 nodes a load of 1,000,000 songs in writes of
  // 1,000 spent three times as long on its last 100,000 rows as on its first. Decoded, a full leaf
  // takes three to four times its 4 KB; the cache only grows that large for such tables, whose
  // pages the pager keeps as well.
  static constexpr size_t kMaxKept = 16384;

 private:
  struct Kept {
    std::unique_ptr<IndexNode> node;  // null while a tree has it
    uint64_t kept_at = 0;             // when it was last kept, in Keep calls
  };
  void Shrink();

  std::unordered_map<uint32_t, Kept> kept_;
  std::vector<uint32_t> appending_roots_;
  uint64_t keeps_ = 0;
  uint64_t generation_ = 0;  // the pager's generation when the kept nodes last matched the file
  bool current_ = false;     // generation_ is set
};

class IndexTree {
 public:
  // With a cache, pages come from it when they still match, and go back to it when the tree goes.
  IndexTree(Pager& pager, const TableDef& def, const PhysicalIndex& index, IndexNodeCache* cache = nullptr);
  ~IndexTree();
  IndexTree(const IndexTree&) = delete;
  IndexTree& operator=(const IndexTree&) = delete;

  Pager& pager() { return pager_; }

  // The decoded page; fails when it is no index page of this table or was released.
  Result<IndexNode*> Load(uint32_t page);

  // The path from the root to the leaf where `target` is or belongs (the first position whose
  // entry is not below it). The tree owns the path; the next descent replaces it.
  Result<std::vector<PathStep>*> Descend(const IndexEntry& target);

  // The entry just before position `pos` of `leaf`, or at `pos`, looking into neighbouring
  // leaves when needed; null when there is none. Valid until the tree changes.
  Result<const IndexEntry*> EntryBefore(IndexNode* leaf, size_t pos);
  Result<const IndexEntry*> EntryAt(IndexNode* leaf, size_t pos);

  // Records whether the entry just added went to the end of the tree (see IndexNodeCache::Appending).
  void NoteAppended(bool at_end);

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
  // The path down the right edge when `target` sorts after every entry of the tree (false
  // otherwise, or when the edge does not end in a non-empty last leaf).
  Result<bool> DescendRightEdge(const IndexEntry& target);
  // Writes the whole page of `node` and records what the page then holds.
  Status Encode(IndexNode* node);
  // The node of `page` if this tree has loaded it.
  IndexNode* Find(uint32_t page);

  Pager& pager_;
  const TableDef& def_;
  const PhysicalIndex& index_;
  IndexNodeCache* cache_;
  std::vector<std::unique_ptr<IndexNode>> nodes_;  // a change loads a handful: a list is quickest
  std::vector<std::unique_ptr<IndexNode>> released_;
  std::vector<PathStep> path_;
};

}  // namespace jet
