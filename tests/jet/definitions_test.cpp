// The table definitions as the engine reads them: every column of every fixture against
// mdb-schema, every Jet 4 definition against the bytes Access stored (re-encoded, every field
// counts), what neither shows of Jet 3 columns, and the writer's definition page chains.
#include <gtest/gtest.h>

#include <map>

#include "jet/pages/table_def_writer.h"
#include "tests/jet/schema_test_support.h"

namespace {

using velloran_test::AllFixtures;
using velloran_test::FixturePath;

using velloran_test::LoadedTable;
using velloran_test::LoadTable;

// (The user tables of every fixture against mdb-tables: ExportCompare; files that are no
// database, encrypted or protected: DamageHeader. Every field of every Jet 4 definition, flags,
// index columns and counts included, is held to the bytes Access stored by
// TableDefWriter.EveryStoredDefinitionReencodesByteForByte below.)

TEST(Definitions, Jet3ColumnAndIndexFlags) {
  REQUIRE_SHARED_FIXTURES();
  // (A Jet 3 column's sort order and code page are read but nothing uses them: Jet 3 files are
  // read only, their text decoded and keyed as code page 1252 with the General order.)
  LoadedTable jet3 = LoadTable(FixturePath("access/testV1997.mdb"), "Table1", false);
  // The flags sit elsewhere than in Jet 4: a primary key (unique, required) beside a plain index,
  // an autonumber Long, and a replication ID generated on insert (column flags 0x43).
  const uint8_t key_flags = jet::kIndexUnique | jet::kIndexRequired;
  const jet::LogicalIndex* pk = jet3.def.FindIndex("PrimaryKey");
  ASSERT_TRUE(pk != nullptr && pk->primary());
  EXPECT_EQ(jet3.def.physical_indexes[pk->physical_index].flags & key_flags, key_flags);
  EXPECT_EQ(jet3.def.physical_indexes[jet3.def.FindIndex("B")->physical_index].flags & key_flags, 0);
  EXPECT_TRUE(LoadTable(FixturePath("access/testV1997.mdb"), "Table3", false).def.FindColumn("a")->autonumber());
  EXPECT_EQ(LoadTable(FixturePath("access/testV1997.mdb"), "Table4", false).def.FindColumn("data")->flags, 0x43);
}

// ---- Every column of every fixture against mdb-schema ----

using velloran_test::RunPinned;

// Column name -> type, from each line of `command`'s output that starts with `marker` and names the
// column up to `name_end`: mdb-schema's Access dialect ("Long Integer", "Text (50)", ...) and
// `velloran-jet schema` ("Text(50) ...") both list columns so.
std::map<std::string, std::string> ListedColumns(const std::string& command, const std::string& marker, char name_end) {
  std::map<std::string, std::string> columns;
  int code = -1;
  std::string out = RunPinned(command, &code);
  EXPECT_EQ(code, 0) << command;
  for (size_t pos = 0; (pos = out.find(marker, pos)) != std::string::npos;) {
    size_t start = pos + marker.size();
    size_t name_end_at = out.find(name_end, start), line_end = out.find('\n', name_end_at);
    std::string type = out.substr(name_end_at + 1, line_end - name_end_at - 1);
    type.erase(0, type.find_first_not_of('\t'));
    while (!type.empty() && (type.back() == ' ' || type.back() == ',')) type.pop_back();
    if (type.size() > 9 && type.compare(type.size() - 9, 9, " NOT NULL") == 0) type.resize(type.size() - 9);
    columns[out.substr(start, name_end_at - start)] = type;
    pos = line_end;
  }
  return columns;
}

// The same column in mdb-schema's words, from the engine's definition.
std::string AsMdbSchemaType(const jet::ColumnDef& c, jet::JetVersion version) {
  using T = jet::ColumnType;
  static const std::map<T, std::string> kWords = {
      {T::kBoolean, "Boolean"}, {T::kByte, "Byte"},     {T::kInteger, "Integer"},   {T::kLong, "Long Integer"}, {T::kCurrency, "Currency"},
      {T::kSingle, "Single"},   {T::kDouble, "Double"}, {T::kDateTime, "DateTime"}, {T::kGuid, "Replication ID"},
      // mdb-schema writes a nominal size of 255 for the long-value types, whose definitions give none.
      {T::kMemo, "Memo/Hyperlink (255)"}, {T::kOle, "OLE (255)"}};
  if (c.type == T::kText) return "Text (" + std::to_string(c.length / (version == jet::JetVersion::kJet4 ? 2 : 1)) + ")";
  if (c.type == T::kDecimal) return "Numeric (" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
  const auto known = kWords.find(c.type);
  return known != kWords.end() ? known->second : jet::ColumnTypeName(c.type);
}

// Compares the columns of one table; appends one line per disagreement.
int CompareWithMdbSchema(const std::string& file, jet::Database& db, const std::string& table,
                         std::vector<std::string>* engine_problems, std::vector<std::string>* tool_problems) {
  auto def = db.ReadTable(table);
  if (!def.ok()) return engine_problems->push_back(def.error().message()), 0;
  std::map<std::string, std::string> theirs = ListedColumns("mdb-schema -T '" + table + "' '" + file + "'", "\n\t[", ']');
  std::map<std::string, std::string> tool =
      ListedColumns(std::string(VELLORAN_JET_TOOL) + " schema '" + file + "' '" + table + "'", "\n  column ", ' ');
  if (theirs.size() != def->columns.size()) engine_problems->push_back(table + ": column count differs");
  for (const jet::ColumnDef& c : def->columns) {
    std::string where = file.substr(file.rfind('/') + 1) + " " + table + "." + c.name + ": ";
    std::string ours = AsMdbSchemaType(c, db.version());
    if (ours != theirs[c.name]) engine_problems->push_back(where + ours + " vs mdb-schema " + theirs[c.name]);
    // The tool writes Text sizes the same way, without the blank: "Text(50)".
    std::string printed = tool[c.name].substr(0, tool[c.name].find(')') + 1);
    if (c.type == jet::ColumnType::kText && printed != "Text" + ours.substr(5))
      tool_problems->push_back(where + "velloran-jet schema prints " + printed + ", mdb-schema " + theirs[c.name]);
  }
  return static_cast<int>(def->columns.size());
}

TEST(Definitions, EveryColumnOfEveryFixtureAgreesWithMdbSchema) {
  REQUIRE_SHARED_FIXTURES();
  if (!velloran_test::Have("mdb-schema")) GTEST_SKIP() << "mdb-schema is not on PATH (./test.sh installs mdbtools)";
  int checked = 0;
  std::vector<std::string> engine_problems, tool_problems;
  for (const std::string& fixture : AllFixtures()) {
    ASSERT_OK_LET(db, jet::Database::Open(FixturePath(fixture)));
    for (const std::string& table : db.value()->UserTableNames())
      checked += CompareWithMdbSchema(FixturePath(fixture), *db.value(), table, &engine_problems, &tool_problems);
  }
  EXPECT_EQ(checked, 401);
  EXPECT_EQ(engine_problems, std::vector<std::string>()) << engine_problems.size() << " columns differ";
  EXPECT_EQ(tool_problems, std::vector<std::string>()) << tool_problems.size() << " Text sizes differ";
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

// Each stored definition, pages and all, is what the writer makes of its decoded form: the joined
// bytes up to the stored length, and on every page of the chain the page header (free space, next
// page) and the part of the definition it carries.
TEST(TableDefWriter, EveryStoredDefinitionReencodesByteForByte) {
  REQUIRE_SHARED_FIXTURES();
  int definitions = 0, with_long_value_maps = 0, with_foreign_keys = 0;
  for (const std::string& fixture : AllFixtures()) {
    auto db = jet::Database::Open(FixturePath(fixture));
    if (!db.ok() || db.value()->version() != jet::JetVersion::kJet4) continue;
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
        for (size_t b = 0; b < used; ++b)
          ASSERT_EQ(static_cast<uint8_t>(images[i][b]), page[b]) << "page " << chain[i] << ", byte " << b;
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
      const auto number = static_cast<uint16_t>(wide.def.max_columns++);
      const auto var_index = static_cast<uint16_t>(wide.def.var_column_count++);
      // The reader sees a text column's sort order through its precision and scale bytes too.
      wide.def.columns.push_back({.name = "A fairly long column name, number " + std::to_string(i), .type = jet::ColumnType::kText,
                                  .number = number, .var_index = var_index, .length = 510, .flags = jet::kColumnNullable,
                                  .precision = 0x09, .scale = 0x04, .sort_order = 0x0409});
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

  const auto expect_refused = [](const auto& outcome, jet::ErrorCode code) { EXPECT_TRUE(velloran_test::FailsWith(outcome, code)); };
  jet::DefinitionExtras short_extras = stored->extras;
  short_extras.columns.pop_back();
  expect_refused(jet::EncodeTableDef(pager.value()->format(), stored->def, short_extras), jet::ErrorCode::kInvalidArgument);
  jet::TableDef eleven = stored->def;
  while (eleven.physical_indexes[0].columns.size() < 11) eleven.physical_indexes[0].columns.push_back({0, true});
  expect_refused(jet::EncodeTableDef(pager.value()->format(), eleven, stored->extras), jet::ErrorCode::kInvalidArgument);
  expect_refused(jet::EncodeTableDef(jet::Format::For(jet::JetVersion::kJet3), stored->def, stored->extras), jet::ErrorCode::kUnsupported);
  // Outside a write.
  expect_refused(jet::WriteTableDef(*pager.value(), stored->def, stored->extras), jet::ErrorCode::kInvalidArgument);
  ASSERT_TRUE(pager.value()->BeginWrite().ok());
  jet::TableDef over_data = stored->def;
  over_data.page = 14;  // MSysObjects' data page
  expect_refused(jet::WriteTableDef(*pager.value(), over_data, stored->extras), jet::ErrorCode::kCorrupt);
  pager.value()->Rollback();
  EXPECT_EQ(pager.value()->ReadPage(14).value()[0], jet::kPageData);
}

}  // namespace def_writer

}  // namespace
