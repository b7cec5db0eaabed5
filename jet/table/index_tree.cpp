#include "jet/table/index_tree.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "jet/base/bytes.h"
#include "jet/pages/index_page_writer.h"
#include "jet/pages/usage_map_writer.h"

namespace jet {

namespace {

// Deeper trees than this cannot occur in a file of at most 2^24 pages; deeper means a cycle.
constexpr int kMaxDepth = 32;

}  // namespace

void NoteEntryChanged(IndexNode* node, size_t at) {
  if (!node->ordered) return;
  const std::vector<IndexEntry>& e = node->entries;
  // An intermediate node's tail entry is blank until its subtree's end is looked up.
  auto known = [&](size_t i) { return node->leaf || node->last_known || i + 1 != e.size(); };
  if (!known(at)) return;
  bool fine = (at == 0 || !known(at - 1) || e[at - 1].Compare(e[at]) < 0) &&
              (at + 1 >= e.size() || !known(at + 1) || e[at].Compare(e[at + 1]) < 0);
  if (!fine) node->ordered = false;
}

std::optional<uint32_t> SizeAfterInsertInPlace(const IndexNode& node) {
  const size_t at = node.inserted_at;
  if (!node.leaf || !node.encoded || !node.ordered || at == IndexNode::kNone || at == 0 ||
      node.entries.size() != node.encoded_count + 1 || node.prev != node.encoded_prev || node.next != node.encoded_next) {
    return std::nullopt;
  }
  // The shared prefix is that of the first and last keys: only a new last entry can change it.
  if (at + 1 == node.entries.size() && SharedKeyPrefix(node.entries, 0, node.entries.size()) != node.encoded_prefix) {
    return std::nullopt;
  }
  return node.encoded_size + IndexEntrySize(node.entries[at], true) - node.encoded_prefix;
}

IndexNodeCache& IndexNodeCache::Of(Pager& pager) { return pager.writer_cache<IndexNodeCache>("index nodes"); }

void IndexNodeCache::Revalidate(Pager& pager) {
  if (current_ && pager.PagesUnchangedSince(generation_)) {
    generation_ = pager.generation();
    return;
  }
  kept_.clear();
  generation_ = pager.generation();
  current_ = true;
}

std::unique_ptr<IndexNode> IndexNodeCache::Take(uint32_t page) {
  auto found = kept_.find(page);
  if (found == kept_.end()) return nullptr;
  return std::move(found->second.node);  // the slot stays, empty, for the node to come back to
}

void IndexNodeCache::Keep(std::unique_ptr<IndexNode> node) {
  if (!node->leaf && !node->tail_on_page && node->entries.size() >= 2) {
    // The page stores its last child as an entry, which a change may have rewritten in the node
    // without writing the page (only a tail's entry goes unstored): decode it afresh next time.
    kept_.erase(node->number);
    return;
  }
  // Exactly what decoding the page gives: the tail child's last entry is not on the page.
  if (!node->leaf && node->tail_on_page && !node->entries.empty()) {
    IndexEntry& tail = node->entries.back();
    tail.key.clear();
    tail.data_page = 0;
    tail.data_row = 0;
    node->last_known = false;
  }
  uint32_t page = node->number;
  kept_[page] = Kept{std::move(node), ++keeps_};
  if (kept_.size() > kMaxKept) Shrink();
}

void IndexNodeCache::Shrink() {
  std::vector<uint64_t> ages;
  ages.reserve(kept_.size());
  for (const auto& [page, kept] : kept_) ages.push_back(kept.kept_at);
  auto cut = ages.begin() + static_cast<std::ptrdiff_t>(ages.size() / 4);
  std::nth_element(ages.begin(), cut, ages.end());
  const uint64_t oldest_kept = *cut;
  // A slot whose node a tree has may go too: Keep makes it anew when the node comes back.
  std::erase_if(kept_, [&](const auto& item) { return item.second.kept_at < oldest_kept; });
}

bool IndexNodeCache::Appending(uint32_t root) const {
  return std::find(appending_roots_.begin(), appending_roots_.end(), root) != appending_roots_.end();
}

void IndexNodeCache::SetAppending(uint32_t root, bool appending) {
  if (appending == Appending(root)) return;
  if (appending) appending_roots_.push_back(root);
  else std::erase(appending_roots_, root);
}

void IndexNodeCache::Vouch(Pager& pager) {
  if (!current_) return;  // nothing was ever known to match
  generation_ = pager.generation();
}

IndexTree::IndexTree(Pager& pager, const TableDef& def, const PhysicalIndex& index, IndexNodeCache* cache)
    : pager_(pager), def_(def), index_(index), cache_(cache) {
  if (cache_ == nullptr) return;
  cache_->Revalidate(pager_);
  nodes_.swap(cache_->spare_nodes);
  path_.swap(cache_->spare_path);
}

IndexTree::~IndexTree() {
  if (cache_ == nullptr) return;
  // A node still dirty was never written (the change failed): its page does not hold it. The
  // pages this tree wrote or released hold no node kept by anyone else, so the cache, which
  // matched the file when the tree began, matches it again with the nodes given back.
  for (auto& node : nodes_)
    if (!node->dirty) cache_->Keep(std::move(node));
  cache_->Vouch(pager_);
  nodes_.clear();
  path_.clear();
  cache_->spare_nodes.swap(nodes_);
  cache_->spare_path.swap(path_);
}

IndexNode* IndexTree::Find(uint32_t page) {
  for (const auto& node : nodes_)
    if (node->number == page) return node.get();
  return nullptr;
}

Result<IndexNode*> IndexTree::Load(uint32_t page) {
  if (IndexNode* loaded = Find(page)) return loaded;
  for (const auto& gone : released_) {
    if (gone->number == page) return pager_.Corrupt(page, "the index still links to a page it gave up");
  }
  if (cache_ != nullptr) {
    if (std::unique_ptr<IndexNode> kept = cache_->Take(page)) {
      IndexNode* result = kept.get();
      nodes_.push_back(std::move(kept));
      return result;
    }
  }
  JET_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(pager_, page));
  if (p.owner != def_.page) {
    return pager_.Corrupt(page, "the index page belongs to table definition " + std::to_string(p.owner) + ", not " +
                                    std::to_string(def_.page));
  }
  auto node = std::make_unique<IndexNode>();
  node->number = page;
  node->leaf = p.leaf();
  node->prev = p.prev;
  node->next = p.next;
  node->entries = std::move(p.entries);
  if (!node->leaf && p.tail != 0) {
    node->tail_on_page = true;
    IndexEntry tail;
    tail.child_page = p.tail;
    node->entries.push_back(std::move(tail));
    node->last_known = false;
  }
  if (!node->leaf && node->entries.empty()) return pager_.Corrupt(page, "an intermediate index page has no children");
  for (const IndexEntry& e : node->entries) {
    if (!node->leaf && e.child_page == 0) return pager_.Corrupt(page, "an intermediate index entry has no child page");
  }
  IndexNode* result = node.get();
  nodes_.push_back(std::move(node));
  return result;
}

Result<bool> IndexTree::DescendRightEdge(const IndexEntry& target) {
  path_.clear();
  uint32_t page = index_.root_page;
  for (int depth = 0; depth < kMaxDepth; ++depth) {  // a cycle ends the try; Descend reports it
    JET_ASSIGN_OR_RETURN(IndexNode* node, Load(page));
    if (node->entries.empty()) return false;
    if (node->leaf) {
      if (node->next != 0 || node->entries.back().Compare(target) >= 0) return false;
      path_.push_back({node, node->entries.size()});
      return true;
    }
    path_.push_back({node, node->entries.size() - 1});
    page = node->entries.back().child_page;
  }
  return false;
}

void IndexTree::NoteAppended(bool at_end) {
  if (cache_ != nullptr) cache_->SetAppending(index_.root_page, at_end);
}

Result<std::vector<PathStep>*> IndexTree::Descend(const IndexEntry& target) {
  // Keys that arrive in order (numbers, equal keys by row) go to the end: two comparisons and the
  // pages of the right edge, where a descent compares at every level.
  if (cache_ != nullptr && cache_->Appending(index_.root_page)) {
    JET_ASSIGN_OR_RETURN(bool at_end, DescendRightEdge(target));
    if (at_end) return &path_;
  }
  std::vector<PathStep>& path = path_;
  path.clear();
  uint32_t page = index_.root_page;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    for (const PathStep& step : path)
      if (step.node->number == page) return pager_.Corrupt(page, "the index tree leads back to a page (a cycle)");
    JET_ASSIGN_OR_RETURN(IndexNode* node, Load(page));
    auto below = [&](const IndexEntry& e) { return e.Compare(target) < 0; };
    if (node->leaf) {
      auto at = std::partition_point(node->entries.begin(), node->entries.end(), below);
      path.push_back({node, static_cast<size_t>(at - node->entries.begin())});
      return &path;
    }
    // The first child whose subtree ends at or after the target; past every known end, the last
    // child (whose end, when it is the tail, the page does not store).
    auto last = node->entries.end() - 1;
    auto at = std::partition_point(node->entries.begin(), last, below);
    path.push_back({node, static_cast<size_t>(at - node->entries.begin())});
    page = at->child_page;
  }
  return pager_.Corrupt(index_.root_page, "the index tree is deeper than any real index (a cycle?)");
}

Result<const IndexEntry*> IndexTree::EntryBefore(IndexNode* leaf, size_t pos) {
  if (pos > 0) return &leaf->entries[pos - 1];
  // A chain longer than the file has pages can only be a cycle.
  for (uint32_t steps = 0, page = leaf->prev; page != 0; page = leaf->prev) {
    if (++steps > pager_.page_count()) return pager_.Corrupt(page, "the index's leaf pages link in a cycle");
    JET_ASSIGN_OR_RETURN(leaf, Load(page));
    if (!leaf->leaf) return pager_.Corrupt(page, "a leaf page's neighbour is not a leaf page");
    if (!leaf->entries.empty()) return &leaf->entries.back();
  }
  return nullptr;
}

Result<const IndexEntry*> IndexTree::EntryAt(IndexNode* leaf, size_t pos) {
  if (pos < leaf->entries.size()) return &leaf->entries[pos];
  for (uint32_t steps = 0, page = leaf->next; page != 0; page = leaf->next) {
    if (++steps > pager_.page_count()) return pager_.Corrupt(page, "the index's leaf pages link in a cycle");
    JET_ASSIGN_OR_RETURN(leaf, Load(page));
    if (!leaf->leaf) return pager_.Corrupt(page, "a leaf page's neighbour is not a leaf page");
    if (!leaf->entries.empty()) return &leaf->entries.front();
  }
  return nullptr;
}

Status IndexTree::ResolveLast(IndexNode* node, int depth) {
  if (node->leaf || node->last_known) return Status::Ok();
  if (depth > kMaxDepth) return pager_.Corrupt(node->number, "the index tree is deeper than any real index (a cycle?)");
  IndexEntry& last = node->entries.back();
  JET_ASSIGN_OR_RETURN(IndexNode* child, Load(last.child_page));
  if (child->entries.empty()) return pager_.Corrupt(child->number, "an index page below the root is empty");
  JET_RETURN_IF_ERROR(ResolveLast(child, depth + 1));
  const IndexEntry& end = child->entries.back();
  last.key = end.key;
  last.data_page = end.data_page;
  last.data_row = end.data_row;
  node->last_known = true;
  NoteEntryChanged(node, node->entries.size() - 1);
  return Status::Ok();
}

Result<IndexNode*> IndexTree::Allocate(bool leaf) {
  JET_ASSIGN_OR_RETURN(uint32_t page, AllocatePage(pager_));
  JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, index_.usage_map, page, true));
  auto node = std::make_unique<IndexNode>();
  node->number = page;
  node->leaf = leaf;
  node->dirty = true;
  IndexNode* result = node.get();
  nodes_.push_back(std::move(node));
  return result;
}

Status IndexTree::Release(IndexNode* node) {
  auto found = std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == node; });
  if (found == nodes_.end()) {
    return pager_.Corrupt(node->number, "an index page was given up twice");
  }
  // A cleared page cannot be mistaken for a live index page by anything that scans the file.
  JET_ASSIGN_OR_RETURN(uint8_t* bytes, pager_.MutablePage(node->number));
  std::memset(bytes, 0, pager_.page_size());
  JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, index_.usage_map, node->number, false));
  JET_RETURN_IF_ERROR(ReleasePage(pager_, node->number));
  node->dirty = false;
  released_.push_back(std::move(*found));
  nodes_.erase(found);
  return Status::Ok();
}

Status IndexTree::Flush() {
  // By position: encoding can load more nodes (ResolveLast), which arrive clean at the end.
  for (size_t i = 0; i < nodes_.size(); ++i) {
    IndexNode* node = nodes_[i].get();
    if (!node->dirty) continue;
    std::optional<uint32_t> in_place = SizeAfterInsertInPlace(*node);
    if (in_place && *in_place <= IndexPageCapacity(pager_.format())) {
      JET_RETURN_IF_ERROR(InsertIntoLeafPage(pager_, node->number, node->entries, node->inserted_at,
                                             node->encoded_prefix, node->encoded_size));
      node->encoded_size = *in_place;
      node->encoded_count = node->entries.size();
    } else {
      JET_RETURN_IF_ERROR(Encode(node));
    }
    node->dirty = false;
    node->inserted_at = IndexNode::kNone;
  }
  return Status::Ok();
}

Status IndexTree::Encode(IndexNode* node) {
  IndexPageImage image;
  image.leaf = node->leaf;
  image.owner = def_.page;
  image.prev = node->prev;
  image.next = node->next;
  image.ordered = node->ordered;
  if (!node->leaf && node->entries.empty()) {
    return pager_.Corrupt(node->number, "an intermediate index page was left without children");
  }
  if (!node->leaf && node->entries.size() == 1) JET_RETURN_IF_ERROR(ResolveLast(node));
  // The entries are lent to the image rather than copied (encoding is the writer's hot path),
  // and given back whatever the outcome.
  image.entries.swap(node->entries);
  std::optional<IndexEntry> tail_child;
  if (!node->leaf && image.entries.size() >= 2) {
    // The last child goes to the tail field and its entry is not stored.
    tail_child = std::move(image.entries.back());
    image.entries.pop_back();
    image.tail = tail_child->child_page;
  }
  Status written = WriteIndexPage(pager_, node->number, image);
  const size_t stored = image.entries.size();
  const uint32_t prefix = SharedKeyPrefix(image.entries, 0, stored);
  if (tail_child) image.entries.push_back(std::move(*tail_child));
  image.entries.swap(node->entries);
  JET_RETURN_IF_ERROR(written);
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager_.ReadPage(node->number));
  node->tail_on_page = image.tail != 0;
  node->ordered = true;
  node->encoded = true;
  node->encoded_count = stored;
  node->encoded_size = pager_.page_size() - pager_.format().index_entries_start - Get16(data + 2);
  node->encoded_prefix = prefix;
  node->encoded_prev = node->prev;
  node->encoded_next = node->next;
  return Status::Ok();
}

}  // namespace jet
