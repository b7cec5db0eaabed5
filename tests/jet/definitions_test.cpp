// The catalogue and the table definitions as the engine reads them: column types, numbers, sizes,
// storage places and flags; logical indexes with their columns, order and flags, and the physical
// indexes they share.
// Expected values come from the definition bytes of each fixture (read by hand, offsets as in the
// engine's format notes) and, where mdbtools shows them, agree with mdb-schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "jet/base/bytes.h"
#include "jet/database.h"
#include "jet/pages/table_def_writer.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/schema_test_support.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::AllFixtures;
using velloran_test::FixturePath;

using velloran_test::LoadedTable;
using velloran_test::LoadTable;

// "Name Type #number fixed@offset|var#slot len N [flags]"
std::string DescribeColumn(const jet::ColumnDef& c) {
  std::string s = c.name + " " + jet::ColumnTypeName(c.type) + " #" + std::to_string(c.number);
  if (c.type != jet::ColumnType::kBoolean)
    s += c.fixed() ? " fixed@" + std::to_string(c.fixed_offset) : " var#" + std::to_string(c.var_index);
  s += " len " + std::to_string(c.length);
  if (c.autonumber()) s += " autonumber";
  if (c.flags & jet::kColumnAutoGuid) s += " auto-guid";
  if (c.compressed_unicode()) s += " compressed";
  return s;
}

std::vector<std::string> DescribeColumns(const jet::TableDef& def) {
  std::vector<std::string> out;
  for (const jet::ColumnDef& c : def.columns) out.push_back(DescribeColumn(c));
  return out;
}

// "Name (Col, Col DESC) -> physical N [primary] [foreign-key] [unique] [ignore-nulls] [required]"
std::string DescribeIndex(const jet::TableDef& def, const jet::LogicalIndex& li) {
  std::string s = li.name + " (";
  if (li.physical_index >= def.physical_indexes.size()) return s + "missing physical index)";
  const jet::PhysicalIndex& pi = def.physical_indexes[li.physical_index];
  for (size_t i = 0; i < pi.columns.size(); ++i) {
    const jet::ColumnDef* c = def.ColumnByNumber(pi.columns[i].column_number);
    if (i > 0) s += ", ";
    if (c != nullptr) {
      s += c->name;
    } else {
      s += '#';
      s += std::to_string(pi.columns[i].column_number);
    }
    if (!pi.columns[i].ascending) s += " DESC";
  }
  s += ") -> physical " + std::to_string(li.physical_index);
  if (li.primary()) s += " primary";
  if (li.foreign_key()) s += " foreign-key";
  if (pi.unique()) s += " unique";
  if (pi.ignore_nulls()) s += " ignore-nulls";
  if (pi.required()) s += " required";
  return s;
}

std::vector<std::string> DescribeIndexes(const jet::TableDef& def) {
  std::vector<std::string> out;
  for (const jet::LogicalIndex& li : def.logical_indexes) out.push_back(DescribeIndex(def, li));
  return out;
}

// (The user tables of every fixture against mdb-tables: ExportCompare; files that are no
// database, encrypted or protected: DamageHeader.)

struct Described {
  const char* fixture;
  const char* table;
  std::vector<std::string> columns, indexes;
};

TEST(Definitions, ColumnsAndIndexesOfTheFixtures) {
  REQUIRE_SHARED_FIXTURES();
  // Where each column's value lies in a row is proven by reading every row of every fixture
  // (ExportCompare) and the column types by mdb-schema (below); here the numbers, flags and
  // storage places of the designs that read most easily wrong.
  const Described cases[] = {
      {"generated/keysV2000.mdb", "Keys",
       {"ID Long #0 fixed@0 len 4", "Txt Text #1 var#0 len 510", "Num Long #2 fixed@4 len 4", "Flag Boolean #3 len 1",
        "Memo Memo #4 var#1 len 0"},
       {"PrimaryKey (ID) -> physical 0 primary unique required", "Txt (Txt) -> physical 1", "Num (Num) -> physical 2",
        "NumDesc (Num DESC) -> physical 3", "Flag (Flag) -> physical 4", "TxtNum (Txt, Num) -> physical 5"}},
      // The index named PrimaryKey is an ordinary index in this file: its logical entry has type 0
      // and its physical flags are 0x80 (neither unique nor required); mdb-schema agrees, listing it
      // as CREATE INDEX rather than as a primary key.
      {"generated/songsV2000.mdb", "MyList", {},
       {"PrimaryKey (ID) -> physical 0", "SongNumber (SongNumber) -> physical 1", "Song (Song) -> physical 2",
        "Artist (Artist) -> physical 3", "HotlistA (HotlistA) -> physical 4"}},
      // Autonumber and compressed-unicode Text (Jet 4, Access 2003).
      {"access/testUnicodeCompV2003.mdb", "Table",
       {"ID Long #0 fixed@0 len 4 autonumber", "Unicode Text #1 var#0 len 510 compressed"}, {}},
      // Jet 3: autonumber Long and a replication ID generated on insert (flags 0x43); Text lengths
      // count bytes of the code page, one a character (mdb-schema: Text (50), Text (100)).
      {"access/testV1997.mdb", "Table3", {"a Long #0 fixed@0 len 4 autonumber", "b Text #1 var#0 len 50"}, {}},
      {"access/testV1997.mdb", "Table4", {"name Text #0 var#0 len 50", "data GUID #1 fixed@0 len 16 auto-guid"}, {}},
      {"access/testV1997.mdb", "Table1", {}, {"B (B) -> physical 0", "PrimaryKey (A) -> physical 1 primary unique required"}},
      // Columns 1 and 4 of delColTestV2000 were deleted: numbers 1 and 4, fixed bytes 4..7 and
      // variable slot 1 stay unused (the rows that still carry the deleted column's old text read
      // as mdb-export reads them: ExportCompare).
      {"access/delColTestV2000.mdb", "Table1",
       {"id Long #0 fixed@0 len 4", "id2 Long #2 fixed@8 len 4", "data Text #3 var#0 len 100 compressed",
        "data2 Text #5 var#2 len 100 compressed"},
       {"id (id) -> physical 0", "id2 (id2) -> physical 1"}},
      // The Access 97 file of the same history was compacted: numbers and slots are contiguous again.
      {"access/delColTestV1997.mdb", "Table1",
       {"id Long #0 fixed@0 len 4", "id2 Long #1 fixed@4 len 4", "data Text #2 var#0 len 50", "data2 Text #3 var#1 len 50"},
       {"id (id) -> physical 0", "id2 (id2) -> physical 1"}},
      // Column 0 of indexTestV2000's Table1 is gone with its fixed bytes 0..3; its indexes name
      // columns by number from 1.
      {"access/indexTestV2000.mdb", "Table1",
       {"id Long #1 fixed@4 len 4", "otherfk1 Long #2 fixed@8 len 4", "otherfk2 Long #3 fixed@12 len 4",
        "data Text #4 var#0 len 100 compressed", "otherfk3 Long #5 fixed@16 len 4"},
       {"id (id) -> physical 0", "PrimaryKey (id) -> physical 1 primary unique required",
        "Table2Table1 (otherfk1) -> physical 2 foreign-key", "Table3Table1 (otherfk2) -> physical 3 foreign-key"}},
      // A descending single-column index of a Jet 3 file.
      {"access/compIndexTestV1997.mdb", "Table1", {}, {"CD_AGENTE (CD_AGENTE DESC) -> physical 0"}},
  };
  for (const Described& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.table);
    jet::TableDef def = LoadTable(FixturePath(c.fixture), c.table, false).def;
    if (!c.columns.empty()) {
      EXPECT_EQ(DescribeColumns(def), c.columns);
    }
    if (!c.indexes.empty()) {
      EXPECT_EQ(DescribeIndexes(def), c.indexes);
    }
  }
}

TEST(Definitions, CountsSizesAndTextSettings) {
  REQUIRE_SHARED_FIXTURES();
  LoadedTable keys = LoadTable(FixturePath("generated/keysV2000.mdb"), "Keys");
  EXPECT_EQ(keys.def.FindColumn("txt")->sort_order, 0x0409);  // General
  ASSERT_EQ(keys.def.physical_indexes.size(), 6u);
  // Each physical index records how many distinct keys it holds (NULL counts as one key).
  std::set<int64_t> ids, flags;
  std::set<std::string> nums;
  for (const auto& row : keys.rows) {
    ids.insert(std::get<int64_t>(row[0]));
    nums.insert(jet::IsNull(row[2]) ? "null" : std::to_string(std::get<int64_t>(row[2])));
    flags.insert(std::get<bool>(row[3]));
  }
  EXPECT_EQ(keys.def.physical_indexes[0].unique_entry_count, ids.size());
  EXPECT_EQ(ids.size(), 3000u);
  EXPECT_EQ(keys.def.physical_indexes[2].unique_entry_count, nums.size());
  EXPECT_EQ(keys.def.physical_indexes[3].unique_entry_count, nums.size());
  EXPECT_EQ(keys.def.physical_indexes[4].unique_entry_count, flags.size());
  EXPECT_EQ(nums.size(), 2375u);

  // (Row counts against the rows read: RowsAndTypes; precision and scale against mdb-schema: below.)
  LoadedTable del = LoadTable(FixturePath("access/delColTestV2000.mdb"), "Table1", false);
  EXPECT_EQ(del.def.max_columns, 6);
  EXPECT_EQ(del.def.var_column_count, 3);
  EXPECT_EQ(LoadTable(FixturePath("access/delColTestV1997.mdb"), "Table1", false).def.max_columns, 4);
  EXPECT_EQ(LoadTable(FixturePath("access/indexTestV2000.mdb"), "Table1", false).def.max_columns, 6);
  // Each Jet 3 Text column names its sort order (0x0409 General, bytes 9-10 of the column entry)
  // and its code page (1252, bytes 11-12), like the database header.
  LoadedTable jet3 = LoadTable(FixturePath("access/testV1997.mdb"), "Table1", false);
  EXPECT_EQ(jet3.db->version(), jet::JetVersion::kJet3);
  EXPECT_EQ(jet3.db->pager().header().code_page, 1252);
  for (const char* name : {"A", "B"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(jet3.def.FindColumn(name)->sort_order, 0x0409);
    EXPECT_EQ(jet3.def.FindColumn(name)->code_page, 1252);
  }
}

TEST(Definitions, LogicalIndexesShareAndFlagPhysicalIndexes) {
  REQUIRE_SHARED_FIXTURES();
  // The relationship index ".rC" and PrimaryKey are one B-tree; "id" has its own.
  for (const char* fixture : {"access/indexTestV1997.mdb", "access/indexTestV2000.mdb", "access/indexTestV2003.mdb"}) {
    for (const char* table : {"Table2", "Table3"}) {
      SCOPED_TRACE(std::string(fixture) + " " + table);
      jet::TableDef def = LoadTable(FixturePath(fixture), table, false).def;
      EXPECT_EQ(def.physical_indexes.size(), 2u);
      EXPECT_EQ(DescribeIndexes(def), (std::vector<std::string>{
                                          ".rC (id) -> physical 1 foreign-key unique required",
                                          "id (id) -> physical 0",
                                          "PrimaryKey (id) -> physical 1 primary unique required",
                                      }));
    }
  }
  // Unique and ignore-nulls set independently (physical flags 0x81, 0x82, 0x89).
  const std::map<std::string, std::vector<std::string>> expected = {
      {"TableIgnoreNulls1", {"DataIndex (data) -> physical 1 ignore-nulls",
                             "PrimaryKey (row) -> physical 0 primary unique required"}},
      {"TableIgnoreNulls2", {"DataIndex (data1, data2) -> physical 1 ignore-nulls",
                             "PrimaryKey (row) -> physical 0 primary unique required"}},
      {"TableUnique1_temp", {"DataIndex (data) -> physical 1 unique",
                             "PrimaryKey (row) -> physical 0 primary unique required"}},
      {"TableUnique2_temp", {"DataIndex (data1, data2) -> physical 1 unique",
                             "PrimaryKey (row) -> physical 0 primary unique required"}},
  };
  for (const auto& [table, indexes] : expected) {
    SCOPED_TRACE(table);
    EXPECT_EQ(DescribeIndexes(LoadTable(FixturePath("access/testIndexPropertiesV2000.mdb"), table, false).def), indexes);
  }
}

// ---- Every column of every fixture against mdb-schema ----

using velloran_test::RunPinned;

// Column name -> type as mdb-schema's Access dialect writes it ("Long Integer", "Text (50)", ...).
std::map<std::string, std::string> MdbSchemaColumns(const std::string& file, const std::string& table) {
  std::map<std::string, std::string> columns;
  int code = -1;
  std::string out = RunPinned("mdb-schema -T '" + table + "' '" + file + "'", &code);
  EXPECT_EQ(code, 0);
  size_t pos = 0;
  while ((pos = out.find("\n\t[", pos)) != std::string::npos) {
    size_t name_end = out.find(']', pos);
    size_t line_end = out.find('\n', name_end);
    std::string name = out.substr(pos + 3, name_end - pos - 3);
    std::string type = out.substr(name_end + 1, line_end - name_end - 1);
    type.erase(0, type.find_first_not_of('\t'));
    while (!type.empty() && (type.back() == ' ' || type.back() == ',')) type.pop_back();
    if (type.size() > 9 && type.compare(type.size() - 9, 9, " NOT NULL") == 0) type.resize(type.size() - 9);
    columns[name] = type;
    pos = line_end;
  }
  return columns;
}

// The same column in mdb-schema's words, from the engine's definition.
std::string AsMdbSchemaType(const jet::ColumnDef& c, jet::JetVersion version) {
  int bytes_per_char = version == jet::JetVersion::kJet4 ? 2 : 1;
  switch (c.type) {
    case jet::ColumnType::kBoolean: return "Boolean";
    case jet::ColumnType::kByte: return "Byte";
    case jet::ColumnType::kInteger: return "Integer";
    case jet::ColumnType::kLong: return "Long Integer";
    case jet::ColumnType::kCurrency: return "Currency";
    case jet::ColumnType::kSingle: return "Single";
    case jet::ColumnType::kDouble: return "Double";
    case jet::ColumnType::kDateTime: return "DateTime";
    case jet::ColumnType::kText: return "Text (" + std::to_string(c.length / bytes_per_char) + ")";
    // mdb-schema writes a nominal size of 255 for the long-value types, whose definitions give none.
    case jet::ColumnType::kMemo: return "Memo/Hyperlink (255)";
    case jet::ColumnType::kOle: return "OLE (255)";
    case jet::ColumnType::kGuid: return "Replication ID";
    case jet::ColumnType::kDecimal:
      return "Numeric (" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
    default: return jet::ColumnTypeName(c.type);
  }
}

// The "column NAME TYPE..." lines of `velloran-jet schema FILE TABLE`, by column name.
std::map<std::string, std::string> ToolSchemaColumns(const std::string& file, const std::string& table) {
  std::map<std::string, std::string> columns;
  int code = -1;
  std::string out = RunPinned(std::string(VELLORAN_JET_TOOL) + " schema '" + file + "' '" + table + "'", &code);
  EXPECT_EQ(code, 0);
  const std::string marker = "\n  column ";
  for (size_t pos = 0; (pos = out.find(marker, pos)) != std::string::npos;) {
    size_t start = pos + marker.size();
    size_t space = out.find(' ', start), end = out.find('\n', start);
    columns[out.substr(start, space - start)] = out.substr(space + 1, end - space - 1);
    pos = end;
  }
  return columns;
}

// Compares the columns of one table; appends one line per disagreement.
int CompareWithMdbSchema(const std::string& file, jet::Database& db, const std::string& table,
                         std::vector<std::string>* engine_problems, std::vector<std::string>* tool_problems) {
  auto def = db.ReadTable(table);
  if (!def.ok()) {
    engine_problems->push_back(def.error().message());
    return 0;
  }
  std::map<std::string, std::string> theirs = MdbSchemaColumns(file, table);
  std::map<std::string, std::string> tool = ToolSchemaColumns(file, table);
  if (theirs.size() != def->columns.size()) engine_problems->push_back(table + ": column count differs");
  for (const jet::ColumnDef& c : def->columns) {
    std::string where = file.substr(file.rfind('/') + 1) + " " + table + "." + c.name + ": ";
    std::string ours = AsMdbSchemaType(c, db.version());
    if (ours != theirs[c.name]) engine_problems->push_back(where + ours + " vs mdb-schema " + theirs[c.name]);
    // The tool writes Text sizes the same way, without the blank: "Text(50)".
    std::string printed = tool[c.name].substr(0, tool[c.name].find(')') + 1);
    if (c.type == jet::ColumnType::kText && printed != "Text" + ours.substr(5)) {
      tool_problems->push_back(where + "velloran-jet schema prints " + printed + ", mdb-schema " + theirs[c.name]);
    }
  }
  return static_cast<int>(def->columns.size());
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "\n  " + line;
  return out;
}

TEST(Definitions, EveryColumnOfEveryFixtureAgreesWithMdbSchema) {
  REQUIRE_SHARED_FIXTURES();
  if (!velloran_test::Have("mdb-schema"))
    GTEST_SKIP() << "mdb-schema is not on PATH (./test.sh installs mdbtools)";
  int checked = 0;
  std::vector<std::string> engine_problems, tool_problems;
  for (const std::string& fixture : AllFixtures()) {
    ASSERT_OK_LET(db, jet::Database::Open(FixturePath(fixture)));
    for (const std::string& table : db.value()->UserTableNames())
      checked += CompareWithMdbSchema(FixturePath(fixture), *db.value(), table, &engine_problems, &tool_problems);
  }
  EXPECT_EQ(checked, 401);
  EXPECT_TRUE(engine_problems.empty()) << engine_problems.size() << " columns differ:" << Join(engine_problems);
  EXPECT_TRUE(tool_problems.empty()) << tool_problems.size() << " Text sizes differ:" << Join(tool_problems);
}

// ---------------------------------------------------------------------------------------------
// The table definition writer: every definition Access (and the independent library) stored in
// the fixtures re-encodes byte for byte; long definitions spread over page chains that grow and
// shrink. (Definitions written with default extras, read back as designed: CreateTable, SchemaRandom.)
namespace def_writer {

using schema_test::FreePages;
using velloran_test::ScratchDir;

// A stored definition as the bytes it encodes to: two are the same when these are, in every field
// the file keeps (the encoding itself is held to every definition Access stored, above).
std::string Encoded(const jet::StoredTableDef& d) {
  auto bytes = jet::EncodeTableDef(jet::Format::For(jet::JetVersion::kJet4), d.def, d.extras);
  return bytes.ok() ? velloran_test::Hex(bytes.value()) : bytes.error().message();
}

// The pages of the chain that starts at `page`.
std::vector<uint32_t> Chain(jet::Pager& pager, uint32_t page) {
  std::vector<uint32_t> pages;
  while (page != 0 && pages.size() < 100) {
    pages.push_back(page);
    auto data = pager.ReadPage(page);
    if (!data.ok()) break;
    page = jet::Get32(data.value() + 4);
  }
  return pages;
}

std::vector<std::string> Jet4Fixtures() {
  std::vector<std::string> out;
  for (const std::string& f : AllFixtures()) {
    auto db = jet::Database::Open(FixturePath(f));
    if (db.ok() && db.value()->version() == jet::JetVersion::kJet4) out.push_back(f);
  }
  return out;
}

// Each stored definition, pages and all, is what the writer makes of its decoded form: the joined
// bytes up to the stored length, and on every page of the chain the page header (free space, next
// page) and the part of the definition it carries.
TEST(TableDefWriter, EveryStoredDefinitionReencodesByteForByte) {
  REQUIRE_SHARED_FIXTURES();
  int definitions = 0, with_long_value_maps = 0, with_foreign_keys = 0;
  for (const std::string& fixture : Jet4Fixtures()) {
    ASSERT_OK_LET(db, jet::Database::Open(FixturePath(fixture)));
    jet::Pager& pager = db.value()->pager();
    for (const jet::CatalogEntry& entry : db.value()->objects()) {
      if (!entry.IsTable()) continue;
      SCOPED_TRACE(fixture + ", table " + entry.name);
      ASSERT_OK_LET(stored, jet::ReadStoredTableDef(pager, entry.DefinitionPage()));
      ASSERT_OK_LET(bytes, jet::EncodeTableDef(pager.format(), stored->def, stored->extras));
      std::vector<uint32_t> chain = Chain(pager, entry.DefinitionPage());
      ASSERT_EQ(jet::DefinitionPageCount(pager.format(), bytes->size()), chain.size());
      std::vector<std::string> images = jet::LayOutDefinitionPages(pager.format(), bytes.value(), chain);
      size_t remaining = bytes->size();
      for (size_t i = 0; i < chain.size(); ++i) {
        const uint8_t* page = pager.ReadPage(chain[i]).value();
        size_t header = i == 0 ? 0 : 8;
        size_t used = std::min<size_t>(pager.page_size(), header + remaining);
        remaining -= used - header;
        for (size_t b = 0; b < used; ++b) {
          ASSERT_EQ(static_cast<uint8_t>(images[i][b]), page[b]) << "page " << chain[i] << ", byte " << b;
        }
      }
      ++definitions;
      if (!stored->extras.long_value_maps.empty()) ++with_long_value_maps;
      for (const jet::LogicalIndex& li : stored->def.logical_indexes) with_foreign_keys += li.foreign_key() ? 1 : 0;
    }
  }
  EXPECT_GE(definitions, 120);  // every table of 16 files, system tables included
  EXPECT_GE(with_long_value_maps, 20);
  EXPECT_GE(with_foreign_keys, 10);
}

jet::ColumnDef TextColumn(const std::string& name, uint16_t number) {
  jet::ColumnDef c;
  c.name = name;
  c.type = jet::ColumnType::kText;
  c.number = number;
  c.var_index = number;
  c.length = 510;
  c.flags = jet::kColumnNullable;
  c.sort_order = 0x0409;
  c.precision = 0x09;  // the reader sees a text column's sort order through these bytes too
  c.scale = 0x04;
  return c;
}

// A definition too long for one page continues on new pages and reads back whole, durably; made
// short again it gives the extra pages back, cleared and free.
TEST(TableDefWriter, LongDefinitionChainGrowsAndShrinks) {
  COPY_FIXTURE_OR_SKIP("access/emptyV2000.mdb", scratch, path);
  const uint32_t kRelationshipsPage = 5;
  jet::StoredTableDef original, wide;
  {
    ASSERT_OK_LET(pager, jet::Pager::Open(path, jet::Pager::Mode::kReadWrite));
    ASSERT_OK_LET(stored, jet::ReadStoredTableDef(*pager.value(), kRelationshipsPage));
    original = wide = stored.value();
    for (uint16_t i = 0; i < 150; ++i) {
      uint16_t number = static_cast<uint16_t>(wide.def.max_columns++);
      wide.def.columns.push_back(TextColumn("A fairly long column name, number " + std::to_string(i), number));
      wide.def.columns.back().var_index = wide.def.var_column_count++;
      wide.extras.columns.push_back({jet::kDefinitionMagic, number, 0});
    }
    ASSERT_TRUE(pager.value()->BeginWrite().ok());
    ASSERT_TRUE(jet::WriteTableDef(*pager.value(), wide.def, wide.extras).ok());
    ASSERT_TRUE(pager.value()->Commit().ok());
  }
  ASSERT_OK_LET(pager, jet::Pager::Open(path, jet::Pager::Mode::kReadWrite));
  std::vector<uint32_t> chain = Chain(*pager.value(), kRelationshipsPage);
  ASSERT_GE(chain.size(), 3u);  // 150 columns of about 100 bytes each
  for (size_t i = 1; i < chain.size(); ++i) {
    const uint8_t* p = pager.value()->ReadPage(chain[i]).value();
    EXPECT_EQ(p[0], jet::kPageTableDefinition);
    EXPECT_EQ(p[1], 0x01);
    EXPECT_EQ(FreePages(*pager.value()).count(chain[i]), 0u);
  }
  EXPECT_EQ(jet::Get16(pager.value()->ReadPage(chain[0]).value() + 2), 0);  // a full first page
  ASSERT_OK_LET(reread, jet::ReadStoredTableDef(*pager.value(), kRelationshipsPage));
  EXPECT_EQ(Encoded(reread.value()), Encoded(wide));

  ASSERT_TRUE(pager.value()->BeginWrite().ok());
  ASSERT_TRUE(jet::WriteTableDef(*pager.value(), original.def, original.extras).ok());
  ASSERT_TRUE(pager.value()->Commit().ok());
  EXPECT_EQ(Chain(*pager.value(), kRelationshipsPage).size(), 1u);
  std::set<uint32_t> free = FreePages(*pager.value());
  for (size_t i = 1; i < chain.size(); ++i) {
    EXPECT_EQ(free.count(chain[i]), 1u) << "page " << chain[i] << " is still in use";
    const uint8_t* p = pager.value()->ReadPage(chain[i]).value();
    EXPECT_EQ(std::count(p, p + pager.value()->page_size(), 0), static_cast<long>(pager.value()->page_size()));
  }
  ASSERT_OK_LET(back, jet::ReadStoredTableDef(*pager.value(), kRelationshipsPage));
  EXPECT_EQ(Encoded(back.value()), Encoded(original));
}

TEST(TableDefWriter, RefusesWhatItCannotWrite) {
  COPY_FIXTURE_OR_SKIP("access/emptyV2000.mdb", scratch, path);
  ASSERT_OK_LET(pager, jet::Pager::Open(path, jet::Pager::Mode::kReadWrite));
  ASSERT_OK_LET(stored, jet::ReadStoredTableDef(*pager.value(), 2));

  jet::DefinitionExtras short_extras = stored->extras;
  short_extras.columns.pop_back();
  auto mismatch = jet::EncodeTableDef(pager.value()->format(), stored->def, short_extras);
  ASSERT_FALSE(mismatch.ok());
  EXPECT_EQ(mismatch.error().code(), jet::ErrorCode::kInvalidArgument);

  jet::TableDef eleven = stored->def;
  while (eleven.physical_indexes[0].columns.size() < 11) eleven.physical_indexes[0].columns.push_back({0, true});
  auto too_many = jet::EncodeTableDef(pager.value()->format(), eleven, stored->extras);
  ASSERT_FALSE(too_many.ok());
  EXPECT_EQ(too_many.error().code(), jet::ErrorCode::kInvalidArgument);

  auto jet3 = jet::EncodeTableDef(jet::Format::For(jet::JetVersion::kJet3), stored->def, stored->extras);
  ASSERT_FALSE(jet3.ok());
  EXPECT_EQ(jet3.error().code(), jet::ErrorCode::kUnsupported);

  jet::Status outside = jet::WriteTableDef(*pager.value(), stored->def, stored->extras);
  ASSERT_FALSE(outside.ok());
  EXPECT_EQ(outside.error().code(), jet::ErrorCode::kInvalidArgument);

  ASSERT_TRUE(pager.value()->BeginWrite().ok());
  jet::TableDef over_data = stored->def;
  over_data.page = 14;  // MSysObjects' data page
  jet::Status clobber = jet::WriteTableDef(*pager.value(), over_data, stored->extras);
  ASSERT_FALSE(clobber.ok());
  EXPECT_EQ(clobber.error().code(), jet::ErrorCode::kCorrupt);
  pager.value()->Rollback();
  EXPECT_EQ(pager.value()->ReadPage(14).value()[0], jet::kPageData);
}

}  // namespace def_writer

}  // namespace
