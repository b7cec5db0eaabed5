#include "jet/index_entry_cursor.h"

#include <algorithm>

namespace jet {

namespace {

// Deeper trees than this cannot occur in a file of at most 2^24 pages; deeper means a cycle.
constexpr int kMaxDepth = 32;

}  // namespace

std::atomic<uint64_t> IndexEntryCursor::entries_visited_{0};
std::atomic<uint64_t> IndexEntryCursor::pages_read_{0};

IndexEntryCursor::Counters IndexEntryCursor::Totals() { return {entries_visited_.load(), pages_read_.load()}; }

Result<IndexEntryCursor::PageRef> IndexEntryCursor::ReadOwnedPage(uint32_t page) {
  auto kept = upper_pages_.find(page);
  if (kept != upper_pages_.end()) return kept->second;
  ++pages_read_;
  JET_ASSIGN_OR_RETURN(IndexPage decoded, ReadIndexPage(pager_, page));
  if (decoded.owner != owner_) {
    return pager_.Corrupt(page, "the index page belongs to table definition " + std::to_string(decoded.owner) +
                                    ", not " + std::to_string(owner_));
  }
  PageRef ref = std::make_shared<const IndexPage>(std::move(decoded));
  if (!ref->leaf()) upper_pages_.emplace(page, ref);
  return ref;
}

Result<IndexEntryCursor::PageRef> IndexEntryCursor::DescendTo(const IndexEntry* target, bool leftmost) {
  uint32_t page = root_;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    JET_ASSIGN_OR_RETURN(PageRef ref, ReadOwnedPage(page));
    const IndexPage& p = *ref;
    if (p.leaf()) return ref;
    if (target != nullptr) {
      // The first child whose subtree ends at or after the target; past the last entry, the tail.
      auto child = std::partition_point(p.entries.begin(), p.entries.end(),
                                        [&](const IndexEntry& e) { return e.Compare(*target) < 0; });
      page = child != p.entries.end() ? child->child_page : p.tail;
      if (page == 0 && !p.entries.empty()) page = p.entries.back().child_page;  // no tail: the last child
    } else if (leftmost) {
      page = p.entries.empty() ? p.tail : p.entries.front().child_page;
    } else {
      page = p.tail != 0 ? p.tail : (p.entries.empty() ? 0 : p.entries.back().child_page);
    }
    if (page == 0) return pager_.Corrupt(p.number, "an intermediate index page has no children");
  }
  return pager_.Corrupt(root_, "the index tree is deeper than any real index (a cycle?)");
}

Result<bool> IndexEntryCursor::StepLeaf(bool forward) {
  // A chain longer than the file has pages can only be a cycle.
  for (uint32_t steps = 0; steps <= pager_.page_count(); ++steps) {
    const uint32_t page = forward ? leaf_->next : leaf_->prev;
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

bool IndexEntryCursor::Land(bool on) {
  if (on) ++entries_visited_;
  return on;
}

Result<bool> IndexEntryCursor::First() {
  JET_ASSIGN_OR_RETURN(leaf_, DescendTo(nullptr, true));
  position_ = 0;
  bool on = !leaf_->entries.empty();
  if (!on) {
    JET_ASSIGN_OR_RETURN(on, StepLeaf(true));
  }
  state_ = on ? State::kOnEntry : State::kAfterLast;
  return Land(on);
}

Result<bool> IndexEntryCursor::Last() {
  JET_ASSIGN_OR_RETURN(leaf_, DescendTo(nullptr, false));
  bool on = !leaf_->entries.empty();
  if (on) position_ = leaf_->entries.size() - 1;
  if (!on) {
    JET_ASSIGN_OR_RETURN(on, StepLeaf(false));
  }
  state_ = on ? State::kOnEntry : State::kBeforeFirst;
  return Land(on);
}

Result<bool> IndexEntryCursor::Next() {
  if (state_ == State::kBeforeFirst) return First();
  if (state_ == State::kAfterLast) return false;
  if (position_ + 1 < leaf_->entries.size()) {
    ++position_;
    return Land(true);
  }
  JET_ASSIGN_OR_RETURN(bool on, StepLeaf(true));
  state_ = on ? State::kOnEntry : State::kAfterLast;
  return Land(on);
}

Result<bool> IndexEntryCursor::Prev() {
  if (state_ == State::kAfterLast) return Last();
  if (state_ == State::kBeforeFirst) return false;
  if (position_ > 0) {
    --position_;
    return Land(true);
  }
  JET_ASSIGN_OR_RETURN(bool on, StepLeaf(false));
  state_ = on ? State::kOnEntry : State::kBeforeFirst;
  return Land(on);
}

Result<bool> IndexEntryCursor::SeekAtOrAfter(const std::string& key, RowId row) {
  IndexEntry target;
  target.key = key;
  target.data_page = row.page;
  target.data_row = row.row;
  JET_ASSIGN_OR_RETURN(leaf_, DescendTo(&target, true));
  auto at = std::partition_point(leaf_->entries.begin(), leaf_->entries.end(),
                                 [&](const IndexEntry& e) { return e.Compare(target) < 0; });
  position_ = static_cast<size_t>(at - leaf_->entries.begin());
  bool on = position_ < leaf_->entries.size();
  if (!on) {
    JET_ASSIGN_OR_RETURN(on, StepLeaf(true));
  }
  state_ = on ? State::kOnEntry : State::kAfterLast;
  return Land(on);
}

}  // namespace jet
