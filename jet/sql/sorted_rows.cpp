#include "jet/sql/sorted_rows.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>

#include "jet/pages/index_key.h"
#include "jet/pages/index_page.h"

namespace jet {

namespace {

constexpr uint32_t kNoRank = UINT32_MAX;

// Per row of the folded texts, the place of its key among the column's distinct keys: rows with
// equal keys share a rank, and ranks grow with the keys.
struct Ranks {
  std::vector<uint32_t> of_row;
  uint32_t count = 0;  // distinct keys
};

// Finds a row of the folded texts by its place: the places ascend, so a page's rows are one
// stretch of them, found through a table of where each page's stretch begins.
class PlaceLookup {
 public:
  explicit PlaceLookup(const FoldedColumns& folded) : places_(folded.places) {
    const uint32_t pages = places_.empty() ? 1 : (places_.back() >> 8) + 2;
    first_.resize(pages);
    size_t r = 0;
    for (uint32_t page = 0; page < pages; ++page) {
      while (r < places_.size() && places_[r] >> 8 < page) ++r;
      first_[page] = static_cast<uint32_t>(r);
    }
  }
  // The row at `place`; kNoRank when none is.
  uint32_t Find(RowId place) const {
    if (place.page + 1 >= first_.size()) return kNoRank;
    const uint32_t packed = place.page << 8 | place.row;
    for (uint32_t r = first_[place.page]; r < first_[place.page + 1]; ++r) {
      if (places_[r] == packed) return r;
    }
    return kNoRank;
  }

 private:
  const std::vector<uint32_t>& places_;
  std::vector<uint32_t> first_;  // per page: its first row, or where it would be
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

// The ranks from the walk of `index`'s leaves; nullopt when its entries do not name every row
// exactly once (then the keys are made instead). Each page is read straight from the file and
// none is kept: ranking every row of a large table would otherwise fill the cache with its index.
Result<std::optional<Ranks>> IndexRanks(Pager& pager, const TableDef& def, const PhysicalIndex& index,
                                        const FoldedColumns& folded, const PlaceLookup& lookup) {
  Ranks ranks;
  ranks.of_row.assign(folded.rows(), kNoRank);
  std::vector<uint8_t> bytes(pager.page_size());
  std::string last;
  size_t named = 0;
  // Down the leftmost edge to the first leaf, then along the leaves; the pages a walk may visit
  // are bounded, so that a chain that loops ends.
  uint32_t page = index.root_page;
  for (size_t visited = 0; page != 0; ++visited) {
    if (visited > folded.rows() + 64) return std::optional<Ranks>();
    JET_RETURN_IF_ERROR(pager.ReadRun(page, 1, bytes.data()));
    JET_ASSIGN_OR_RETURN(IndexPage read, DecodeIndexPage(pager, page, bytes.data()));
    if (read.owner != def.page) return std::optional<Ranks>();
    if (!read.leaf()) {
      page = read.entries.empty() ? read.tail : read.entries.front().child_page;
      continue;
    }
    for (const IndexEntry& entry : read.entries) {
      if (named == 0 || entry.key != last) {
        ++ranks.count;
        last = entry.key;
      }
      const uint32_t r = lookup.Find(RowId{entry.data_page, entry.data_row});
      if (r == kNoRank || ++named > folded.rows()) return std::optional<Ranks>();
      ranks.of_row[r] = ranks.count - 1;
    }
    page = read.next;
  }
  // As many entries as rows, each naming a row: every row has its rank unless one was named twice.
  if (named != folded.rows() || std::find(ranks.of_row.begin(), ranks.of_row.end(), kNoRank) != ranks.of_row.end()) {
    return std::optional<Ranks>();
  }
  return std::optional<Ranks>(std::move(ranks));
}

// The ranks from the keys of the folded texts of folded.columns[k]: a folded text sorts exactly
// as the text does, as folding keeps every weight of every character.
Result<Ranks> KeyRanks(JetVersion version, const FoldedColumns& folded, size_t k, bool ascending) {
  std::string keys;
  std::vector<size_t> ends;  // of each row's key in `keys`
  ends.reserve(folded.rows());
  Value text = Text();
  const Value null = Null{};
  for (size_t r = 0; r < folded.rows(); ++r) {
    if (!folded.Null(r, k)) FoldedUnitsOf(folded.Text(r, k), &std::get<Text>(text));
    JET_RETURN_IF_ERROR(AppendKeyColumn(version, KeyColumn{ColumnType::kText, ascending}, folded.Null(r, k) ? null : text, &keys));
    ends.push_back(keys.size());
  }
  const auto key = [&](uint32_t r) {
    const size_t begin = r == 0 ? 0 : ends[r - 1];
    return std::string_view(keys).substr(begin, ends[r] - begin);
  };
  std::vector<uint32_t> sorted(folded.rows());
  std::iota(sorted.begin(), sorted.end(), 0u);
  std::sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
  Ranks ranks;
  ranks.of_row.resize(folded.rows());
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i == 0 || key(sorted[i]) != key(sorted[i - 1])) ++ranks.count;
    ranks.of_row[sorted[i]] = ranks.count - 1;
  }
  return ranks;
}

// Puts `rows` in the order of their ranks, keeping the order of rows with equal ranks.
void SortByRank(const Ranks& ranks, std::vector<uint32_t>* rows) {
  std::vector<uint32_t> starts(size_t{ranks.count} + 1, 0);
  for (uint32_t r : *rows) ++starts[ranks.of_row[r] + 1];
  std::partial_sum(starts.begin(), starts.end(), starts.begin());
  std::vector<uint32_t> out(rows->size());
  for (uint32_t r : *rows) out[starts[ranks.of_row[r]]++] = r;
  rows->swap(out);
}

Result<std::unique_ptr<SortedRows>> Build(Pager& pager, const TableDef& def, const std::shared_ptr<const FoldedColumns>& folded,
                                        const std::vector<SortColumn>& order_by) {
  auto order = std::make_unique<SortedRows>();
  order->folded = folded;
  order->rows.resize(folded->rows());
  std::iota(order->rows.begin(), order->rows.end(), 0u);
  std::optional<PlaceLookup> lookup;
  // The last column first: each pass keeps the order of rows its column ties.
  for (auto c = order_by.rbegin(); c != order_by.rend(); ++c) {
    std::optional<Ranks> ranks;
    if (const PhysicalIndex* index = IndexFor(def, *c)) {
      if (!lookup) lookup.emplace(*folded);
      JET_ASSIGN_OR_RETURN(ranks, IndexRanks(pager, def, *index, *folded, *lookup));
    }
    if (!ranks) {
      const auto k = std::find(folded->columns.begin(), folded->columns.end(), c->column);
      if (k == folded->columns.end() || def.columns[c->column].type != ColumnType::kText) {
        order->rows.clear();
        order->usable = false;
        return order;
      }
      JET_ASSIGN_OR_RETURN(ranks, KeyRanks(pager.format().version, *folded, static_cast<size_t>(k - folded->columns.begin()), c->ascending));
    }
    SortByRank(*ranks, &order->rows);
  }
  return order;
}

}  // namespace

Result<std::shared_ptr<const SortedRows>> SortedRowsOf(Pager& pager, const TableDef& def,
                                                       const std::shared_ptr<const FoldedColumns>& folded,
                                                       const std::vector<SortColumn>& order_by, bool build) {
  if (order_by.empty() || folded->moved_rows || !folded->places_ascending) return std::shared_ptr<const SortedRows>();
  std::string key = "sorted-rows:" + std::to_string(def.page);
  for (size_t c : folded->columns) key += "," + std::to_string(c);
  key += ":";
  for (const SortColumn& c : order_by) key += std::to_string(c.column) + (c.ascending ? "+" : "-");
  std::shared_ptr<const SortedRows> kept = pager.SharedDecoded<SortedRows>(key);
  if (!kept || kept->folded != folded) {
    if (!build) return std::shared_ptr<const SortedRows>();
    JET_ASSIGN_OR_RETURN(std::unique_ptr<SortedRows> built, Build(pager, def, folded, order_by));
    kept = std::move(built);
    pager.ShareDecoded<SortedRows>(key, kept);
  }
  return kept->usable ? kept : nullptr;
}

}  // namespace jet
