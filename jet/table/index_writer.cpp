#include "jet/table/index_writer.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "jet/pages/index_page_writer.h"
#include "jet/table/index_tree.h"

namespace jet {

namespace {

std::string RowName(RowId row) {
  return "page " + std::to_string(row.page) + ", row " + std::to_string(row.row);
}

Status CheckCall(Pager& pager, const PhysicalIndex& index, const std::string& key, RowId row) {
  if (!pager.format().jet4()) {
    return Error(ErrorCode::kUnsupported, pager.path() + ": indexes of Access 97 files are read-only");
  }
  if (!pager.in_write()) return Error(ErrorCode::kInvalidArgument, pager.path() + ": an index was changed outside a write");
  if (key.empty() || key.size() > kMaxIndexKeySize) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": an index key of " + std::to_string(key.size()) +
                                                  " bytes cannot be stored");
  }
  if (row.page > 0xFFFFFF) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": an index entry cannot point to page " + std::to_string(row.page));
  }
  if (index.root_page == 0) return Error(ErrorCode::kCorrupt, pager.path() + ": the index has no root page");
  return Status::Ok();
}

// Whether every column of the key is NULL: then it is one marker byte per column (0x00, or 0xFF
// descending), which no value's key part can be.
bool AllNullKey(const PhysicalIndex& index, const std::string& key) {
  if (key.size() != index.columns.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    uint8_t null_marker = index.columns[i].ascending ? 0x00 : 0xFF;
    if (static_cast<uint8_t>(key[i]) != null_marker) return false;
  }
  return true;
}

// Bytes the node's children [begin, end) would take as a page of their own: on an intermediate
// page with two or more children the last one is the tail and stores no entry.
uint32_t StoredSize(const IndexNode& node, size_t begin, size_t end) {
  size_t stored_end = (!node.leaf && end - begin >= 2) ? end - 1 : end;
  return EncodedEntriesSize(node.entries, begin, stored_end, node.leaf);
}

// After the last entry of path[level]'s node changed, rewrites its entry in the parent, and on
// up while the changed child is its parent's last.
void PropagateLast(std::vector<PathStep>& path, size_t level) {
  for (size_t lvl = level; lvl > 0; --lvl) {
    const IndexEntry& last = path[lvl].node->entries.back();
    IndexNode* parent = path[lvl - 1].node;
    size_t at = path[lvl - 1].index;
    IndexEntry& entry = parent->entries[at];
    entry.key = last.key;
    entry.data_page = last.data_page;
    entry.data_row = last.data_row;
    NoteEntryChanged(parent, at);
    bool is_last = at + 1 == parent->entries.size();
    if (is_last) parent->last_known = true;
    // The tail's entry is not stored: only a stored entry (or a lone child's) changes the page.
    if (!is_last || parent->entries.size() == 1) parent->dirty = true;
    if (!is_last) return;
  }
}

// How many entries the lower half of a split takes. Both halves must fit; the most even split
// wins, except when appending at the right edge of the tree, where the lower half is filled
// (sequential keys then leave full pages behind them).
Result<size_t> ChooseSplit(Pager& pager, const IndexNode& node, bool fill_lower) {
  const uint32_t capacity = IndexPageCapacity(pager.format());
  const size_t n = node.entries.size();
  // sum[i]: the bytes of entries [0, i) without prefix compression, so that each candidate split
  // costs only the shared prefixes of its two halves.
  std::vector<uint32_t> sum(n + 1, 0);
  for (size_t i = 0; i < n; ++i) sum[i + 1] = sum[i] + IndexEntrySize(node.entries[i], node.leaf);
  auto size = [&](size_t begin, size_t end) -> uint32_t {
    size_t stored_end = (!node.leaf && end - begin >= 2) ? end - 1 : end;  // the tail is not stored
    if (stored_end <= begin) return 0;
    uint32_t shared = SharedKeyPrefix(node.entries, begin, stored_end);
    return sum[stored_end] - sum[begin] - static_cast<uint32_t>(stored_end - begin - 1) * shared;
  };
  // The lower half only grows with k and the upper half only shrinks (an entry adds more than a
  // shared prefix can take away), so the splits where both fit are one run [first_fit, last_fit]
  // and the gap between the halves is smallest where they cross: binary searches find each.
  auto first_k = [&](size_t lo, size_t hi, auto holds) {  // the first k in [lo, hi) that holds, or hi
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      if (holds(mid)) hi = mid;
      else lo = mid + 1;
    }
    return lo;
  };
  const size_t first_fit = first_k(1, n, [&](size_t k) { return size(k, n) <= capacity; });
  const size_t last_fit = first_k(1, n, [&](size_t k) { return size(0, k) > capacity; }) - 1;
  if (n < 2 || first_fit > last_fit || last_fit == 0) {
    return Error(ErrorCode::kUnsupported, pager.path() + ": page " + std::to_string(node.number) +
                                              ": index entries too large to split the page");
  }
  if (fill_lower) return last_fit;
  const size_t crossing = first_k(first_fit, last_fit + 1, [&](size_t k) { return size(0, k) >= size(k, n); });
  size_t best = 0;
  uint32_t best_gap = UINT32_MAX;
  for (size_t k = crossing > first_fit ? crossing - 1 : first_fit; k <= std::min(crossing, last_fit); ++k) {
    uint32_t lower = size(0, k), upper = size(k, n);
    uint32_t gap = lower > upper ? lower - upper : upper - lower;
    if (gap < best_gap) {
      best_gap = gap;
      best = k;
    }
  }
  return best;
}

// Intermediate pages are linked only to siblings under the same parent: once `lower` and `upper`
// are split apart, their children at the boundary must no longer point at each other.
Status SeparateChildren(IndexTree& tree, IndexNode* lower, IndexNode* upper) {
  JET_ASSIGN_OR_RETURN(IndexNode* left, tree.Load(lower->entries.back().child_page));
  if (left->leaf) return Status::Ok();
  JET_ASSIGN_OR_RETURN(IndexNode* right, tree.Load(upper->entries.front().child_page));
  left->next = 0;
  right->prev = 0;
  left->dirty = right->dirty = true;
  return Status::Ok();
}

// Splits the non-root node at path[level]: a new page takes the lower entries and goes before it
// on its level and in its parent, so the node keeps its place as the parent's tail.
Status SplitNode(IndexTree& tree, std::vector<PathStep>& path, size_t level, bool fill_lower) {
  IndexNode* node = path[level].node;
  IndexNode* parent = path[level - 1].node;
  JET_RETURN_IF_ERROR(tree.ResolveLast(node));
  JET_ASSIGN_OR_RETURN(size_t k, ChooseSplit(tree.pager(), *node, fill_lower));
  JET_ASSIGN_OR_RETURN(IndexNode* lower, tree.Allocate(node->leaf));
  lower->entries.assign(node->entries.begin(), node->entries.begin() + static_cast<std::ptrdiff_t>(k));
  lower->ordered = node->ordered;  // both halves keep the order of the whole
  node->entries.erase(node->entries.begin(), node->entries.begin() + static_cast<std::ptrdiff_t>(k));
  lower->prev = node->prev;
  lower->next = node->number;
  if (node->prev != 0) {
    JET_ASSIGN_OR_RETURN(IndexNode* before, tree.Load(node->prev));
    before->next = lower->number;
    before->dirty = true;
  }
  node->prev = lower->number;
  node->dirty = true;
  if (!node->leaf) JET_RETURN_IF_ERROR(SeparateChildren(tree, lower, node));
  IndexEntry entry = lower->entries.back();
  entry.child_page = lower->number;
  size_t at = path[level - 1].index;
  parent->entries.insert(parent->entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
  parent->dirty = true;
  NoteEntryChanged(parent, at);
  path[level - 1].index = at + 1;
  return Status::Ok();
}

// The root cannot move: its contents go to a new page that becomes its only child, and the root
// an intermediate page. Then that child splits.
Status SplitRoot(IndexTree& tree, std::vector<PathStep>& path, bool fill_lower) {
  IndexNode* root = path[0].node;
  JET_ASSIGN_OR_RETURN(IndexNode* child, tree.Allocate(root->leaf));
  child->entries = std::move(root->entries);
  child->last_known = root->last_known;
  child->ordered = root->ordered;
  IndexEntry entry = child->entries.back();
  entry.child_page = child->number;
  root->entries.assign(1, std::move(entry));
  root->ordered = true;
  root->leaf = false;
  root->dirty = true;
  path.insert(path.begin() + 1, PathStep{child, path[0].index});
  path[0].index = 0;
  return SplitNode(tree, path, 1, fill_lower);
}

// Splits, from the leaf up, every page on the path that no longer fits. Any level may overflow,
// not only one whose child split: a rewritten parent entry can be longer than the one it replaced.
// A page left unchanged still fits, as it did when it was read or written.
Status SplitOverfull(IndexTree& tree, std::vector<PathStep>& path, bool fill_lower) {
  const uint32_t capacity = IndexPageCapacity(tree.pager().format());
  for (size_t level = path.size(); level-- > 0;) {
    const IndexNode& node = *path[level].node;
    if (!node.dirty) continue;
    std::optional<uint32_t> in_place = SizeAfterInsertInPlace(node);
    if ((in_place ? *in_place : StoredSize(node, 0, node.entries.size())) <= capacity) continue;
    if (level == 0) return SplitRoot(tree, path, fill_lower);
    JET_RETURN_IF_ERROR(SplitNode(tree, path, level, fill_lower));
  }
  return Status::Ok();
}

// Whether the path runs down the right edge of the tree to the last leaf.
bool OnRightEdge(const std::vector<PathStep>& path) {
  for (size_t i = 0; i + 1 < path.size(); ++i)
    if (path[i].index + 1 != path[i].node->entries.size()) return false;
  return path.back().node->next == 0;
}

// Takes an emptied node out of its level's links.
Status Unlink(IndexTree& tree, const IndexNode* node) {
  if (node->prev != 0) {
    JET_ASSIGN_OR_RETURN(IndexNode* before, tree.Load(node->prev));
    before->next = node->next;
    before->dirty = true;
  }
  if (node->next != 0) {
    JET_ASSIGN_OR_RETURN(IndexNode* after, tree.Load(node->next));
    after->prev = node->prev;
    after->dirty = true;
  }
  return Status::Ok();
}

// After an entry left path[level]'s node: releases the node if it is empty (and so on up), or
// rewrites parent entries if its last entry changed. An empty root becomes an empty leaf.
// Returns the level of the deepest node left on the path.
Result<size_t> AfterRemoval(IndexTree& tree, std::vector<PathStep>& path, size_t level, bool removed_last) {
  while (true) {
    IndexNode* node = path[level].node;
    if (!node->entries.empty()) {
      if (removed_last) PropagateLast(path, level);
      return level;
    }
    if (level == 0) {
      node->leaf = true;
      node->last_known = true;
      node->dirty = true;
      return level;
    }
    JET_RETURN_IF_ERROR(Unlink(tree, node));
    JET_RETURN_IF_ERROR(tree.Release(node));
    IndexNode* parent = path[level - 1].node;
    size_t at = path[level - 1].index;
    removed_last = at + 1 == parent->entries.size();
    parent->entries.erase(parent->entries.begin() + static_cast<std::ptrdiff_t>(at));
    parent->dirty = true;
    // What is now the last child was a stored entry, so its end is known.
    if (removed_last) parent->last_known = true;
    --level;
  }
}

IndexEntry EntryFor(std::string key, RowId row) {
  IndexEntry entry;
  entry.key = std::move(key);
  entry.data_page = row.page;
  entry.data_row = row.row;
  return entry;
}

}  // namespace

Result<bool> InsertIndexEntry(Pager& pager, const TableDef& def, const PhysicalIndex& index, std::string key,
                              RowId row, IndexNodeCache* cache) {
  JET_RETURN_IF_ERROR(CheckCall(pager, index, key, row));
  IndexTree tree(pager, def, index, cache);
  IndexEntry entry = EntryFor(std::move(key), row);  // the tree keeps the key
  const std::string& key_bytes = entry.key;  // until the entry goes into its leaf
  JET_ASSIGN_OR_RETURN(std::vector<PathStep>* descent, tree.Descend(entry));
  std::vector<PathStep>& path = *descent;
  IndexNode* leaf = path.back().node;
  const size_t pos = path.back().index;
  if (pos < leaf->entries.size() && leaf->entries[pos].Compare(entry) == 0) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": the index already has this entry for " + RowName(row));
  }
  // Equal keys sit next to each other, ordered by row pointer.
  JET_ASSIGN_OR_RETURN(const IndexEntry* before, tree.EntryBefore(leaf, pos));
  bool shared = before != nullptr && before->key == key_bytes;
  if (!shared) {
    JET_ASSIGN_OR_RETURN(const IndexEntry* after, tree.EntryAt(leaf, pos));
    shared = after != nullptr && after->key == key_bytes;
  }
  if (shared && index.unique() && !AllNullKey(index, key_bytes)) {
    return Error(ErrorCode::kConstraint, pager.path() + ": the unique index already holds this key (adding " +
                                             RowName(row) + ")");
  }
  const bool at_end = pos == leaf->entries.size();
  const bool fill_lower = at_end && OnRightEdge(path);
  tree.NoteAppended(fill_lower);
  leaf->inserted_at = leaf->dirty ? IndexNode::kNone : pos;
  leaf->entries.insert(leaf->entries.begin() + static_cast<std::ptrdiff_t>(pos), std::move(entry));
  leaf->dirty = true;
  NoteEntryChanged(leaf, pos);
  if (at_end) PropagateLast(path, path.size() - 1);
  JET_RETURN_IF_ERROR(SplitOverfull(tree, path, fill_lower));
  JET_RETURN_IF_ERROR(tree.Flush());
  return !shared;
}

Result<bool> DeleteIndexEntry(Pager& pager, const TableDef& def, const PhysicalIndex& index, const std::string& key,
                              RowId row, IndexNodeCache* cache) {
  JET_RETURN_IF_ERROR(CheckCall(pager, index, key, row));
  IndexTree tree(pager, def, index, cache);
  IndexEntry entry = EntryFor(key, row);
  JET_ASSIGN_OR_RETURN(std::vector<PathStep>* descent, tree.Descend(entry));
  std::vector<PathStep>& path = *descent;
  IndexNode* leaf = path.back().node;
  const size_t pos = path.back().index;
  if (pos >= leaf->entries.size() || leaf->entries[pos].Compare(entry) != 0) {
    return Error(ErrorCode::kCorrupt, pager.path() + ": the index has no entry with this key for " + RowName(row));
  }
  JET_ASSIGN_OR_RETURN(const IndexEntry* before, tree.EntryBefore(leaf, pos));
  bool remains = before != nullptr && before->key == key;
  if (!remains) {
    JET_ASSIGN_OR_RETURN(const IndexEntry* after, tree.EntryAt(leaf, pos + 1));
    remains = after != nullptr && after->key == key;
  }
  const bool was_last = pos + 1 == leaf->entries.size();
  leaf->entries.erase(leaf->entries.begin() + static_cast<std::ptrdiff_t>(pos));
  leaf->dirty = true;
  JET_ASSIGN_OR_RETURN(size_t level, AfterRemoval(tree, path, path.size() - 1, was_last));
  path.resize(level + 1);
  JET_RETURN_IF_ERROR(SplitOverfull(tree, path, false));
  JET_RETURN_IF_ERROR(tree.Flush());
  return !remains;
}

}  // namespace jet
