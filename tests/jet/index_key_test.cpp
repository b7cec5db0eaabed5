// Index keys and the General sort order. Expected keys marked "Access" or "fixture" were read from the
// index leaf pages of the shared fixtures (written by Access and by an independent Jet library).
#include "jet/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <limits>
#include <random>

#include "jet/collation.h"
#include "jet/text_codec.h"
#include "test_support.h"

namespace jet {
namespace {

constexpr JetVersion kJet3 = JetVersion::kJet3;
constexpr JetVersion kJet4 = JetVersion::kJet4;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string KeyHex(JetVersion version, const std::vector<KeyColumn>& columns,
                   const std::vector<Value>& values) {
  Result<std::string> key = EncodeIndexKey(version, columns, values);
  return key.ok() ? Hex(*key) : "error: " + key.error().message();
}

std::string Key(ColumnType type, const Value& value, bool ascending = true) {
  return KeyHex(kJet4, {{type, ascending}}, {value});
}

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

TEST(IndexKeyNumbers, ExactBytes) {
  EXPECT_EQ(Key(ColumnType::kLong, int64_t{1}), "7f80000001");
  EXPECT_EQ(Key(ColumnType::kLong, int64_t{1}, false), "807ffffffe");
  EXPECT_EQ(Key(ColumnType::kLong, int64_t{4813}, false), "807fffed32");  // Access, descending
  EXPECT_EQ(Key(ColumnType::kLong, int64_t{2146299933}, false), "8000120fe2");  // fixture
  EXPECT_EQ(Key(ColumnType::kInteger, int64_t{-2}), "7f7ffe");
  EXPECT_EQ(Key(ColumnType::kByte, int64_t{200}), "7fc8");
  EXPECT_EQ(Key(ColumnType::kByte, int64_t{200}, false), "8037");
  EXPECT_EQ(Key(ColumnType::kCurrency, Currency{10000}), "7f8000000000002710");
  EXPECT_EQ(Key(ColumnType::kSingle, 1.5f), "7fbfc00000");
  EXPECT_EQ(Key(ColumnType::kDouble, -1.0), "7f400fffffffffffff");
  EXPECT_EQ(Key(ColumnType::kDouble, -1.0, false), "80bff0000000000000");
  EXPECT_EQ(Key(ColumnType::kDateTime, DateTime{std::bit_cast<double>(0x40E39585457FCF74ULL)}),
            "7fc0e39585457fcf74");  // Access
}

TEST(IndexKeyNumbers, KeysSortLikeTheNumbers) {
  ExpectKeysFollowOrder(ColumnType::kByte, {int64_t{0}, int64_t{1}, int64_t{127}, int64_t{128},
                                            int64_t{255}});
  ExpectKeysFollowOrder(ColumnType::kInteger, {int64_t{INT16_MIN}, int64_t{-256}, int64_t{-1},
                                               int64_t{0}, int64_t{255}, int64_t{INT16_MAX}});
  ExpectKeysFollowOrder(ColumnType::kLong, {int64_t{INT32_MIN}, int64_t{-70000}, int64_t{-1},
                                            int64_t{0}, int64_t{256}, int64_t{INT32_MAX}});
  ExpectKeysFollowOrder(ColumnType::kCurrency, {Currency{INT64_MIN}, Currency{-10000}, Currency{0},
                                                Currency{1}, Currency{INT64_MAX}});
  const double inf = std::numeric_limits<double>::infinity();
  ExpectKeysFollowOrder(ColumnType::kDouble, {-inf, -1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0,
                                              2.5, 1e300, inf});
  ExpectKeysFollowOrder(ColumnType::kSingle, {-3e38f, -1.5f, -1e-30f, 0.0f, 1e-30f, 1.5f, 3e38f});
  // Dates before 1899-12-30 are negative day counts.
  ExpectKeysFollowOrder(ColumnType::kDateTime, {DateTime{-700000.5}, DateTime{-1.25}, DateTime{0},
                                                DateTime{0.5}, DateTime{45000.75}});
}

TEST(IndexKeyNulls, NullsAndBooleans) {
  EXPECT_EQ(Key(ColumnType::kLong, Null{}), "00");
  EXPECT_EQ(Key(ColumnType::kLong, Null{}, false), "ff");
  EXPECT_EQ(Key(ColumnType::kText, Null{}), "00");
  EXPECT_LT(Key(ColumnType::kLong, Null{}), Key(ColumnType::kLong, int64_t{INT32_MIN}));
  EXPECT_GT(Key(ColumnType::kLong, Null{}, false), Key(ColumnType::kLong, int64_t{INT32_MIN}, false));

  EXPECT_EQ(Key(ColumnType::kBoolean, true), "7f00");
  EXPECT_EQ(Key(ColumnType::kBoolean, false), "7fff");
  EXPECT_EQ(Key(ColumnType::kBoolean, true, false), "80ff");
  EXPECT_EQ(Key(ColumnType::kBoolean, false, false), "8000");
  EXPECT_EQ(Key(ColumnType::kBoolean, Null{}), "7fff");  // keyed as false
}

TEST(IndexKeyGuid, TextualOrderInTwoSegments) {
  // {00112233-4455-6677-8899-AABBCCDDEEFF} as a row stores it.
  const Guid guid{{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
                   0xEE, 0xFF}};
  EXPECT_EQ(Key(ColumnType::kGuid, guid), "7f001122334455667709" "8899aabbccddeeff08");
  EXPECT_EQ(Key(ColumnType::kGuid, guid, false), "80ffeeddccbbaa998809" "7766554433221100f7");
}

TEST(IndexKeyErrors, RefusesWhatCannotBeKeyed) {
  std::string key = "prefix";
  EXPECT_EQ(AppendKeyColumn(kJet4, {ColumnType::kMemo}, Text(u"x"), &key).error().code(),
            ErrorCode::kUnsupported);
  EXPECT_EQ(AppendKeyColumn(kJet4, {ColumnType::kDecimal}, Null{}, &key).error().code(),
            ErrorCode::kUnsupported);
  EXPECT_EQ(AppendKeyColumn(kJet4, {ColumnType::kLong}, Text(u"1"), &key).error().code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(AppendKeyColumn(kJet4, {ColumnType::kByte}, int64_t{256}, &key).error().code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(AppendKeyColumn(kJet4, {ColumnType::kInteger}, int64_t{40000}, &key).error().code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(AppendKeyColumn(kJet4, {ColumnType::kBoolean}, int64_t{1}, &key).error().code(),
            ErrorCode::kInvalidArgument);
  EXPECT_EQ(key, "prefix");
  EXPECT_FALSE(EncodeIndexKey(kJet4, {{ColumnType::kLong}}, {}).ok());
}

struct TextCase {
  Text text;
  const char* key;
};

TEST(IndexKeyText, Jet4KeysMatchAccess) {
  const TextCase kCases[] = {
      {u"only ascii chars", "7f64625e76074a6b4d5959074d574a696b0100"},
      {u"\u00FCmlaut", "7f6f605e4a6f6d011300"},                                   // accent
      {u"\u00E4\u00E4kk\u00F6si\u00E4", "7f4a4a5c5c646b594a01131302021302021300"},  // accents apart
      {u"\u041C\u0438\u0440", "7f7943793b79480100"},
      // Combining modifiers, an apostrophe (unprintable) after accents.
      {u"\u03F0\u03B1\u1F76 \u03C4\u1F79\u03C4' \u1F10\u03B3\u1F7C \u039A\u1F7B\u03F0\u03BB\u03C9\u03C0"
       u"\u03B1",
       "7f7915790c07791e791e07790e077915791579167923791b790c0103020202020202020203010101801b068000"},
      // Extended marks of Japanese kana.
      {u"\u6F22\u5B57\u4EEE\u540D\u4EA4\u3058\u308A\u6587",
       "7fc0b6acaca00da5479fbe7f137f43b6f6010202020202030101ff0280ff8000"},
      // Control characters keep their positions.
      {u"3L9\u001D52\u0002_AB(\u00A5\u0005!!V",
       "7f3c5e48403a2b034a4c1434a9090971010101018013061a801b0604802f060700"},
  };
  for (const TextCase& c : kCases) EXPECT_EQ(TextKey(kJet4, c.text), c.key) << ToUtf8(c.text);
}

TEST(IndexKeyText, Jet4SectionCombinations) {
  // Fixture: a modifier leaves the last accent at 0x02, which is dropped like any trailing "no accent".
  EXPECT_EQ(TextKey(kJet4, u"\u0E47\u1A48\u1692\u11AF\u1CA9\u1A89\u1746\u042E\u1191\u0B17\u1910\u16DE"
                           u"\u0F8F\u09E1"),
            "7f8ca7795b9b087b287aa80100");
  // No fixture holds the next combinations; the bytes follow the section layout the fixtures confirm.
  // A modifier before any letter starts the accents, and unprintable positions do not count it.
  EXPECT_EQ(TextKey(kJet4, u"\u0301a'"), "7f4a010c010101800b068000");
  // Extended marks (2, 2, 3, 2) packed three to a byte, then 0xFF before the unprintables.
  EXPECT_EQ(TextKey(kJet4, u"\u3041\u3041\u3058\u3041'"),
            "7f7f027f027f137f02010202030101aba0ff0280ff80ff018017068000");
  // Only default marks: none are written, the fixed tail still is.
  EXPECT_EQ(TextKey(kJet4, u"\u3058'"), "7f7f1301030101ff0280ff80ff01800b068000");
}

TEST(IndexKeyText, Jet4KeysAllOfLatin1AsAccessDoes) {
  Text text;
  for (char16_t c = 1; c <= 0xFF; ++c) text.push_back(c);
  EXPECT_EQ(
      TextKey(kJet4, text),
      "7f0803080408050806080707090a0c0e10121416182c1a1c1e36383a3c3e404244464820222e303224264a4c4d4f5153"
      "5557595b5c5e6062646668696b6d6f717375767827292a2b022b032b074a4c4d4f51535557595b5c5e6062646668696b"
      "6d6f71737576782b092b0b2b0d2b0f08022b1034a634a734a834a92b1134aa2b1234ab4a330534ac34ad2b1334ae3304"
      "3a3c2b1434af34b034b12b153864330737123716371a2b164a4a4a4a4a4a4a514d51515151595959594f626464646464"
      "3309646f6f6f6f766d576b6b4a4a4a4a4a4a4a514d51515151595959594f626464646464330a646f6f6f6f766d577601"
      "020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
      "020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
      "0202020202020202020202020302020202020202020202020202020302020202020f0e1219131a021c0f0e12130f0e12"
      "1368190f0e12191302210f0e12130e02020f0e1219131a021c0f0e12130f0e121368190f0e12191302210f0e12130e02"
      "13010101800706038007060480070605800706068007060780070608800706098007060a801b060b801b060c801b060d"
      "801b060e801b060f801b0610801b0611801b0612801b0613801b0614801b0615801b0616801b0617801b0618801b0619"
      "801b061a801b061b801b061c80370680804b0682818f061d818f061e818f061f818f0620818f0621818f0622818f0623"
      "818f0624818f0625818f0626818f0627818f0628818f0629818f062a818f062b818f062c818f062d818f062e818f062f"
      "818f0630818f0631818f0632818f0633818f0634818f0635818f0636818f0637818f0638818f0639818f063a818f063b"
      "818f063c818f063d81c3068300");
}

TEST(IndexKeyText, CaseBlanksLengthAndDirection) {
  EXPECT_EQ(TextKey(kJet4, u"CORE USER"), TextKey(kJet4, u"Core User"));
  EXPECT_EQ(TextKey(kJet4, u"\u00DF"), TextKey(kJet4, u"SS"));
  EXPECT_EQ(TextKey(kJet4, u"trail "), "7f6d694a595e0100");  // fixture: trailing blank dropped
  EXPECT_EQ(TextKey(kJet4, u"trail   "), TextKey(kJet4, u"trail"));
  EXPECT_EQ(TextKey(kJet4, u" "), TextKey(kJet4, u""));
  EXPECT_NE(TextKey(kJet4, u"a\u00A0"), TextKey(kJet4, u"a"));  // only U+0020 counts as blank

  const Text limit(kMaxKeyTextLength, u'x');
  EXPECT_EQ(TextKey(kJet4, limit + u"yz"), TextKey(kJet4, limit));
  EXPECT_NE(TextKey(kJet4, limit.substr(1) + u"y"), TextKey(kJet4, limit));
  // Blanks are dropped after cutting at the limit.
  EXPECT_EQ(TextKey(kJet4, Text(kMaxKeyTextLength - 1, u'x') + u"  z"),
            TextKey(kJet4, Text(kMaxKeyTextLength - 1, u'x')));

  // Descending: the ascending bytes inverted, then an uninverted 0x00.
  EXPECT_EQ(TextKey(kJet4, u"\u00FCmlaut", false), "80909fa1b59092feecff00");
}

TEST(IndexKeyText, SurrogatesKeyAsAccentedWeights) {
  EXPECT_EQ(TextKey(kJet4, u"\U0001F600 smile Again"),
            "7fb03fb6fc076b60595e51074a554a5962013f3f00");  // fixture
  // High surrogates take consecutive weights; low ones skip weights ending in 0x00 or 0x01.
  EXPECT_EQ(TextKey(kJet4, Text{0xD8FD, 0xDC07}), "7fb0ffb4ff013f3f00");
  EXPECT_EQ(TextKey(kJet4, Text{0xD8FE, 0xDC08}), "7fb100b502013f3f00");
}

TEST(IndexKeyText, Jet3UsesCodePage1252Weights) {
  EXPECT_EQ(TextKey(kJet3, u"abcdefg"), "7f6061626466676800");      // Access
  EXPECT_EQ(TextKey(kJet3, u"hijklmnop"), "7f696a6b6c6d6f70727300");  // Access
  EXPECT_EQ(TextKey(kJet3, u"ABCDEFG"), TextKey(kJet3, u"abcdefg"));
  EXPECT_EQ(TextKey(kJet3, u"\u0152uvre"), "7f7266787a756600");  // U+0152 is byte 0x8C, "OE"
  EXPECT_EQ(TextKey(kJet3, u"a\u03A9b "), TextKey(kJet3, u"ab"));  // no byte for U+03A9
  // Accents follow as nibbles; unaccented significant letters before them take a 2.
  EXPECT_EQ(TextKey(kJet3, u"Caf\u00E9"), "7f62606766022400");
  EXPECT_EQ(TextKey(kJet3, u"\u00E9t\u00E9"), "7f6677660440");
  EXPECT_EQ(TextKey(kJet3, u"Caf\u00E9", false), "809d9f9899fddbff");
  EXPECT_EQ(KeyHex(kJet3, {{ColumnType::kLong}, {ColumnType::kText}},
                   {int64_t{251658240}, Text(u"DataAccessPages")}),
            "7f8f0000007f64607760606262667676736068667600");  // Access, MSysObjects
}

TEST(IndexKeyMultiColumn, ColumnsConcatenate) {
  // Access, MSysAccessStorage.ParentIdName: a Long and a text with a control character.
  EXPECT_EQ(KeyHex(kJet4, {{ColumnType::kLong}, {ColumnType::kText}},
                   {int64_t{17}, Text(u"\u0003DirData")}),
            "7f800000117f4f59694f4a6d4a010101018007060500");
  // Fixture, Keys.TxtNum.
  const std::vector<KeyColumn> txt_num = {{ColumnType::kText}, {ColumnType::kLong}};
  EXPECT_EQ(KeyHex(kJet4, txt_num, {Text(u"Life"), int64_t{1634735995}}), "7f5e59535101007fe170177b");
  EXPECT_EQ(KeyHex(kJet4, txt_num, {Null{}, Null{}}), "0000");
  EXPECT_EQ(KeyHex(kJet4, {{ColumnType::kText, false}, {ColumnType::kLong}},
                   {Null{}, int64_t{-1}}),
            "ff7f7fffffff");
}

TEST(CompareText, GeneralSortOrder) {
  EXPECT_EQ(CompareText(kJet4, u"abc", u"ABC"), 0);
  EXPECT_EQ(CompareText(kJet4, u"abc  ", u"abc"), 0);
  EXPECT_LT(CompareText(kJet4, u"", u"a"), 0);
  EXPECT_LT(CompareText(kJet4, u"e", u"\u00E9"), 0);  // accents only break ties
  EXPECT_LT(CompareText(kJet4, u"\u00E9", u"f"), 0);
  EXPECT_LT(CompareText(kJet4, u"\u00E9a", u"eb"), 0);
  EXPECT_GT(CompareText(kJet4, u"b", u"Apple"), 0);
  EXPECT_GT(CompareText(kJet4, u"2", u"10"), 0);  // digits compare as text
  EXPECT_EQ(CompareText(kJet3, u"Caf\u00C9", u"caf\u00E9"), 0);
  EXPECT_LT(CompareText(kJet3, u"Cafe", u"Caf\u00E9"), 0);
}

TEST(CompareText, SortsLikeTheFixtureTextIndex) {
  // Texts of keysV2000's Keys.Txt index, in index order, with their stored keys.
  const std::vector<TextCase> index = {
      {u"", "7f0100"},
      {u" Always", "7f074a5e734a766b0100"},
      {u"\u00A0nbsp", "7f0802624c6b660100"},
      {u"\u00C6\u00D8\u00C5 River", "7f4a51644a0769597151690102211a00"},
      {u"\u00C5ngstr\u00F6m Time Blue", "7f4a62556b6d696460076d596051074c5e6f51011a02020202021300"},
      {u"\u00C7a va Again", "7f4d4a07714a074a554a5962011c00"},
      {u"\uFF46\uFF55\uFF4C\uFF4C Tomorrow Country", "7f536f5e5e076d64606469696473074d646f626d69760100"},
      {u"\u0131", "7f59010300"},
      {u"tab\u0009here", "7f6d4a4c0803575169510100"},
      {u"Time (Live)", "7f6d59605107145e597151160100"},
      {u"\u0178", "7f76011300"},
      {u"\u0420\u0443\u0441\u0441\u043A\u0438\u0439", "7f7948794d794979497940793b793e0100"},
      {u"\u1649\u11D9\u02BC\u0D11\u0F18\u1BBA\u169E\u1D8E\u116E\u0085\u0A94\u03FD\u0B66\u13FD\u0B74"
       u"\u00BEf\u0FAA\u067D\u1373\u1BAB\u1688\u19C1\u1CF1\u0934\u0BF1\u06A5",
       "7f8f0f9ae37aeb3708371a5379d87a5e492379fd014802023f0202020240010101800f062300"},
      {u"\u4E2D\u6587\u6B4C\u66F2", "7f9f3db6f6bcd4b8690100"},
      {u"\U0001F600 smile Again", "7fb03fb6fc076b60595e51074a554a5962013f3f00"},
      {u"\u65E5\u672C\u8A9E\u306E\u6B4C Gold Forever Night",
       "7fb756b8a9dc7a7f26bcd40755645e4f075364695171516907625955576d010101ff0280ff8000"},
  };
  std::vector<Text> texts;
  for (const TextCase& c : index) {
    EXPECT_EQ(TextKey(kJet4, c.text), c.key) << ToUtf8(c.text);
    texts.push_back(c.text);
  }
  std::shuffle(texts.begin(), texts.end(), std::mt19937(7));
  std::sort(texts.begin(), texts.end(),
            [](const Text& a, const Text& b) { return CompareText(kJet4, a, b) < 0; });
  for (size_t i = 0; i < index.size(); ++i) EXPECT_EQ(ToUtf8(texts[i]), ToUtf8(index[i].text)) << i;
}

// Compares a looked-up code with a weight table line ("S4A", "I4A,F", "Z7F02,,1", ...). Returns "" when
// they agree.
std::string CompareWithLine(const collation_internal::CharCode& code, const std::string& line) {
  using collation_internal::CharClass;
  static const std::string kLetters = "XSIZUPG";
  static const CharClass kClasses[] = {CharClass::kIgnored,     CharClass::kSimple,
                                       CharClass::kAccented,    CharClass::kExtended,
                                       CharClass::kUnprintable, CharClass::kModifier,
                                       CharClass::kSignificant};
  std::vector<std::string> fields(1);
  for (char c : line.substr(1)) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  auto number = [](const std::string& hex) { return hex.empty() ? 0u : std::stoul(hex, nullptr, 16); };
  auto length = [](const std::string& hex) { return static_cast<int>((hex.size() + 1) / 2); };
  const char letter = line[0];
  const std::string weight = std::string("SIZG").find(letter) != std::string::npos ? fields[0] : "";
  std::string accent;
  if (letter == 'I' || letter == 'Z') accent = fields[1];
  if (letter == 'U' || letter == 'P') accent = fields[0];
  const int mark = letter == 'Z' ? (fields[2] == "1" ? 2 : 3) : 0;
  const bool same = kLetters.find(letter) != std::string::npos &&
                    code.cls == kClasses[kLetters.find(letter)] && code.weight_len == length(weight) &&
                    code.weight == number(weight) && code.code_len == length(accent) &&
                    code.code == number(accent) && code.mark == mark;
  return same ? "" : "table says " + line;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

TEST(CollationTables, AgreeWithTheSharedWeightTables) {
  const std::string shared = velloran_test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared beside the checkout: weight tables not checked";
  const std::string dir = shared + "/jet-collation/";

  std::vector<std::string> jet4 = ReadLines(dir + "index_codes_genleg.txt");
  const std::vector<std::string> ext = ReadLines(dir + "index_codes_ext_genleg.txt");
  jet4.insert(jet4.end(), ext.begin(), ext.end());
  ASSERT_EQ(jet4.size(), 0x10000u - 0x800u);  // every code unit but the surrogates
  size_t line = 0;
  for (uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit < 0xE000) continue;
    const std::string diff = CompareWithLine(collation_internal::LookupGeneral(unit), jet4[line++]);
    ASSERT_EQ(diff, "") << "Jet 4 unit " << unit;
  }

  const std::vector<std::string> jet3 = ReadLines(dir + "index_codes_gen_97.txt");
  ASSERT_EQ(jet3.size(), 256u);
  for (int byte = 0; byte < 256; ++byte) {
    ASSERT_EQ(CompareWithLine(collation_internal::LookupGeneral97(byte), jet3[byte]), "") << byte;
  }
  // Jet 3 keys read text through the code page; the tables expect these characters at these bytes.
  for (const std::string& mapping : ReadLines(dir + "index_mappings_ext_gen_97.txt")) {
    const size_t comma = mapping.find(',');
    uint8_t byte = 0;
    EXPECT_TRUE(UnicodeToCp1252(std::stoi(mapping.substr(0, comma)), &byte)) << mapping;
    EXPECT_EQ(byte, std::stoi(mapping.substr(comma + 1))) << mapping;
  }
}

}  // namespace
}  // namespace jet
