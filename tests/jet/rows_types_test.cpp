// Rows as typed values where a comparison of CSV exports cannot tell (the values of every user
// table against mdb-export: ExportCompare; NULL against empty text, which mdb-export prints
// alike: the key sweeps of IndexCursor and SqlEveryIndex, where the two key differently): the
// rows and Binary, OLE and GUID values of the system tables, compressed text that switches modes,
// Jet 3 code-page text, wide Decimals, and rows written before a fixed column existed.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>

#include "jet/base/bytes.h"
#include "jet/check/csv_export.h"
#include "jet/pages/data_page.h"
#include "jet/database.h"
#include "jet/pages/row_decoder.h"
#include "jet/text/text_codec.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Text;
using jet::Value;
using velloran_test::AllFixtures;
using velloran_test::FixturePath;
using velloran_test::ReadBytes;
using velloran_test::RowFileOffset;
using velloran_test::ScratchDir;
using velloran_test::WriteBytes;

using Table = velloran_test::LoadedTable;

Table ReadTable(const std::string& path, const std::string& table) { return velloran_test::LoadTable(path, table); }


// Edits the bytes of the file at `path` with `edit`, given `table` as read before (holding `rows` rows).
template <typename Edit>
void EditRows(const std::string& path, const std::string& table, size_t rows, Edit edit) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  {
    const Table t = ReadTable(path, table);
    ASSERT_EQ(t.ids.size(), rows);
    edit(t, bytes);
  }
  WriteBytes(path, bytes);
}

// Replaces the only occurrence of `from` in the file by `to` (same length).
void ReplaceOnce(const std::string& path, const std::vector<uint8_t>& from, const std::vector<uint8_t>& to) {
  ASSERT_EQ(from.size(), to.size());
  std::vector<uint8_t> bytes = ReadBytes(path);
  auto hit = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
  ASSERT_NE(hit, bytes.end());
  ASSERT_EQ(std::search(hit + 1, bytes.end(), from.begin(), from.end()), bytes.end()) << "the pattern is not unique";
  std::copy(to.begin(), to.end(), hit);
  WriteBytes(path, bytes);
}

// ---- Binary, OLE and GUID, held only by system tables ----

using velloran_test::Hex;
using velloran_test::RunPinned;
using velloran_test::ShellQuote;

// What `mdb-export -b hex` writes for `table`, as records. mdbtools warns on stderr about column
// types it does not convert; those are not compared.
std::vector<std::string> MdbExportHex(const std::string& path, const std::string& table) {
  int code = -1;
  const std::string csv = RunPinned("mdb-export -b hex " + ShellQuote(path) + " " + ShellQuote(table) + " 2>/dev/null", &code);
  EXPECT_EQ(code, 0) << table;
  return velloran_test::CsvRecords(csv);
}

// A system table against `mdb-export -b hex`: as many rows as it prints (Access leaves these
// tables' own row counts stale; user tables are held to theirs by the check and to mdb-export by
// ExportCompare), and every Binary and OLE value; returns the values compared.
int CompareSystemTableWithMdbExport(const std::string& path, const std::string& table) {
  SCOPED_TRACE(path + " " + table);
  Table t = ReadTable(path, table);
  std::vector<std::vector<velloran_test::CsvField>> records;
  for (const std::string& record : MdbExportHex(path, table)) records.push_back(velloran_test::CsvFields(record));
  EXPECT_EQ(records.size(), t.rows.size() + 1) << "rows";
  if (records.size() != t.rows.size() + 1) return 0;
  int compared = 0;
  for (size_t i = 0; i < t.def.columns.size(); ++i) {
    const jet::ColumnDef& c = t.def.columns[i];
    if (c.type != jet::ColumnType::kBinary && c.type != jet::ColumnType::kOle) continue;
    // mdb-export orders columns by number; find this one by name.
    size_t field = std::find_if(records[0].begin(), records[0].end(), [&](const auto& f) { return f.text == c.name; }) - records[0].begin();
    EXPECT_LT(field, records[0].size()) << c.name;
    if (field >= records[0].size()) continue;
    for (size_t r = 0; r < t.rows.size(); ++r) {
      const jet::Bytes* ours = std::get_if<jet::Bytes>(&t.rows[r][i]);
      std::string expected = ours ? Hex(*ours, true) : "";
      // mdbtools 1.0 prints a (short) Binary value as a C string: its hex stops before the first
      // zero byte (an SID "...9019 00 9489..." comes out as "...9019"). OLE values come out whole.
      if (ours && c.type == jet::ColumnType::kBinary) expected = Hex(ours->substr(0, ours->find('\0')), true);
      EXPECT_EQ(expected, records[r + 1].at(field).text) << c.name << " of row " << r;
      compared += ours != nullptr;
    }
  }
  return compared;
}

TEST(RowsAndTypes, SystemTablesRowsAndBinaryOleAndGuidValues) {
  REQUIRE_SHARED_FIXTURES();
  // MSysNameMap of indexTestV2000: a GUID stored in a variable column and a 404-byte OLE value
  // stored as a chain of long-value rows. The GUID is {8F096CA0-FC16-4288-801E-119F26C0B6FC}, its
  // first three groups little-endian as stored.
  Table map = ReadTable(FixturePath("access/indexTestV2000.mdb"), "MSysNameMap");
  ASSERT_EQ(map.rows.size(), 1u);
  jet::Guid guid;
  guid.bytes = {0xA0, 0x6C, 0x09, 0x8F, 0x16, 0xFC, 0x88, 0x42, 0x80, 0x1E, 0x11, 0x9F, 0x26, 0xC0, 0xB6, 0xFC};
  EXPECT_EQ(map.at(0, "GUID"), Value(guid));
  EXPECT_EQ(map.at(0, "Id"), Value(int64_t{1}));  // a variable-width Long
  EXPECT_EQ(map.at(0, "Name"), Value(Text(u"Table1\0", 7)));  // stored with its terminating NUL

  REQUIRE_MDB_EXPORT();
  int compared = 0, tables = 0;
  for (const std::string& fixture : AllFixtures()) {
    ASSERT_OK_LET(db, jet::Database::Open(FixturePath(fixture)));
    for (const jet::CatalogEntry& e : db.value()->objects()) {
      if (!e.IsTable() || !e.IsSystem()) continue;
      compared += CompareSystemTableWithMdbExport(FixturePath(fixture), e.name);
      ++tables;
    }
  }
  std::cout << "[ compared ] " << tables << " system tables, " << compared << " Binary and OLE values\n";
  EXPECT_EQ(tables, 151);
  EXPECT_GT(compared, 0);
}

// ---- Text ----

TEST(RowsAndTypes, CompressedTextAndModeToggles) {
  // The fixture's own texts, compressed (FF FE, one byte a character) or not, are held up to
  // mdb-export by ExportCompare.EveryUserTableOfEveryFixtureMatchesMdbExport.
  // No fixture switches modes inside a value, so a scratch copy gets two that do, each the same
  // length as the value it replaces: 0x00 toggles between one-byte and two-byte characters.
  COPY_FIXTURE_OR_SKIP("access/testUnicodeCompV2003.mdb", scratch, path);
  std::vector<uint8_t> ascii = {0xFF, 0xFE};
  for (char c : std::string("only ascii chars")) ascii.push_back(static_cast<uint8_t>(c));
  // "OK", toggle, "Прив" in two bytes a character, toggle, " !!!".
  ReplaceOnce(path, ascii,
              {0xFF, 0xFE, 'O', 'K', 0x00, 0x1F, 0x04, 0x40, 0x04, 0x38, 0x04, 0x32, 0x04, 0x00, ' ', '!', '!', '!'});
  // Ends in two-byte mode.
  ReplaceOnce(path, {0xFF, 0xFE, 0xFC, 'm', 'l', 'a', 'u', 't'}, {0xFF, 0xFE, 'A', 0x00, 0x1C, 0x04, 0x1D, 0x04});
  Table edited = ReadTable(path, "Table");
  ASSERT_EQ(edited.rows.size(), 8u);
  EXPECT_EQ(edited.at(0, "Unicode"), Value(Text(u"OK\u041F\u0440\u0438\u0432 !!!")));
  EXPECT_EQ(edited.at(6, "Unicode"), Value(Text(u"A\u041C\u041D")));
}

// Rows are decoded for a list straight into UTF-8; that must be the text the UTF-16 decoding
// spells, for every kind of stored text: ASCII and Latin-1 runs, mode toggles, surrogates (paired
// and lone), an odd trailing byte, Windows-1252.
TEST(RowsAndTypes, StoredTextDecodesToTheSameUtf8EitherWay) {
  std::mt19937 random(19);
  const uint8_t kBytes[] = {'a', 'Z', ' ', 0x00, 0x7F, 0x80, 0x9F, 0xE9, 0xFF, 0xD8, 0xDC, 0x3D, 0x04};
  for (int round = 0; round < 4000; ++round) {
    const bool jet3 = round % 4 == 0;
    std::vector<uint8_t> stored;
    if (!jet3 && round % 2 == 1) stored = {0xFF, 0xFE};
    // Now and then a long Latin-1 text without a toggle, which is converted in pieces.
    const bool long_latin1 = round % 40 == 5;
    const bool ascii_only = round % 3 == 0;
    const size_t length = long_latin1 ? 250 + random() % 600 : random() % (ascii_only ? 72 : 24);
    for (size_t i = 0; i < length; ++i) {
      const uint8_t byte = ascii_only ? static_cast<uint8_t>('a' + random() % 26) : kBytes[random() % std::size(kBytes)];
      stored.push_back(long_latin1 && byte == 0 ? 0xE9 : byte);
    }
    // Half the ASCII texts have one other byte anywhere in them, which every block must notice.
    if (ascii_only && length > 0 && random() % 2 == 0) stored[stored.size() - 1 - random() % length] = kBytes[3 + random() % 6];
    const jet::JetVersion version = jet3 ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;
    std::string direct = "room left from an earlier row";
    jet::DecodeStoredTextUtf8(version, stored.data(), stored.size(), &direct);
    ASSERT_EQ(direct, jet::ToUtf8(jet::DecodeStoredText(version, stored.data(), stored.size()))) << "round " << round;
  }
}

// A Jet 3 row whose variable data runs past two 256-byte boundaries (no fixture has one): the
// jump table before the variable-column count, one entry a boundary naming the first offset at or
// past it, raises the one-byte offsets. (A row whose data stops short of its last boundary, with
// a placeholder entry: MSP_PROJECTS of test2V1997.mdb, in ExportCompare.)
TEST(RowsAndTypes, Jet3OffsetsPastTwoBoundaries) {
  jet::TableDef def;
  def.var_column_count = 3;
  std::vector<uint8_t> row(569, 'x');  // data 1..561, four offsets, two jumps, the count, the mask
  row[0] = 3;
  const size_t last = row.size() - 1;
  row[last] = 0x07;
  row[last - 1] = 3;
  row[last - 2] = 1;  // boundary 256: offset 1 (301) is the first past it
  row[last - 3] = 2;  // boundary 512: offset 2 (551)
  const uint8_t low_bytes[] = {1, 301 - 256, 551 - 512, 561 - 512};
  for (size_t i = 0; i < 4; ++i) row[last - 4 - i] = low_bytes[i];
  ASSERT_OK_LET(layout, jet::ParseRowLayout(jet::Format::For(jet::JetVersion::kJet3), def, row.data(), static_cast<uint32_t>(row.size()), "row"));
  EXPECT_EQ(layout->var_offsets, (std::vector<uint16_t>{1, 301, 551, 561}));
}

TEST(RowsAndTypes, Jet3TextInTheDatabaseCodePage) {
  // The Jet 3 fixtures hold ASCII only; a scratch copy gets Windows-1252 bytes that differ from
  // Latin-1 (0x80-0x9F) and some that do not.
  COPY_FIXTURE_OR_SKIP("access/testV1997.mdb", scratch, path);
  std::string old_text = "hijklmnop";
  ReplaceOnce(path, std::vector<uint8_t>(old_text.begin(), old_text.end()),
              {0x80, 0x8A, 0x9C, 0x9F, 0xE9, 0xBF, 0xDF, 0x85, 0xA9});
  Table t = ReadTable(path, "Table1");
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.at(1, "B"), Value(Text(u"\u20AC\u0160\u0153\u0178\u00E9\u00BF\u00DF\u2026\u00A9")));
}

// ---- Types no fixture holds ----

// Decimals wider than the fixtures' (a Single no fixture holds: ExportCompare.NumbersTheFixturesLackMatchMdbExport).
TEST(RowsAndTypes, WideDecimalsInAScratchCopy) {
  // Decimal: the 16 magnitude bytes are four 32-bit words, most significant first, each
  // little-endian (mdb-export reads the edited copy as -4294967298 and 999999999999999999).
  COPY_FIXTURE_OR_SKIP("access/fixedNumericTestV2000.mdb", scratch, decimals);
  EditRows(decimals, "test", 1, [](const Table& d, std::vector<uint8_t>& bytes) {
    const size_t fixed = RowFileOffset(d.db->pager(), d.ids[0]) + 2;
    uint8_t *col3 = &bytes[fixed + d.def.FindColumn("col3")->fixed_offset], *col4 = &bytes[fixed + d.def.FindColumn("col4")->fixed_offset];
    col3[0] = 0x80;
    jet::Put32(col3 + 9, 1), jet::Put32(col3 + 13, 2);
    jet::Put32(col4 + 9, 0x0DE0B6B3), jet::Put32(col4 + 13, 0xA763FFFF);
  });
  Table d = ReadTable(decimals, "test");
  ASSERT_EQ(d.rows.size(), 1u);
  EXPECT_EQ(jet::FormatExportField(*d.def.FindColumn("col3"), d.at(0, "col3")), "-4294967298");
  EXPECT_EQ(jet::FormatExportField(*d.def.FindColumn("col4"), d.at(0, "col4")), "999999999999999999");
}

// ---- Row bookkeeping ----

// (Deleted slots, moved rows and stray moved-home flags: StorageCursor; the rows of the fixtures
// that hold them, in storage order, against mdb-export: ExportCompare and, for system tables,
// SystemTablesRowsAndBinaryOleAndGuidValues.)
TEST(RowsAndTypes, RowsWrittenBeforeAColumnExistedReadItAsNull) {
  // (Rows of overflowTestV2000 written with three or four of its ten columns: ExportCompare.)
  // No fixture has a fixed column added after its rows; a scratch copy of delColTestV2000 gets a
  // second row written when the table had only its first column: [count 1][id = 7][end of data 6]
  // [no variable columns][null mask FF, of which only the first bit belongs to the row]. The bytes
  // in front of it are left unused.
  COPY_FIXTURE_OR_SKIP("access/delColTestV2000.mdb", scratch, path);
  EditRows(path, "Table1", 2, [](const Table& d, std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t> row = {0x01, 0x00, 0x07, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0xFF};
    jet::RowSlot slot = jet::ReadRowSlot(d.db->pager(), d.ids[1].page, d.ids[1].row).value();
    const size_t start = RowFileOffset(d.db->pager(), d.ids[1]) + slot.size - row.size();
    std::copy(row.begin(), row.end(), bytes.begin() + static_cast<std::ptrdiff_t>(start));
    jet::Put16(&bytes[size_t{d.ids[1].page} * 4096 + 14 + 2 * d.ids[1].row], static_cast<uint16_t>(start % 4096));
  });
  Table d = ReadTable(path, "Table1");
  ASSERT_EQ(d.rows.size(), 2u);
  EXPECT_EQ(d.rows[0], (std::vector<Value>{int64_t{0}, int64_t{2}, Text(u"foo"), Text(u"foo2")}));
  EXPECT_EQ(d.rows[1], (std::vector<Value>{int64_t{7}, jet::Null{}, jet::Null{}, jet::Null{}}));
}

}  // namespace
