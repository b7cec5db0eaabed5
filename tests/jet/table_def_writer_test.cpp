// The table definition writer: every definition Access (and the independent library) stored in
// the fixtures re-encodes byte for byte; long definitions spread over page chains that grow and
// shrink. (Definitions written with default extras, read back as designed: CreateTable, SchemaRandom.)
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "jet/base/bytes.h"
#include "jet/database.h"
#include "jet/pages/table_def_writer.h"
#include "tests/jet/schema_test_support.h"
#include "tests/jet/test_support.h"

namespace {

using schema_test::FreePages;
using velloran_test::AllFixtures;
using velloran_test::FixturePath;
using velloran_test::ScratchDir;

// Every field of a definition the model keeps, one line each, so that two definitions compare
// with a readable difference.
std::string Describe(const jet::TableDef& d) {
  std::string s = "rows " + std::to_string(d.row_count) + " auto " + std::to_string(d.next_autonumber) + " type " +
                  std::to_string(d.table_type) + " max " + std::to_string(d.max_columns) + " var " +
                  std::to_string(d.var_column_count) + " maps " + std::to_string(d.owned_pages_map) + "/" +
                  std::to_string(d.free_space_map) + "\n";
  for (const jet::ColumnDef& c : d.columns) {
    s += "col " + c.name + " t" + std::to_string(static_cast<int>(c.type)) + " #" + std::to_string(c.number) + " v" +
         std::to_string(c.var_index) + " f" + std::to_string(c.fixed_offset) + " l" + std::to_string(c.length) +
         " fl" + std::to_string(c.flags) + "/" + std::to_string(c.extra_flags) + " p" + std::to_string(c.precision) +
         "." + std::to_string(c.scale) + " so" + std::to_string(c.sort_order) + " cp" + std::to_string(c.code_page) + "\n";
  }
  for (const jet::PhysicalIndex& p : d.physical_indexes) {
    s += "phys " + std::to_string(p.number) + " map " + std::to_string(p.usage_map) + " root " +
         std::to_string(p.root_page) + " fl " + std::to_string(p.flags) + " uniq " + std::to_string(p.unique_entry_count);
    for (const jet::IndexColumn& c : p.columns) s += " " + std::to_string(c.column_number) + (c.ascending ? "+" : "-");
    s += "\n";
  }
  for (const jet::LogicalIndex& l : d.logical_indexes) {
    s += "idx " + l.name + " #" + std::to_string(l.number) + " -> " + std::to_string(l.physical_index) + " t" +
         std::to_string(l.type) + "\n";
  }
  return s;
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
  EXPECT_EQ(Describe(reread->def), Describe(wide.def));
  EXPECT_EQ(reread->extras.columns.size(), wide.extras.columns.size());

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
  ASSERT_OK_LET(back, jet::ReadTableDef(*pager.value(), kRelationshipsPage));
  EXPECT_EQ(Describe(back.value()), Describe(original.def));
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

}  // namespace
