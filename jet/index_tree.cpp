#include "jet/index_tree.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>

#include "jet/index_page_writer.h"
#include "jet/usage_map_writer.h"

namespace jet {

namespace {

// Deeper trees than this cannot occur in a file of at most 2^24 pages; deeper means a cycle.
constexpr int kMaxDepth = 32;

}  // namespace

std::unique_ptr<IndexNode> IndexNodeCache::Take(Pager& pager, uint32_t page) {
  auto found = kept_.find(page);
  if (found == kept_.end() || !found->second.node) return nullptr;
  auto data = pager.ReadPage(page);
  if (!data.ok() || std::memcmp(data.value(), found->second.bytes.data(), pager.page_size()) != 0) {
    kept_.erase(found);
    return nullptr;
  }
  found->second.node->as_kept = true;
  return std::move(found->second.node);
}

void IndexNodeCache::Keep(Pager& pager, std::unique_ptr<IndexNode> node) {
  Kept& kept = kept_[node->number];
  if (!node->as_kept || kept.bytes.empty()) {
    auto data = pager.ReadPage(node->number);
    if (!data.ok()) {
      kept_.erase(node->number);
      return;
    }
    kept.bytes.assign(data.value(), data.value() + pager.page_size());
  }
  // Exactly what decoding the page gives: the tail child's last entry is not on the page.
  if (!node->leaf && node->tail_on_page && !node->entries.empty()) {
    IndexEntry& tail = node->entries.back();
    tail.key.clear();
    tail.data_page = 0;
    tail.data_row = 0;
    node->last_known = false;
  }
  node->as_kept = false;
  kept.node = std::move(node);
}

IndexTree::~IndexTree() {
  if (cache_ == nullptr) return;
  // A node still dirty was never written (the change failed): its page does not hold it.
  for (auto& [page, node] : nodes_)
    if (!node->dirty) cache_->Keep(pager_, std::move(node));
}

Result<IndexNode*> IndexTree::Load(uint32_t page) {
  auto found = nodes_.find(page);
  if (found != nodes_.end()) return found->second.get();
  for (const auto& gone : released_) {
    if (gone->number == page) return pager_.Corrupt(page, "the index still links to a page it gave up");
  }
  if (cache_ != nullptr) {
    if (std::unique_ptr<IndexNode> kept = cache_->Take(pager_, page)) {
      IndexNode* result = kept.get();
      nodes_.emplace(page, std::move(kept));
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
  nodes_.emplace(page, std::move(node));
  return result;
}

Result<std::vector<PathStep>> IndexTree::Descend(const IndexEntry& target) {
  std::vector<PathStep> path;
  std::set<uint32_t> seen;
  uint32_t page = index_.root_page;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (!seen.insert(page).second) return pager_.Corrupt(page, "the index tree leads back to a page (a cycle)");
    JET_ASSIGN_OR_RETURN(IndexNode* node, Load(page));
    auto below = [&](const IndexEntry& e) { return e.Compare(target) < 0; };
    if (node->leaf) {
      auto at = std::partition_point(node->entries.begin(), node->entries.end(), below);
      path.push_back({node, static_cast<size_t>(at - node->entries.begin())});
      return path;
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
  nodes_[page] = std::move(node);
  return result;
}

Status IndexTree::Release(IndexNode* node) {
  auto found = nodes_.find(node->number);
  if (found == nodes_.end() || found->second.get() != node) {
    return pager_.Corrupt(node->number, "an index page was given up twice");
  }
  // A cleared page cannot be mistaken for a live index page by anything that scans the file.
  JET_ASSIGN_OR_RETURN(uint8_t* bytes, pager_.MutablePage(node->number));
  std::memset(bytes, 0, pager_.page_size());
  JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, index_.usage_map, node->number, false));
  JET_RETURN_IF_ERROR(ReleasePage(pager_, node->number));
  node->dirty = false;
  released_.push_back(std::move(found->second));
  nodes_.erase(found);
  return Status::Ok();
}

Status IndexTree::Flush() {
  std::vector<IndexNode*> changed;
  for (const auto& [page, node] : nodes_)
    if (node->dirty) changed.push_back(node.get());
  for (IndexNode* node : changed) {
    IndexPageImage image;
    image.leaf = node->leaf;
    image.owner = def_.page;
    image.prev = node->prev;
    image.next = node->next;
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
    if (tail_child) image.entries.push_back(std::move(*tail_child));
    image.entries.swap(node->entries);
    JET_RETURN_IF_ERROR(written);
    node->dirty = false;
    node->tail_on_page = image.tail != 0;
    node->as_kept = false;
  }
  return Status::Ok();
}

}  // namespace jet
