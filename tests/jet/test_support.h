// Helpers shared by the engine's tests: where the shared fixtures are, scratch copies of them, and
// reading and writing tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "jet/check/integrity_check.h"
#include "jet/database.h"
#include "jet/pages/data_page.h"
#include "jet/table/table_cursor.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/test_paths.h"

namespace velloran_test {

// The shared fixtures folder, or "" when this checkout has none beside it.
inline std::string SharedDir() {
  std::filesystem::path dir(VELLORAN_SHARED_DIR);
  return std::filesystem::is_directory(dir / "fixtures") ? dir.string() : std::string();
}

inline std::string FixturePath(const std::string& relative) { return SharedDir() + "/fixtures/" + relative; }

// Every fixture database, as paths relative to fixtures/.
inline std::vector<std::string> AllFixtures() {
  std::vector<std::string> out;
  for (const char* folder : {"access", "access-more", "generated"}) {
    std::filesystem::path dir = std::filesystem::path(SharedDir()) / "fixtures" / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path().extension() == ".mdb") out.push_back(std::string(folder) + "/" + entry.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A private scratch folder removed when the object goes away.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velloran-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }
  // Copies a fixture here (writable, under its own name unless given another) and returns the copy's path.
  std::string CopyFixture(const std::string& relative, const std::string& name = "") const {
    std::filesystem::path from = FixturePath(relative);
    std::filesystem::path to = File(name.empty() ? from.filename().string() : name);
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return to.string();
  }
  // A copy of the generated song database with 500 songs (13 of them without an ID).
  std::string CopyOfSongs(const std::string& name = "songs.mdb") const { return CopyFixture("generated/songsV2000.mdb", name); }

 private:
  std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a text file, without their line ends.
inline std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) { WriteBytes(path, bytes.data(), bytes.size()); }

inline std::string Hex(const std::string& bytes, bool upper = false) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += std::string{digits[c >> 4], digits[c & 15]};
  return out;
}

// A number from the environment (decimal, or hexadecimal after 0x), or `fallback`.
inline uint64_t NumberFromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// VELLORAN_RANDOM_WRITES_SCALE multiplies the work of the randomized write tests; sanitizer builds
// default to a quarter of it.
inline double RandomWritesScale() {
  if (const char* s = std::getenv("VELLORAN_RANDOM_WRITES_SCALE")) return std::atof(s);
#if defined(__SANITIZE_ADDRESS__)
  return 0.25;
#else
  return 1.0;
#endif
}

// Every row of a table in storage order, and their ids in `ids` when asked; a failed read fails the test.
inline std::vector<std::vector<jet::Value>> ReadRows(jet::Pager& pager, const jet::TableDef& def, std::vector<jet::RowId>* ids = nullptr) {
  std::vector<std::vector<jet::Value>> rows;
  auto cursor = jet::TableCursor::Open(pager, def);
  EXPECT_TRUE(cursor.ok()) << cursor.error().message();
  while (cursor.ok()) {
    auto more = cursor.value()->Next();
    EXPECT_TRUE(more.ok()) << more.error().message();
    if (!more.ok() || !more.value()) break;
    rows.push_back(cursor.value()->values());
    if (ids != nullptr) ids->push_back(cursor.value()->row_id());
  }
  return rows;
}

// A table of an open database: its definition and, unless left out, its rows and their ids.
struct LoadedTable {
  std::unique_ptr<jet::Database> db;
  jet::TableDef def;
  std::vector<std::vector<jet::Value>> rows;
  std::vector<jet::RowId> ids;

  size_t Col(const std::string& name) const {
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].name == name) return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  const jet::Value& at(size_t row, const std::string& column) const { return rows.at(row).at(Col(column)); }
};

inline LoadedTable LoadTable(const std::string& path, const std::string& table, bool with_rows = true) {
  LoadedTable t;
  auto db = jet::Database::Open(path);
  auto def = db.ok() ? db.value()->ReadTable(table) : jet::Result<jet::TableDef>(db.error());
  if (!def.ok()) {
    ADD_FAILURE() << def.error().message();
    return t;
  }
  t.db = std::move(db).value();
  t.def = std::move(def).value();
  if (with_rows) t.rows = ReadRows(t.db->pager(), t.def, &t.ids);
  return t;
}

// Where the row `id` starts in the file.
inline size_t RowFileOffset(jet::Pager& pager, jet::RowId id) {
  return size_t{id.page} * pager.page_size() + (jet::ReadRowSlot(pager, id.page, id.row).value().bytes - pager.ReadPage(id.page).value());
}

// What the integrity check finds wrong with the file at `path` (or why it cannot be opened).
inline std::vector<std::string> Problems(const std::string& path) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) return {db.error().message()};
  return jet::CheckDatabase(*db.value());
}

// Runs `body` with a TableWriter on `table` inside one write of `db` (committed when it succeeds).
template <typename Body>
jet::Status WithTableWriter(jet::Database& db, const std::string& table, Body body) {
  return db.Write([&]() -> jet::Status {
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table));
    JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.pager(), def));
    return body(*writer);
  });
}

// The same on a handle of its own, opened for the one write.
template <typename Body>
jet::Status WithTableWriter(const std::string& path, const std::string& table, Body body) {
  auto db = jet::WritableDatabase::Open(path);
  if (!db.ok()) return db.error();
  return WithTableWriter(*db.value(), table, body);
}

// Whether `outcome` (a Status or a Result) failed with `code`, in a message holding each of `words`.
template <typename Outcome>
::testing::AssertionResult FailsWith(const Outcome& outcome, jet::ErrorCode code, std::initializer_list<std::string> words = {}) {
  if (outcome.ok()) return ::testing::AssertionFailure() << "accepted";
  const std::string& message = outcome.error().message();
  if (outcome.error().code() != code) return ::testing::AssertionFailure() << "another code: " << message;
  for (const std::string& word : words)
    if (message.find(word) == std::string::npos) return ::testing::AssertionFailure() << "no \"" << word << "\" in: " << message;
  return ::testing::AssertionSuccess();
}

}  // namespace velloran_test

// Skips the current test when the shared fixtures are not beside this checkout.
#define REQUIRE_SHARED_FIXTURES()                                                          \
  do {                                                                                     \
    if (velloran_test::SharedDir().empty())                                                \
      GTEST_SKIP() << "the shared fixtures folder (../shared) is not beside this checkout"; \
  } while (0)

// Skips the current test when mdbtools' mdb-export is not installed.
#define REQUIRE_MDB_EXPORT()                                                                     \
  do {                                                                                           \
    if (std::system("command -v mdb-export >/dev/null 2>&1") != 0)                               \
      GTEST_SKIP() << "mdb-export is not on PATH (./test.sh installs mdbtools)";                 \
  } while (0)

// Skips the current test without the shared fixtures; otherwise declares `scratch_var`, a scratch
// folder, and `path_var`, the path of a writable copy of `fixture` in it.
#define COPY_FIXTURE_OR_SKIP(fixture, scratch_var, path_var) \
  REQUIRE_SHARED_FIXTURES();                                 \
  velloran_test::ScratchDir scratch_var;                     \
  const std::string path_var = scratch_var.CopyFixture(fixture)

// Declares `var` as the result of the expression (a jet::Result or jet::Status) and fails the test,
// naming the error, unless it is ok.
#define ASSERT_OK_LET(var, ...) \
  auto var = (__VA_ARGS__);     \
  ASSERT_TRUE(var.ok()) << var.error().message()
#define EXPECT_OK_LET(var, ...) \
  auto var = (__VA_ARGS__);     \
  EXPECT_TRUE(var.ok()) << var.error().message()
