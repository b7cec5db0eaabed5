#include "jet/sql/sql_plan.h"

#include <algorithm>
#include <optional>

#include "jet/pages/index_key.h"
#include "jet/sql/sql_expression.h"

namespace jet {

namespace {

// column op constant, from one conjunct of the condition.
struct Restriction {
  size_t column;
  CompareOp op;
  Value literal;
};

void CollectRestrictions(const Expr* e, const TableDef& def, std::vector<Restriction>* out) {
  if (e == nullptr) return;
  if (e->kind == Expr::Kind::kAnd) {
    CollectRestrictions(e->left.get(), def, out);
    CollectRestrictions(e->right.get(), def, out);
    return;
  }
  if (e->kind != Expr::Kind::kCompare || e->op == CompareOp::kNotEqual) return;
  const Expr* column = e->left.get();
  const Expr* constant = e->right.get();
  CompareOp op = e->op;
  if (column->kind != Expr::Kind::kColumn) {
    std::swap(column, constant);
    op = SwapOperands(op);
  }
  if (column->kind != Expr::Kind::kColumn || constant->kind != Expr::Kind::kLiteral || column->column_index < 0) return;
  const size_t index = static_cast<size_t>(column->column_index);
  if (index >= def.columns.size() || ClassOf(def.columns[index].type) != ClassOfValue(constant->literal)) return;
  out->push_back(Restriction{index, op, constant->literal});
}

struct Range {
  std::optional<IndexWalk::Bound> low, high;
  bool bounded() const { return low.has_value() || high.has_value(); }
};

// Keeps the tighter of two bounds on the same side.
void Tighten(JetVersion version, bool lower, IndexWalk::Bound bound, std::optional<IndexWalk::Bound>* current) {
  if (!current->has_value()) {
    *current = std::move(bound);
    return;
  }
  const int c = CompareValues(version, bound.literal, (*current)->literal);
  if ((lower ? c > 0 : c < 0) || (c == 0 && !bound.inclusive)) *current = std::move(bound);
}

Range RangeOf(JetVersion version, size_t column, const std::vector<Restriction>& restrictions) {
  Range range;
  for (const Restriction& r : restrictions) {
    if (r.column != column) continue;
    if (r.op == CompareOp::kEqual || r.op == CompareOp::kGreater || r.op == CompareOp::kGreaterEqual) {
      Tighten(version, true, IndexWalk::Bound{r.literal, r.op != CompareOp::kGreater}, &range.low);
    }
    if (r.op == CompareOp::kEqual || r.op == CompareOp::kLess || r.op == CompareOp::kLessEqual) {
      Tighten(version, false, IndexWalk::Bound{r.literal, r.op != CompareOp::kLess}, &range.high);
    }
  }
  return range;
}

bool IsPoint(JetVersion version, const Range& r) {
  return r.low && r.high && r.low->inclusive && r.high->inclusive &&
         CompareValues(version, r.low->literal, r.high->literal) == 0;
}

// Types whose index keys order exactly as the condition compares values: every keyable type
// but GUIDs and Binary values, whose key bytes do not follow the order a comparison gives them.
bool Keyable(ColumnType type) { return IsKeyable(type) && type != ColumnType::kGuid && type != ColumnType::kBinary; }

// An index the planner may walk, with its columns as positions in def.columns.
struct Candidate {
  size_t logical = 0;
  const PhysicalIndex* index = nullptr;
  std::vector<size_t> columns;
  Range range;  // on the first column
};

std::vector<Candidate> Candidates(const TableDef& def, JetVersion version, const std::vector<Restriction>& restrictions) {
  std::vector<Candidate> out;
  for (size_t li = 0; li < def.logical_indexes.size(); ++li) {
    const LogicalIndex& logical = def.logical_indexes[li];
    if (logical.physical_index >= def.physical_indexes.size()) continue;
    Candidate c{li, &def.physical_indexes[logical.physical_index], {}, {}};
    IndexKeyColumns key = KeyColumnsOf(def, *c.index);
    if (key.columns.empty() || key.columns.size() != c.index->columns.size()) continue;
    if (!std::all_of(key.columns.begin(), key.columns.end(), [](const KeyColumn& k) { return Keyable(k.type); })) continue;
    c.columns = std::move(key.positions);
    c.range = RangeOf(version, c.columns[0], restrictions);
    // An index without the rows whose key is NULL serves only a range, which excludes them anyway.
    if (c.index->ignore_nulls() && (c.columns.size() > 1 || !c.range.bounded())) continue;
    out.push_back(std::move(c));
  }
  return out;
}

// Whether the index order is the ORDER BY (reversed: walk backward); nullopt when neither.
std::optional<bool> MatchesOrder(const Candidate& c, const std::vector<SortColumn>& order_by) {
  if (order_by.empty() || c.columns.size() != order_by.size()) return std::nullopt;
  bool same = true, reversed = true;
  for (size_t k = 0; k < order_by.size(); ++k) {
    if (c.columns[k] != order_by[k].column) return std::nullopt;
    const bool ascending = c.index->columns[k].ascending;
    same = same && ascending == order_by[k].ascending;
    reversed = reversed && ascending != order_by[k].ascending;
  }
  if (!same && !reversed) return std::nullopt;
  return !same;
}

// Whether the index order is the start of a longer ORDER BY (reversed: walk backward).
std::optional<bool> MatchesOrderPrefix(const Candidate& c, const std::vector<SortColumn>& order_by) {
  if (c.columns.size() >= order_by.size()) return std::nullopt;
  const std::vector<SortColumn> prefix(order_by.begin(), order_by.begin() + static_cast<std::ptrdiff_t>(c.columns.size()));
  return MatchesOrder(c, prefix);
}

AccessPlan WalkPlan(const Candidate& c, bool backward, bool sort) {
  AccessPlan plan;
  plan.use_index = true;
  plan.walk.logical_index = c.logical;
  plan.walk.backward = backward;
  plan.walk.low = c.range.low;
  plan.walk.high = c.range.high;
  plan.sort = sort;
  return plan;
}

// Whether every conjunct of `e` bounds `column` with a number: then a walk that keeps to the
// bounds yields exactly the rows the condition admits. (Texts compare by the condition's own keys.)
bool OnlyNumberBounds(const Expr* e, const TableDef& def, size_t column) {
  if (e->kind == Expr::Kind::kAnd) {
    return OnlyNumberBounds(e->left.get(), def, column) && OnlyNumberBounds(e->right.get(), def, column);
  }
  std::vector<Restriction> one;
  CollectRestrictions(e, def, &one);
  return one.size() == 1 && one[0].column == column && ClassOf(def.columns[column].type) == ValueClass::kNumber;
}

AccessPlan ChooseAmong(const std::vector<Candidate>& candidates, JetVersion version,
                       const std::vector<SortColumn>& order_by) {
  AccessPlan scan;
  scan.sort = !order_by.empty();

  const Candidate* point = nullptr;
  for (const Candidate& c : candidates) {
    if (IsPoint(version, c.range) && (point == nullptr || (c.index->unique() && !point->index->unique()))) point = &c;
  }
  if (point != nullptr) {
    const std::optional<bool> backward = MatchesOrder(*point, order_by);
    return WalkPlan(*point, backward.value_or(false), !backward.has_value() && !order_by.empty());
  }
  // A forward walk is a little cheaper: it needs no regrouping of rows with equal keys.
  for (bool backward : {false, true}) {
    for (const Candidate& c : candidates) {
      if (MatchesOrder(c, order_by) == backward) return WalkPlan(c, backward, false);
    }
  }
  const Candidate* range = nullptr;
  for (const Candidate& c : candidates) {
    if (!c.range.bounded()) continue;
    const bool two_sided = c.range.low && c.range.high;
    if (range == nullptr || (two_sided && !(range->range.low && range->range.high))) range = &c;
  }
  if (range != nullptr) return WalkPlan(*range, false, !order_by.empty());
  // The longest ordered prefix wins; a forward walk before a backward one of the same length.
  const Candidate* prefix = nullptr;
  bool prefix_backward = false;
  for (bool backward : {false, true}) {
    for (const Candidate& c : candidates) {
      if (MatchesOrderPrefix(c, order_by) != backward) continue;
      if (prefix == nullptr || c.columns.size() > prefix->columns.size()) prefix = &c, prefix_backward = backward;
    }
  }
  if (prefix != nullptr) {
    AccessPlan plan = WalkPlan(*prefix, prefix_backward, true);
    plan.ordered_prefix = prefix->columns.size();
    return plan;
  }
  return scan;
}

}  // namespace

AccessPlan ChoosePlan(const TableDef& def, JetVersion version, const Expr* where,
                      const std::vector<SortColumn>& order_by, bool use_indexes) {
  if (!use_indexes) {
    AccessPlan scan;
    scan.sort = !order_by.empty();
    return scan;
  }
  std::vector<Restriction> restrictions;
  CollectRestrictions(where, def, &restrictions);
  const std::vector<Candidate> candidates = Candidates(def, version, restrictions);
  AccessPlan plan = ChooseAmong(candidates, version, order_by);
  if (plan.use_index && where != nullptr && (plan.walk.low || plan.walk.high)) {
    for (const Candidate& c : candidates) {
      if (c.logical == plan.walk.logical_index) plan.walk.bounds_are_condition = OnlyNumberBounds(where, def, c.columns[0]);
    }
  }
  return plan;
}

std::string DescribePlan(const TableDef& def, const AccessPlan& plan) {
  std::string s = "scan";
  if (plan.use_index && plan.walk.logical_index < def.logical_indexes.size()) {
    s = "index \"" + def.logical_indexes[plan.walk.logical_index].name + "\"";
    if (plan.walk.backward) s += " backward";
    if (plan.walk.low || plan.walk.high) s += " over a range";
  }
  if (plan.sort) s += plan.ordered_prefix > 0 ? ", then sort rows with equal keys" : ", then sort";
  return s;
}

}  // namespace jet
