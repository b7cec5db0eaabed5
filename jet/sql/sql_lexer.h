// Tokens of the engine's Jet SQL dialect, and the error form every SQL failure shares.
//
// The lexer knows names (bare, or in brackets, which may hold blanks and any character but ']'),
// strings (single or double quotes; a doubled quote stands for one), unsigned numbers (integers,
// decimals, exponents) and the symbols = <> < <= > >= ( ) , * . - ;. Keywords are bare names; the
// parser recognises them regardless of letter case. A minus sign is a symbol: the parser makes
// negative numbers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace jet {

enum class TokenKind {
  kName,      // bare name or keyword
  kBracketed, // [name]: never a keyword
  kString,
  kNumber,
  kSymbol,
  kEnd,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;   // as written in the statement (brackets and quotes included)
  std::string value;  // names without brackets, strings without quotes and doubling; numbers as written
  size_t offset = 0;  // byte offset in the statement

  bool IsSymbol(const char* symbol) const { return kind == TokenKind::kSymbol && text == symbol; }
  // A bare name equal to `keyword` ignoring ASCII letter case.
  bool IsKeyword(const char* keyword) const;
};

// Splits `sql` into tokens; the last one is kEnd (offset = sql.size()). Fails on an unterminated
// name or string and on a character the dialect does not use.
Result<std::vector<Token>> Tokenize(const std::string& sql);

// The error every SQL failure reports: "<what> at position N near "<token>" in: <sql>", where N
// counts the characters (not bytes) of `sql` before `offset`; at the end of the statement the
// token part reads "(end of statement)".
Error SqlError(ErrorCode code, const std::string& what, const std::string& sql, size_t offset,
               const std::string& token);
inline Error SqlError(ErrorCode code, const std::string& what, const std::string& sql, const Token& token) {
  return SqlError(code, what, sql, token.offset, token.text);
}

}  // namespace jet
