// Access 97 files copied into new Access 2000 files: every table, row and index comes over, the
// copy passes the check and reads as the original does in our engine, mdb-export and mdb-reader,
// and the original is not touched.
#include "jet/convert_database.h"
#include "tests/jet/other_readers.h"

namespace velloran_test {
namespace {

// Every row of `table` in both files, in storage order (the copy inserts them in that order).
void ExpectSameRows(jet::Database& original, jet::Database& copy, const std::string& table) {
  SCOPED_TRACE(table);
  ASSERT_OK_LET(a_def, original.ReadTable(table));
  ASSERT_OK_LET(b_def, copy.ReadTable(table));
  ASSERT_OK_LET(a, jet::TableCursor::Open(original.pager(), a_def.value()));
  ASSERT_OK_LET(b, jet::TableCursor::Open(copy.pager(), b_def.value()));
  for (size_t row = 0;; ++row) {
    ASSERT_OK_LET(more, a.value()->Next());
    ASSERT_OK_LET(more_b, b.value()->Next());
    ASSERT_EQ(more.value(), more_b.value()) << "row count differs at row " << row;
    if (!more.value()) break;
    ASSERT_EQ(Describe(a.value()->values()), Describe(b.value()->values())) << "row " << row;
  }
}

TEST(ConvertToAccess2000, EveryAccess97FixtureCopiesWhole) {
  REQUIRE_SHARED_FIXTURES();
  const bool mdbtools = Have("mdb-export");
  if (!mdbtools) std::cout << "[ note     ] mdb-export is not installed: its comparison is left out\n";
  const std::string modules = MdbReaderOrNote();
  ScratchDir scratch;
  std::vector<Snapshot> snapshots;
  for (const std::string& fixture : AllFixtures()) {
    if (fixture.find("V1997") == std::string::npos) continue;
    SCOPED_TRACE(fixture);
    const std::string original = scratch.CopyFixture(fixture);
    const std::string before = ReadWholeFile(original);
    const std::string copy = original + ".2000.mdb";
    ASSERT_TRUE(jet::ConvertToAccess2000(original, copy).ok());
    EXPECT_EQ(ReadWholeFile(original), before) << "the original changed";
    EXPECT_FALSE(jet::ConvertToAccess2000(original, copy).ok()) << "a file already at the target is replaced";
    int code = 0;
    const std::string check = RunPinned(ShellQuote(VELLORAN_JET_TOOL) + " check " + ShellQuote(copy) + " 2>&1", &code);
    EXPECT_EQ(code, 0) << check;
    // The same columns and indexes, but for relationships' foreign-key indexes, which stay behind.
    std::string schema = RunPinned(ShellQuote(VELLORAN_JET_TOOL) + " schema " + ShellQuote(original) + " | grep -v foreign-key", &code);
    EXPECT_EQ(schema, RunPinned(ShellQuote(VELLORAN_JET_TOOL) + " schema " + ShellQuote(copy), &code));
    ASSERT_OK_LET(a, jet::Database::Open(original));
    ASSERT_OK_LET(b, jet::Database::Open(copy));
    EXPECT_EQ(b.value()->version(), jet::JetVersion::kJet4);
    ASSERT_EQ(a.value()->UserTableNames(), b.value()->UserTableNames());
    for (const std::string& table : a.value()->UserTableNames()) {
      ExpectSameRows(*a.value(), *b.value(), table);
      // Code page 1252's pound sign (0xA3) comes over as the one Unicode character U+00A3.
      if (table == "MSP_PROJECTS") {
        std::ostringstream csv;
        ASSERT_TRUE(jet::ExportTableCsv(*b.value(), table, csv).ok());
        EXPECT_NE(csv.str().find("\"\xC2\xA3\""), std::string::npos);
      }
      snapshots.push_back({copy, table});
      if (!mdbtools) continue;
      int first = 0, second = 0;
      EXPECT_EQ(RunPinned("mdb-export " + ShellQuote(original) + " " + ShellQuote(table), &first),
                RunPinned("mdb-export " + ShellQuote(copy) + " " + ShellQuote(table), &second))
          << table;
      EXPECT_EQ(first + second, 0);
    }
  }
  ASSERT_FALSE(snapshots.empty()) << "no Access 97 fixture found";
  int explained = 0;
  if (!modules.empty()) CompareWithMdbReader(modules, snapshots, &explained);
}

}  // namespace
}  // namespace velloran_test
