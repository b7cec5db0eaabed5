#include "jet/sql/sql_select.h"

#include <algorithm>
#include <numeric>
#include <bit>
#include <cstring>
#include <string_view>
#include <utility>

#include "jet/pages/data_page.h"
#include "jet/pages/index_key.h"
#include "jet/sql/sql_lexer.h"
#include "jet/sql/folded_search.h"
#include "jet/sql/sorted_rows.h"
#include "jet/sql/sql_like.h"
#include "jet/sql/text_presence.h"
#include "jet/table/index_cursor.h"

namespace jet {

namespace {

// The index-key type a sort column's values are keyed as; the keys order exactly as Access
// sorts. kOle stands for "cannot be sorted".
ColumnType SortKeyType(ColumnType type) {
  switch (type) {
    case ColumnType::kMemo: return ColumnType::kText;  // only the first 255 characters count
    case ColumnType::kDecimal: return ColumnType::kDouble;
    case ColumnType::kComplex: return ColumnType::kLong;
    case ColumnType::kBinary:
    case ColumnType::kOle:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: return ColumnType::kOle;
    default: return type;
  }
}

}  // namespace

// One lookup of the name, by the catalogue's rule; a missing table is told at its place in the
// statement.
Result<TableDef> ReadStatementTable(Database& db, const NameRef& table, const std::string& sql) {
  Result<TableDef> def = db.ReadTable(table.name);
  if (!def.ok() && def.error().code() == ErrorCode::kNotFound && db.FindTable(table.name) == nullptr) {
    return SqlError(ErrorCode::kNotFound, "unknown table \"" + table.name + "\"", sql, table.offset, table.token);
  }
  return def;
}

SelectCursor::SelectCursor(Database& db, std::string sql, TableDef def)
    : db_(db), sql_(std::move(sql)), def_(std::move(def)) {}

SelectCursor::~SelectCursor() {
  source_.reset();
  if (!fold_later_) return;
  // The rows a first search read along the index left their pages kept, tens of megabytes for a
  // common word on a million songs, that the searches after it, answered from the folded texts,
  // hardly read again: they go before the whole texts are folded, so that the two are not held
  // at once (a process searching twice peaked at 77-87 MB so, 57-58 without them).
  db_.pager().ForgetSharedPages();
  fold_later_();
}

Status SelectCursor::Prepare(const SelectStatement& statement, SelectOptions options) {
  for (const NameRef& name : statement.columns) {
    JET_ASSIGN_OR_RETURN(size_t column, ResolveColumn(def_, name, sql_));
    selected_.push_back(column);
  }
  if (statement.columns.empty()) {
    for (size_t i = 0; i < def_.columns.size(); ++i) selected_.push_back(i);
  }
  for (size_t column : selected_) {
    columns_.push_back(def_.columns[column]);
    names_.push_back(def_.columns[column].name);
  }
  for (const OrderTerm& term : statement.order_by) {
    JET_ASSIGN_OR_RETURN(size_t column, ResolveColumn(def_, term.column, sql_));
    if (SortKeyType(def_.columns[column].type) == ColumnType::kOle) {
      return SqlError(ErrorCode::kInvalidArgument, std::string("cannot sort by a ") + ColumnTypeName(def_.columns[column].type) +
                      " column", sql_, term.column.offset, term.column.token);
    }
    order_.push_back(SortColumn{column, term.ascending});
  }
  std::unique_ptr<Expr> where = statement.where ? statement.where->Clone() : nullptr;
  if (where) {
    JET_RETURN_IF_ERROR(BindColumns(def_, sql_, where.get()));
    JET_ASSIGN_OR_RETURN(condition_, Condition::Compile(*where, def_, db_.version(), sql_));
  }
  plan_ = ChoosePlan(def_, db_.version(), where.get(), order_, options.use_indexes);
  plan_text_ = DescribePlan(def_, plan_);
  row_ = std::make_unique<LazyRow>(db_.pager(), def_);
  values_.resize(selected_.size());
  walk_budget_ = options.walk_budget > 0 ? options.walk_budget
                                         : std::max<uint64_t>(kDefaultWalkBudget, def_.row_count / 12);
  // Inside a write the texts would be folded afresh for every statement: rows are read instead.
  if (options.use_folded_texts && condition_ && !db_.pager().in_write()) {
    JET_RETURN_IF_ERROR(PrepareFolded());
    if (prefiltered_) return Status::Ok();
  }
  if (plan_.use_index) {
    JET_ASSIGN_OR_RETURN(source_, OpenIndexWalk(db_.pager(), def_, plan_.walk));
  } else {
    JET_ASSIGN_OR_RETURN(source_, OpenScan(db_.pager(), def_, ScanPageTest()));
  }
  return Status::Ok();
}

namespace {

// The rows at the given places, in that order.
class PlacesSource final : public RowSource {
 public:
  PlacesSource(Pager& pager, std::vector<RowId> places) : pager_(pager), places_(std::move(places)) {}
  Result<bool> Next(LazyRow* row) override {
    if (next_ == places_.size()) return false;
    const RowId id = places_[next_++];
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(pager_, id.page, id.row));
    JET_RETURN_IF_ERROR(row->Load(id, slot));
    ++rows_read_;
    return true;
  }

 private:
  Pager& pager_;
  std::vector<RowId> places_;
  size_t next_ = 0;
};

// What the ways of finding matches cost, in nanoseconds, as measured on 100,000 and 1,000,000
// songs (whose folded texts are streamed at the speed of memory either way).
// Marking a row: one pass over every row's folded texts.
constexpr double kMarkCost = 1.2;
// Marking a row that matches, on top: a text found costs more than bytes passed over.
constexpr double kMatchCost = 20;
// Testing a row met out of storage order, its memory fetched ahead.
constexpr double kTestCost = 22;
// Walking the kept order past a row once every row is marked: reading its mark.
constexpr double kWalkCost = 1.2;
// Walking the index of the first sort column past an entry, as kept from the walks before: its
// row's mark, and its key's stretch ended (the first walk, reading the index, costs more).
constexpr double kIndexWalkCost = 6;
// Walking the index past an entry no walk before reached, on top: reading its leaf from the file
// and finding its row (as measured on the first search of 1,000,000 songs).
constexpr double kFirstIndexWalkCost = 40;
// Sorting a match by its folded texts: making its key and placing it among the others.
constexpr double kSortCost = 500;
// The matches a search is expected to read: what it keeps (a thousand) and a few more.
constexpr uint64_t kExpected = 1024;

// Whether sorting `matches` of `rows` costs less than walking the kept order past the marks for
// as many of them as a search reads: until the end when it reads them all, else (the matches
// spread evenly, as most words' are) as far as its share of them lies; past the first `at_hand`
// rows, an index walk reads the index first.
bool SortPays(double matches, double rows, double walk_cost, double at_hand) {
  const double walked = matches <= kExpected ? rows : rows * kExpected / matches;
  return matches * kSortCost <= walked * walk_cost + std::max(0.0, walked - at_hand) * kFirstIndexWalkCost;
}

// The share of rows `search` matches, by kSample rows spread evenly over the table; half a match
// is added, so that a word the sample misses is taken to be rare rather than absent.
constexpr size_t kSample = 1024;
double SampledShare(const FoldedSearch& search, const FoldedColumns& folded) {
  constexpr size_t kBatch = 32;
  const size_t n = folded.rows(), count = std::min(kSample, n);
  std::vector<uint32_t> rows(count);
  for (size_t i = 0; i < count; ++i) rows[i] = static_cast<uint32_t>(i * n / count);
  uint8_t verdicts[kBatch];
  uint64_t found = 0;
  for (size_t at = 0; at < count; at += kBatch) {
    const size_t size = std::min(kBatch, count - at);
    search.MatchRows(folded, rows.data() + at, size, rows.data() + count, verdicts);
    for (size_t i = 0; i < size; ++i) found += verdicts[i];
  }
  return (static_cast<double>(found) + 0.5) / (static_cast<double>(count) + 1);
}

// The matching rows in an ORDER BY's order: a kept order of every row, or a walk along the index
// on its first column. Rows are tested a batch at a time as the walk meets them while matches
// come often; when they come rarely, every row is marked at once (at the speed of memory) and the
// walk goes on reading marks. The walk takes whichever costs less for what a search reads, so
// that its cost grows smoothly with the matches, and stops where the caller does.
class OrderedMatches final : public RowSource {
 public:
  // `order` or else `walk` gives the order. `marked`: every row's mark, when they were marked
  // already; else empty. `share`: of rows matching, by SampledShare, when sampled already; else negative.
  OrderedMatches(Pager& pager, std::shared_ptr<const FoldedColumns> folded, std::shared_ptr<const SortedRows> order,
                 std::unique_ptr<OrderWalk> walk, std::unique_ptr<FoldedSearch> search, std::vector<uint64_t> marked, double share)
      : pager_(pager), folded_(std::move(folded)), order_(std::move(order)), walk_(std::move(walk)), search_(std::move(search)),
        share_(share), marked_all_(!marked.empty()), marked_(std::move(marked)) {}
  Result<bool> Next(LazyRow* row) override {
    JET_ASSIGN_OR_RETURN(uint32_t r, walk_ ? NextWalked() : NextKept());
    if (r == kNone) return false;
    const RowId id = folded_->Place(r);
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(pager_, id.page, id.row));
    JET_RETURN_IF_ERROR(row->Load(id, slot));
    ++rows_read_;
    return true;
  }

 private:
  static constexpr size_t kBatch = OrderWalk::kTestBatch;
  static constexpr uint32_t kNone = UINT32_MAX;

  Result<uint32_t> NextKept() {
    const std::vector<uint32_t>& rows = order_->rows;
    for (; next_ < rows.size(); ++next_) {
      if (marked_all_) {
        next_ = FirstMarked(marked_, rows.data(), next_, rows.size());
        if (next_ == rows.size()) break;
        return rows[next_++];
      }
      if (next_ == batch_start_ + batch_size_) {
        batch_start_ = next_;
        batch_size_ = std::min<size_t>(kBatch, rows.size() - next_);
        Judge(rows.data() + next_, batch_size_, rows.data() + rows.size(), verdicts_);
      }
      if (verdicts_[next_ - batch_start_] != 0) return rows[next_++];
    }
    return kNone;
  }

  Result<uint32_t> NextWalked() {
    while (ready_at_ == ready_.size()) {
      ready_.clear();
      ready_at_ = 0;
      JET_ASSIGN_OR_RETURN(bool more, walk_->Next([this](const uint32_t* rows, size_t count, const uint32_t* end, uint8_t* wanted) {
        Judge(rows, count, end, wanted);
      }, &ready_));
      if (!more) return kNone;
    }
    return ready_[ready_at_++];
  }

  // How often the search matches is judged from the sample, not from the walk: the order groups
  // like texts, so the rows it meets first can hold a word far more or less often than the rest.
  // Marking pays when testing on for the matches still expected (every row, once the caller
  // reads past them), at the sampled rate, would cost more than marking and then walking on past
  // as many rows. The rows the walk meets first match less often than the rest for most words
  // (titles of digits and signs sort first), so the walk's own rate is not trusted for that; but
  // a walk meeting matches at under half the sampled rate (matches grouped late in the order)
  // marks once it has cost what marking costs, so that it costs at most about twice the cheaper way.
  bool ShouldMark(uint64_t n) const {
    const double tested = static_cast<double>(tested_), found = static_cast<double>(found_);
    const double marking = static_cast<double>(n) * (kMarkCost + share_ * kMatchCost);
    if (tested * kTestCost >= marking && found * 2 < tested * share_) return true;
    double rows_on = static_cast<double>(n - tested_);
    if (found_ < kExpected) rows_on = std::min(rows_on, static_cast<double>(kExpected - found_) / share_);
    return marking + rows_on * kWalkCost < rows_on * kTestCost;
  }

  // wanted[i]: whether rows[i] matches, for `count` rows the walk meets next (the rows up to
  // `end` after them); every row is marked first when that pays.
  void Judge(const uint32_t* rows, size_t count, const uint32_t* end, uint8_t* wanted) {
    if (!marked_all_) {
      if (share_ < 0) share_ = SampledShare(*search_, *folded_);
      if (ShouldMark(folded_->rows())) {
        search_->MarkAll(*folded_, &marked_);
        marked_all_ = true;
      }
    }
    if (marked_all_) {
      for (size_t i = 0; i < count; ++i) wanted[i] = static_cast<uint8_t>(marked_[rows[i] / 64] >> (rows[i] % 64) & 1);
      return;
    }
    search_->MatchRows(*folded_, rows, count, end, wanted);
    tested_ += count;
    for (size_t i = 0; i < count; ++i) found_ += wanted[i];
  }

  Pager& pager_;
  std::shared_ptr<const FoldedColumns> folded_;
  std::shared_ptr<const SortedRows> order_;
  std::unique_ptr<OrderWalk> walk_;
  std::unique_ptr<FoldedSearch> search_;
  size_t next_ = 0;                               // in order_
  size_t batch_start_ = 0, batch_size_ = 0;       // the rows verdicts_ tells about
  uint8_t verdicts_[kBatch] = {};
  std::vector<uint32_t> ready_;                   // from walk_, handed out up to ready_at_
  size_t ready_at_ = 0;
  uint64_t tested_ = 0, found_ = 0;
  double share_;  // of rows matching, by the sample; negative before it
  bool marked_all_ = false;
  std::vector<uint64_t> marked_;  // a bit per row (FoldedSearch::MarkAll): held while the rows are read, so kept small
};

// A search that finds more than one row in this many, for an ORDER BY that no index walk serves,
// builds its order of the rows rather than sort them: building it costs about what sorting a
// tenth of the rows costs, and serves the next search too.
constexpr size_t kOrderShare = 256;

// The terms of a search of folded texts, one per pattern (a pattern on several columns is looked
// for once); `columns` gets the columns they look in, in the order of the terms' column bits.
std::vector<FoldedTerm> FoldedTermsOf(const std::vector<Condition::LikeTerm>& terms, std::vector<size_t>* columns) {
  std::vector<FoldedTerm> folded_terms;
  std::vector<const Text*> patterns;  // of folded_terms
  for (const Condition::LikeTerm& term : terms) {
    auto column = std::find(columns->begin(), columns->end(), term.column);
    if (column == columns->end()) column = columns->insert(columns->end(), term.column);
    const uint32_t bit = 1u << (column - columns->begin());
    size_t same = 0;
    while (same < patterns.size() && *patterns[same] != *term.pattern) ++same;
    if (same == patterns.size()) {
      patterns.push_back(term.pattern);
      folded_terms.push_back(FoldedTerm{0, term.like});
    }
    folded_terms[same].column_mask |= bit;
  }
  return folded_terms;
}

size_t MarkedCount(const std::vector<uint64_t>& marked) {
  size_t count = 0;
  for (uint64_t word : marked) count += static_cast<size_t>(std::popcount(word));
  return count;
}

// The rows marked (`count` of them), in order; the marks are let go.
std::vector<uint32_t> MarkedRows(std::vector<uint64_t> marked, size_t count) {
  std::vector<uint32_t> rows;
  rows.reserve(count);
  for (size_t w = 0; w < marked.size(); ++w) {
    for (uint64_t word = marked[w]; word != 0; word &= word - 1) rows.push_back(static_cast<uint32_t>(w * 64 + std::countr_zero(word)));
  }
  return rows;
}

// Whether searching the folded texts pays. A search every text matches (the empty one) tells
// rows apart only by their NULLs, which the plain plan tests as it reads the few rows it keeps,
// walking the index for their order: for it the folded texts pay only when this process holds
// them, and their order (kept, or had by a walk of the index) already; loading or building them
// costs many times that walk. Texts carried from before another program's write are held too:
// bringing them up to date reads the table once, as the next text search would.
Result<bool> FoldedPays(Pager& pager, const TableDef& def, const std::vector<Condition::LikeTerm>& terms,
                        const std::vector<size_t>& columns, const std::vector<SortColumn>& order_by) {
  if (!std::all_of(terms.begin(), terms.end(), [](const Condition::LikeTerm& t) { return t.like->MatchesAnyText(); })) return true;
  const std::string texts_key = FoldedColumnsKey(def.page, columns);
  const std::shared_ptr<const FoldedColumns> held = pager.SharedDecoded<FoldedColumns>(texts_key);
  if (!held) {
    return pager.Carries(texts_key) && (order_by.empty() || OrdersByWalking(def, columns, order_by) ||
                                        pager.Carries(SortedRowsKey(def.page, columns, order_by)));
  }
  if (order_by.empty()) return true;
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const SortedRows> order, SortedRowsOf(pager, def, held, order_by, false));
  return order != nullptr || WalkInOrder(pager, def, held, order_by) != nullptr;
}

// Every row's mark, once made (FoldedSearch::MarkAll), and how many are set.
struct Marks {
  std::vector<uint64_t> bits;
  size_t count = 0;
  void Make(const FoldedSearch& search, const FoldedColumns& folded) {
    search.MarkAll(folded, &bits);
    count = MarkedCount(bits);
  }
};

// The matches of `search` in the order `order_by` gives them, from an order kept for the texts or
// a walk of the index of its first column, or from an order built now when neither is had and
// the matches are many; null when sorting them pays. The rows may be marked meanwhile.
Result<std::unique_ptr<RowSource>> InOrder(Pager& pager, const TableDef& def, const std::vector<SortColumn>& order_by,
                                           const std::shared_ptr<const FoldedColumns>& folded,
                                           std::unique_ptr<FoldedSearch>& search, Marks& marks, std::string* plan_text) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const SortedRows> kept, SortedRowsOf(pager, def, folded, order_by, false));
  std::unique_ptr<OrderWalk> walk = kept ? nullptr : WalkInOrder(pager, def, folded, order_by);
  double share = -1;
  if (kept || walk) {
    // A search the sample finds rare marks every row at once (its rate being rough, for up to
    // four times the matches where sorting pays); one that finds few rows sorts them rather
    // than walk the order past their marks.
    share = SampledShare(*search, *folded);
    const double rows = static_cast<double>(folded->rows()), walk_cost = kept ? kWalkCost : kIndexWalkCost;
    const double at_hand = kept ? rows : static_cast<double>(walk->AtHand());
    if (SortPays(share * rows / 4, rows, walk_cost, at_hand)) {
      marks.Make(*search, *folded);
      if (SortPays(static_cast<double>(marks.count), rows, walk_cost, at_hand)) return std::unique_ptr<RowSource>();
    }
  } else {
    marks.Make(*search, *folded);
    if (marks.count * kOrderShare <= folded->rows()) return std::unique_ptr<RowSource>();
    JET_ASSIGN_OR_RETURN(kept, SortedRowsOf(pager, def, folded, order_by, true));
    if (!kept) return std::unique_ptr<RowSource>();
  }
  *plan_text = kept ? "folded texts in their kept order" : "folded texts along the index of the first sort column";
  return std::unique_ptr<RowSource>(std::make_unique<OrderedMatches>(pager, folded, std::move(kept), std::move(walk), std::move(search),
                                                                     std::exchange(marks.bits, {}), share));
}

}  // namespace

Status SelectCursor::PrepareFolded() {
  std::optional<std::vector<Condition::LikeTerm>> terms = condition_->LikeDisjunction();
  if (!terms || terms->empty()) return Status::Ok();
  std::vector<size_t> columns;
  const std::vector<FoldedTerm> folded_terms = FoldedTermsOf(*terms, &columns);
  if (columns.size() > 8) return Status::Ok();
  JET_ASSIGN_OR_RETURN(bool pays, FoldedPays(db_.pager(), def_, *terms, columns, order_));
  if (!pays) return Status::Ok();
  auto search = std::make_unique<FoldedSearch>(folded_terms);
  FirstSearch first;
  first.search = search.get();
  // A plan that walks the index of the first sort column reads rows in the order asked for and
  // stops where the caller does.
  first.may_read_rows = plan_.use_index && !order_.empty() && (!plan_.sort || plan_.ordered_prefix > 0);
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const FoldedColumns> folded, FoldedColumnsOf(db_.pager(), def_, columns, &first));
  if (first.way == FirstSearchWay::kReadRows) {
    fold_later_ = std::move(first.fold_later);
    return Status::Ok();  // the plan as chosen
  }
  prefiltered_ = true;
  if (first.way == FirstSearchWay::kMatchesOnly) return PrepareMatched(folded, std::move(search));
  Marks marks;
  if (!order_.empty()) {
    JET_ASSIGN_OR_RETURN(source_, InOrder(db_.pager(), def_, order_, folded, search, marks, &plan_text_));
    if (source_) {
      plan_ = AccessPlan{};
      return Status::Ok();
    }
  }
  if (marks.bits.empty() && folded->rows() > 0) marks.Make(*search, *folded);
  // Listed only now: a search that walks an order reads the marks instead.
  return ListOrSort(*folded, MarkedRows(std::move(marks.bits), marks.count), "folded texts");
}

Status SelectCursor::ListOrSort(const FoldedColumns& folded, const std::vector<uint32_t>& rows, const std::string& plan) {
  plan_ = AccessPlan{};
  if (order_.empty()) {
    std::vector<RowId> places;
    places.reserve(rows.size());
    for (uint32_t r : rows) places.push_back(folded.Place(r));
    source_ = std::make_unique<PlacesSource>(db_.pager(), std::move(places));
    plan_text_ = plan;
    return Status::Ok();
  }
  plan_.sort = true;
  plan_text_ = plan + ", then sort";
  source_ = std::make_unique<PlacesSource>(db_.pager(), std::vector<RowId>{});
  JET_RETURN_IF_ERROR(SortFolded(folded, rows));
  keys_read_ = true;
  return Status::Ok();
}

// `matches`: the folded texts of the rows the search matches, no others. Where they are many, the
// index of the first sort column gives their order, passing the other rows' entries, as far as
// the caller reads; else they are sorted.
Status SelectCursor::PrepareMatched(const std::shared_ptr<const FoldedColumns>& matches, std::unique_ptr<FoldedSearch> search) {
  const size_t n = matches->rows();
  const size_t table_rows = std::max<size_t>({matches->table_rows, n, 1});
  if (!order_.empty() && !SortPays(static_cast<double>(n), static_cast<double>(table_rows), kIndexWalkCost, 0)) {
    if (std::unique_ptr<OrderWalk> walk = WalkInOrder(db_.pager(), def_, matches, order_)) {
      std::vector<uint64_t> every((n + 63) / 64, ~uint64_t{0});
      if (n % 64 != 0) every.back() = (uint64_t{1} << (n % 64)) - 1;
      source_ = std::make_unique<OrderedMatches>(db_.pager(), matches, nullptr, std::move(walk), std::move(search), std::move(every), 1.0);
      plan_ = AccessPlan{};
      plan_text_ = "rows matched while reading, along the index of the first sort column";
      return Status::Ok();
    }
  }
  std::vector<uint32_t> rows(n);
  std::iota(rows.begin(), rows.end(), 0u);
  return ListOrSort(*matches, rows, "rows matched while reading");
}

// The keys of texts the folded texts hold are made from them: a folded text sorts exactly as the
// text does, as folding keeps every weight of every character.
Status SelectCursor::SortFolded(const FoldedColumns& folded, const std::vector<uint32_t>& matches) {
  std::vector<int> folded_at;  // per ORDER BY column: its position in folded.columns, or -1
  bool all_folded = true;
  for (const SortColumn& c : order_) {
    const auto at = std::find(folded.columns.begin(), folded.columns.end(), c.column);
    const bool text = at != folded.columns.end() && def_.columns[c.column].type == ColumnType::kText;
    folded_at.push_back(text ? static_cast<int>(at - folded.columns.begin()) : -1);
    all_folded = all_folded && text;
  }
  Value units = Text();
  for (uint32_t r : matches) {
    const RowId place = folded.Place(r);
    if (!all_folded) {
      JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(db_.pager(), place.page, place.row));
      JET_RETURN_IF_ERROR(row_->Load(place, slot));
    }
    key_.clear();
    for (size_t i = 0; i < order_.size(); ++i) {
      if (folded_at[i] < 0) {
        JET_RETURN_IF_ERROR(AppendSortKey(order_[i], &key_));
        continue;
      }
      Status s = AppendFoldedKeyColumn(db_.version(), folded, r, static_cast<size_t>(folded_at[i]), order_[i].ascending, &units, &key_);
      if (!s.ok()) return s.error().WithContext("sorting by column \"" + def_.columns[order_[i].column].name + "\"");
    }
    sorted_.Add(key_, place);
  }
  return Status::Ok();
}

Result<bool> SelectCursor::Next() {
  if (top_done_) return false;
  auto more = Advance();
  if (more.ok() && *more && top_rows_) more = WithinTop();
  if (!more.ok()) return more.error().WithContext("running " + sql_);
  return more;
}

Result<bool> SelectCursor::WithinTop() {
  if (++handed_out_ <= *top_rows_) {
    if (handed_out_ == *top_rows_ && !order_.empty()) {
      top_boundary_.emplace();
      JET_RETURN_IF_ERROR(AppendSortKeys(0, order_.size(), &*top_boundary_));
    }
    return true;
  }
  if (top_boundary_) {
    std::string key;
    JET_RETURN_IF_ERROR(AppendSortKeys(0, order_.size(), &key));
    if (key == *top_boundary_) return true;
  }
  top_done_ = true;
  return false;
}

Result<bool> SelectCursor::Advance() {
  if (plan_.sort) return plan_.ordered_prefix > 0 && !gave_way_ ? NextRunRow() : NextSortedRow();
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, source_->Next(row_.get()));
    if (!more) return false;
    JET_ASSIGN_OR_RETURN(bool match, Matches());
    if (!match) continue;
    JET_RETURN_IF_ERROR(Emit());
    return true;
  }
}

Result<bool> SelectCursor::Matches() {
  if (!condition_ || prefiltered_) return true;
  // A walk whose bounds are the whole condition tested every row it yields already.
  if (plan_.use_index && plan_.walk.bounds_are_condition && !gave_way_) return true;
  return condition_->Matches(*row_);
}

Result<bool> SelectCursor::NextSortedRow() {
  if (!keys_read_) {
    JET_RETURN_IF_ERROR(ReadAndSort(last_run_key_ ? &*last_run_key_ : nullptr));
    keys_read_ = true;
  }
  RowId id;
  if (!sorted_.Next(&id)) return false;
  JET_RETURN_IF_ERROR(LoadAndEmit(id));
  return true;
}

Result<bool> SelectCursor::NextRunRow() {
  while (true) {
    RowId id;
    if (sorted_.Next(&id)) {
      JET_RETURN_IF_ERROR(LoadAndEmit(id));
      last_run_key_ = run_key_;
      return true;
    }
    JET_ASSIGN_OR_RETURN(bool more, NextRun());
    if (gave_way_) return NextSortedRow();
    if (!more) return false;
  }
}

// Rows arrive in the order of the ordered prefix, so a run ends at the first matching row whose
// prefix key differs; that row is kept for the next run.
Result<bool> SelectCursor::NextRun() {
  const size_t prefix = plan_.ordered_prefix;
  sorted_.Clear();
  bool have = false;
  if (carried_) {
    run_key_ = std::move(carried_->prefix_key);
    sorted_.Add(carried_->rest_key, carried_->row);
    carried_.reset();
    have = true;
  }
  while (!walk_done_) {
    if (WalkShouldGiveWay()) {
      JET_RETURN_IF_ERROR(GiveWayToScan());
      return false;
    }
    JET_ASSIGN_OR_RETURN(bool more, source_->Next(row_.get()));
    if (!more) {
      walk_done_ = true;
      break;
    }
    JET_ASSIGN_OR_RETURN(bool match, Matches());
    if (!match) continue;
    ++walk_matches_;
    key_.clear();
    rest_key_.clear();
    JET_RETURN_IF_ERROR(AppendSortKeys(0, prefix, &key_));
    JET_RETURN_IF_ERROR(AppendSortKeys(prefix, order_.size(), &rest_key_));
    if (have && key_ != run_key_) {
      carried_ = Carried{row_->id(), key_, rest_key_};
      break;
    }
    if (!have) run_key_ = key_;
    have = true;
    sorted_.Add(rest_key_, row_->id());
  }
  return have;
}

bool SelectCursor::WalkShouldGiveWay() const {
  const uint64_t read = source_->rows_read();
  return read >= walk_budget_ || (read >= walk_budget_ / 4 && walk_matches_ * kSparseMatches < read);
}

// Every row of the runs handed out so far sorts at or before last_run_key_ on the prefix, and
// every other matching row after it: the scan sorts exactly the rows still owed.
Status SelectCursor::GiveWayToScan() {
  sorted_.Clear();
  carried_.reset();
  rows_read_before_ += source_->rows_read();
  JET_ASSIGN_OR_RETURN(source_, OpenScan(db_.pager(), def_, ScanPageTest()));
  gave_way_ = true;
  return Status::Ok();
}

// A search for words in texts skips the pages that cannot hold any of them.
PageTest SelectCursor::ScanPageTest() {
  if (!condition_) return nullptr;
  std::optional<std::vector<std::u16string>> texts = condition_->RequiredTexts();
  if (!texts) return nullptr;
  auto tests = std::make_shared<std::vector<TextPresence>>();
  for (const std::u16string& text : *texts) {
    std::optional<TextPresence> test = TextPresence::For(db_.version(), text);
    if (!test) return nullptr;
    tests->push_back(std::move(*test));
  }
  const size_t page_size = db_.pager().page_size();
  return [tests, page_size](const uint8_t* page) {
    return std::any_of(tests->begin(), tests->end(), [&](const TextPresence& t) { return t.MayHold(page, page_size); });
  };
}

Status SelectCursor::LoadAndEmit(RowId id) {
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(db_.pager(), id.page, id.row));
  JET_RETURN_IF_ERROR(row_->Load(id, slot));
  return Emit();
}

Status SelectCursor::FillValues() {
  // Decoded into these, whose texts keep their room from one row to the next, so a walk does not
  // allocate for every value.
  values_.resize(selected_.size());
  for (size_t j = 0; j < selected_.size(); ++j) JET_RETURN_IF_ERROR(row_->CopyTo(selected_[j], &values_[j]));
  return Status::Ok();
}

Status SelectCursor::AppendSortKeys(size_t first, size_t last, std::string* key) {
  for (size_t i = first; i < last; ++i) JET_RETURN_IF_ERROR(AppendSortKey(order_[i], key));
  return Status::Ok();
}

Status SelectCursor::AppendSortKey(const SortColumn& column, std::string* key) {
  const ColumnDef& def = def_.columns[column.column];
  JET_ASSIGN_OR_RETURN(const Value* value, row_->Get(column.column));
  const ColumnType type = SortKeyType(def.type);
  Value converted;
  if (def.type == ColumnType::kDecimal && !IsNull(*value)) {
    converted = static_cast<double>(NumericValue(*value));
    value = &converted;
  }
  Status s = AppendKeyColumn(db_.version(), KeyColumn{type, column.ascending}, *value, key);
  if (!s.ok()) return s.error().WithContext("sorting by column \"" + def.name + "\"");
  return Status::Ok();
}

// Reads every matching row's sort key; the order is made as the rows are taken (sql_sort.h),
// with ties in the order read, as an index keeps them (its entries tie-break on the row's place).
Status SelectCursor::ReadAndSort(const std::string* after) {
  const size_t prefix = after != nullptr ? plan_.ordered_prefix : 0;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, source_->Next(row_.get()));
    if (!more) break;
    JET_ASSIGN_OR_RETURN(bool match, Matches());
    if (!match) continue;
    key_.clear();
    JET_RETURN_IF_ERROR(AppendSortKeys(0, prefix, &key_));
    if (after != nullptr && key_ <= *after) continue;
    JET_RETURN_IF_ERROR(AppendSortKeys(prefix, order_.size(), &key_));
    sorted_.Add(key_, row_->id());
  }
  return Status::Ok();
}

Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database& db, const SelectStatement& statement,
                                                    const std::string& sql, SelectOptions options) {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadStatementTable(db, statement.table, sql));
  std::unique_ptr<SelectCursor> cursor(new SelectCursor(db, sql, std::move(def)));
  JET_RETURN_IF_ERROR(cursor->Prepare(statement, options));
  if (statement.top && !statement.top->percent) cursor->top_rows_ = statement.top->count;
  if (statement.top && statement.top->percent) {
    // A share of the rows: counted first, by the same statement without its order or TOP.
    SelectStatement counting;
    counting.table = statement.table;
    counting.columns = statement.columns;
    if (statement.where) counting.where = statement.where->Clone();
    JET_ASSIGN_OR_RETURN(std::unique_ptr<SelectCursor> all, ExecuteSelect(db, counting, sql, options));
    uint64_t rows = 0;
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, all->Next());
      if (!more) break;
      ++rows;
    }
    cursor->top_rows_ = (rows * statement.top->count + 99) / 100;
    cursor->top_done_ = rows == 0;
  }
  return cursor;
}

Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database& db, const std::string& sql, SelectOptions options) {
  JET_ASSIGN_OR_RETURN(SelectStatement statement, ParseSelect(sql));
  return ExecuteSelect(db, statement, sql, options);
}

}  // namespace jet
