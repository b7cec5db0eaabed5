// The statements of the engine's Jet SQL dialect, parsed into a syntax tree:
//
//   SELECT [TOP n [PERCENT]] * | column[, column...] FROM table [WHERE condition]
//          [ORDER BY column [ASC|DESC][, ...]]
//   UPDATE table SET column = value[, column = value...] [WHERE condition]
//   DELETE [*] FROM table [WHERE condition]
//   DROP INDEX name ON table
//   DROP TABLE table
//
// Names are bare or bracketed ([Song Title]); a column may be qualified by its table
// ([MyList].[Song]). A condition combines OR, AND, NOT and parentheses over comparisons
// (= <> < <= > >=), LIKE / NOT LIKE with a pattern, IS [NOT] NULL, and bare values (a Boolean
// column). Values are columns, strings ('..' or ".."), numbers (optionally negative), True, False
// and Null. A trailing ';' is allowed. Keywords match regardless of letter case.
//
// The tree says nothing yet about tables: names are checked when a statement is bound to a table
// (sql_expression.h, sql_select.h). Every node keeps the offset and text of its token so that
// later errors can point into the statement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

enum class CompareOp { kEqual, kNotEqual, kLess, kLessEqual, kGreater, kGreaterEqual };

// The operator that holds with the operands swapped (a < b  <=>  b > a).
CompareOp SwapOperands(CompareOp op);
const char* CompareOpText(CompareOp op);

struct Expr {
  enum class Kind {
    kLiteral,  // literal: Null, bool, int64_t, double or Text
    kColumn,   // column (and its optional table qualifier)
    kAnd,      // left AND right
    kOr,       // left OR right
    kNot,      // NOT left
    kCompare,  // left op right
    kLike,     // left [NOT] LIKE right
    kIsNull,   // left IS [NOT] NULL
  };

  Kind kind = Kind::kLiteral;
  size_t offset = 0;  // byte offset in the statement of the node's token
  std::string token;  // that token's text, for messages
  Value literal;
  std::string qualifier;  // kColumn: "" or the table name written before the dot
  std::string column;     // kColumn: the name as written, without brackets
  CompareOp op = CompareOp::kEqual;
  bool negated = false;  // kLike: NOT LIKE; kIsNull: IS NOT NULL
  std::unique_ptr<Expr> left, right;

  // Set when the expression is bound to a table: the column's position in TableDef::columns.
  int column_index = -1;

  std::unique_ptr<Expr> Clone() const;
};

// A name in the statement (table, column or index) and where it was written.
struct NameRef {
  std::string qualifier;  // columns only: "" or the table name before the dot
  std::string name;
  size_t offset = 0;
  std::string token;
};

struct OrderTerm {
  NameRef column;
  bool ascending = true;
};

// TOP n: the first n rows (with ORDER BY, and every further row that ties with the n-th on all
// the ORDER BY columns); TOP n PERCENT: that share of the rows, rounded up.
struct TopClause {
  uint64_t count = 0;  // at least 1; at most 100 with `percent`
  bool percent = false;
};

struct SelectStatement {
  std::optional<TopClause> top;
  NameRef table;
  std::vector<NameRef> columns;  // empty for *
  std::unique_ptr<Expr> where;   // null without WHERE
  std::vector<OrderTerm> order_by;
};

struct Assignment {
  NameRef column;
  std::unique_ptr<Expr> value;
};

struct UpdateStatement {
  NameRef table;
  std::vector<Assignment> assignments;
  std::unique_ptr<Expr> where;  // null without WHERE: every row
};

struct DeleteStatement {
  NameRef table;
  std::unique_ptr<Expr> where;  // null without WHERE: every row
};

struct DropIndexStatement {
  NameRef index;
  NameRef table;
};

struct DropTableStatement {
  NameRef table;
};

using Statement = std::variant<SelectStatement, UpdateStatement, DeleteStatement, DropIndexStatement, DropTableStatement>;

// Parses one statement. Errors (kInvalidArgument) read "syntax error (expected ...) at position N
// near "token" in: <sql>".
Result<Statement> ParseStatement(const std::string& sql);
// Parses a SELECT; any other statement is an error.
Result<SelectStatement> ParseSelect(const std::string& sql);
// Parses a condition alone, as it would follow WHERE.
Result<std::unique_ptr<Expr>> ParseCondition(const std::string& sql);

}  // namespace jet
