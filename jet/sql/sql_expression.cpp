#include "jet/sql/sql_expression.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "jet/base/number_text.h"
#include "jet/text/collation.h"
#include "jet/sql/sql_lexer.h"
#include "jet/sql/sql_like.h"

namespace jet {

namespace {

bool AsInteger(const Value& v, int64_t* out) {
  if (const int64_t* i = std::get_if<int64_t>(&v)) {
    *out = *i;
    return true;
  }
  if (const bool* b = std::get_if<bool>(&v)) {
    *out = *b ? -1 : 0;
    return true;
  }
  return false;
}

long double DecimalValue(const Decimal& d) {
  long double m = 0;
  for (int w = 3; w >= 0; --w) m = m * 4294967296.0L + d.magnitude[w];
  for (int i = 0; i < d.scale; ++i) m /= 10;
  return d.negative ? -m : m;
}

// Every numeric value as a long double, whose 64-bit mantissa holds any Long exactly.
long double AsNumber(const Value& v) {
  int64_t i;
  if (AsInteger(v, &i)) return static_cast<long double>(i);
  if (const double* d = std::get_if<double>(&v)) return *d;
  if (const float* f = std::get_if<float>(&v)) return *f;
  if (const Currency* c = std::get_if<Currency>(&v)) return static_cast<long double>(c->scaled) / 10000;
  if (const DateTime* t = std::get_if<DateTime>(&v)) return t->days;
  if (const Decimal* d = std::get_if<Decimal>(&v)) return DecimalValue(*d);
  return 0;
}

int CompareNumbers(const Value& a, const Value& b) {
  int64_t x, y;
  if (AsInteger(a, &x) && AsInteger(b, &y)) return x < y ? -1 : (x > y ? 1 : 0);
  const long double p = AsNumber(a), q = AsNumber(b);
  return p < q ? -1 : (p > q ? 1 : 0);
}

bool Holds(CompareOp op, int c) {
  switch (op) {
    case CompareOp::kEqual: return c == 0;
    case CompareOp::kNotEqual: return c != 0;
    case CompareOp::kLess: return c < 0;
    case CompareOp::kLessEqual: return c <= 0;
    case CompareOp::kGreater: return c > 0;
    case CompareOp::kGreaterEqual: return c >= 0;
  }
  return false;
}

Truth FromBool(bool b) { return b ? Truth::kTrue : Truth::kFalse; }

bool IsWholeNumberType(ColumnType t) {
  return t == ColumnType::kByte || t == ColumnType::kInteger || t == ColumnType::kLong;
}

const char* ClassName(ValueClass c) {
  switch (c) {
    case ValueClass::kNumber: return "a number";
    case ValueClass::kText: return "a text";
    case ValueClass::kNull: return "Null";
    default: return "a value that cannot be compared";
  }
}

}  // namespace

// ---- Binding ---------------------------------------------------------------------------------

Result<size_t> ResolveColumn(const TableDef& def, const NameRef& name, const std::string& sql) {
  if (!name.qualifier.empty() && !SameObjectName(name.qualifier, def.name)) {
    return SqlError(ErrorCode::kNotFound, "unknown table \"" + name.qualifier + "\" (the statement reads \"" + def.name + "\")",
                    sql, name.offset, name.token);
  }
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (SameObjectName(def.columns[i].name, name.name)) return i;
  return SqlError(ErrorCode::kNotFound, "unknown column \"" + name.name + "\" in table \"" + def.name + "\"", sql,
                  name.offset, name.token);
}

Status BindColumns(const TableDef& def, const std::string& sql, Expr* expr) {
  if (expr == nullptr) return Status::Ok();
  if (expr->kind == Expr::Kind::kColumn) {
    JET_ASSIGN_OR_RETURN(size_t index, ResolveColumn(def, NameRef{expr->qualifier, expr->column, expr->offset, expr->token}, sql));
    expr->column_index = static_cast<int>(index);
  }
  JET_RETURN_IF_ERROR(BindColumns(def, sql, expr->left.get()));
  return BindColumns(def, sql, expr->right.get());
}

Result<const Value*> DecodedRow::Get(size_t column_index) {
  if (column_index >= values_.size()) {
    return Error(ErrorCode::kInvalidArgument, "the row has " + std::to_string(values_.size()) +
                                                  " values; column " + std::to_string(column_index) + " was asked for");
  }
  return &values_[column_index];
}

// ---- Classes and conversions ----------------------------------------------------------------

ValueClass ClassOf(ColumnType type) {
  switch (type) {
    case ColumnType::kText:
    case ColumnType::kMemo: return ValueClass::kText;
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kDecimal:
    case ColumnType::kComplex: return ValueClass::kNumber;
    default: return ValueClass::kOther;
  }
}

ValueClass ClassOfValue(const Value& value) {
  if (IsNull(value)) return ValueClass::kNull;
  if (std::holds_alternative<Text>(value)) return ValueClass::kText;
  if (std::holds_alternative<Bytes>(value) || std::holds_alternative<Guid>(value)) return ValueClass::kOther;
  return ValueClass::kNumber;
}

long double NumericValue(const Value& value) { return AsNumber(value); }

int CompareValues(JetVersion version, const Value& a, const Value& b) {
  const Text* ta = std::get_if<Text>(&a);
  const Text* tb = std::get_if<Text>(&b);
  if (ta != nullptr && tb != nullptr) return CompareText(version, *ta, *tb);
  return CompareNumbers(a, b);
}

namespace {

// A Date/Time holds 100-01-01 to 9999-12-31 (in days from 1899-12-30; before it, the time of day
// counts up from the negative day).
constexpr long double kDayBeforeFirstDate = -657435, kDayAfterLastDate = 2958466;

std::string NumberText(const Value& literal) {
  int64_t i;
  if (AsInteger(literal, &i)) return std::to_string(i);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", static_cast<double>(AsNumber(literal)));
  return buf;
}

Result<Value> ToWholeNumber(const Value& literal, const ColumnDef& column, bool exact) {
  int64_t i;
  if (!AsInteger(literal, &i)) {
    const long double d = AsNumber(literal);
    const long double rounded = std::nearbyint(d);  // to even on a tie, as Access rounds
    if ((exact && rounded != d) || !(std::fabs(rounded) < 9.3e18L)) {
      return Error(ErrorCode::kInvalidArgument, "the number does not fit column \"" + column.name + "\"");
    }
    i = static_cast<int64_t>(rounded);
  }
  int64_t low = INT32_MIN, high = INT32_MAX;
  if (column.type == ColumnType::kByte) low = 0, high = 255;
  if (column.type == ColumnType::kInteger) low = INT16_MIN, high = INT16_MAX;
  if (i < low || i > high) {
    return Error(ErrorCode::kInvalidArgument, std::to_string(i) + " is out of range for column \"" + column.name + "\" (" +
                                                  ColumnTypeName(column.type) + ")");
  }
  return Value(i);
}

Result<Value> ToOtherNumber(const Value& literal, const ColumnDef& column, bool exact) {
  const long double d = AsNumber(literal);
  const auto inexact = [&] { return Error(ErrorCode::kInvalidArgument, "the number does not fit column \"" + column.name + "\""); };
  const auto out_of_range = [&] {
    return Error(ErrorCode::kInvalidArgument, NumberText(literal) + " is out of range for column \"" + column.name + "\" (" +
                                                  ColumnTypeName(column.type) + ")");
  };
  switch (column.type) {
    case ColumnType::kBoolean: {
      if (exact && d != 0 && d != -1) return inexact();
      return Value(d != 0);
    }
    case ColumnType::kCurrency: {
      const long double scaled = std::nearbyint(d * 10000);
      if (exact && scaled != d * 10000) return inexact();
      if (!(scaled >= -9223372036854775808.0L && scaled <= 9223372036854775807.0L)) return out_of_range();
      return Value(Currency{static_cast<int64_t>(scaled)});
    }
    case ColumnType::kSingle: {
      const float f = static_cast<float>(d);
      if (exact && f != d) return inexact();
      if (!std::isfinite(f)) return out_of_range();  // past the largest Single, the nearest float is infinity
      return Value(f);
    }
    case ColumnType::kDouble: {
      if (!std::isfinite(static_cast<double>(d))) return out_of_range();
      return Value(static_cast<double>(d));
    }
    case ColumnType::kDateTime: {
      if (!(d > kDayBeforeFirstDate && d < kDayAfterLastDate)) return out_of_range();
      return Value(DateTime{static_cast<double>(d)});
    }
    default:
      return Error(ErrorCode::kUnsupported, std::string("values of ") + ColumnTypeName(column.type) +
                                                " columns cannot be written from SQL");
  }
}


}  // namespace

Result<Value> ConvertToColumn(const Value& literal, const ColumnDef& column, bool exact, const std::string& spelled) {
  if (IsNull(literal)) return literal;
  const ValueClass want = ClassOf(column.type);
  Value number = literal;
  std::string written = spelled;
  if (const Text* text = std::get_if<Text>(&literal)) {
    if (want == ValueClass::kText) return literal;
    // Access assigns a text that spells a number to a number column.
    const std::string s = ToUtf8(*text);
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (exact || s.empty() || *end != '\0') {
      return Error(ErrorCode::kInvalidArgument, "type mismatch: column \"" + column.name + "\" is " +
                                                    ColumnTypeName(column.type) + ", the value is a text");
    }
    number = d;
    written = s;
  } else if (want == ValueClass::kText) {
    if (exact || std::holds_alternative<bool>(literal)) {
      return Error(ErrorCode::kInvalidArgument, "type mismatch: column \"" + column.name + "\" is text, the value is not");
    }
    return Value(FromUtf8(NumberText(literal)));
  }
  if (column.type == ColumnType::kCurrency) {
    if (std::optional<Currency> amount = ParseCurrency(written)) return Value(*amount);
  }
  if (IsWholeNumberType(column.type)) return ToWholeNumber(number, column, exact);
  return ToOtherNumber(number, column, exact);
}

// ---- Compiling -------------------------------------------------------------------------------

struct Condition::Node {
  enum class Kind { kAnd, kOr, kNot, kCompare, kLike, kIsNull, kTruth, kConstant };
  struct Operand {
    int column = -1;    // a column of the row, or
    Value literal;      // a constant
    std::string key;    // a text constant's sort key
  };

  Kind kind = Kind::kConstant;
  std::vector<std::unique_ptr<Node>> children;
  Operand a, b;
  CompareOp op = CompareOp::kEqual;
  ValueClass cls = ValueClass::kNull;
  bool negated = false;
  std::optional<LikePattern> like;
  bool row_text = false;  // kLike: the operand is a Text column, which rows hold in themselves
  Truth constant = Truth::kUnknown;
};

class Condition::Compiler {
 public:
  Compiler(const TableDef& def, JetVersion version, const std::string& sql, std::vector<size_t>* columns)
      : def_(def), version_(version), sql_(sql), columns_(columns) {}

  Result<std::unique_ptr<Node>> Cond(const Expr& e);

 private:
  using Operand = Node::Operand;
  Result<Operand> Scalar(const Expr& e, ValueClass* cls);
  Result<std::unique_ptr<Node>> Compare(const Expr& e);
  Result<std::unique_ptr<Node>> Like(const Expr& e);
  Result<std::unique_ptr<Node>> Bare(const Expr& e);
  void Flatten(const Expr& e, Expr::Kind kind, std::vector<const Expr*>* out);
  std::string Describe(const Expr& e) const;
  Error At(const Expr& e, const std::string& what, ErrorCode code = ErrorCode::kInvalidArgument) const {
    return SqlError(code, what, sql_, e.offset, e.token);
  }
  const ColumnDef& ColumnOf(const Expr& e) const { return def_.columns[static_cast<size_t>(e.column_index)]; }

  const TableDef& def_;
  JetVersion version_;
  const std::string& sql_;
  std::vector<size_t>* columns_;
};

std::string Condition::Compiler::Describe(const Expr& e) const {
  if (e.kind == Expr::Kind::kColumn) {
    return "column \"" + ColumnOf(e).name + "\" is " + ColumnTypeName(ColumnOf(e).type);
  }
  return e.token + " is " + ClassName(ClassOfValue(e.literal));
}

Result<Condition::Node::Operand> Condition::Compiler::Scalar(const Expr& e, ValueClass* cls) {
  Operand o;
  if (e.kind == Expr::Kind::kLiteral) {
    o.literal = e.literal;
    *cls = ClassOfValue(e.literal);
    if (const Text* t = std::get_if<Text>(&e.literal)) AppendTextKey(version_, *t, true, &o.key);
    return o;
  }
  if (e.kind != Expr::Kind::kColumn) return At(e, "expected a value, not a condition,");
  if (e.column_index < 0 || static_cast<size_t>(e.column_index) >= def_.columns.size()) {
    return At(e, "column \"" + e.column + "\" is not bound to the table", ErrorCode::kNotFound);
  }
  o.column = e.column_index;
  *cls = ClassOf(ColumnOf(e).type);
  bool seen = false;
  for (size_t c : *columns_) seen = seen || c == static_cast<size_t>(o.column);
  if (!seen) columns_->push_back(static_cast<size_t>(o.column));
  return o;
}

void Condition::Compiler::Flatten(const Expr& e, Expr::Kind kind, std::vector<const Expr*>* out) {
  if (e.kind != kind) {
    out->push_back(&e);
    return;
  }
  Flatten(*e.left, kind, out);
  Flatten(*e.right, kind, out);
}

Result<std::unique_ptr<Condition::Node>> Condition::Compiler::Cond(const Expr& e) {
  auto node = std::make_unique<Node>();
  switch (e.kind) {
    case Expr::Kind::kAnd:
    case Expr::Kind::kOr: {
      node->kind = e.kind == Expr::Kind::kAnd ? Node::Kind::kAnd : Node::Kind::kOr;
      std::vector<const Expr*> parts;
      Flatten(e, e.kind, &parts);
      for (const Expr* part : parts) {
        JET_ASSIGN_OR_RETURN(std::unique_ptr<Node> child, Cond(*part));
        node->children.push_back(std::move(child));
      }
      return node;
    }
    case Expr::Kind::kNot: {
      node->kind = Node::Kind::kNot;
      JET_ASSIGN_OR_RETURN(std::unique_ptr<Node> child, Cond(*e.left));
      node->children.push_back(std::move(child));
      return node;
    }
    case Expr::Kind::kCompare: return Compare(e);
    case Expr::Kind::kLike: return Like(e);
    case Expr::Kind::kIsNull: {
      node->kind = Node::Kind::kIsNull;
      node->negated = e.negated;
      ValueClass cls;
      JET_ASSIGN_OR_RETURN(node->a, Scalar(*e.left, &cls));
      return node;
    }
    default: return Bare(e);
  }
}

Result<std::unique_ptr<Condition::Node>> Condition::Compiler::Compare(const Expr& e) {
  auto node = std::make_unique<Node>();
  node->kind = Node::Kind::kCompare;
  node->op = e.op;
  ValueClass ca, cb;
  JET_ASSIGN_OR_RETURN(node->a, Scalar(*e.left, &ca));
  JET_ASSIGN_OR_RETURN(node->b, Scalar(*e.right, &cb));
  if (ca == ValueClass::kNull || cb == ValueClass::kNull) {  // "= Null" is never true
    node->kind = Node::Kind::kConstant;
    return node;
  }
  if (ca == ValueClass::kOther) return At(*e.left, "cannot compare: " + Describe(*e.left));
  if (cb == ValueClass::kOther) return At(*e.right, "cannot compare: " + Describe(*e.right));
  if (ca != cb) {
    const Expr& blame = e.right->kind == Expr::Kind::kLiteral ? *e.right : *e.left;
    return At(blame, "type mismatch (" + Describe(*e.left) + ", " + Describe(*e.right) + ")");
  }
  node->cls = ca;
  return node;
}

Result<std::unique_ptr<Condition::Node>> Condition::Compiler::Like(const Expr& e) {
  auto node = std::make_unique<Node>();
  node->kind = Node::Kind::kLike;
  node->negated = e.negated;
  ValueClass cls;
  JET_ASSIGN_OR_RETURN(node->a, Scalar(*e.left, &cls));
  const bool whole_number = e.left->kind == Expr::Kind::kColumn && IsWholeNumberType(ColumnOf(*e.left).type);
  if (cls != ValueClass::kText && cls != ValueClass::kNull && !whole_number) {
    return At(*e.left, "LIKE applies to texts and whole numbers (" + Describe(*e.left) + ")");
  }
  const Expr& pattern = *e.right;
  if (pattern.kind != Expr::Kind::kLiteral || ClassOfValue(pattern.literal) == ValueClass::kNumber) {
    return At(pattern, "LIKE needs a quoted pattern");
  }
  if (cls == ValueClass::kNull || IsNull(pattern.literal)) {
    node->kind = Node::Kind::kConstant;
    return node;
  }
  auto compiled = LikePattern::Compile(version_, std::get<Text>(pattern.literal));
  if (!compiled.ok()) return At(pattern, compiled.error().message());
  node->like.emplace(std::move(compiled).value());
  node->b.literal = pattern.literal;
  node->row_text = e.left->kind == Expr::Kind::kColumn && ColumnOf(*e.left).type == ColumnType::kText;
  return node;
}

Result<std::unique_ptr<Condition::Node>> Condition::Compiler::Bare(const Expr& e) {
  auto node = std::make_unique<Node>();
  ValueClass cls;
  JET_ASSIGN_OR_RETURN(node->a, Scalar(e, &cls));
  if (cls == ValueClass::kText || cls == ValueClass::kOther) {
    return At(e, "type mismatch: " + Describe(e) + ", not a condition");
  }
  if (e.kind == Expr::Kind::kLiteral) {
    node->kind = Node::Kind::kConstant;
    if (cls == ValueClass::kNumber) node->constant = FromBool(AsNumber(e.literal) != 0);
    return node;
  }
  node->kind = Node::Kind::kTruth;
  return node;
}

// ---- Evaluating ------------------------------------------------------------------------------

Condition::~Condition() = default;

Result<std::unique_ptr<Condition>> Condition::Compile(const Expr& where, const TableDef& def, JetVersion version,
                                                      const std::string& sql) {
  std::unique_ptr<Condition> c(new Condition());
  c->version_ = version;
  Compiler compiler(def, version, sql, &c->columns_);
  JET_ASSIGN_OR_RETURN(c->root_, compiler.Cond(where));
  return c;
}

std::optional<std::vector<std::u16string>> Condition::RequiredTexts() const { return RequiredTexts(*root_); }

// A row is only true for OR when one side is, and for AND when both are.
std::optional<std::vector<std::u16string>> Condition::RequiredTexts(const Node& node) const {
  using Texts = std::vector<std::u16string>;
  switch (node.kind) {
    case Node::Kind::kLike: {
      if (!node.row_text || node.negated) return std::nullopt;
      std::u16string text = node.like->RequiredText();
      if (text.empty()) return std::nullopt;
      return Texts{std::move(text)};
    }
    case Node::Kind::kOr: {
      Texts all;
      for (const auto& child : node.children) {
        std::optional<Texts> texts = RequiredTexts(*child);
        if (!texts) return std::nullopt;
        all.insert(all.end(), texts->begin(), texts->end());
      }
      return all;
    }
    case Node::Kind::kAnd: {
      std::optional<Texts> best;
      for (const auto& child : node.children) {
        std::optional<Texts> texts = RequiredTexts(*child);
        if (texts && (!best || texts->size() < best->size())) best = std::move(texts);
      }
      return best;
    }
    default: return std::nullopt;
  }
}

std::optional<std::vector<Condition::LikeTerm>> Condition::LikeDisjunction() const {
  std::vector<LikeTerm> terms;
  std::vector<const Node*> todo = {root_.get()};
  while (!todo.empty()) {
    const Node* node = todo.back();
    todo.pop_back();
    if (node->kind == Node::Kind::kOr) {
      for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) todo.push_back(it->get());
    } else if (node->kind == Node::Kind::kLike && node->row_text && !node->negated && node->a.column >= 0) {
      terms.push_back(LikeTerm{static_cast<size_t>(node->a.column), &*node->like, &std::get<Text>(node->b.literal)});
    } else {
      return std::nullopt;
    }
  }
  return terms;
}

Result<bool> Condition::Matches(RowValues& row) const {
  JET_ASSIGN_OR_RETURN(Truth t, Eval(*root_, row));
  return t == Truth::kTrue;
}

Result<bool> Condition::Matches(const std::vector<Value>& row) const {
  DecodedRow values(row);
  return Matches(values);
}

Result<Truth> Condition::Evaluate(RowValues& row) const { return Eval(*root_, row); }

Result<Truth> Condition::Eval(const Node& node, RowValues& row) const {
  switch (node.kind) {
    case Node::Kind::kAnd:
    case Node::Kind::kOr: {
      // AND stops at the first false, OR at the first true; unknown survives otherwise.
      const Truth decisive = node.kind == Node::Kind::kAnd ? Truth::kFalse : Truth::kTrue;
      Truth result = node.kind == Node::Kind::kAnd ? Truth::kTrue : Truth::kFalse;
      for (const auto& child : node.children) {
        JET_ASSIGN_OR_RETURN(Truth t, Eval(*child, row));
        if (t == decisive) return t;
        if (t == Truth::kUnknown) result = Truth::kUnknown;
      }
      return result;
    }
    case Node::Kind::kNot: {
      JET_ASSIGN_OR_RETURN(Truth t, Eval(*node.children[0], row));
      return t == Truth::kUnknown ? t : FromBool(t == Truth::kFalse);
    }
    case Node::Kind::kCompare: return EvalCompare(node, row);
    case Node::Kind::kLike: return EvalLike(node, row);
    case Node::Kind::kIsNull: {
      const Value* v = &node.a.literal;
      if (node.a.column >= 0) {
        JET_ASSIGN_OR_RETURN(v, row.Get(static_cast<size_t>(node.a.column)));
      }
      return FromBool(IsNull(*v) != node.negated);
    }
    case Node::Kind::kTruth: {
      JET_ASSIGN_OR_RETURN(const Value* v, row.Get(static_cast<size_t>(node.a.column)));
      if (IsNull(*v)) return Truth::kUnknown;
      return FromBool(AsNumber(*v) != 0);
    }
    case Node::Kind::kConstant: return node.constant;
  }
  return Truth::kUnknown;
}

Result<Truth> Condition::EvalCompare(const Node& node, RowValues& row) const {
  const Value* a = &node.a.literal;
  const Value* b = &node.b.literal;
  if (node.a.column >= 0) {
    JET_ASSIGN_OR_RETURN(a, row.Get(static_cast<size_t>(node.a.column)));
  }
  if (node.b.column >= 0) {
    JET_ASSIGN_OR_RETURN(b, row.Get(static_cast<size_t>(node.b.column)));
  }
  if (IsNull(*a) || IsNull(*b)) return Truth::kUnknown;
  if (node.cls != ValueClass::kText) return FromBool(Holds(node.op, CompareNumbers(*a, *b)));
  // Texts compare by their sort keys; a constant's key was made once.
  const Text* ta = std::get_if<Text>(a);
  const Text* tb = std::get_if<Text>(b);
  if (ta == nullptr || tb == nullptr) return Truth::kUnknown;
  const std::string* ka = &node.a.key;
  const std::string* kb = &node.b.key;
  if (node.a.column >= 0) {
    key_a_.clear();
    AppendTextKey(version_, *ta, true, &key_a_);
    ka = &key_a_;
  }
  if (node.b.column >= 0) {
    key_b_.clear();
    AppendTextKey(version_, *tb, true, &key_b_);
    kb = &key_b_;
  }
  return FromBool(Holds(node.op, ka->compare(*kb)));
}

Result<Truth> Condition::EvalLike(const Node& node, RowValues& row) const {
  if (node.a.column >= 0) {
    // Texts are matched where the row keeps them, without decoding them first.
    StoredText stored;
    JET_ASSIGN_OR_RETURN(Stored kind, row.GetStored(static_cast<size_t>(node.a.column), &stored));
    if (kind == Stored::kNull) return Truth::kUnknown;
    if (kind == Stored::kText) return FromBool(node.like->MatchesStored(stored.bytes, stored.size) != node.negated);
  }
  const Value* v = &node.a.literal;
  if (node.a.column >= 0) {
    JET_ASSIGN_OR_RETURN(v, row.Get(static_cast<size_t>(node.a.column)));
  }
  if (IsNull(*v)) return Truth::kUnknown;
  bool matched;
  if (const Text* text = std::get_if<Text>(v)) {
    matched = node.like->Matches(*text);
  } else {
    digits_ = FromUtf8(NumberText(*v));
    matched = node.like->Matches(digits_);
  }
  return FromBool(matched != node.negated);
}

}  // namespace jet
