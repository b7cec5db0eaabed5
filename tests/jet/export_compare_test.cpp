// The engine's CSV export against an independent reader: every user table of every fixture, and
// a scratch copy holding numbers the fixtures lack, must come out of `velloran-jet export` byte for
// byte as `mdb-export` (mdbtools) writes it. The one tolerated difference is a proven mdbtools
// fault (see ExplainedBySurrogateFault).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iostream>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/database.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::AllFixtures;
using velloran_test::FixturePath;
using velloran_test::ScratchDir;

// mdb-export writes Date/Time values with strftime("%x %X") in the locale of its environment, so
// its output depends on LANG/LC_*. In the C locale "%x %X" is "%m/%d/%y %H:%M:%S", the format our
// export writes; every command below runs with the locale pinned to C.UTF-8 (UTF-8 output) by
// RunPinned (NumbersTheFixturesLackMatchMdbExport looks for its dates in that format).

struct CommandOutput { int exit_code = -1; std::string out; };

using velloran_test::ShellQuote;

CommandOutput RunPinned(const std::string& command) {
  CommandOutput result;
  result.out = velloran_test::RunPinned(command, &result.exit_code);
  return result;
}

CommandOutput OurExport(const std::string& file, const std::string& table) {
  return RunPinned(std::string(VELLORAN_JET_TOOL) + " export " + ShellQuote(file) + " " + ShellQuote(table));
}

CommandOutput MdbExport(const std::string& file, const std::string& table) {
  return RunPinned("mdb-export " + ShellQuote(file) + " " + ShellQuote(table));
}

int SurrogatePairs(const std::vector<jet::Value>& row) {
  int pairs = 0;
  for (const jet::Value& v : row) {
    const jet::Text* t = std::get_if<jet::Text>(&v);
    if (t == nullptr) continue;
    for (size_t i = 0; i + 1 < t->size(); ++i)
      if ((*t)[i] >= 0xD800 && (*t)[i] <= 0xDBFF && (*t)[i + 1] >= 0xDC00 && (*t)[i + 1] <= 0xDFFF) ++pairs;
  }
  return pairs;
}

// Surrogate pairs per row of `table`, read through the engine in storage order (the order of both
// exports).
std::vector<int> SurrogatePairsPerRow(const std::string& file, const std::string& table) {
  std::vector<int> pairs;
  for (const auto& row : velloran_test::LoadTable(file, table).rows) pairs.push_back(SurrogatePairs(row));
  return pairs;
}

// mdbtools 1.0 converts UTF-16 to UTF-8 one code unit at a time, so each half of a surrogate pair
// (a character outside the Basic Multilingual Plane, such as the emoji in keysV2000.mdb's Txt
// column) becomes "?": "😀 smile" comes out as "?? smile". Evidence: those records are the only
// differences on the fixtures; each becomes equal to mdb-export's once every non-BMP character
// of ours is replaced by "??"; and the engine shows that exactly those rows store surrogate pairs,
// as many as the record has non-BMP characters. A record that differs for any other reason, or a
// surrogate-pair row whose record mdbtools prints unchanged, is a failure.
bool ExplainedBySurrogateFault(const std::string& ours, const std::string& theirs, int stored_pairs) {
  int replaced = 0;
  std::string as_mdbtools_prints = velloran_test::AsMdbtoolsPrintsIt(ours, &replaced);
  EXPECT_EQ(replaced, stored_pairs) << "non-BMP characters in our record vs surrogate pairs stored in the row";
  EXPECT_GT(stored_pairs, 0) << "the record differs but its row holds no surrogate pair:\n ours: " << ours << "\n mdb:  " << theirs;
  EXPECT_EQ(as_mdbtools_prints, theirs) << "a difference other than the surrogate-pair fault";
  return replaced == stored_pairs && stored_pairs > 0 && as_mdbtools_prints == theirs;
}

struct Tally { int tables = 0; int records = 0; int surrogate_records = 0; };

void CompareTable(const std::string& file, const std::string& table, Tally* tally) {
  SCOPED_TRACE(file + " table " + table);
  CommandOutput ours = OurExport(file, table);
  CommandOutput theirs = MdbExport(file, table);
  ASSERT_EQ(ours.exit_code, 0);
  ASSERT_EQ(theirs.exit_code, 0);
  ++tally->tables;
  std::vector<std::string> a = velloran_test::CsvRecords(ours.out), b = velloran_test::CsvRecords(theirs.out);
  std::vector<int> pairs = SurrogatePairsPerRow(file, table);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), pairs.size() + 1) << "records vs rows read through the engine";
  EXPECT_EQ(a[0], b[0]) << "header";
  for (size_t i = 1; i < a.size(); ++i) {
    ++tally->records;
    if (a[i] == b[i] && pairs[i - 1] == 0) continue;
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_NE(a[i], b[i]) << "a row with a surrogate pair that mdb-export printed like us";
    if (a[i] != b[i] && ExplainedBySurrogateFault(a[i], b[i], pairs[i - 1])) ++tally->surrogate_records;
  }
  // Records are newline-terminated, as mdb-export's are.
  EXPECT_EQ(ours.out.back(), '\n');
}

TEST(ExportCompare, EveryUserTableOfEveryFixtureMatchesMdbExport) {
  REQUIRE_SHARED_FIXTURES();
  REQUIRE_MDB_EXPORT();
  Tally tally;
  int databases = 0;
  for (const std::string& fixture : AllFixtures()) {
    SCOPED_TRACE(fixture);
    std::string file = FixturePath(fixture);
    CommandOutput listed = RunPinned("mdb-tables -1 " + ShellQuote(file));
    ASSERT_EQ(listed.exit_code, 0);
    CommandOutput ours = RunPinned(std::string(VELLORAN_JET_TOOL) + " tables " + ShellQuote(file));
    ASSERT_EQ(ours.exit_code, 0);
    // One name a line: split as CSV records, which no table name here quotes.
    std::vector<std::string> tables = velloran_test::CsvRecords(ours.out);
    EXPECT_EQ(tables, velloran_test::CsvRecords(listed.out)) << "user tables";
    for (const std::string& table : tables) CompareTable(file, table, &tally);
    ++databases;
  }
  EXPECT_EQ(databases, 24);
  EXPECT_EQ(tally.tables, 42);
  EXPECT_EQ(tally.records, 5147);
  // The 14 rows of keysV2000.mdb whose Txt holds an emoji, and nothing else.
  EXPECT_EQ(tally.surrogate_records, 14);
  std::cout << "[ compared ] " << tally.tables << " tables of " << databases << " databases, " << tally.records
            << " records; " << tally.surrogate_records << " differ only by mdbtools' surrogate-pair fault\n";
}

// Where the fixed area of each row of `table` starts in the file, in storage order.
std::vector<size_t> FixedAreaOffsets(const velloran_test::LoadedTable& table) {
  std::vector<size_t> offsets;
  jet::Pager& pager = table.db->pager();
  for (const jet::RowId& id : table.ids) offsets.push_back(velloran_test::RowFileOffset(pager, id) + (pager.format().jet4() ? 2 : 1));
  return offsets;
}

// A scratch copy of testV1997.mdb whose Table1 holds numbers that no fixture has: doubles and a
// Single with more than six significant digits, currency amounts at the limits of the type, times
// of day. Column E (Long) is retyped as Single in the definition so that its four bytes read as a
// float. Dates before 1899-12-30 are left out: mdb-export 1.0 prints them as "01/00/00 ...".
std::string MakeNumbersCopy(const ScratchDir& scratch) {
  std::string path = scratch.CopyFixture("access/testV1997.mdb");
  velloran_test::LoadedTable table = velloran_test::LoadTable(path, "Table1");
  if (!table.db) return path;
  const jet::TableDef& def = table.def;
  std::vector<size_t> rows = FixedAreaOffsets(table);
  EXPECT_EQ(rows.size(), 2u);
  if (rows.size() != 2) return path;
  auto at = [&](int row, const char* column) { return rows[row] + def.FindColumn(column)->fixed_offset; };
  // Jet 3 definition: 43-byte header, 8 bytes per physical index, then 18 bytes per column.
  size_t column_e = size_t{def.page} * 2048 + 43 + 8 * def.physical_indexes.size() + 18 * 4;
  std::vector<uint8_t> bytes = velloran_test::ReadBytes(path);
  EXPECT_EQ(bytes[column_e], static_cast<uint8_t>(jet::ColumnType::kLong));
  EXPECT_EQ(jet::Get16(&bytes[column_e + 1]), def.FindColumn("E")->number);
  bytes[column_e] = static_cast<uint8_t>(jet::ColumnType::kSingle);
  auto put_double = [&](size_t offset, double v) { std::memcpy(&bytes[offset], &v, 8); };
  auto put_float = [&](size_t offset, float v) { std::memcpy(&bytes[offset], &v, 4); };
  put_double(at(0, "F"), 0.000123456789);
  put_double(at(1, "F"), 3.141592653589793);
  put_float(at(0, "E"), 16777217.0f);
  put_float(at(1, "E"), 3.14159265f);
  jet::Put64(&bytes[at(0, "H")], static_cast<uint64_t>(INT64_MIN));
  jet::Put64(&bytes[at(1, "H")], 12345678901234567ull);
  put_double(at(0, "G"), 40122.987129629626);  // 11/05/09 23:41:28
  put_double(at(1, "G"), 27293.75);            // 09/21/74 18:00:00
  jet::Put16(&bytes[at(1, "D")], 0x8000);      // Integer -32768
  bytes[at(1, "C")] = 0xFF;                    // Byte 255
  velloran_test::WriteBytes(path, bytes);
  return path;
}

TEST(ExportCompare, NumbersTheFixturesLackMatchMdbExport) {
  REQUIRE_SHARED_FIXTURES();
  REQUIRE_MDB_EXPORT();
  ScratchDir scratch;
  std::string path = MakeNumbersCopy(scratch);
  CommandOutput theirs = MdbExport(path, "Table1");
  ASSERT_EQ(theirs.exit_code, 0);
  // The edits took: mdb-export reads the new values.
  for (const char* expected : {"3.141592653589793", "0.000123456789", "3.1415927", "16777216", "-922337203685477.5808",
                               "1234567890123.4567", "\"11/05/09 23:41:28\"", "\"09/21/74 18:00:00\"", ",255,-32768,"}) {
    EXPECT_NE(theirs.out.find(expected), std::string::npos) << expected << " in\n" << theirs.out;
  }
  CommandOutput ours = OurExport(path, "Table1");
  ASSERT_EQ(ours.exit_code, 0);
  EXPECT_EQ(ours.out, theirs.out);
}

}  // namespace
