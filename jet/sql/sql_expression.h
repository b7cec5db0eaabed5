// Conditions evaluated against a table's rows, with Access's semantics:
//   - numbers compare numerically whatever their column type (a Boolean is -1 for True, 0 for
//     False); texts compare as the General sort order does (case-insensitive, accents count,
//     trailing blanks ignored); a number never compares with a text (a type mismatch, as in
//     Access, reported when the condition is compiled);
//   - any comparison with NULL is unknown, and a row matches only when its condition is true
//     (three-valued AND, OR and NOT: unknown AND false is false, unknown OR true is true);
//   - LIKE takes a quoted pattern (sql_like.h) and applies to texts and to whole-number columns
//     (matched as their decimal digits, as Access does);
//   - a bare value is a condition when it is a Boolean or a number (not zero = true).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/sql/sql_parser.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"
#include "jet/sql/sql_like.h"
#include "jet/base/value.h"

namespace jet {

// Resolves every column of `expr` against `def` (names regardless of letter case; a qualifier
// must name the table) and records it in Expr::column_index. kNotFound names the column.
Status BindColumns(const TableDef& def, const std::string& sql, Expr* expr);
// The position in def.columns of a named column.
Result<size_t> ResolveColumn(const TableDef& def, const NameRef& name, const std::string& sql);

enum class Truth : uint8_t { kFalse, kTrue, kUnknown };

// The bytes a Text value is kept as in its row (row_decoder.h), valid until the row changes.
struct StoredText {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

// What a row can say of a Text column without decoding it.
enum class Stored : uint8_t {
  kText,         // the value is not NULL and its stored bytes were given
  kNull,         // the value is NULL
  kUnavailable,  // ask Get instead
};

// The values of one row, fetched on demand so that a condition decodes only what it reads.
class RowValues {
 public:
  virtual ~RowValues() = default;
  // The value of def.columns[column_index]; valid until the row changes.
  virtual Result<const Value*> Get(size_t column_index) = 0;
  // For a Text column: its stored bytes, so that a test like LIKE can read them in place.
  virtual Result<Stored> GetStored(size_t column_index, StoredText* text) { return Stored::kUnavailable; }
};

// A row already decoded, one value per column of the definition (as TableCursor gives them).
class DecodedRow final : public RowValues {
 public:
  explicit DecodedRow(const std::vector<Value>& values) : values_(values) {}
  Result<const Value*> Get(size_t column_index) override;

 private:
  const std::vector<Value>& values_;
};

// A compiled WHERE condition. Not safe for use by two threads at once (it keeps scratch buffers).
class Condition {
 public:
  // `where` must be bound to `def`. Fails on a type mismatch, a LIKE without a quoted pattern or
  // with an invalid one, and a value used as a condition that cannot be one.
  static Result<std::unique_ptr<Condition>> Compile(const Expr& where, const TableDef& def, JetVersion version,
                                                    const std::string& sql);
  ~Condition();

  Result<Truth> Evaluate(RowValues& row) const;
  // True only when the condition is true (not false, not unknown).
  Result<bool> Matches(RowValues& row) const;
  Result<bool> Matches(const std::vector<Value>& row) const;

  // The columns the condition reads, as positions in def.columns, without repeats.
  const std::vector<size_t>& columns() const { return columns_; }

  // Strings (folded, as LikePattern::RequiredText) of which every matching row holds at least
  // one in a Text column, stored in the row itself; nothing when the condition asks for none.
  std::optional<std::vector<std::u16string>> RequiredTexts() const;

  // When the condition is LIKEs on Text columns joined by OR (one LIKE alone included), none of
  // them negated: each column with its pattern (and the pattern as written). A row matches when
  // one of them matches; a NULL matches none. Valid as long as the condition.
  struct LikeTerm {
    size_t column;  // position in def.columns
    const LikePattern* like;
    const Text* pattern;
  };
  std::optional<std::vector<LikeTerm>> LikeDisjunction() const;

 private:
  struct Node;
  class Compiler;

  Condition() = default;
  Result<Truth> Eval(const Node& node, RowValues& row) const;
  Result<Truth> EvalCompare(const Node& node, RowValues& row) const;
  Result<Truth> EvalLike(const Node& node, RowValues& row) const;
  std::optional<std::vector<std::u16string>> RequiredTexts(const Node& node) const;

  JetVersion version_ = JetVersion::kJet4;
  std::unique_ptr<Node> root_;
  std::vector<size_t> columns_;
  mutable std::string key_a_, key_b_;  // text keys of the values being compared
  mutable Text digits_;                // a number's digits for LIKE
};

// How a value takes part in comparisons.
enum class ValueClass { kNull, kNumber, kText, kOther };
ValueClass ClassOf(ColumnType type);
ValueClass ClassOfValue(const Value& value);

// Orders two non-NULL values of the same class: <0, 0 or >0.
int CompareValues(JetVersion version, const Value& a, const Value& b);
// A numeric value (Boolean -1/0, whole numbers exactly); 0 for other values.
long double NumericValue(const Value& value);

// Converts a literal (Null, bool, int64_t, double or Text) to the value `column` stores, for
// UPDATE and for index keys. With `exact`, any change of value is an error; without it numbers
// round to whole numbers for whole-number columns and number and text convert into each other
// as Access assigns them. `spelled`, the literal as written, gives a Currency column its exact
// amount (a double holds few of the largest). Errors are kInvalidArgument without a position
// (callers add it): a value the column cannot hold is refused, never stored as another.
Result<Value> ConvertToColumn(const Value& literal, const ColumnDef& column, bool exact,
                              const std::string& spelled = std::string());

}  // namespace jet
