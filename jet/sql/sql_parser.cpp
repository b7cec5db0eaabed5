#include "jet/sql/sql_parser.h"

#include <cerrno>
#include <cstdlib>

#include "jet/sql/sql_lexer.h"
#include "jet/text/text_codec.h"

namespace jet {

namespace {

// Recursive descent over the token list. Precedence, loosest first: OR, AND, NOT, then one
// comparison, LIKE or IS NULL between two operands.
class Parser {
 public:
  Parser(const std::string& sql, std::vector<Token> tokens) : sql_(sql), tokens_(std::move(tokens)) {}

  Result<jet::Statement> Any();
  Result<std::unique_ptr<Expr>> ConditionOnly();

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Take() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
  bool TakeKeyword(const char* keyword);
  bool TakeSymbol(const char* symbol);
  Error Expected(const std::string& what) const {
    return SqlError(ErrorCode::kInvalidArgument, "syntax error (expected " + what + ")", sql_, Peek());
  }
  Status ExpectKeyword(const char* keyword);
  Status ExpectEnd(const char* expected = "the end of the statement");

  Result<NameRef> Name(const char* what);
  Result<NameRef> ColumnName();
  Result<SelectStatement> Select();
  Result<UpdateStatement> Update();
  Result<DeleteStatement> Delete();
  Result<std::optional<TopClause>> Top();
  Result<jet::Statement> Drop();

  Result<std::unique_ptr<Expr>> Or();
  Result<std::unique_ptr<Expr>> And();
  Result<std::unique_ptr<Expr>> Not();
  Result<std::unique_ptr<Expr>> Predicate();
  Result<std::unique_ptr<Expr>> Operand();
  Result<std::unique_ptr<Expr>> Number(const Token& token, bool negative);

  std::unique_ptr<Expr> Node(Expr::Kind kind, const Token& token) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->offset = token.offset;
    e->token = token.text;
    return e;
  }

  const std::string& sql_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

bool Parser::TakeKeyword(const char* keyword) {
  if (!Peek().IsKeyword(keyword)) return false;
  Take();
  return true;
}

bool Parser::TakeSymbol(const char* symbol) {
  if (!Peek().IsSymbol(symbol)) return false;
  Take();
  return true;
}

Status Parser::ExpectKeyword(const char* keyword) {
  return TakeKeyword(keyword) ? Status::Ok() : Status(Expected(keyword));
}

Status Parser::ExpectEnd(const char* expected) {
  TakeSymbol(";");
  return Peek().kind == TokenKind::kEnd ? Status::Ok() : Status(Expected(expected));
}

// Keywords that cannot be bare names, so that "SELECT * FROM T ORDR BY x" fails where it should.
bool IsReserved(const Token& t) {
  for (const char* k : {"SELECT", "FROM", "WHERE", "ORDER", "BY", "AND", "OR", "NOT", "LIKE", "IS", "NULL",
                        "TRUE", "FALSE", "UPDATE", "SET", "DELETE", "DROP", "ON", "ASC", "DESC"}) {
    if (t.IsKeyword(k)) return true;
  }
  return false;
}

Result<NameRef> Parser::Name(const char* what) {
  const Token& t = Peek();
  if ((t.kind != TokenKind::kName || IsReserved(t)) && t.kind != TokenKind::kBracketed) return Expected(what);
  Take();
  return NameRef{"", t.value, t.offset, t.text};
}

Result<NameRef> Parser::ColumnName() {
  JET_ASSIGN_OR_RETURN(NameRef first, Name("a column name"));
  if (!TakeSymbol(".")) return first;
  JET_ASSIGN_OR_RETURN(NameRef column, Name("a column name after the dot"));
  column.qualifier = first.name;
  return column;
}

Result<Statement> Parser::Any() {
  if (Peek().IsKeyword("SELECT")) {
    JET_ASSIGN_OR_RETURN(SelectStatement s, Select());
    return jet::Statement(std::move(s));
  }
  if (Peek().IsKeyword("UPDATE")) {
    JET_ASSIGN_OR_RETURN(UpdateStatement s, Update());
    return jet::Statement(std::move(s));
  }
  if (Peek().IsKeyword("DELETE")) {
    JET_ASSIGN_OR_RETURN(DeleteStatement s, Delete());
    return jet::Statement(std::move(s));
  }
  if (Peek().IsKeyword("DROP")) return Drop();
  return Expected("SELECT, UPDATE, DELETE or DROP");
}

// TOP followed by a comma or FROM is a column of that name.
Result<std::optional<TopClause>> Parser::Top() {
  if (!Peek().IsKeyword("TOP") || tokens_[pos_ + 1].IsSymbol(",") || tokens_[pos_ + 1].IsKeyword("FROM")) {
    return std::optional<TopClause>();
  }
  Take();  // TOP
  const Token& n = Peek();
  const bool percent = n.kind != TokenKind::kEnd && tokens_[pos_ + 1].IsKeyword("PERCENT");
  const char* wanted = percent ? "TOP n PERCENT needs a whole number from 1 to 100"
                               : "TOP needs a whole number of rows, at least 1 (as in SELECT TOP 10 ...)";
  if (n.kind != TokenKind::kNumber || n.value.find_first_not_of("0123456789") != std::string::npos) {
    return SqlError(ErrorCode::kInvalidArgument, wanted, sql_, n);
  }
  errno = 0;
  TopClause top{std::strtoull(n.value.c_str(), nullptr, 10), percent};
  if (errno != 0 || top.count == 0 || (percent && top.count > 100)) return SqlError(ErrorCode::kInvalidArgument, wanted, sql_, n);
  Take();
  if (percent) Take();
  return std::optional<TopClause>(top);
}

Result<SelectStatement> Parser::Select() {
  Take();  // SELECT
  SelectStatement s;
  JET_ASSIGN_OR_RETURN(s.top, Top());
  if (!TakeSymbol("*")) {
    do {
      JET_ASSIGN_OR_RETURN(NameRef column, ColumnName());
      s.columns.push_back(std::move(column));
    } while (TakeSymbol(","));
  }
  JET_RETURN_IF_ERROR(ExpectKeyword("FROM"));
  JET_ASSIGN_OR_RETURN(s.table, Name("a table name"));
  if (TakeKeyword("WHERE")) {
    JET_ASSIGN_OR_RETURN(s.where, Or());
  }
  if (TakeKeyword("ORDER")) {
    JET_RETURN_IF_ERROR(ExpectKeyword("BY"));
    do {
      OrderTerm term;
      JET_ASSIGN_OR_RETURN(term.column, ColumnName());
      if (TakeKeyword("DESC")) {
        term.ascending = false;
      } else {
        TakeKeyword("ASC");
      }
      s.order_by.push_back(std::move(term));
    } while (TakeSymbol(","));
    JET_RETURN_IF_ERROR(ExpectEnd("a comma or the end"));
  }
  JET_RETURN_IF_ERROR(ExpectEnd(s.where ? "AND, OR, ORDER BY or the end" : "WHERE, ORDER BY or the end"));
  return s;
}

Result<UpdateStatement> Parser::Update() {
  Take();  // UPDATE
  UpdateStatement s;
  JET_ASSIGN_OR_RETURN(s.table, Name("a table name"));
  JET_RETURN_IF_ERROR(ExpectKeyword("SET"));
  do {
    Assignment a;
    JET_ASSIGN_OR_RETURN(a.column, ColumnName());
    if (!TakeSymbol("=")) return Expected("=");
    JET_ASSIGN_OR_RETURN(a.value, Operand());
    s.assignments.push_back(std::move(a));
  } while (TakeSymbol(","));
  if (TakeKeyword("WHERE")) {
    JET_ASSIGN_OR_RETURN(s.where, Or());
  }
  JET_RETURN_IF_ERROR(ExpectEnd(s.where ? "AND, OR or the end" : "WHERE or the end"));
  return s;
}

Result<DeleteStatement> Parser::Delete() {
  Take();  // DELETE
  DeleteStatement s;
  TakeSymbol("*");
  JET_RETURN_IF_ERROR(ExpectKeyword("FROM"));
  JET_ASSIGN_OR_RETURN(s.table, Name("a table name"));
  if (TakeKeyword("WHERE")) {
    JET_ASSIGN_OR_RETURN(s.where, Or());
  }
  JET_RETURN_IF_ERROR(ExpectEnd(s.where ? "AND, OR or the end" : "WHERE or the end"));
  return s;
}

Result<Statement> Parser::Drop() {
  Take();  // DROP
  if (TakeKeyword("TABLE")) {
    DropTableStatement s;
    JET_ASSIGN_OR_RETURN(s.table, Name("a table name"));
    JET_RETURN_IF_ERROR(ExpectEnd());
    return jet::Statement(std::move(s));
  }
  if (!TakeKeyword("INDEX")) return Expected("TABLE or INDEX");
  DropIndexStatement s;
  JET_ASSIGN_OR_RETURN(s.index, Name("an index name"));
  JET_RETURN_IF_ERROR(ExpectKeyword("ON"));
  JET_ASSIGN_OR_RETURN(s.table, Name("a table name"));
  JET_RETURN_IF_ERROR(ExpectEnd());
  return jet::Statement(std::move(s));
}

Result<std::unique_ptr<Expr>> Parser::ConditionOnly() {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Expr> e, Or());
  JET_RETURN_IF_ERROR(ExpectEnd());
  return e;
}

Result<std::unique_ptr<Expr>> Parser::Or() {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Expr> left, And());
  while (Peek().IsKeyword("OR")) {
    std::unique_ptr<Expr> node = Node(Expr::Kind::kOr, Take());
    JET_ASSIGN_OR_RETURN(node->right, And());
    node->left = std::move(left);
    left = std::move(node);
  }
  return left;
}

Result<std::unique_ptr<Expr>> Parser::And() {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Expr> left, Not());
  while (Peek().IsKeyword("AND")) {
    std::unique_ptr<Expr> node = Node(Expr::Kind::kAnd, Take());
    JET_ASSIGN_OR_RETURN(node->right, Not());
    node->left = std::move(left);
    left = std::move(node);
  }
  return left;
}

Result<std::unique_ptr<Expr>> Parser::Not() {
  if (!Peek().IsKeyword("NOT")) return Predicate();
  std::unique_ptr<Expr> node = Node(Expr::Kind::kNot, Take());
  JET_ASSIGN_OR_RETURN(node->left, Not());
  return node;
}

Result<std::unique_ptr<Expr>> Parser::Predicate() {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Expr> left, Operand());
  static const std::pair<const char*, CompareOp> kOperators[] = {
      {"=", CompareOp::kEqual},     {"<>", CompareOp::kNotEqual},   {"<", CompareOp::kLess},
      {"<=", CompareOp::kLessEqual}, {">", CompareOp::kGreater}, {">=", CompareOp::kGreaterEqual}};
  for (const auto& [symbol, op] : kOperators) {
    if (!Peek().IsSymbol(symbol)) continue;
    std::unique_ptr<Expr> node = Node(Expr::Kind::kCompare, Take());
    node->op = op;
    node->left = std::move(left);
    JET_ASSIGN_OR_RETURN(node->right, Operand());
    return node;
  }
  if (Peek().IsKeyword("IS")) {
    std::unique_ptr<Expr> node = Node(Expr::Kind::kIsNull, Take());
    node->negated = TakeKeyword("NOT");
    JET_RETURN_IF_ERROR(ExpectKeyword("NULL"));
    node->left = std::move(left);
    return node;
  }
  const bool not_like = Peek().IsKeyword("NOT") && tokens_[pos_ + 1].IsKeyword("LIKE");
  if (not_like || Peek().IsKeyword("LIKE")) {
    if (not_like) Take();
    std::unique_ptr<Expr> node = Node(Expr::Kind::kLike, Take());
    node->negated = not_like;
    node->left = std::move(left);
    JET_ASSIGN_OR_RETURN(node->right, Operand());
    return node;
  }
  return left;
}

Result<std::unique_ptr<Expr>> Parser::Operand() {
  const Token& t = Peek();
  if (TakeSymbol("(")) {
    JET_ASSIGN_OR_RETURN(std::unique_ptr<Expr> inner, Or());
    if (!TakeSymbol(")")) return Expected(")");
    return inner;
  }
  if (t.IsSymbol("-")) {
    Take();
    if (Peek().kind != TokenKind::kNumber) return Expected("a number after '-'");
    return Number(Take(), true);
  }
  if (t.kind == TokenKind::kNumber) return Number(Take(), false);
  if (t.kind == TokenKind::kString) {
    auto text = StrictFromUtf8(t.value);
    if (!text.ok()) return SqlError(ErrorCode::kInvalidArgument, text.error().message(), sql_, t);
    std::unique_ptr<Expr> e = Node(Expr::Kind::kLiteral, Take());
    e->literal = std::move(text).value();
    return e;
  }
  if (t.IsKeyword("NULL") || t.IsKeyword("TRUE") || t.IsKeyword("FALSE")) {
    std::unique_ptr<Expr> e = Node(Expr::Kind::kLiteral, Take());
    if (!t.IsKeyword("NULL")) e->literal = t.IsKeyword("TRUE");
    return e;
  }
  if ((t.kind == TokenKind::kName && !IsReserved(t)) || t.kind == TokenKind::kBracketed) {
    std::unique_ptr<Expr> e = Node(Expr::Kind::kColumn, t);
    JET_ASSIGN_OR_RETURN(NameRef name, ColumnName());
    e->qualifier = name.qualifier;
    e->column = name.name;
    return e;
  }
  return Expected("a value or a column");
}

// Whole numbers that fit 64 bits stay exact; everything else is a double.
Result<std::unique_ptr<Expr>> Parser::Number(const Token& token, bool negative) {
  std::unique_ptr<Expr> e = Node(Expr::Kind::kLiteral, token);
  if (negative) e->token = "-" + e->token;  // the number as written, which a Currency reads exactly
  const std::string& text = token.value;
  if (text.find_first_of(".eE") == std::string::npos) {
    errno = 0;
    const unsigned long long magnitude = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == 0 && magnitude <= (negative ? 9223372036854775808ull : 9223372036854775807ull)) {
      e->literal = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
      return e;
    }
  }
  const double d = std::strtod(text.c_str(), nullptr);
  e->literal = negative ? -d : d;
  return e;
}

}  // namespace

CompareOp SwapOperands(CompareOp op) {
  switch (op) {
    case CompareOp::kLess: return CompareOp::kGreater;
    case CompareOp::kLessEqual: return CompareOp::kGreaterEqual;
    case CompareOp::kGreater: return CompareOp::kLess;
    case CompareOp::kGreaterEqual: return CompareOp::kLessEqual;
    default: return op;
  }
}

const char* CompareOpText(CompareOp op) {
  switch (op) {
    case CompareOp::kEqual: return "=";
    case CompareOp::kNotEqual: return "<>";
    case CompareOp::kLess: return "<";
    case CompareOp::kLessEqual: return "<=";
    case CompareOp::kGreater: return ">";
    case CompareOp::kGreaterEqual: return ">=";
  }
  return "?";
}

std::unique_ptr<Expr> Expr::Clone() const {
  auto copy = std::make_unique<Expr>();
  copy->kind = kind;
  copy->offset = offset;
  copy->token = token;
  copy->literal = literal;
  copy->qualifier = qualifier;
  copy->column = column;
  copy->op = op;
  copy->negated = negated;
  copy->column_index = column_index;
  if (left) copy->left = left->Clone();
  if (right) copy->right = right->Clone();
  return copy;
}

Result<Statement> ParseStatement(const std::string& sql) {
  JET_ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(sql));
  return Parser(sql, std::move(tokens)).Any();
}

Result<SelectStatement> ParseSelect(const std::string& sql) {
  JET_ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(sql));
  if (!tokens.front().IsKeyword("SELECT")) {
    return SqlError(ErrorCode::kInvalidArgument, "syntax error (expected SELECT)", sql, tokens.front());
  }
  JET_ASSIGN_OR_RETURN(Statement statement, Parser(sql, std::move(tokens)).Any());
  return std::move(std::get<SelectStatement>(statement));
}

Result<std::unique_ptr<Expr>> ParseCondition(const std::string& sql) {
  JET_ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(sql));
  return Parser(sql, std::move(tokens)).ConditionOnly();
}

}  // namespace jet
