// The integrity check as a host meets it: `velloran-jet check` finds nothing wrong with any file
// Access made (stale row counts of system tables, indexes on Binary columns and long Access 97
// rows included), and a definition damaged so that an index names a column no index can hold is
// reported as damage of that file and page.
#include <gtest/gtest.h>

#include "jet/base/bytes.h"
#include "jet/check/integrity_check.h"
#include "jet/database.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::FixturePath;
using velloran_test::ShellQuote;

TEST(IntegrityCheck, EveryFixturePassesTheCheckCommand) {
  REQUIRE_SHARED_FIXTURES();
  int files = 0;
  for (const std::string& fixture : velloran_test::AllFixtures()) {
    int code = -1;
    const std::string out =
        velloran_test::RunPinned(std::string(VELLORAN_JET_TOOL) + " check " + ShellQuote(FixturePath(fixture)) + " 2>&1", &code);
    EXPECT_EQ(code, 0) << fixture << ":\n" << out;
    ++files;
  }
  EXPECT_EQ(files, 24);
}

// MSysACEs' index ObjectId is on a Long column; its type byte turned into OLE's (a damaged byte the
// fuzzer found) leaves an index no Access file can have.
TEST(IntegrityCheck, AnIndexOnAColumnNoIndexCanHoldIsDamageOfTheDefinition) {
  REQUIRE_SHARED_FIXTURES();
  velloran_test::ScratchDir scratch;
  const std::string path = scratch.CopyFixture("access/emptyV2000.mdb");
  uint32_t tdef = 0;
  uint16_t physical_indexes = 0, indexed_column = 0;
  {
    auto db = jet::Database::Open(path);
    ASSERT_TRUE(db.ok());
    jet::TableDef aces = db.value()->ReadTable("MSysACEs").value();
    tdef = aces.page;
    physical_indexes = static_cast<uint16_t>(aces.physical_indexes.size());
    ASSERT_FALSE(aces.physical_indexes.empty());
    indexed_column = aces.physical_indexes[0].columns[0].column_number;
  }
  // Jet 4 definition: a 63-byte header, 12 bytes per physical index, then 25 bytes per column
  // (type first, column number at +5).
  std::vector<uint8_t> bytes = velloran_test::ReadBytes(path);
  size_t column = size_t{tdef} * 4096 + 63 + 12 * size_t{physical_indexes};
  while (jet::Get16(&bytes[column + 5]) != indexed_column) column += 25;
  ASSERT_EQ(bytes[column], static_cast<uint8_t>(jet::ColumnType::kLong));
  bytes[column] = static_cast<uint8_t>(jet::ColumnType::kOle);
  velloran_test::WriteBytes(path, bytes);

  auto db = jet::Database::Open(path);
  ASSERT_TRUE(db.ok());
  const std::vector<std::string> problems = jet::CheckDatabase(*db.value());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find(path + ", page " + std::to_string(tdef) + ": "), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find("of type OLE, which no index can hold: the table's definition is damaged"), std::string::npos)
      << problems[0];
}

}  // namespace
