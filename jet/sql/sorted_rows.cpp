#include "jet/sql/sorted_rows.h"

#include <algorithm>
#include <atomic>
#include <unordered_map>
#include <mutex>
#include <bit>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "jet/pages/index_key.h"
#include "jet/pages/index_page.h"
#include "jet/sql/kept_texts.h"

namespace jet {

namespace {

constexpr uint32_t kNoRow = UINT32_MAX;

// Rows in the order of one sort column, each marked where it ties the row before on that column.
struct ColumnOrder {
  std::vector<uint32_t> rows;
  std::vector<bool> ties;  // ties[i]: rows[i] has the key of rows[i - 1]
};

// A set of rows of the folded texts, numbered in ascending order: the number of a row in the set
// costs a count of bits, so that what is kept per row of the set takes no room for the others.
class RowSubset {
 public:
  explicit RowSubset(size_t rows) : bits_((rows + 63) / 64) {}
  void Add(uint32_t r) { bits_[r / 64] |= uint64_t{1} << (r % 64); }
  bool Has(uint32_t r) const { return (bits_[r / 64] >> (r % 64) & 1) != 0; }
  // After the last Add.
  void Count() {
    before_.resize(bits_.size());
    for (size_t w = 0; w < bits_.size(); ++w) {
      before_[w] = count_;
      count_ += static_cast<uint32_t>(std::popcount(bits_[w]));
    }
  }
  uint32_t count() const { return count_; }
  uint32_t Slot(uint32_t r) const {
    return before_[r / 64] + static_cast<uint32_t>(std::popcount(bits_[r / 64] & ((uint64_t{1} << (r % 64)) - 1)));
  }
  std::vector<uint32_t> Rows() const {
    std::vector<uint32_t> rows;
    rows.reserve(count_);
    for (size_t w = 0; w < bits_.size(); ++w) {
      for (uint64_t b = bits_[w]; b != 0; b &= b - 1) rows.push_back(static_cast<uint32_t>(w * 64 + std::countr_zero(b)));
    }
    return rows;
  }

 private:
  std::vector<uint64_t> bits_;
  std::vector<uint32_t> before_;  // per word: the rows of the set in the words before it
  uint32_t count_ = 0;
};

// Finds a row of the folded texts by its place: the places ascend, so a page's rows are one
// stretch of them, found through a table of where each page's stretch begins. On a page whose
// stretch holds its slots 0, 1, 2, ... in turn (no row deleted), a slot is its row's offset in the
// stretch, and the places themselves are not read. The few moved rows are found by the slot their
// index entries name too (FoldedColumns::headers), a forwarding slot that holds no row, looked up
// apart where no row is found.
class PlaceLookup {
 public:
  explicit PlaceLookup(const FoldedColumns& folded) : places_(folded.places) {
    // A sorted list, not a hash map: made in every first search of a catalogue with thousands of
    // moved rows, the map took a millisecond.
    moved_.reserve(folded.headers.size());
    for (const auto& [row, header] : folded.headers) moved_.emplace_back(header, row);
    std::stable_sort(moved_.begin(), moved_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const uint32_t pages = places_.empty() ? 1 : (places_.back() >> 8) + 2;
    first_.resize(pages);
    size_t r = 0;
    for (uint32_t page = 0; page < pages;) {
      // Pages without rows (of other tables, or emptied) begin where the next row is.
      const uint32_t next_with_rows = r < places_.size() ? places_[r] >> 8 : pages;
      for (; page < next_with_rows && page < pages; ++page) first_[page] = static_cast<uint32_t>(r) | kDense;
      if (page == pages) break;
      const size_t begin = r;
      // A page holds at most 256 rows (a slot is a byte): its end is searched for among as many,
      // not stepped to row by row, which took a million steps on a million songs.
      const auto from = places_.begin() + static_cast<std::ptrdiff_t>(begin);
      const auto limit = places_.begin() + static_cast<std::ptrdiff_t>(std::min(places_.size(), begin + 257));
      r = static_cast<size_t>(std::lower_bound(from, limit, uint64_t{page + 1} << 8) - places_.begin());
      // Its slots ascend: the last is its count less one only when they are 0, 1, 2, ... in turn.
      const bool dense = (places_[r - 1] & 0xFF) == r - 1 - begin;
      first_[page++] = static_cast<uint32_t>(begin) | (dense ? kDense : 0);
    }
  }
  // The row at `place`; kNoRow when none is.
  uint32_t Find(RowId place) const {
    const uint32_t row = FindStored(place);
    if (row != kNoRow || moved_.empty()) return row;
    const uint32_t packed = place.page << 8 | place.row;
    const auto header = std::lower_bound(moved_.begin(), moved_.end(), std::make_pair(packed, uint32_t{0}),
                                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return header != moved_.end() && header->first == packed ? header->second : kNoRow;
  }

 private:
  // The row whose bytes lie at `place`; kNoRow when none does.
  uint32_t FindStored(RowId place) const {
    if (place.page + 1 >= first_.size()) return kNoRow;
    const uint32_t begin = first_[place.page] & ~kDense, end = first_[place.page + 1] & ~kDense;
    if ((first_[place.page] & kDense) != 0) return place.row < end - begin ? begin + place.row : kNoRow;
    const uint32_t packed = place.page << 8 | place.row;
    for (uint32_t r = begin; r < end; ++r) {
      if (places_[r] == packed) return r;
    }
    return kNoRow;
  }

  static constexpr uint32_t kDense = 0x80000000u;  // folded texts hold fewer rows than this
  const AdoptableVector<uint32_t>& places_;
  std::vector<uint32_t> first_;  // per page: its first row, or where it would be; kDense
  std::vector<std::pair<uint32_t, uint32_t>> moved_;  // a moved row's header and its row, by header
};

// The index on `column` alone that keys it in the sort's direction and holds every row.
const PhysicalIndex* IndexFor(const TableDef& def, const SortColumn& column) {
  for (const PhysicalIndex& index : def.physical_indexes) {
    if (index.columns.size() != 1 || index.ignore_nulls()) continue;
    const IndexKeyColumns key = KeyColumnsOf(def, index);
    if (key.positions.size() != 1 || key.positions[0] != column.column || key.columns[0].ascending != column.ascending) continue;
    const ColumnType type = key.columns[0].type;
    // Types whose keys the sort uses as they are, and whose key bytes order as their values.
    if (!IsKeyable(type) || type == ColumnType::kGuid || type == ColumnType::kBinary || type == ColumnType::kDecimal) continue;
    return &index;
  }
  return nullptr;
}

// Down the leftmost edge of the index to its first leaf, then along the leaves. Each page is read
// straight from the file and none is kept: a walk of every row of a large table would otherwise
// fill the cache with its index. The pages a walk visits are bounded, so that a chain that loops ends.
class LeafWalk {
 public:
  LeafWalk(const TableDef& def, const PhysicalIndex& index, size_t rows)
      : owner_(def.page), page_(index.root_page), most_(rows + 64) {}

  // The next leaf's entries into *leaf, read through `pager` (any handle on the file as it is);
  // false after the last one or when the pages do not make an index of this table (then
  // `broken` says so).
  Result<bool> Next(Pager& pager, std::vector<IndexEntryReader::LeafRow>* leaf) {
    bytes_.resize(pager.page_size());
    while (page_ != 0) {
      if (++visited_ > most_) break;
      JET_RETURN_IF_ERROR(pager.ReadRun(page_, 1, bytes_.data()));
      JET_RETURN_IF_ERROR(reader_.Start(pager, page_, bytes_.data()));
      if (reader_.page().owner != owner_) break;
      if (!reader_.page().leaf()) {
        JET_ASSIGN_OR_RETURN(bool any, reader_.Next());
        page_ = any ? reader_.child_page() : reader_.page().tail;
        continue;
      }
      JET_RETURN_IF_ERROR(reader_.LeafRows(leaf, leaves_ > 0, &last_));
      ++leaves_;
      page_ = reader_.page().next;
      return true;
    }
    broken_ = page_ != 0;
    page_ = 0;
    return false;
  }
  bool broken() const { return broken_; }

 private:
  uint32_t owner_;
  uint32_t page_;
  size_t most_, visited_ = 0, leaves_ = 0;
  bool broken_ = false;
  std::vector<uint8_t> bytes_;
  IndexEntryReader reader_;
  std::string last_;  // the key of the entry before the leaf's first
};

// `rows` (ascending) in the order of the keys of their folded texts of folded.columns[k]: a
// folded text sorts exactly as the text does, as folding keeps every weight of every character.
Result<ColumnOrder> KeyOrder(JetVersion version, const FoldedColumns& folded, size_t k, bool ascending,
                             const std::vector<uint32_t>& rows) {
  std::string keys;
  std::vector<size_t> ends;  // of each row's key in `keys`
  ends.reserve(rows.size());
  Value units = Text();
  for (uint32_t r : rows) {
    JET_RETURN_IF_ERROR(AppendFoldedKeyColumn(version, folded, r, k, ascending, &units, &keys));
    ends.push_back(keys.size());
  }
  const auto key = [&](uint32_t i) {
    const size_t begin = i == 0 ? 0 : ends[i - 1];
    return std::string_view(keys).substr(begin, ends[i] - begin);
  };
  std::vector<uint32_t> sorted(rows.size());
  std::iota(sorted.begin(), sorted.end(), 0u);
  std::stable_sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
  ColumnOrder order;
  order.rows.resize(rows.size());
  order.ties.resize(rows.size());
  for (size_t i = 0; i < sorted.size(); ++i) {
    order.rows[i] = rows[sorted[i]];
    order.ties[i] = i > 0 && key(sorted[i]) == key(sorted[i - 1]);
  }
  return order;
}

class Builder {
 public:
  Builder(Pager& pager, const TableDef& def, const FoldedColumns& folded) : pager_(pager), def_(def), folded_(folded) {}

  // The rows (of `subset`, else all) in `column`'s order, from the keys of its folded texts;
  // nullopt when it is not a Text column they hold.
  Result<std::optional<ColumnOrder>> Order(const SortColumn& column, const RowSubset* subset) {
    const auto k = std::find(folded_.columns.begin(), folded_.columns.end(), column.column);
    if (k == folded_.columns.end() || def_.columns[column.column].type != ColumnType::kText) return std::optional<ColumnOrder>();
    std::vector<uint32_t> rows;
    if (subset != nullptr) {
      rows = subset->Rows();
    } else {
      rows.resize(folded_.rows());
      std::iota(rows.begin(), rows.end(), 0u);
    }
    JET_ASSIGN_OR_RETURN(ColumnOrder order, KeyOrder(pager_.format().version, folded_, static_cast<size_t>(k - folded_.columns.begin()),
                                                     column.ascending, rows));
    return std::optional<ColumnOrder>(std::move(order));
  }

  // Puts each stretch of `order`'s rows that tie on its column in the order of `later` columns,
  // rows that tie on all of them in ascending order; false when a later column cannot be had.
  // Only the tied rows are ranked by the later columns: most rows differ on the first.
  Result<bool> OrderTies(ColumnOrder& order, const SortColumn* later, size_t later_count) {
    RowSubset tied(folded_.rows());
    for (size_t i = 1; i < order.rows.size(); ++i) {
      if (order.ties[i]) {
        tied.Add(order.rows[i - 1]);
        tied.Add(order.rows[i]);
      }
    }
    tied.Count();
    if (tied.count() == 0) return true;
    // Per later column, per tied row (by its number in `tied`): its rank among the tied rows.
    std::vector<std::vector<uint32_t>> ranks;
    for (size_t c = 0; c < later_count; ++c) {
      JET_ASSIGN_OR_RETURN(std::optional<ColumnOrder> by, Order(later[c], &tied));
      if (!by || by->rows.size() != tied.count()) return false;
      std::vector<uint32_t>& rank = ranks.emplace_back(tied.count());
      uint32_t at = 0;
      for (size_t i = 0; i < by->rows.size(); ++i) {
        if (i > 0 && !by->ties[i]) ++at;
        rank[tied.Slot(by->rows[i])] = at;
      }
    }
    SortStretches(tied, ranks, order);
    return true;
  }

 private:
  // Sorts each stretch of tied rows of `order` by `ranks` (per later column, per tied row by its
  // number in `tied`), rows equal on all of them in ascending order.
  static void SortStretches(const RowSubset& tied, const std::vector<std::vector<uint32_t>>& ranks, ColumnOrder& order) {
    // One later column, the usual case: a row's rank and the row itself make one number, which
    // sorts as the row does (numbers in `tied` ascend with the rows).
    std::vector<uint64_t> keyed;
    std::vector<std::pair<uint32_t, uint32_t>> stretch;  // (number in `tied`, row)
    const auto before = [&](const std::pair<uint32_t, uint32_t>& a, const std::pair<uint32_t, uint32_t>& b) {
      for (const std::vector<uint32_t>& rank : ranks) {
        if (rank[a.first] != rank[b.first]) return rank[a.first] < rank[b.first];
      }
      return a.first < b.first;
    };
    for (size_t begin = 0; begin < order.rows.size();) {
      size_t end = begin + 1;
      while (end < order.rows.size() && order.ties[end]) ++end;
      if (end - begin > 1 && ranks.size() == 1) {
        keyed.clear();
        for (size_t i = begin; i < end; ++i) keyed.push_back(uint64_t{ranks[0][tied.Slot(order.rows[i])]} << 32 | order.rows[i]);
        std::sort(keyed.begin(), keyed.end());
        for (size_t i = begin; i < end; ++i) order.rows[i] = static_cast<uint32_t>(keyed[i - begin]);
      } else if (end - begin > 1) {
        stretch.clear();
        for (size_t i = begin; i < end; ++i) stretch.emplace_back(tied.Slot(order.rows[i]), order.rows[i]);
        std::sort(stretch.begin(), stretch.end(), before);
        for (size_t i = begin; i < end; ++i) order.rows[i] = stretch[i - begin].second;
      }
      begin = end;
    }
  }

  Pager& pager_;
  const TableDef& def_;
  const FoldedColumns& folded_;
};

// The first column orders every row; the later ones only the rows that tie on the columns before.
Result<std::unique_ptr<SortedRows>> Build(Pager& pager, const TableDef& def, const std::shared_ptr<const FoldedColumns>& folded,
                                          const std::vector<SortColumn>& order_by) {
  auto order = std::make_unique<SortedRows>();
  order->folded = folded;
  order->order_by = order_by;
  Builder builder(pager, def, *folded);
  JET_ASSIGN_OR_RETURN(std::optional<ColumnOrder> first, builder.Order(order_by.front(), nullptr));
  bool usable = first.has_value();
  if (usable && order_by.size() > 1) {
    JET_ASSIGN_OR_RETURN(usable, builder.OrderTies(*first, order_by.data() + 1, order_by.size() - 1));
  }
  if (!usable) {
    order->usable = false;
    return order;
  }
  order->rows = std::move(first->rows);
  return order;
}

// Orders rows of folded texts as a built order does: by the keys of each sort column's folded
// texts in turn, then by row.
class KeyedRows {
 public:
  KeyedRows(JetVersion version, const FoldedColumns& folded, const std::vector<SortColumn>& order_by)
      : version_(version), folded_(folded), order_by_(order_by) {
    for (const SortColumn& c : order_by) {
      at_.push_back(static_cast<size_t>(std::find(folded.columns.begin(), folded.columns.end(), c.column) - folded.columns.begin()));
    }
  }
  Result<bool> Before(uint32_t a, uint32_t b) {
    for (size_t c = 0; c < at_.size(); ++c) {
      JET_RETURN_IF_ERROR(Key(a, c, &key_a_));
      JET_RETURN_IF_ERROR(Key(b, c, &key_b_));
      if (key_a_ != key_b_) return key_a_ < key_b_;
    }
    return a < b;
  }
  // Appends the keys of every sort column of `row`, in turn: keys of rows compare as Before does
  // until the rows themselves.
  Status AppendKeys(uint32_t row, std::string* key) {
    for (size_t c = 0; c < at_.size(); ++c) {
      JET_RETURN_IF_ERROR(Key(row, c, &key_a_));
      key->append(key_a_);
    }
    return Status::Ok();
  }

 private:
  Status Key(uint32_t row, size_t c, std::string* key) {
    key->clear();
    return AppendFoldedKeyColumn(version_, folded_, row, at_[c], order_by_[c].ascending, &text_, key);
  }

  JetVersion version_;
  const FoldedColumns& folded_;
  const std::vector<SortColumn>& order_by_;
  std::vector<size_t> at_;  // per sort column: its place in folded.columns
  Value text_ = Text();
  std::string key_a_, key_b_;
};

// Puts `rows` in the order of their keys (KeyedRows::AppendKeys), rows with equal keys ascending.
Status SortByKeys(KeyedRows& keyed, std::vector<uint32_t>& rows) {
  std::string keys;
  std::vector<size_t> ends;
  for (uint32_t r : rows) {
    JET_RETURN_IF_ERROR(keyed.AppendKeys(r, &keys));
    ends.push_back(keys.size());
  }
  std::vector<std::pair<std::string_view, uint32_t>> keyed_rows;
  for (size_t i = 0; i < rows.size(); ++i) {
    const size_t begin = i == 0 ? 0 : ends[i - 1];
    keyed_rows.emplace_back(std::string_view(keys).substr(begin, ends[i] - begin), rows[i]);
  }
  std::sort(keyed_rows.begin(), keyed_rows.end());
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = keyed_rows[i].second;
  return Status::Ok();
}

// The entries of an index as far as any search walked them, kept beside the folded texts while
// the file is as it is: a later search walks them again at the speed of memory and reads the
// index only past them, and what is kept grows only as far as searches read. Searches on other
// threads may walk them at once: entries are added under the lock, into chunks that never move,
// and are read up to the count published after them.
class WalkedIndex {
 public:
  static constexpr uint32_t kNewKey = 0x80000000u;  // on an entry whose key differs from the one before

  // `table_rows`: 0 when the texts hold every row of the table; else they hold some of its rows
  // (that many in all), and the entries of the others are passed over.
  WalkedIndex(std::shared_ptr<const FoldedColumns> texts, const TableDef& def, const PhysicalIndex& index, std::string column,
              size_t table_rows = 0)
      : folded(std::move(texts)), walk_(def, index, std::max(table_rows, folded->rows())), named_((folded->rows() + 63) / 64),
        chunks_(folded->rows() / kChunk + 1), column_(std::move(column)), some_rows_(table_rows != 0) {}

  // Entry i (i < a count Walked returned): its row, with kNewKey where a key begins.
  uint32_t At(size_t i) const { return chunks_[i / kChunk][i % kChunk]; }

  // The count of entries walked, more than `from` unless the index ends there; reads the next
  // leaf when no search went past `from` yet. An index that names a row the folded texts do not
  // hold, or one twice, or not every row, does not describe the table.
  Result<size_t> Walked(Pager& pager, size_t from) const {
    const size_t walked = walked_.load(std::memory_order_acquire);
    if (walked > from) return walked;
    std::lock_guard<std::mutex> lock(mutex_);
    while (walked_.load(std::memory_order_relaxed) <= from && !ended_) JET_RETURN_IF_ERROR(AddLeaf(pager));
    if (failed_ && walked_.load(std::memory_order_relaxed) <= from) return Mismatch();
    return walked_.load(std::memory_order_relaxed);
  }

  // The count of entries walked so far, by any walk.
  size_t WalkedSoFar() const { return walked_.load(std::memory_order_acquire); }

  // Every row of the entries [begin, end) of one key (walked already) in the order of `keyed`'s
  // keys, named `by`: made once and kept, for a key that many rows share.
  Result<std::shared_ptr<const std::vector<uint32_t>>> StretchOrder(size_t begin, size_t end, const std::string& by,
                                                                    KeyedRows& keyed) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<const std::vector<uint32_t>>& kept = stretches_[by + ":" + std::to_string(begin)];
    if (kept) return kept;
    std::vector<uint32_t> rows;
    for (size_t i = begin; i < end; ++i) rows.push_back(At(i) & ~kNewKey);
    JET_RETURN_IF_ERROR(SortByKeys(keyed, rows));
    kept = std::make_shared<const std::vector<uint32_t>>(std::move(rows));
    return kept;
  }

  const std::shared_ptr<const FoldedColumns> folded;

 private:
  static constexpr size_t kChunk = size_t{1} << 16;

  Error Mismatch() const {
    return Error(ErrorCode::kCorrupt,
                 "the index on column \"" + column_ + "\" does not list the table's rows as they are; compact and repair the catalogue");
  }

  // Under the lock.
  Status AddLeaf(Pager& pager) const {
    JET_ASSIGN_OR_RETURN(bool more, walk_.Next(pager, &leaf_));
    size_t walked = walked_.load(std::memory_order_relaxed);
    if (!more) {
      ended_ = true;
      failed_ = walk_.broken() || walked != folded->rows();
      return Status::Ok();
    }
    // Made by the first walk, not with the entries: a search that sorts its few matches never walks.
    if (!lookup_) lookup_.emplace(*folded);
    for (const IndexEntryReader::LeafRow& entry : leaf_) {
      const uint32_t r = lookup_->Find(RowId{entry.data_page, entry.data_row});
      if (r == kNoRow && some_rows_) {
        // A row the texts do not hold; where its key began, the next one held begins one.
        passed_new_key_ = passed_new_key_ || !entry.same_key;
        continue;
      }
      if (r == kNoRow || walked >= folded->rows() || (named_[r / 64] >> (r % 64) & 1) != 0) {
        ended_ = failed_ = true;
        break;
      }
      named_[r / 64] |= uint64_t{1} << (r % 64);
      if (!chunks_[walked / kChunk]) chunks_[walked / kChunk] = std::make_unique<uint32_t[]>(kChunk);
      chunks_[walked / kChunk][walked % kChunk] = r | (entry.same_key && !passed_new_key_ ? 0 : kNewKey);
      passed_new_key_ = false;
      ++walked;
    }
    walked_.store(walked, std::memory_order_release);
    return Status::Ok();
  }

  mutable std::optional<PlaceLookup> lookup_;  // under the lock
  mutable std::mutex mutex_;
  mutable LeafWalk walk_;
  mutable std::vector<IndexEntryReader::LeafRow> leaf_;
  mutable std::vector<uint64_t> named_;  // a bit per row named so far
  mutable std::vector<std::unique_ptr<uint32_t[]>> chunks_;
  mutable std::atomic<size_t> walked_{0};
  mutable bool ended_ = false, failed_ = false;
  mutable bool passed_new_key_ = false;  // an entry passed over began a key
  mutable std::unordered_map<std::string, std::shared_ptr<const std::vector<uint32_t>>> stretches_;  // by StretchOrder's `by` and `begin`
  const std::string column_;
  const bool some_rows_;  // the texts hold some of the table's rows, not all
};

// Walks the entries of the first ORDER BY column's index. The entries of one key are held until
// the next key begins; the wanted rows among them then go out in the order of the later columns'
// keys, rows whose keys are all equal in the order the folded texts hold them.
class IndexOrderWalk final : public OrderWalk {
 public:
  IndexOrderWalk(Pager& pager, std::shared_ptr<const WalkedIndex> index, std::vector<SortColumn> later)
      : pager_(pager), index_(std::move(index)), later_(std::move(later)), keyed_(pager.format().version, *index_->folded, later_) {
    for (const SortColumn& c : later_) by_ += std::to_string(c.column) + (c.ascending ? "+" : "-");
  }

  size_t AtHand() const override { return index_->WalkedSoFar(); }

  // Tests a batch at a time, as far as the caller reads: a search counts the matches it met to
  // judge whether to mark every row instead, so none is tested before it is wanted.
  Result<bool> Next(const Test& test, std::vector<uint32_t>* rows) override {
    const size_t before = rows->size();
    while (rows->size() == before && !done_) {
      if (at_ == walked_) {
        JET_ASSIGN_OR_RETURN(walked_, index_->Walked(pager_, at_));
        if (at_ == walked_) {
          done_ = true;
          JET_RETURN_IF_ERROR(CloseKey(at_, rows));
          break;
        }
      }
      // The rows of the batch after this one are named too, so that their texts are fetched ahead.
      const size_t seen = std::min(2 * kTestBatch, walked_ - at_), count = std::min(kTestBatch, seen);
      for (size_t i = 0; i < seen; ++i) batch_[i] = index_->At(at_ + i);
      for (size_t i = 0; i < seen; ++i) batch_rows_[i] = batch_[i] & ~WalkedIndex::kNewKey;
      test(batch_rows_, count, batch_rows_ + seen, wanted_);
      for (size_t i = 0; i < count; ++i) {
        if ((batch_[i] & WalkedIndex::kNewKey) != 0) {
          if (!group_.empty()) JET_RETURN_IF_ERROR(CloseKey(at_ + i, rows));
          key_begin_ = at_ + i;
        }
        if (wanted_[i] != 0) group_.push_back(batch_rows_[i]);
      }
      at_ += count;
    }
    return rows->size() > before;
  }

 private:
  // Wanted rows of one key past this many are put in order by the order of all the key's rows,
  // made once: the first titles of a catalogue (empty ones, say) can be shared by thousands.
  static constexpr size_t kManyWanted = 64;

  // Appends the wanted rows of the key whose entries end at `end`, in order.
  Status CloseKey(size_t end, std::vector<uint32_t>* rows) {
    if (group_.size() > kManyWanted && !later_.empty()) {
      JET_ASSIGN_OR_RETURN(std::shared_ptr<const std::vector<uint32_t>> all, index_->StretchOrder(key_begin_, end, by_, keyed_));
      std::sort(group_.begin(), group_.end());
      for (uint32_t r : *all) {
        if (std::binary_search(group_.begin(), group_.end(), r)) rows->push_back(r);
      }
    } else {
      if (group_.size() > 1) JET_RETURN_IF_ERROR(SortByKeys(keyed_, group_));
      rows->insert(rows->end(), group_.begin(), group_.end());
    }
    group_.clear();
    return Status::Ok();
  }

  Pager& pager_;
  std::shared_ptr<const WalkedIndex> index_;
  std::vector<SortColumn> later_;
  KeyedRows keyed_;  // by later_
  std::string by_;   // names later_
  size_t at_ = 0, walked_ = 0;  // entries of index_ tested, and walked
  size_t key_begin_ = 0;        // the first entry of the key being walked
  bool done_ = false;
  uint32_t batch_[2 * kTestBatch] = {}, batch_rows_[2 * kTestBatch] = {};
  uint8_t wanted_[kTestBatch] = {};
  std::vector<uint32_t> group_;  // the wanted rows of the key being walked
};

// The rows of `spliced` in `order`'s order; empty when `spliced` lacks one of its rows.
Result<std::vector<uint32_t>> Repaired(JetVersion version, const FoldedColumns& spliced, const std::vector<uint32_t>& changed,
                                       const OrderByPlaces& order) {
  const auto on_changed = [&](uint32_t place) { return std::binary_search(changed.begin(), changed.end(), place >> 8); };
  const PlaceLookup lookup(spliced);
  std::vector<uint32_t> kept;
  kept.reserve(spliced.rows());
  for (uint32_t place : order.places) {
    if (on_changed(place)) continue;
    const uint32_t r = lookup.Find(RowId{place >> 8, static_cast<uint8_t>(place & 0xFF)});
    if (r == kNoRow) return std::vector<uint32_t>();
    kept.push_back(r);
  }
  std::vector<uint32_t> fresh;
  for (uint32_t r = 0; r < spliced.rows(); ++r) {
    if (on_changed(spliced.places[r])) fresh.push_back(r);
  }
  if (kept.size() + fresh.size() != spliced.rows()) return std::vector<uint32_t>();
  KeyedRows keyed(version, spliced, order.order_by);
  JET_RETURN_IF_ERROR(SortByKeys(keyed, fresh));
  Status failed = Status::Ok();
  const auto before = [&](uint32_t a, uint32_t b) {
    Result<bool> is = keyed.Before(a, b);
    if (!is.ok() && failed.ok()) failed = is.error();
    return is.ok() && is.value();
  };
  // Each fresh row goes before the first kept row it sorts before.
  std::vector<uint32_t> rows;
  rows.reserve(spliced.rows());
  auto from = kept.begin();
  for (uint32_t f : fresh) {
    const auto to = std::upper_bound(from, kept.end(), f, before);
    rows.insert(rows.end(), from, to);
    rows.push_back(f);
    from = to;
  }
  rows.insert(rows.end(), from, kept.end());
  JET_RETURN_IF_ERROR(failed);
  return rows;
}

}  // namespace

bool OrdersByWalking(const TableDef& def, const std::vector<size_t>& columns, const std::vector<SortColumn>& order_by) {
  if (order_by.empty() || IndexFor(def, order_by.front()) == nullptr) return false;
  return std::all_of(order_by.begin() + 1, order_by.end(), [&](const SortColumn& c) {
    return def.columns[c.column].type == ColumnType::kText && std::find(columns.begin(), columns.end(), c.column) != columns.end();
  });
}

std::unique_ptr<OrderWalk> WalkInOrder(Pager& pager, const TableDef& def, std::shared_ptr<const FoldedColumns> folded,
                                       const std::vector<SortColumn>& order_by) {
  if (!folded->places_ascending || !OrdersByWalking(def, folded->columns, order_by)) return nullptr;
  const PhysicalIndex* index = IndexFor(def, order_by.front());
  if (folded->table_rows != 0) {
    // Made for these texts alone: no other search holds them.
    auto walked = std::make_shared<const WalkedIndex>(folded, def, *index, def.columns[order_by.front().column].name, folded->table_rows);
    return std::make_unique<IndexOrderWalk>(pager, std::move(walked), std::vector<SortColumn>(order_by.begin() + 1, order_by.end()));
  }
  const std::string key = "walked-index:" + FoldedColumnsKey(def.page, folded->columns) + ":" + std::to_string(index->root_page);
  std::shared_ptr<const WalkedIndex> walked = pager.SharedDecoded<WalkedIndex>(key);
  if (!walked || walked->folded != folded) {
    walked = std::make_shared<const WalkedIndex>(folded, def, *index, def.columns[order_by.front().column].name);
    pager.ShareDecoded<WalkedIndex>(key, walked);
  }
  return std::make_unique<IndexOrderWalk>(pager, std::move(walked), std::vector<SortColumn>(order_by.begin() + 1, order_by.end()));
}

std::vector<OrderByPlaces> TakeOrdersByPlaces(const Pager& pager, uint32_t table_page, const FoldedColumns& folded) {
  std::vector<OrderByPlaces> orders;
  for (auto& [key, kept] : pager.TakeCarriedUnder<const SortedRows>(SortedRowsKeyPrefix(table_page, folded.columns))) {
    if (!kept->usable || kept->folded.get() != &folded) continue;
    OrderByPlaces& order = orders.emplace_back(OrderByPlaces{key, kept->order_by, {}});
    order.places.reserve(kept->rows.size());
    for (uint32_t r : kept->rows) order.places.push_back(folded.places[r]);
  }
  return orders;
}

Status CarryRepairedOrders(const Pager& pager, const TableDef& def, const std::shared_ptr<const FoldedColumns>& spliced,
                           const std::vector<uint32_t>& changed, std::vector<OrderByPlaces> orders) {
  if (!spliced->places_ascending) return Status::Ok();
  for (OrderByPlaces& order : orders) {
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> rows, Repaired(pager.format().version, *spliced, changed, order));
    order.places = std::vector<uint32_t>();
    if (rows.empty() && spliced->rows() != 0) continue;
    auto repaired = std::make_shared<SortedRows>();
    repaired->folded = spliced;
    repaired->order_by = std::move(order.order_by);
    repaired->rows = std::move(rows);
    pager.Carry(order.key, std::shared_ptr<const SortedRows>(std::move(repaired)));
  }
  return Status::Ok();
}

std::string SortedRowsKey(uint32_t table_page, const std::vector<size_t>& columns, const std::vector<SortColumn>& order_by) {
  std::string key = SortedRowsKeyPrefix(table_page, columns);
  for (const SortColumn& c : order_by) key += std::to_string(c.column) + (c.ascending ? "+" : "-");
  return key;
}

Result<std::shared_ptr<const SortedRows>> SortedRowsOf(Pager& pager, const TableDef& def,
                                                       const std::shared_ptr<const FoldedColumns>& folded,
                                                       const std::vector<SortColumn>& order_by, bool build) {
  if (order_by.empty() || !folded->places_ascending) return std::shared_ptr<const SortedRows>();
  const std::string key = SortedRowsKey(def.page, folded->columns, order_by);
  std::shared_ptr<const SortedRows> kept = pager.SharedDecoded<SortedRows>(key);
  if (!kept || kept->folded != folded) {
    // The same rows at the same places with the same texts are put in the same order: an order
    // made for folded texts that the file's next state left as they were (the very same ones)
    // still holds, when only those texts order the rows.
    const bool by_texts = std::all_of(order_by.begin(), order_by.end(), [&](const SortColumn& c) {
      return def.columns[c.column].type == ColumnType::kText &&
             std::find(folded->columns.begin(), folded->columns.end(), c.column) != folded->columns.end();
    });
    std::shared_ptr<const SortedRows> carried = by_texts ? pager.TakeCarried<const SortedRows>(key) : nullptr;
    if (carried && carried->folded == folded) {
      kept = std::move(carried);
    } else {
      carried.reset();
      if (!build) return std::shared_ptr<const SortedRows>();
      JET_ASSIGN_OR_RETURN(std::unique_ptr<SortedRows> built, Build(pager, def, folded, order_by));
      if (by_texts) KeepOrder(pager, def, key, *built);
      kept = std::move(built);
    }
    pager.ShareDecoded<SortedRows>(key, kept);
    if (by_texts) pager.Carry(key, kept);
  }
  return kept->usable ? kept : nullptr;
}

}  // namespace jet
