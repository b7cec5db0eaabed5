#include "jet/sql/sql_lexer.h"

#include <cctype>
#include <string_view>

namespace jet {

namespace {

bool IsNameStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsNamePart(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Lexer {
 public:
  explicit Lexer(const std::string& sql) : sql_(sql) {}

  Result<std::vector<Token>> Run();

 private:
  Status Quoted(char close, TokenKind kind);
  void Number();
  Status Symbol();
  void Push(TokenKind kind, size_t start, std::string value) {
    tokens_.push_back(Token{kind, sql_.substr(start, pos_ - start), std::move(value), start});
  }

  const std::string& sql_;
  size_t pos_ = 0;
  std::vector<Token> tokens_;
};

Result<std::vector<Token>> Lexer::Run() {
  while (true) {
    while (pos_ < sql_.size() && std::isspace(static_cast<unsigned char>(sql_[pos_]))) ++pos_;
    if (pos_ >= sql_.size()) break;
    const unsigned char c = static_cast<unsigned char>(sql_[pos_]);
    if (c == '[') {
      JET_RETURN_IF_ERROR(Quoted(']', TokenKind::kBracketed));
    } else if (c == '\'' || c == '"') {
      JET_RETURN_IF_ERROR(Quoted(static_cast<char>(c), TokenKind::kString));
    } else if (IsDigit(static_cast<char>(c)) ||
               (c == '.' && pos_ + 1 < sql_.size() && IsDigit(sql_[pos_ + 1]))) {
      Number();
    } else if (IsNameStart(c)) {
      const size_t start = pos_;
      while (pos_ < sql_.size() && IsNamePart(static_cast<unsigned char>(sql_[pos_]))) ++pos_;
      Push(TokenKind::kName, start, sql_.substr(start, pos_ - start));
    } else {
      JET_RETURN_IF_ERROR(Symbol());
    }
  }
  tokens_.push_back(Token{TokenKind::kEnd, "", "", sql_.size()});
  return std::move(tokens_);
}

// A bracketed name ends at the first ']'. A quoted string ends at a lone closing quote; a doubled
// one stands for the quote character itself.
Status Lexer::Quoted(char close, TokenKind kind) {
  const size_t start = pos_++;
  std::string value;
  while (pos_ < sql_.size()) {
    const char c = sql_[pos_++];
    if (c != close) {
      value += c;
      continue;
    }
    if (kind == TokenKind::kString && pos_ < sql_.size() && sql_[pos_] == close) {
      value += c;
      ++pos_;
      continue;
    }
    if (kind == TokenKind::kBracketed && value.empty()) {
      return SqlError(ErrorCode::kInvalidArgument, "empty name", sql_, start, "[]");
    }
    Push(kind, start, std::move(value));
    return Status::Ok();
  }
  const char* what = kind == TokenKind::kString ? "unterminated string" : "unterminated [name]";
  return SqlError(ErrorCode::kInvalidArgument, what, sql_, start, sql_.substr(start, 20));
}

void Lexer::Number() {
  const size_t start = pos_;
  while (pos_ < sql_.size() && IsDigit(sql_[pos_])) ++pos_;
  if (pos_ < sql_.size() && sql_[pos_] == '.') {
    ++pos_;
    while (pos_ < sql_.size() && IsDigit(sql_[pos_])) ++pos_;
  }
  // An exponent only when digits follow, so that "1e" stays a number followed by a name.
  if (pos_ < sql_.size() && (sql_[pos_] == 'e' || sql_[pos_] == 'E')) {
    size_t p = pos_ + 1;
    if (p < sql_.size() && (sql_[p] == '+' || sql_[p] == '-')) ++p;
    if (p < sql_.size() && IsDigit(sql_[p])) {
      pos_ = p;
      while (pos_ < sql_.size() && IsDigit(sql_[pos_])) ++pos_;
    }
  }
  Push(TokenKind::kNumber, start, sql_.substr(start, pos_ - start));
}

Status Lexer::Symbol() {
  const size_t start = pos_;
  const char c = sql_[pos_];
  const char next = pos_ + 1 < sql_.size() ? sql_[pos_ + 1] : '\0';
  if ((c == '<' && (next == '>' || next == '=')) || (c == '>' && next == '=')) {
    pos_ += 2;
  } else if (std::string_view("=<>(),*.-;").find(c) != std::string_view::npos) {
    pos_ += 1;
  } else {
    return SqlError(ErrorCode::kInvalidArgument, "unexpected character", sql_, start, std::string(1, c));
  }
  Push(TokenKind::kSymbol, start, sql_.substr(start, pos_ - start));
  return Status::Ok();
}

}  // namespace

bool Token::IsKeyword(const char* keyword) const {
  if (kind != TokenKind::kName) return false;
  size_t i = 0;
  for (; keyword[i] != '\0'; ++i) {
    if (i >= value.size() || std::tolower(static_cast<unsigned char>(value[i])) != std::tolower(keyword[i])) {
      return false;
    }
  }
  return i == value.size();
}

Result<std::vector<Token>> Tokenize(const std::string& sql) { return Lexer(sql).Run(); }

Error SqlError(ErrorCode code, const std::string& what, const std::string& sql, size_t offset,
               const std::string& token) {
  size_t characters = 0;
  for (size_t i = 0; i < offset && i < sql.size(); ++i) {
    if ((static_cast<unsigned char>(sql[i]) & 0xC0) != 0x80) ++characters;  // not a UTF-8 continuation
  }
  std::string message = what + " at position " + std::to_string(characters);
  message += offset >= sql.size() ? " (end of statement)" : " near \"" + token + "\"";
  return Error(code, message + " in: " + sql);
}

}  // namespace jet
