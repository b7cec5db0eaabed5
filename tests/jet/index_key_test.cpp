// Index keys and the General sort order. Expected keys marked "Access" or "fixture" were read from the
// index leaf pages of the shared fixtures (written by Access and by an independent Jet library).
// Every key stored in a fixture (the texts of testUnicodeCompV2003 and keysV2000 among them) is
// also held up to the encoder by IndexCursor.WalksAndSeeksAgreeWithATableScanOnEveryFixtureIndex.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "jet/database.h"
#include "jet/pages/data_page.h"
#include "jet/pages/index_key.h"
#include "jet/sql/folded_columns.h"
#include "jet/table/index_cursor.h"
#include "jet/text/collation.h"
#include "jet/text/text_codec.h"
#include "tests/jet/test_support.h"

namespace jet {
namespace {

constexpr JetVersion kJet3 = JetVersion::kJet3;
constexpr JetVersion kJet4 = JetVersion::kJet4;

std::string KeyHex(JetVersion version, const std::vector<KeyColumn>& columns, const std::vector<Value>& values) {
  Result<std::string> key = EncodeIndexKey(version, columns, values);
  return key.ok() ? velloran_test::Hex(*key) : "error: " + key.error().message();
}

std::string Key(ColumnType type, const Value& value, bool ascending = true) { return KeyHex(kJet4, {{type, ascending}}, {value}); }

std::string TextKey(JetVersion version, const Text& text, bool ascending = true) {
  return KeyHex(version, {{ColumnType::kText, ascending}}, {text});
}

// Values listed in ascending order must give strictly increasing keys, and decreasing ones descending.
void ExpectKeysFollowOrder(ColumnType type, const std::vector<Value>& ascending_values) {
  for (size_t i = 1; i < ascending_values.size(); ++i) {
    SCOPED_TRACE("values " + std::to_string(i - 1) + " and " + std::to_string(i));
    EXPECT_LT(Key(type, ascending_values[i - 1]), Key(type, ascending_values[i]));
    EXPECT_GT(Key(type, ascending_values[i - 1], false), Key(type, ascending_values[i], false));
  }
}

// (Long keys either way, Text, and the multi-column keys of the fixtures are held to what Access
// stored by IndexCursor.WalksAndSeeksAgreeWithATableScanOnEveryFixtureIndex.)
// (NULL texts and ascending Yes/No keys: the Txt and Flag indexes of keysV2000 in the sweep below.)
TEST(IndexKeyNumbers, ExactBytesOfNumbersNullsAndBooleans) {
  using T = ColumnType;
  const std::tuple<ColumnType, Value, bool, const char*> keys[] = {  // type, value, ascending, key
      {T::kInteger, int64_t{-2}, true, "7f7ffe"},             {T::kByte, int64_t{200}, true, "7fc8"},
      {T::kByte, int64_t{200}, false, "8037"},                {T::kCurrency, Currency{10000}, true, "7f8000000000002710"},
      {T::kSingle, 1.5f, true, "7fbfc00000"},                 {T::kDouble, -1.0, true, "7f400fffffffffffff"},
      {T::kDouble, -1.0, false, "80bff0000000000000"},        {T::kLong, Null{}, true, "00"},
      {T::kLong, Null{}, false, "ff"},                        {T::kBoolean, true, false, "80ff"},
      {T::kBoolean, false, false, "8000"},                    {T::kBoolean, Null{}, true, "7fff"},  // keyed as false
      {T::kDateTime, DateTime{std::bit_cast<double>(0x40E39585457FCF74ULL)}, true, "7fc0e39585457fcf74"},  // Access
  };
  for (const auto& [type, value, ascending, key] : keys) EXPECT_EQ(Key(type, value, ascending), key) << ColumnTypeName(type);
}

TEST(IndexKeyNumbers, KeysSortLikeTheNumbers) {
  ExpectKeysFollowOrder(ColumnType::kByte, {int64_t{0}, int64_t{1}, int64_t{127}, int64_t{128}, int64_t{255}});
  ExpectKeysFollowOrder(ColumnType::kInteger, {int64_t{INT16_MIN}, int64_t{-256}, int64_t{-1}, int64_t{0}, int64_t{255}, int64_t{INT16_MAX}});
  ExpectKeysFollowOrder(ColumnType::kLong, {int64_t{INT32_MIN}, int64_t{-70000}, int64_t{-1}, int64_t{0}, int64_t{256}, int64_t{INT32_MAX}});
  ExpectKeysFollowOrder(ColumnType::kCurrency, {Currency{INT64_MIN}, Currency{-10000}, Currency{0}, Currency{1}, Currency{INT64_MAX}});
  const double inf = std::numeric_limits<double>::infinity();
  ExpectKeysFollowOrder(ColumnType::kDouble, {-inf, -1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.5, 1e300, inf});
  ExpectKeysFollowOrder(ColumnType::kSingle, {-3e38f, -1.5f, -1e-30f, 0.0f, 1e-30f, 1.5f, 3e38f});
  // Dates before 1899-12-30 are negative day counts.
  ExpectKeysFollowOrder(ColumnType::kDateTime, {DateTime{-700000.5}, DateTime{-1.25}, DateTime{0}, DateTime{0.5}, DateTime{45000.75}});
}

TEST(IndexKeySegments, GuidsInTextualOrderAndBinaryValuesOfAnyLength) {
  // {00112233-4455-6677-8899-AABBCCDDEEFF} as a row stores it.
  const Guid guid{{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  EXPECT_EQ(Key(ColumnType::kGuid, guid), "7f001122334455667709" "8899aabbccddeeff08");
  EXPECT_EQ(Key(ColumnType::kGuid, guid, false), "80ffeeddccbbaa998809" "7766554433221100f7");
  // The Order of a saved query's rows (queryTestV2000's MSysQueries, Access).
  EXPECT_EQ(Key(ColumnType::kBinary, Bytes("\0\0\0\1", 4)), "7f000000010000000004");
  EXPECT_EQ(Key(ColumnType::kBinary, Bytes()), "7f");
  EXPECT_EQ(Key(ColumnType::kBinary, Bytes("\1\2\3\4\5\6\7\x08\x09", 9)), "7f010203040506070809" "090000000000000001");
  EXPECT_EQ(Key(ColumnType::kBinary, Bytes("\1\2\3\4\5\6\7\x08\x09", 9), false), "80fefdfcfbfaf9f8f709" "f6fffffffffffffffe");
  // Shorter values first, a zero byte after the end of a value included; descending the reverse
  // (but for the empty value, whose key is the flag alone in both directions).
  ExpectKeysFollowOrder(ColumnType::kBinary, {Bytes(1, '\0'), Bytes(2, '\0'), Bytes("\0\1", 2), Bytes(8, 'a'),
                                              Bytes(8, 'a') + '\0', Bytes(9, 'a'), Bytes(1, '\xFF')});
}

TEST(IndexKeyErrors, RefusesWhatCannotBeKeyed) {
  const std::tuple<ColumnType, Value, ErrorCode> refused[] = {
      {ColumnType::kMemo, Text(u"x"), ErrorCode::kUnsupported},       {ColumnType::kDecimal, Null{}, ErrorCode::kUnsupported},
      {ColumnType::kLong, Text(u"1"), ErrorCode::kInvalidArgument},    {ColumnType::kByte, int64_t{256}, ErrorCode::kInvalidArgument},
      {ColumnType::kInteger, int64_t{40000}, ErrorCode::kInvalidArgument}, {ColumnType::kBoolean, int64_t{1}, ErrorCode::kInvalidArgument},
  };
  std::string key = "prefix";
  for (const auto& [type, value, code] : refused) EXPECT_EQ(AppendKeyColumn(kJet4, {type}, value, &key).error().code(), code) << ColumnTypeName(type);
  EXPECT_EQ(key, "prefix");
  EXPECT_FALSE(EncodeIndexKey(kJet4, {{ColumnType::kLong}}, {}).ok());
}

TEST(IndexKeyText, Jet4SectionCombinations) {
  // No fixture holds these combinations; the bytes follow the section layout the fixtures confirm.
  // A modifier before any letter starts the accents, and unprintable positions do not count it.
  EXPECT_EQ(TextKey(kJet4, u"\u0301a'"), "7f4a010c010101800b068000");
  // Extended marks (2, 2, 3, 2) packed three to a byte, then 0xFF before the unprintables.
  EXPECT_EQ(TextKey(kJet4, u"\u3041\u3041\u3058\u3041'"), "7f7f027f027f137f02010202030101aba0ff0280ff80ff018017068000");
  // Only default marks: none are written, the fixed tail still is.
  EXPECT_EQ(TextKey(kJet4, u"\u3058'"), "7f7f1301030101ff0280ff80ff01800b068000");
}

TEST(IndexKeyText, CaseBlanksLengthAndDirection) {
  EXPECT_EQ(TextKey(kJet4, u"CORE USER"), TextKey(kJet4, u"Core User"));
  EXPECT_EQ(TextKey(kJet4, u"\u00DF"), TextKey(kJet4, u"SS"));
  EXPECT_EQ(TextKey(kJet4, u"trail   "), TextKey(kJet4, u"trail"));
  EXPECT_EQ(TextKey(kJet4, u" "), TextKey(kJet4, u""));
  EXPECT_NE(TextKey(kJet4, u"a\u00A0"), TextKey(kJet4, u"a"));  // only U+0020 counts as blank

  const Text limit(kMaxKeyTextLength, u'x');
  EXPECT_EQ(TextKey(kJet4, limit + u"yz"), TextKey(kJet4, limit));
  EXPECT_NE(TextKey(kJet4, limit.substr(1) + u"y"), TextKey(kJet4, limit));
  // Blanks are dropped after cutting at the limit.
  EXPECT_EQ(TextKey(kJet4, Text(kMaxKeyTextLength - 1, u'x') + u"  z"), TextKey(kJet4, Text(kMaxKeyTextLength - 1, u'x')));

  // Descending: the ascending bytes inverted, then an uninverted 0x00.
  EXPECT_EQ(TextKey(kJet4, u"\u00FCmlaut", false), "80909fa1b59092feecff00");
}

TEST(IndexKeyText, SurrogatesKeyAsAccentedWeights) {
  // High surrogates take consecutive weights; low ones skip weights ending in 0x00 or 0x01.
  EXPECT_EQ(TextKey(kJet4, Text{0xD8FD, 0xDC07}), "7fb0ffb4ff013f3f00");
  EXPECT_EQ(TextKey(kJet4, Text{0xD8FE, 0xDC08}), "7fb100b502013f3f00");
}

TEST(IndexKeyText, Jet3UsesCodePage1252Weights) {
  EXPECT_EQ(TextKey(kJet3, u"ABCDEFG"), TextKey(kJet3, u"abcdefg"));
  EXPECT_EQ(TextKey(kJet3, u"\u0152uvre"), "7f7266787a756600");  // U+0152 is byte 0x8C, "OE"
  EXPECT_EQ(TextKey(kJet3, u"a\u03A9b "), TextKey(kJet3, u"ab"));  // no byte for U+03A9
  // Accents follow as nibbles; unaccented significant letters before them take a 2.
  EXPECT_EQ(TextKey(kJet3, u"Caf\u00E9"), "7f62606766022400");
  EXPECT_EQ(TextKey(kJet3, u"\u00E9t\u00E9"), "7f6677660440");
  EXPECT_EQ(TextKey(kJet3, u"Caf\u00E9", false), "809d9f9899fddbff");
}

// The quick way from UTF-8 (as folded texts keep it) keys exactly what the units' way does, or
// refuses without appending: over every unit below U+0100 alone, beside a letter, and random texts
// of letters, accented ones and signs that take more than a weight, at the length limit too.
TEST(IndexKeyText, KeysFromUtf8AreTheKeysOfTheirUnits) {
  std::mt19937 random(7);
  const Text signs = u"-' \t\x7f~\x01\u0301\u0152\u3041", letters = u"abcXYZ 0189\u00e9\u00c9\u00fc\u00df\u00e6\u00ff\u00a0";
  std::vector<Text> texts = {u"", u"   ", u"Love Me", Text(300, u'q') + u" ", Text(254, u'\u00e9') + u"  z", Text(260, u'\u00e9') + u"z"};
  for (char16_t u = 0; u < 0x100; ++u) texts.push_back(Text{u}), texts.push_back(Text{u'a', u});
  for (int i = 0; i < 400; ++i) {
    Text text(random() % 40, u' ');
    for (char16_t& c : text) c = random() % 8 == 0 ? signs[random() % signs.size()] : letters[random() % letters.size()];
    texts.push_back(text);
  }
  int quick = 0;
  for (const JetVersion version : {kJet3, kJet4}) {
    for (const bool ascending : {true, false}) {
      for (const Text& text : texts) {
        std::string utf8, from_utf8 = "kept", from_units = "kept";
        AppendFoldedBytes(text, &utf8);
        ASSERT_OK_LET(made, AppendKeyColumn(version, {ColumnType::kText, ascending}, text, &from_units));
        if (!AppendUtf8KeyColumn(version, ascending, utf8, &from_utf8)) {
          EXPECT_EQ(from_utf8, "kept") << utf8;
          continue;
        }
        quick += version == kJet4;
        EXPECT_EQ(velloran_test::Hex(from_utf8), velloran_test::Hex(from_units)) << utf8 << (ascending ? "" : " descending");
      }
    }
  }
  // Most Jet 4 texts (of both directions) take the quick way: the letters, accented or not, digits and blanks.
  EXPECT_GT(quick, static_cast<int>(texts.size()));
}

TEST(IndexKeyMultiColumn, ColumnsConcatenate) {
  EXPECT_EQ(KeyHex(kJet4, {{ColumnType::kText}, {ColumnType::kLong}}, {Null{}, Null{}}), "0000");
  EXPECT_EQ(KeyHex(kJet4, {{ColumnType::kText, false}, {ColumnType::kLong}}, {Null{}, int64_t{-1}}), "ff7f7fffffff");
}

// A builder that keeps the text parts it has built gives, row after row, exactly the keys of a
// fresh encoding: with texts repeated, with more distinct texts than it keeps (so that it starts
// over), with NULLs and numbers around them, in either direction; and it refuses what the encoder
// refuses.
TEST(IndexKeyMultiColumn, ABuilderKeepingTextPartsMatchesAFreshEncoding) {
  const std::vector<KeyColumn> columns = {{ColumnType::kText, true}, {ColumnType::kLong, false}, {ColumnType::kText, false}};
  const std::vector<size_t> positions = {2, 0, 3};  // the row: Long, Boolean, Text, Text
  IndexKeyBuilder builder(kJet4, columns, positions);
  const std::vector<Text> artists = {u"Elvis Presley", u"ABBA", u"Sin\u00e9ad O'Connor", u"elvis presley", u""};
  const size_t rows = 2 * IndexKeyBuilder::kMaxKeptParts + 100;
  for (size_t n = 0; n < rows; ++n) {
    // Three titles in four distinct, the rest from a few that come back, some NULL.
    const std::string number = std::to_string(n);
    Value title = Text(u"Title ") + Text(number.begin(), number.end());
    if (n % 4 == 0) title = Text(u"Song ") + static_cast<char16_t>(u'A' + n % 26);
    if (n % 17 == 0) title = Null{};
    const Value artist = (n % 11 == 0) ? Value(Null{}) : Value(artists[n % artists.size()]);
    const std::vector<Value> row = {static_cast<int64_t>(n % 7), n % 2 == 0, title, artist};
    Result<std::string> built = builder.Build(row);
    Result<std::string> fresh = EncodeIndexKey(kJet4, columns, {row[2], row[0], row[3]});
    ASSERT_TRUE(built.ok() && fresh.ok()) << "row " << n;
    ASSERT_EQ(velloran_test::Hex(*built), velloran_test::Hex(*fresh)) << "row " << n;
  }
  const std::vector<Value> wrong = {Text(u"not a number"), false, Text(u"x"), Text(u"y")};
  Result<std::string> refused = builder.Build(wrong);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code(), EncodeIndexKey(kJet4, columns, {wrong[2], wrong[0], wrong[3]}).error().code());
  EXPECT_FALSE(builder.Build({Value(int64_t{1})}).ok()) << "a row shorter than the key's positions";
}

// (CompareText is the order of the text keys: its case, blanks and accents are held by
// SqlCondition.ComparisonsFollowAccess, its order of the fixtures' texts by SqlKeys.)

// Compares a looked-up code with a weight table line ("S4A", "I4A,F", "Z7F02,,1", ...). Returns "" when
// they agree.
std::string CompareWithLine(const collation_internal::CharCode& code, const std::string& line) {
  using collation_internal::CharClass;
  static const std::string kLetters = "XSIZUPG";
  static const CharClass kClasses[] = {CharClass::kIgnored,     CharClass::kSimple,   CharClass::kAccented,   CharClass::kExtended,
                                       CharClass::kUnprintable, CharClass::kModifier, CharClass::kSignificant};
  std::vector<std::string> fields(1);
  for (char c : line.substr(1))
    if (c == ',') fields.emplace_back(); else fields.back().push_back(c);
  auto number = [](const std::string& hex) { return hex.empty() ? 0u : std::stoul(hex, nullptr, 16); };
  auto length = [](const std::string& hex) { return static_cast<int>((hex.size() + 1) / 2); };
  const char letter = line[0];
  const std::string weight = std::string("SIZG").find(letter) != std::string::npos ? fields[0] : "";
  std::string accent;
  if (letter == 'I' || letter == 'Z') accent = fields[1];
  if (letter == 'U' || letter == 'P') accent = fields[0];
  const int mark = letter == 'Z' ? (fields[2] == "1" ? 2 : 3) : 0;
  const bool same = kLetters.find(letter) != std::string::npos && code.cls == kClasses[kLetters.find(letter)] &&
                    code.weight_len == length(weight) && code.weight == number(weight) && code.code_len == length(accent) &&
                    code.code == number(accent) && code.mark == mark;
  return same ? "" : "table says " + line;
}

TEST(CollationTables, AgreeWithTheSharedWeightTables) {
  const std::string shared = velloran_test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared beside the checkout: weight tables not checked";
  const std::string dir = shared + "/jet-collation/";

  std::vector<std::string> jet4 = velloran_test::LinesOf(dir + "index_codes_genleg.txt");
  const std::vector<std::string> ext = velloran_test::LinesOf(dir + "index_codes_ext_genleg.txt");
  jet4.insert(jet4.end(), ext.begin(), ext.end());
  ASSERT_EQ(jet4.size(), 0x10000u - 0x800u);  // every code unit but the surrogates
  size_t line = 0;
  for (uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit < 0xE000) continue;
    ASSERT_EQ(CompareWithLine(collation_internal::LookupGeneral(unit), jet4[line++]), "") << "Jet 4 unit " << unit;
  }

  const std::vector<std::string> jet3 = velloran_test::LinesOf(dir + "index_codes_gen_97.txt");
  ASSERT_EQ(jet3.size(), 256u);
  for (int byte = 0; byte < 256; ++byte) ASSERT_EQ(CompareWithLine(collation_internal::LookupGeneral97(byte), jet3[byte]), "") << byte;
  // Jet 3 keys read text through the code page; the tables expect these characters at these bytes.
  for (const std::string& mapping : velloran_test::LinesOf(dir + "index_mappings_ext_gen_97.txt")) {
    const size_t comma = mapping.find(',');
    uint8_t byte = 0;
    EXPECT_TRUE(UnicodeToCp1252(std::stoi(mapping.substr(0, comma)), &byte)) << mapping;
    EXPECT_EQ(byte, std::stoi(mapping.substr(comma + 1))) << mapping;
  }
}

// ---------------------------------------------------------------------------------------------
// Index walks and seeks against the truth of a full table scan: for every index of every fixture,
// walking the index yields every row once in key order (and the reverse walk the same backwards),
// a seek for each present key finds exactly the rows a filtered scan finds, and seeks for absent
// keys report no match while positioning at the next larger key. Every key is encoded from its row
// here, so this also holds the key encoder to every key Access stored. (Seeks through SQL, with
// their rows: SqlSongs; the Txt index's order against sorting with CompareText: SqlKeys.)
namespace index_cursor {

using velloran_test::FixturePath;

uint32_t Pack(uint32_t page, uint32_t row) { return (page << 8) | row; }

// Where the row an index entry points to lives (entries keep pointing at a moved row's old slot).
uint32_t HomeOf(jet::Pager& pager, jet::RowId id) {
  uint32_t home = 0;
  EXPECT_TRUE(jet::ReadRowFollowingOverflow(pager, id.page, id.row, &home).ok());
  return home;
}

// key -> homes of the rows with that key, from a full scan.
using Scan = std::map<std::string, std::multiset<uint32_t>>;

Scan ScanKeys(jet::Pager& pager, const jet::TableDef& def, const jet::PhysicalIndex& index) {
  const auto [columns, positions] = jet::KeyColumnsOf(def, index);
  Scan keys;
  EXPECT_OK_LET(cursor, jet::TableCursor::Open(pager, def));
  while (cursor.ok() && cursor.value()->Next().value()) {
    std::vector<jet::Value> values;
    bool all_null = true;
    for (size_t p : positions) {
      values.push_back(cursor.value()->values()[p]);
      all_null = all_null && jet::IsNull(values.back());
    }
    if (all_null && index.ignore_nulls()) continue;
    EXPECT_OK_LET(key, jet::EncodeIndexKey(pager.format().version, columns, values));
    keys[key.value()].insert(Pack(cursor.value()->row_id().page, cursor.value()->row_id().row));
  }
  return keys;
}

void ExpectWalksMatchScan(jet::Pager& pager, jet::IndexCursor& cursor, const Scan& scan) {
  std::vector<std::pair<std::string, uint32_t>> forward, backward;
  cursor.BeforeFirst();
  while (cursor.Next().value()) forward.emplace_back(cursor.entry().key, HomeOf(pager, cursor.row()));
  cursor.AfterLast();
  while (cursor.Prev().value()) backward.emplace_back(cursor.entry().key, HomeOf(pager, cursor.row()));
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward, backward);
  Scan walked;
  for (size_t i = 0; i < forward.size(); ++i) {
    EXPECT_TRUE(i == 0 || jet::CompareKeys(forward[i - 1].first, forward[i].first) <= 0) << "entry " << i;
    walked[forward[i].first].insert(forward[i].second);
  }
  EXPECT_EQ(walked, scan);
}

void ExpectSeeksMatchScan(jet::Pager& pager, jet::IndexCursor& cursor, const Scan& scan) {
  for (const auto& [key, homes] : scan) {
    ASSERT_TRUE(cursor.SeekEqual(key).value());
    std::multiset<uint32_t> found;
    do {
      if (cursor.entry().key != key) break;
      found.insert(HomeOf(pager, cursor.row()));
    } while (cursor.Next().value());
    EXPECT_EQ(found, homes);
    // Absent keys just after this one: no match, and positioned at the next larger present key.
    const std::string absent = key + '\x01';
    if (scan.count(absent)) continue;
    EXPECT_FALSE(cursor.SeekEqual(absent).value());
    const auto next = scan.upper_bound(absent);
    const bool positioned = cursor.SeekAtOrAfter(absent).value();
    EXPECT_EQ(positioned, next != scan.end());
    EXPECT_TRUE(!positioned || next == scan.end() || cursor.entry().key == next->first) << "not at the next key";
  }
  // Below every key and above every key.
  if (!scan.empty()) {
    EXPECT_TRUE(cursor.SeekAtOrAfter(std::string()).value());
    EXPECT_EQ(cursor.entry().key, scan.begin()->first);
    EXPECT_FALSE(cursor.SeekAtOrAfter(std::string(300, '\xFF')).value());
    EXPECT_FALSE(cursor.Next().value());
  }
}

TEST(IndexCursor, WalksAndSeeksAgreeWithATableScanOnEveryFixtureIndex) {
  REQUIRE_SHARED_FIXTURES();
  size_t indexes_checked = 0;
  for (const std::string& fixture : velloran_test::AllFixtures()) {
    ASSERT_OK_LET(db, jet::Database::Open(FixturePath(fixture)));
    for (const jet::CatalogEntry& table : db.value()->objects()) {
      if (!table.IsTable()) continue;
      ASSERT_OK_LET(def, db.value()->ReadTable(table.name));
      for (const jet::PhysicalIndex& index : def->physical_indexes) {
        SCOPED_TRACE(fixture + " " + table.name + " index " + std::to_string(index.number));
        auto scan = ScanKeys(db.value()->pager(), def.value(), index);
        jet::IndexCursor cursor(db.value()->pager(), def->page, index);
        ExpectWalksMatchScan(db.value()->pager(), cursor, scan);
        ExpectSeeksMatchScan(db.value()->pager(), cursor, scan);
        ++indexes_checked;
      }
    }
  }
  EXPECT_GT(indexes_checked, 100u);
}

}  // namespace index_cursor
}  // namespace
}  // namespace jet
