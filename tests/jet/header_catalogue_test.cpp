// The database header and the catalogue: formats told apart, protection refused with a clear
// message, and the tables of each fixture listed as the independent tools list them.
#include <gtest/gtest.h>

#include <fstream>

#include "jet/database.h"
#include "jet/header.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::FixturePath;
using velloran_test::ScratchDir;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(HeaderAndCatalogue, FormatsAndUserTablesOfTheFixtures) {
  REQUIRE_SHARED_FIXTURES();
  struct Case {
    const char* file;
    jet::JetVersion version;
    std::vector<std::string> tables;
  };
  const Case cases[] = {
      {"access/testV1997.mdb", jet::JetVersion::kJet3, {"Table1", "Table2", "Table3", "Table4"}},
      {"access/emptyV2000.mdb", jet::JetVersion::kJet4, {}},
      {"access/indexTestV2003.mdb", jet::JetVersion::kJet4, {"Table1", "Table2", "Table3"}},
      {"generated/songsV2000.mdb", jet::JetVersion::kJet4, {"MyList"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto db = jet::Database::Open(FixturePath(c.file));
    ASSERT_TRUE(db.ok()) << db.error().message();
    EXPECT_EQ(db.value()->version(), c.version);
    std::vector<std::string> tables = db.value()->UserTableNames();
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, c.tables);
    // The catalogue always describes itself as a system table.
    const jet::CatalogEntry* self = db.value()->FindTable("msysobjects");
    ASSERT_NE(self, nullptr);
    EXPECT_TRUE(self->IsSystem());
    EXPECT_EQ(self->DefinitionPage(), jet::kCatalogueTablePage);
  }
}

TEST(HeaderAndCatalogue, EncryptionAndPasswordsAreRefusedWithAMessage) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  for (const char* fixture : {"access/testV1997.mdb", "access/emptyV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    std::string path = scratch.CopyFixture(fixture);
    std::vector<uint8_t> original = ReadFile(path);
    jet::JetVersion version = original[0x14] == 0 ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;

    // Set a page-encryption key in the masked header.
    std::vector<uint8_t> bytes = original;
    jet::ToggleHeaderMask(version, bytes.data(), bytes.size());
    bytes[0x3E] = 0x2A;
    jet::ToggleHeaderMask(version, bytes.data(), bytes.size());
    WriteFile(path, bytes);
    auto encrypted = jet::Database::Open(path);
    ASSERT_FALSE(encrypted.ok());
    EXPECT_EQ(encrypted.error().code(), jet::ErrorCode::kEncrypted);
    EXPECT_NE(encrypted.error().message().find("encrypted"), std::string::npos);

    // A non-empty password.
    bytes = original;
    jet::ToggleHeaderMask(version, bytes.data(), bytes.size());
    bytes[0x42] ^= 'p';
    jet::ToggleHeaderMask(version, bytes.data(), bytes.size());
    WriteFile(path, bytes);
    auto protected_db = jet::Database::Open(path);
    ASSERT_FALSE(protected_db.ok());
    EXPECT_EQ(protected_db.error().code(), jet::ErrorCode::kEncrypted);
    EXPECT_NE(protected_db.error().message().find("password"), std::string::npos);
    EXPECT_NE(protected_db.error().message().find(path), std::string::npos);
  }
}

TEST(HeaderAndCatalogue, FilesThatAreNotDatabasesAreNamedAsSuch) {
  ScratchDir scratch;
  std::string path = scratch.path() + "/songs.mdb";
  WriteFile(path, std::vector<uint8_t>(8192, 'x'));
  auto db = jet::Database::Open(path);
  ASSERT_FALSE(db.ok());
  EXPECT_EQ(db.error().code(), jet::ErrorCode::kNotDatabase);
  EXPECT_NE(db.error().message().find(path), std::string::npos);

  WriteFile(path, {});
  EXPECT_EQ(jet::Database::Open(path).error().code(), jet::ErrorCode::kNotDatabase);
  EXPECT_EQ(jet::Database::Open(scratch.path() + "/missing.mdb").error().code(), jet::ErrorCode::kIo);
}

}  // namespace
