#include "jet/table/index_cursor.h"

#include <algorithm>
#include <atomic>

namespace jet {

namespace {

// Deeper trees than this cannot occur in a file of at most 2^24 pages; deeper means a cycle.
constexpr int kMaxDepth = 32;
constexpr size_t kKeptLeaves = 256;

std::atomic<uint64_t> entries_visited{0};
std::atomic<uint64_t> pages_decoded{0};

}  // namespace

IndexCursor::Counters IndexCursor::Totals() { return {entries_visited.load(), pages_decoded.load()}; }

bool IndexCursor::Land(bool on) {
  if (on) ++entries_visited;
  return on;
}

Result<IndexCursor::PageRef> IndexCursor::ReadOwnedPage(uint32_t page) {
  if (pager_.generation() != generation_) {  // pages may have changed: decode them afresh
    decoded_.clear();
    kept_leaves_ = 0;
    generation_ = pager_.generation();
  }
  auto found = decoded_.find(page);
  if (found != decoded_.end()) return found->second;
  // Every search opens the database afresh and walks the same few pages of an index: what
  // another handle of this process decoded from the same file serves again.
  const std::string key = "index page " + std::to_string(page);
  PageRef ref = pager_.SharedDecoded<IndexPage>(key);
  if (ref == nullptr) {
    ++pages_decoded;
    JET_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(pager_, page));
    ref = std::make_shared<const IndexPage>(std::move(p));
    pager_.ShareDecoded(key, ref, /*numerous=*/true);
  }
  if (ref->owner != owner_) {
    return pager_.Corrupt(page, "the index page belongs to table definition " + std::to_string(ref->owner) +
                                    ", not " + std::to_string(owner_));
  }
  if (ref->leaf() && ++kept_leaves_ > kKeptLeaves) {
    std::erase_if(decoded_, [](const auto& kept) { return kept.second->leaf(); });
    kept_leaves_ = 1;
  }
  decoded_.emplace(page, ref);
  return ref;
}

Result<IndexCursor::PageRef> IndexCursor::EdgeLeaf(bool leftmost) {
  uint32_t page = root_;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    JET_ASSIGN_OR_RETURN(PageRef ref, ReadOwnedPage(page));
    const IndexPage& p = *ref;
    if (p.leaf()) return ref;
    if (leftmost) {
      page = p.entries.empty() ? p.tail : p.entries.front().child_page;
    } else {
      page = p.tail != 0 ? p.tail : (p.entries.empty() ? 0 : p.entries.back().child_page);
    }
    if (page == 0) return pager_.Corrupt(p.number, "an intermediate index page has no children");
  }
  return pager_.Corrupt(root_, "the index tree is deeper than any real index (a cycle?)");
}

Result<bool> IndexCursor::StepLeaf(bool forward) {
  // A chain longer than the file has pages can only be a cycle.
  for (uint32_t steps = 0; steps <= pager_.page_count(); ++steps) {
    uint32_t page = forward ? leaf_->next : leaf_->prev;
    if (page == 0) return false;
    JET_ASSIGN_OR_RETURN(leaf_, ReadOwnedPage(page));
    if (!leaf_->leaf()) return pager_.Corrupt(page, "a leaf page's neighbour is not a leaf page");
    if (!leaf_->entries.empty()) {
      position_ = forward ? 0 : leaf_->entries.size() - 1;
      return true;
    }
  }
  return pager_.Corrupt(leaf_->number, "the index's leaf pages link in a cycle");
}

Result<bool> IndexCursor::Next() {
  if (state_ == State::kAfterLast) return false;
  if (state_ == State::kBeforeFirst) {
    JET_ASSIGN_OR_RETURN(leaf_, EdgeLeaf(true));
    if (!leaf_->entries.empty()) {
      position_ = 0;
      state_ = State::kOnEntry;
      return Land(true);
    }
  } else if (position_ + 1 < leaf_->entries.size()) {
    ++position_;
    return Land(true);
  }
  JET_ASSIGN_OR_RETURN(bool more, StepLeaf(true));
  state_ = more ? State::kOnEntry : State::kAfterLast;
  return Land(more);
}

Result<bool> IndexCursor::Prev() {
  if (state_ == State::kBeforeFirst) return false;
  if (state_ == State::kAfterLast) {
    JET_ASSIGN_OR_RETURN(leaf_, EdgeLeaf(false));
    if (!leaf_->entries.empty()) {
      position_ = leaf_->entries.size() - 1;
      state_ = State::kOnEntry;
      return Land(true);
    }
  } else if (position_ > 0) {
    --position_;
    return Land(true);
  }
  JET_ASSIGN_OR_RETURN(bool more, StepLeaf(false));
  state_ = more ? State::kOnEntry : State::kBeforeFirst;
  return Land(more);
}

template <typename Below>
Result<bool> IndexCursor::SeekFirstNotBelow(const Below& below) {
  uint32_t page = root_;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    JET_ASSIGN_OR_RETURN(PageRef ref, ReadOwnedPage(page));
    const IndexPage& p = *ref;
    // The first entry not below the target: on a leaf the answer, on an intermediate page the
    // child whose subtree ends at or after it.
    auto at_or_after = std::partition_point(p.entries.begin(), p.entries.end(), below);
    size_t i = static_cast<size_t>(at_or_after - p.entries.begin());
    if (p.leaf()) {
      leaf_ = ref;
      if (i < leaf_->entries.size()) {
        position_ = i;
        state_ = State::kOnEntry;
        return Land(true);
      }
      JET_ASSIGN_OR_RETURN(bool more, StepLeaf(true));
      state_ = more ? State::kOnEntry : State::kAfterLast;
      return Land(more);
    }
    page = i < p.entries.size() ? p.entries[i].child_page : p.tail;
    if (page == 0) {
      state_ = State::kAfterLast;
      return false;
    }
  }
  return pager_.Corrupt(root_, "the index tree is deeper than any real index (a cycle?)");
}

Result<bool> IndexCursor::SeekAtOrAfter(const std::string& key) {
  return SeekFirstNotBelow([&](const IndexEntry& e) { return CompareKeys(e.key, key) < 0; });
}

Result<bool> IndexCursor::SeekAtOrAfter(const std::string& key, RowId row) {
  return SeekFirstNotBelow([&](const IndexEntry& e) { return e.Compare(key, row.page, row.row) < 0; });
}

Result<bool> IndexCursor::SeekEqual(const std::string& key) {
  JET_ASSIGN_OR_RETURN(bool found, SeekAtOrAfter(key));
  return found && CompareKeys(entry().key, key) == 0;
}

}  // namespace jet
