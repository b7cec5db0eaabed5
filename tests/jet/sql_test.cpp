// The SQL dialect without a database: how statements parse (and where errors point), how LIKE
// patterns match (against a plain backtracking matcher built on CompareText), and how conditions
// evaluate over rows given as values (three-valued logic, type rules).
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "jet/pages/table_def.h"
#include "jet/sql/sql_expression.h"
#include "jet/sql/sql_like.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_sort.h"
#include "jet/sql/text_presence.h"
#include "jet/text/collation.h"
#include "jet/text/fold_runs.h"
#include "jet/text/text_codec.h"
#include "tests/jet/test_support.h"

namespace {

using jet::CompareOp;
using jet::Expr;
using jet::FromUtf8;
using jet::JetVersion;
using jet::Text;
using jet::Value;

// A compact rendering of a condition tree, so that tests state the expected shape in one line.
std::string Show(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::kLiteral:
      if (jet::IsNull(e.literal)) return "Null";
      if (const bool* b = std::get_if<bool>(&e.literal)) return *b ? "True" : "False";
      if (const int64_t* i = std::get_if<int64_t>(&e.literal)) return std::to_string(*i);
      if (const double* d = std::get_if<double>(&e.literal)) return "d" + std::to_string(*d);
      return "'" + jet::ToUtf8(std::get<Text>(e.literal)) + "'";
    case Expr::Kind::kColumn: return (e.qualifier.empty() ? "" : e.qualifier + ".") + "[" + e.column + "]";
    case Expr::Kind::kAnd: return "(" + Show(*e.left) + " AND " + Show(*e.right) + ")";
    case Expr::Kind::kOr: return "(" + Show(*e.left) + " OR " + Show(*e.right) + ")";
    case Expr::Kind::kNot: return "NOT " + Show(*e.left);
    case Expr::Kind::kCompare: return Show(*e.left) + jet::CompareOpText(e.op) + Show(*e.right);
    case Expr::Kind::kLike: return Show(*e.left) + (e.negated ? " NOT LIKE " : " LIKE ") + Show(*e.right);
    case Expr::Kind::kIsNull: return Show(*e.left) + (e.negated ? " IS NOT NULL" : " IS NULL");
  }
  return "?";
}

std::string Condition(const std::string& sql) {
  auto e = jet::ParseCondition(sql);
  return e.ok() ? Show(*e.value()) : "error: " + e.error().message();
}

std::string ParseError(const std::string& sql) {
  auto s = jet::ParseStatement(sql);
  return s.ok() ? "parsed" : s.error().message();
}

// ---- Parsing ---------------------------------------------------------------------------------

// Whole SELECT and UPDATE statements, run against the fixtures: sql_query_test.cpp; DROP INDEX
// and DROP TABLE end to end: EngineExecute.UpdatesDropsAndChangesNothingOnFailure.

TEST(SqlParse, ColumnListsAndNames) {
  ASSERT_OK_LET(s, jet::ParseSelect("SELECT ID, [col 2], [MyList].[Song], MyList.Artist FROM T"));
  std::vector<std::string> columns;
  for (const auto& c : s->columns) columns.push_back(c.qualifier + "." + c.name);
  EXPECT_EQ(columns, (std::vector<std::string>{".ID", ".col 2", "MyList.Song", "MyList.Artist"}));
  EXPECT_EQ(s->where, nullptr);
  // A keyword can be a name only in brackets.
  EXPECT_TRUE(jet::ParseSelect("SELECT [Order], [Select] FROM [From]").ok());
  EXPECT_NE(ParseError("SELECT Order FROM T"), "parsed");
}

// (IS [NOT] NULL, [NOT] LIKE, True/False/Null, bare Yes/No columns, a constant on the left and
// doubled quotes are read as SqlCondition and SqlSongs evaluate them.)
TEST(SqlParse, ConditionsOperatorsAndLiterals) {
  const std::pair<const char*, const char*> cases[] = {
      {"a = 1 OR b <> 2 AND NOT c < 3", "([a]=1 OR ([b]<>2 AND NOT [c]<3))"},
      {"(a = 1 OR b = 2) AND c >= 3", "(([a]=1 OR [b]=2) AND [c]>=3)"},
      {"a <= 1 AND b > 2 AND c >= -3", "(([a]<=1 AND [b]>2) AND [c]>=-3)"},
      {"NOT NOT x", "NOT NOT [x]"},        {"a = \"say \"\"hi\"\"\"", "[a]='say \"hi\"'"},  {"a = 'Señor'", "[a]='Señor'"},
      {"a = ''", "[a]=''"},                {"a = 2.5", "[a]=d2.500000"},            {"a = -0.25", "[a]=d-0.250000"},
      {"a = .5", "[a]=d0.500000"},         {"a = 1e3", "[a]=d1000.000000"},
      {"a = -9223372036854775808", "[a]=-9223372036854775808"},
      {"a = 9223372036854775808", "[a]=d9223372036854775808.000000"},
  };
  for (const auto& [sql, shown] : cases) EXPECT_EQ(Condition(sql), shown) << sql;
}

// Each message ends in " in: " and the statement.
TEST(SqlParse, ErrorsNameThePositionAndToken) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM [MyList] ORDR BY [Song]", "syntax error (expected WHERE, ORDER BY or the end) at position 23 near \"ORDR\""},
      // Positions count characters, not bytes.
      {"SELECT * FROM T WHERE a = 'Señor' ORDR BY a", "syntax error (expected AND, OR, ORDER BY or the end) at position 34 near \"ORDR\""},
      {"SELECT * FROM T WHERE", "syntax error (expected a value or a column) at position 21 (end of statement)"},
      {"SELECT * FORM T", "syntax error (expected FROM) at position 9 near \"FORM\""},
      {"SELECT a b FROM T", "syntax error (expected FROM) at position 9 near \"b\""},
      {"SELECT * FROM T WHERE a = 'open", "unterminated string at position 26 near \"'open\""},
      {"SELECT * FROM [T WHERE", "unterminated [name] at position 14 near \"[T WHERE\""},
      {"SELECT * FROM []", "empty name at position 14 near \"[]\""},
      {"DELETE T", "syntax error (expected FROM) at position 7 near \"T\""},
      {"SELECT * FROM T WHERE a != 1", "unexpected character at position 24 near \"!\""},
      {"SELECT * FROM T WHERE (a = 1", "syntax error (expected )) at position 28 (end of statement)"},
      {"SELECT * FROM T WHERE a = - 'x'", "syntax error (expected a number after '-') at position 28 near \"'x'\""},
      {"SELECT * FROM T WHERE a IS 5", "syntax error (expected NULL) at position 27 near \"5\""},
      {"SELECT * FROM T ORDER [a]", "syntax error (expected BY) at position 22 near \"[a]\""},
      {"SELECT * FROM T ORDER BY a DESC b", "syntax error (expected a comma or the end) at position 32 near \"b\""},
      {"UPDATE T SET a 1", "syntax error (expected =) at position 15 near \"1\""},
      {"UPDATE T a = 1", "syntax error (expected SET) at position 9 near \"a\""},
      {"DROP INDEX i T", "syntax error (expected ON) at position 13 near \"T\""},
      {"DROP VIEW v", "syntax error (expected TABLE or INDEX) at position 5 near \"VIEW\""},
      {"INSERT INTO T", "syntax error (expected SELECT, UPDATE, DELETE or DROP) at position 0 near \"INSERT\""},
  };
  for (const auto& [sql, expected] : cases) EXPECT_EQ(ParseError(sql), std::string(expected) + " in: " + sql) << sql;
  EXPECT_NE(jet::ParseSelect("DROP TABLE T").status().error().message().find("expected SELECT"), std::string::npos);
}

// ---- LIKE ------------------------------------------------------------------------------------

bool Like(const std::string& text, const std::string& pattern, JetVersion version = JetVersion::kJet4) {
  auto p = jet::LikePattern::Compile(version, FromUtf8(pattern));
  EXPECT_TRUE(p.ok()) << pattern << ": " << p.error().message();
  return p.ok() && p->Matches(FromUtf8(text));
}

TEST(SqlLike, WildcardsGroupsAndCase) {
  struct Case { const char* text; const char* pattern; bool match; };
  // What the random patterns' alphabet and tokens leave out (AgreesWithBacktrackingOnRandomPatterns):
  // escaped wildcards, odd brackets, folding beyond Latin-1, blanks, characters beyond 16 bits.
  // (Plain stars and letters and # patterns: there and in SqlSongs.)
  const Case cases[] = {
      {"#1", "[#]#", true},                {"-", "[a-]", true},                {"-", "[-a]", true},
      {"b", "[a-]", false},                {"*", "[*]", true},                 {"x", "[*]", false},
      {"?", "[?]", true},                  {"[", "[[]", true},                 {"a]", "a]", true},
      {"ab", "a[]b", true},                {"!", "[!]", true},                 {"Ångström", "å*", true},
      {"Ødegaard", "*ødeg*", true},        {"Ελληνικά", "ελλ*", true},         {"Русский", "РУС*", true},
      {"trail ", "trail", false},          {"trail ", "trail?", true},         {"😀 smile", "?? smile", true},
      {"😀 smile", "? smile", false},      {"é", "[a-f]", true},               {"É", "[a-f]", true},
  };
  for (const Case& c : cases) EXPECT_EQ(Like(c.text, c.pattern), c.match) << c.text << " LIKE " << c.pattern;
  // Access 97 files fold with their own table: case still does not matter, accents still do.
  EXPECT_TRUE(Like("Señor", "SEÑOR", JetVersion::kJet3));
  EXPECT_FALSE(Like("Señor", "Senor", JetVersion::kJet3));
}

TEST(SqlLike, InvalidPatterns) {
  for (const char* pattern : {"[abc", "a[", "[z-a]"}) {
    EXPECT_TRUE(velloran_test::FailsWith(jet::LikePattern::Compile(JetVersion::kJet4, FromUtf8(pattern)), jet::ErrorCode::kInvalidArgument, {pattern}));
  }
}

TEST(SqlLike, FoldingAgreesWithTheSortOrder) {
  // Every character folds to one the sort order weighs the same.
  for (uint32_t u = 0; u < 0x10000; ++u) {
    const char16_t unit = static_cast<char16_t>(u);
    const char16_t folded = jet::FoldUnit(JetVersion::kJet4, unit);
    if (folded == unit) continue;
    // A following letter keeps a blank from being dropped as trailing.
    ASSERT_EQ(jet::CompareText(JetVersion::kJet4, Text{unit, u'x'}, Text{folded, u'x'}), 0) << "unit " << u;
  }
  for (char c = 'a'; c <= 'z'; ++c) EXPECT_EQ(jet::FoldUnit(JetVersion::kJet4, c), jet::FoldUnit(JetVersion::kJet4, c - 32));
  EXPECT_NE(jet::FoldUnit(JetVersion::kJet4, u'e'), jet::FoldUnit(JetVersion::kJet4, u'é'));
  // The folding a process uses, made from kept runs, is the one the weights give (if not, the
  // runs were not made again after the collation changed: tools/gen_fold_runs.cpp).
  for (const JetVersion version : {JetVersion::kJet4, JetVersion::kJet3}) {
    const std::vector<char16_t> weighed = jet::FoldingFromWeights(version);
    for (uint32_t u = 0; u < 0x10000; ++u) ASSERT_EQ(jet::FoldUnit(version, static_cast<char16_t>(u)), weighed[u]) << "unit " << u;
  }
  // (Object names fold the same way: ObjectNames.EveryLookupFoldsLetterCaseOneWay, CreateTable.)
}

// A pattern element for the reference matcher, with its text form.
struct RefToken {
  enum Kind { kChar, kStar, kAny, kDigit, kSet } kind;
  Text chars;         // kChar: one character; kSet: the listed characters
  Text range;         // kSet: two characters, or empty
  bool negated = false;
  std::string text;   // as written in the pattern
};

int Compare(char16_t a, char16_t b) { return jet::CompareText(JetVersion::kJet4, Text(1, a), Text(1, b)); }

bool TokenMatches(const RefToken& t, char16_t c) {
  switch (t.kind) {
    case RefToken::kChar: return Compare(t.chars[0], c) == 0;
    case RefToken::kAny: return true;
    case RefToken::kDigit: return c >= u'0' && c <= u'9';
    case RefToken::kSet: {
      const bool in = std::any_of(t.chars.begin(), t.chars.end(), [&](char16_t m) { return Compare(m, c) == 0; }) ||
                      (!t.range.empty() && Compare(t.range[0], c) <= 0 && Compare(c, t.range[1]) <= 0);
      return in != t.negated;
    }
    default: return false;
  }
}

// Plain backtracking: try every length for every star.
bool RefLike(const Text& text, size_t i, const std::vector<RefToken>& p, size_t j) {
  if (j == p.size()) return i == text.size();
  if (p[j].kind == RefToken::kStar) {
    for (size_t k = i; k <= text.size(); ++k)
      if (RefLike(text, k, p, j + 1)) return true;
    return false;
  }
  return i < text.size() && TokenMatches(p[j], text[i]) && RefLike(text, i + 1, p, j + 1);
}

TEST(SqlLike, AgreesWithBacktrackingOnRandomPatterns) {
  const std::vector<RefToken> tokens = {
      {RefToken::kStar, u"", u"", false, "*"},    {RefToken::kAny, u"", u"", false, "?"},
      {RefToken::kDigit, u"", u"", false, "#"},   {RefToken::kChar, u"a", u"", false, "a"},
      {RefToken::kChar, u"B", u"", false, "B"},   {RefToken::kChar, u"é", u"", false, "é"},
      {RefToken::kChar, u"-", u"", false, "-"},   {RefToken::kSet, u"", u"ab", false, "[a-b]"},
      {RefToken::kSet, u"a", u"", true, "[!a]"},  {RefToken::kSet, u"É1", u"", false, "[É1]"},
      {RefToken::kSet, u"", u"1e", true, "[!1-e]"},
  };
  const Text alphabet = u"aAbBeéÉ1-";
  std::mt19937 random(20240611);
  int matches = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<RefToken> pattern;
    std::string pattern_text;
    for (int n = random() % 6; n > 0; --n) {
      pattern.push_back(tokens[random() % tokens.size()]);
      pattern_text += pattern.back().text;
    }
    Text text;
    for (int n = random() % 7; n > 0; --n) text.push_back(alphabet[random() % alphabet.size()]);
    const bool expected = RefLike(text, 0, pattern, 0);
    matches += expected;
    ASSERT_EQ(Like(jet::ToUtf8(text), pattern_text), expected) << "'" << jet::ToUtf8(text) << "' LIKE '" << pattern_text << "'";
  }
  EXPECT_GT(matches, 1000);  // the rounds exercised matches as well as misses
}

// The forms a row keeps a text in (text_codec.h).
std::string StoredUtf16(const Text& text) {
  std::string bytes;
  for (char16_t u : text) bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return bytes;
}

// FF FE, then one byte a character; characters above 0xFF in two-byte runs, each run opened and
// closed by a zero byte.
std::string StoredCompressed(const Text& text) {
  std::string bytes = "\xFF\xFE";
  bool one_byte = true;
  for (char16_t u : text) {
    if ((u <= 0xFF) != one_byte) {
      bytes += '\0';
      one_byte = !one_byte;
    }
    bytes += one_byte ? std::string(1, static_cast<char>(u)) : std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  }
  return bytes;
}

const uint8_t* Bytes(const std::string& b) { return reinterpret_cast<const uint8_t*>(b.data()); }

// Access 97 rows keep texts in code page 1252; nullopt for a text with a character it lacks.
std::optional<std::string> StoredCp1252(const Text& text) {
  std::string bytes;
  for (char16_t u : text)
    if (uint8_t byte; jet::UnicodeToCp1252(u, &byte)) bytes += static_cast<char>(byte);
    else return std::nullopt;
  return bytes;
}

// The page test of a search for "love" finds the word in every form a row may keep it in, and
// turns away bytes that only come close.
TEST(SqlLike, PageTestFindsTheWordInEveryStoredForm) {
  ASSERT_OK_LET(pattern, jet::LikePattern::Compile(JetVersion::kJet4, u"*LoVe*"));
  const auto test = jet::TextPresence::For(JetVersion::kJet4, pattern->RequiredText());
  ASSERT_TRUE(test.has_value());
  std::string page(4096, '\0');
  const std::string titles = "\xFF\xFE" "Dancing Queen" "\xFF\xFE" "Waterloo" "\xFF\xFE" "Heart of Glass";
  for (size_t at = 0; at + titles.size() < page.size(); at += titles.size() + 3) page.replace(at, titles.size(), titles);
  using namespace std::string_literals;
  const std::pair<std::string, bool> cases[] = {
      {"\xFF\xFEGlove Song"s, true},            {"L\0O\0V\0E\0"s, true},  // UTF-16
      {"\xFF\xFElo\0v\0e\0"s, true},            // switching to UTF-16 inside the word
      {"\xFF\xFE\0\xA9\x03l\0\0ove"s, true},     // switching back to one byte inside the word
      {"\xFF\xFE\0\x2C\xFF\0ove"s, true},        // a full-width L
      {"\xFF\xFEl\0\0\0o\0v\0e\0"s, true},      // empty runs between characters
      {"\xFF\xFEolve l ove lov ovel"s, false}, {"l\0o\0x\0v\0e\0"s, false}, {"\xFF\xFEl,ove"s, false},
      {page, false},                            {std::string(page).replace(1000, 12, "\xFF\xFEI Love You"s), true},
  };
  for (const auto& [bytes, holds] : cases) EXPECT_EQ(test->MayHold(Bytes(bytes), bytes.size()), holds) << velloran_test::Hex(bytes);

  // A word with a space still lets pages be passed over, though the space's full-width twin
  // (U+3000) cannot be looked for: the test looks for the longest stretch without it.
  ASSERT_OK_LET(spaced, jet::LikePattern::Compile(JetVersion::kJet4, u"*baby summer*"));
  const auto spaced_test = jet::TextPresence::For(JetVersion::kJet4, spaced->RequiredText());
  ASSERT_TRUE(spaced_test.has_value());
  const std::string summer = "B\0a\0b\0y\0\0\x30S\0u\0m\0m\0e\0r\0"s;  // UTF-16, with an ideographic space
  EXPECT_TRUE(spaced_test->MayHold(Bytes(summer), summer.size()));
  EXPECT_FALSE(spaced_test->MayHold(Bytes(titles), titles.size()));
}

// Matching a text where the row keeps it, in any of its forms, agrees with matching it decoded;
// and the quick test a scan makes of a whole page never turns away bytes holding a match.
TEST(SqlLike, StoredTextsMatchInPlaceAsWhenDecoded) {
  const char* patterns[] = {"*love*", "lo?e*", "*[a-m]ove", "*\u03A9*", "*\u00E9#*", "[!l]*", "*", "", "*e", "L*", "*o*e*"};
  const Text alphabet = u"loveLOVE\u00E9\u00C91 \u03A9-\uFF2C\uFF4F";  // with full-width L and o
  std::mt19937 random(7);
  int matches = 0, checked = 0;
  for (const char* pattern_text : patterns) {
    SCOPED_TRACE(pattern_text);
    auto jet4 = jet::LikePattern::Compile(JetVersion::kJet4, FromUtf8(pattern_text));
    auto jet3 = jet::LikePattern::Compile(JetVersion::kJet3, FromUtf8(pattern_text));
    ASSERT_TRUE(jet4.ok() && jet3.ok());
    const auto presence4 = jet::TextPresence::For(JetVersion::kJet4, jet4->RequiredText());
    const auto presence3 = jet::TextPresence::For(JetVersion::kJet3, jet3->RequiredText());
    for (int round = 0; round < 400; ++round) {
      Text text;
      for (int n = random() % 11; n > 0; --n) text.push_back(alphabet[random() % alphabet.size()]);
      SCOPED_TRACE(jet::ToUtf8(text));
      const bool expected = jet4->Matches(text);
      matches += expected;
      const std::string utf16 = StoredUtf16(text), compressed = StoredCompressed(text);
      const std::string page = "\x12\x34" + compressed + "\x01" + utf16 + "\x7F";  // amid other bytes, as on a page
      for (const std::string& bytes : {utf16, compressed}) EXPECT_EQ(jet4->MatchesStored(Bytes(bytes), bytes.size()), expected);
      for (const std::string& bytes : {utf16, compressed, page})
        EXPECT_TRUE(!presence4 || !expected || presence4->MayHold(Bytes(bytes), bytes.size()));
      if (const std::optional<std::string> cp1252 = StoredCp1252(text)) {
        EXPECT_EQ(jet3->MatchesStored(Bytes(*cp1252), cp1252->size()), jet3->Matches(text));
        EXPECT_TRUE(!presence3 || !jet3->Matches(text) || presence3->MayHold(Bytes(*cp1252), cp1252->size()));
      }
      ++checked;
    }
  }
  EXPECT_GT(matches, checked / 10);
  EXPECT_LT(matches, checked * 9 / 10);
}

// ---- Conditions over values ------------------------------------------------------------------

jet::TableDef SongTable() {
  jet::TableDef def;
  def.name = "MyList";
  const std::pair<const char*, jet::ColumnType> columns[] = {
      {"ID", jet::ColumnType::kLong},      {"Song", jet::ColumnType::kText},  {"PrintYN", jet::ColumnType::kBoolean},
      {"Price", jet::ColumnType::kDouble}, {"Notes", jet::ColumnType::kMemo}, {"Cover", jet::ColumnType::kOle}};
  for (const auto& [name, type] : columns) def.columns.push_back({.name = name, .type = type});
  return def;
}

// Evaluates `where` over one row of SongTable: "true", "false", "unknown" or the error.
std::string Eval(const std::string& where, const std::vector<Value>& row) {
  const jet::TableDef def = SongTable();
  const std::string sql = "SELECT * FROM MyList WHERE " + where;
  auto parsed = jet::ParseSelect(sql);
  if (!parsed.ok()) return parsed.error().message();
  jet::Status bound = jet::BindColumns(def, sql, parsed->where.get());
  if (!bound.ok()) return bound.error().message();
  auto condition = jet::Condition::Compile(*parsed->where, def, JetVersion::kJet4, sql);
  if (!condition.ok()) return condition.error().message();
  jet::DecodedRow values(row);
  auto t = condition.value()->Evaluate(values);
  return !t.ok() ? t.error().message() : t.value() == jet::Truth::kTrue ? "true" : t.value() == jet::Truth::kFalse ? "false" : "unknown";
}

// Conditions over one row, and what they come to.
using Truths = std::vector<std::pair<const char*, const char*>>;
void ExpectTruths(const std::vector<Value>& row, const Truths& cases) {
  for (const auto& [where, truth] : cases) EXPECT_EQ(Eval(where, row), truth) << where;
}

TEST(SqlCondition, ComparisonsFollowAccess) {
  ExpectTruths({int64_t{7}, Text(u"Love Me "), true, 2.5, Text(u"memo"), jet::Bytes("x")},
               {{"ID = 7 AND ID >= 7 AND ID < 7.5 AND ID > -1 AND ID <> 8", "true"}, {"ID <= 6.9", "false"},
                {"Song = 'love me'", "true"},  // case and trailing blanks do not count
                {"Song > 'LOVE' AND Song < 'lovf'", "true"},
                {"Song = 'Lóve Me'", "false"},  // accents do
                {"PrintYN = True AND PrintYN = -1 AND PrintYN < 0 AND PrintYN", "true"},
                {"NOT PrintYN OR PrintYN = False", "false"}, {"Price > 2 AND Price < 3 AND Price = 2.5", "true"},
                {"Notes LIKE 'M*' AND Song NOT LIKE '*you*' AND ID LIKE '7'", "true"},
                {"1 < ID AND 'love me' = Song", "true"}, {"ID = ID AND Song >= Song", "true"}});
}

TEST(SqlCondition, NullsAreNeverEqual) {
  ExpectTruths({jet::Null{}, jet::Null{}, false, jet::Null{}, jet::Null{}, jet::Null{}},
               {{"ID = 7", "unknown"}, {"ID <> 7", "unknown"}, {"NOT (ID = 7)", "unknown"}, {"Song LIKE '*'", "unknown"},
                {"ID = Null", "unknown"}, {"ID Is Null AND Song IS NULL AND NOT PrintYN", "true"}, {"ID Is Not Null", "false"},
                {"ID = 7 AND PrintYN", "false"},     // unknown AND false
                {"ID = 7 OR NOT PrintYN", "true"},   // unknown OR true
                {"ID = 7 OR PrintYN", "unknown"}});
  ExpectTruths({int64_t{7}, Text(u"x"), false, 1.0, Text(u"m"), jet::Bytes("x")}, {{"ID = Null OR ID = 7", "true"}});
}

TEST(SqlCondition, TypeErrorsNameTheStatement) {
  const std::vector<Value> row = {int64_t{7}, Text(u"x"), false, 1.0, Text(u"m"), jet::Bytes("x")};
  // (Type mismatches, through the whole statement: SqlSongs.ExecutionErrorsNameTheStatement.)
  EXPECT_EQ(Eval("Sng = 'x'", row),
            "unknown column \"Sng\" in table \"MyList\" at position 27 near \"Sng\" in: SELECT * FROM MyList WHERE Sng = 'x'");
  EXPECT_EQ(Eval("Other.Song = 'x'", row).substr(0, 55), "unknown table \"Other\" (the statement reads \"MyList\") at");
  for (const auto& [where, words] : Truths{{"Song", "not a condition"}, {"PrintYN LIKE 'x'", "LIKE applies to texts and whole numbers"},
                                           {"Song LIKE Song", "LIKE needs a quoted pattern"}, {"Cover = 'x'", "cannot compare"},
                                           {"Song LIKE '[b-a]'", "the range b-a is reversed at position 37"},
                                           {"(ID = 1) = 2", "expected a value, not a condition"}})
    EXPECT_NE(Eval(where, row).find(words), std::string::npos) << where;
}

TEST(SqlCondition, ConvertingConstantsForColumns) {
  // `exact`: a comparison (true) or an assignment, which may round; `expected` nullopt: refused.
  struct Case { jet::ColumnType type; Value constant; bool exact; std::optional<Value> expected; };
  const Case cases[] = {
      {jet::ColumnType::kInteger, int64_t{-5}, true, int64_t{-5}},
      {jet::ColumnType::kInteger, 2.5, false, int64_t{2}},  // to even, as Access
      {jet::ColumnType::kInteger, 2.5, true, std::nullopt},
      {jet::ColumnType::kInteger, int64_t{40000}, false, std::nullopt},
      {jet::ColumnType::kInteger, Text(u"12"), false, int64_t{12}},
      {jet::ColumnType::kInteger, Text(u"12a"), false, std::nullopt},
      {jet::ColumnType::kText, int64_t{1005}, false, Text(u"1005")},
      {jet::ColumnType::kText, int64_t{1005}, true, std::nullopt},
      {jet::ColumnType::kCurrency, 1.25, true, jet::Currency{12500}},
      {jet::ColumnType::kBoolean, int64_t{-1}, true, true},
      {jet::ColumnType::kBoolean, int64_t{1}, true, std::nullopt},
      {jet::ColumnType::kBoolean, jet::Null{}, true, jet::Null{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(jet::ColumnTypeName(c.type)) + (c.exact ? " exact" : " rounded") + ", case " + std::to_string(&c - cases));
    auto converted = jet::ConvertToColumn(c.constant, jet::ColumnDef{.name = "C", .type = c.type}, c.exact);
    EXPECT_EQ(converted.ok(), c.expected.has_value()) << (converted.ok() ? "" : converted.error().message());
    EXPECT_EQ(converted.ok() ? converted.value() : Value(jet::Null{}), c.expected.value_or(jet::Null{}));
  }
}

// ---------------------------------------------------------------------------------------------
// The incremental sort behind ORDER BY: whatever share of the rows a caller takes, they come out
// exactly as a full stable sort by key would give them (equal keys, which the random keys give
// often, in the order they were added, across chunk boundaries too).
namespace sorting {

jet::RowId IdOf(size_t i) { return jet::RowId{static_cast<uint32_t>(i / 200), static_cast<uint8_t>(i % 200)}; }

// Keys that tie often, share long prefixes (past the eight bytes compared first), are prefixes of
// one another and hold the bytes 0x00 and 0xFF, which must compare as unsigned.
std::string RandomKey(std::mt19937& random) {
  static const char kBytes[] = {'\x00', 'a', 'b', '\x7f', '\x80', '\xff'};
  std::string key = random() % 2 ? "a long shared prefix" : "";
  for (int n = static_cast<int>(random() % 4); n > 0; --n) key += kBytes[random() % sizeof kBytes];
  return key;
}

std::vector<jet::RowId> StableOrder(const std::vector<std::string>& keys) {
  std::vector<size_t> order(keys.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
  std::vector<jet::RowId> ids;
  for (size_t i : order) ids.push_back(IdOf(i));
  return ids;
}

TEST(SqlSort, RowsComeOutInStableKeyOrderHoweverFewAreTaken) {
  std::mt19937 random(20240611);
  jet::IncrementalSort sort;
  // Sizes around the first chunk (2,048 rows) and several chunks beyond it.
  for (size_t n : {0, 1, 2, 9, 2047, 2048, 2049, 4097, 30000}) {
    for (int trial = 0; trial < 3; ++trial) {
      SCOPED_TRACE(std::to_string(n) + " rows, trial " + std::to_string(trial));
      sort.Clear();  // the same object, reused as a cursor reuses it for each run
      std::vector<std::string> keys;
      for (size_t i = 0; i < n; ++i) sort.Add(keys.emplace_back(RandomKey(random)), IdOf(i));
      ASSERT_EQ(sort.size(), n);
      const std::vector<jet::RowId> expected = StableOrder(keys);
      // The first trial takes everything; the others stop at a random row.
      const size_t take = trial == 0 ? n : random() % (n + 1);
      std::vector<jet::RowId> taken;
      jet::RowId id;
      while (taken.size() < take && sort.Next(&id)) taken.push_back(id);
      EXPECT_TRUE(taken == std::vector<jet::RowId>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(take)));
      EXPECT_EQ(sort.remaining(), n - take);
      EXPECT_TRUE(take < n || !sort.Next(&id)) << "a row after the last";
    }
  }
}

}  // namespace sorting

}  // namespace
