// Damaged databases. A host's catalogue file may be cut short by a full disk, half-copied from a
// USB stick, or simply not be a database; the engine must then say so. Each case damages a scratch
// copy of a fixture, opens it, reads every table's definition and every row (system tables
// included) and runs the integrity check. It must end in success or in errors that name the file
// and, for a damaged structure, the page; never in a crash (the sanitizer build checks every read)
// or a hang (a watchdog aborts a case that runs too long).
#include <gtest/gtest.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <iterator>
#include <random>
#include <regex>
#include <set>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/database.h"
#include "jet/file/header.h"
#include "jet/check/integrity_check.h"
#include "jet/pages/row_decoder.h"
#include "tests/jet/test_support.h"

namespace {

using velloran_test::ScratchDir;

// ---------------------------------------------------------------------------------------------
// Reading a damaged file

// Everything a reader meets in one file.
struct Report {
  bool opened = false;
  std::vector<jet::Error> errors;     // opening, definitions, rows
  std::vector<std::string> problems;  // the integrity check's lines
  uint64_t rows = 0;                  // rows read from every table

  bool clean() const { return errors.empty() && problems.empty(); }
  std::vector<std::string> messages() const {
    std::vector<std::string> all;
    for (const jet::Error& e : errors) all.push_back(e.message());
    all.insert(all.end(), problems.begin(), problems.end());
    return all;
  }
  std::string Describe() const {
    std::string s = opened ? "opened" : "not opened";
    s += ", " + std::to_string(rows) + " rows";
    for (const std::string& m : messages()) s += "\n    " + m;
    return s;
  }
};

// Opens `path`, reads every table's definition and every row, and runs the integrity check.
Report ReadEverythingNow(const std::string& path) {
  Report report;
  auto db = jet::Database::Open(path);
  if (!db.ok()) {
    report.errors.push_back(db.error());
    return report;
  }
  report.opened = true;
  for (const jet::CatalogEntry& entry : db.value()->objects()) {
    if (!entry.IsTable()) continue;
    auto def = db.value()->ReadTable(entry.name);
    if (!def.ok()) {
      report.errors.push_back(def.error());
      continue;
    }
    auto cursor = jet::TableCursor::Open(db.value()->pager(), def.value());
    if (!cursor.ok()) {
      report.errors.push_back(cursor.error());
      continue;
    }
    while (true) {
      auto more = cursor.value()->Next();
      if (!more.ok()) {
        report.errors.push_back(more.error());
        break;
      }
      if (!more.value()) break;
      ++report.rows;
    }
  }
  report.problems = jet::CheckDatabase(*db.value());
  return report;
}

// The same on another thread, aborting the test program when it runs past its deadline: a reader
// stuck in a loop would otherwise stall the whole suite without saying where.
Report ReadEverything(const std::string& path) {
  auto reading = std::async(std::launch::async, ReadEverythingNow, path);
  if (reading.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
    std::fprintf(stderr, "damage test: reading %s did not finish within 20 s (a hang)\n", path.c_str());
    std::abort();
  }
  return reading.get();
}

bool NamesPage(const std::string& message, uint32_t page) {
  return std::regex_search(message, std::regex("page " + std::to_string(page) + "([^0-9]|$)"));
}

bool NamesSomePage(const std::string& message) { return std::regex_search(message, std::regex("page [0-9]+")); }

// Every message names the file; every error about a damaged structure also names a page.
void ExpectWellFormed(const Report& report, const std::string& path) {
  for (const jet::Error& e : report.errors) {
    EXPECT_NE(e.message().find(path), std::string::npos) << "the error does not name the file: " << e.message();
    if (e.code() == jet::ErrorCode::kCorrupt) {
      EXPECT_TRUE(NamesSomePage(e.message())) << "no page in: " << e.message();
    }
  }
  for (const std::string& p : report.problems) {
    EXPECT_NE(p.find(path), std::string::npos) << "the problem does not name the file: " << p;
    EXPECT_TRUE(NamesSomePage(p)) << "no page in: " << p;
  }
}

// The damage is reported, well formed, and at least one message points at `page`.
void ExpectDamageAt(const Report& report, const std::string& path, uint32_t page) {
  ExpectWellFormed(report, path);
  ASSERT_FALSE(report.clean()) << "the damage went unnoticed";
  bool named = false;
  for (const std::string& m : report.messages()) named = named || NamesPage(m, page);
  EXPECT_TRUE(named) << "no message names page " << page << ":\n  " << report.Describe();
}

// ---------------------------------------------------------------------------------------------
// Damaging a copy

// Where the structures these tests damage live, per format. Stated here from the format's public
// description rather than taken from the engine, so that a wrong engine constant cannot hide.
struct Layout {
  uint32_t page_size;
  // Table definition page
  uint32_t tdef_next_page = 4;
  uint32_t tdef_max_columns, tdef_column_count, tdef_physical_index_count, tdef_owned_map, tdef_header_end;
  uint32_t physical_index_count_entry, column_entry_size;
  uint32_t column_number, column_flags, column_fixed_offset;
  uint32_t name_length_size;
  // Data page
  uint32_t data_owner = 4;
  uint32_t data_row_count, data_row_offsets;

  static Layout For(jet::JetVersion version) {
    if (version == jet::JetVersion::kJet3) return {2048, 4, 21, 25, 31, 35, 43, 8, 18, 1, 13, 14, 1, 4, 8, 10};
    return {4096, 4, 41, 45, 51, 55, 63, 12, 25, 5, 15, 21, 2, 4, 12, 14};
  }
};

// A scratch copy of a fixture held in memory: damage it, save it, read it, restore it.
class Damaged {
 public:
  Damaged(const ScratchDir& scratch, const std::string& fixture)
      : fixture_(fixture), path_(scratch.CopyFixture(fixture)), original_(velloran_test::ReadBytes(path_)), bytes_(original_) {}

  const std::string& path() const { return path_; }
  const std::string& fixture() const { return fixture_; }
  jet::JetVersion version() const { return original_[0x14] == 0 ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4; }
  Layout layout() const { return Layout::For(version()); }
  uint32_t page_size() const { return layout().page_size; }
  uint32_t page_count() const { return static_cast<uint32_t>(original_.size() / page_size()); }
  size_t size() const { return original_.size(); }

  uint8_t* Page(uint32_t page) { return bytes_.data() + static_cast<size_t>(page) * page_size(); }
  const uint8_t* OriginalPage(uint32_t page) const { return original_.data() + static_cast<size_t>(page) * page_size(); }
  std::vector<uint8_t>& bytes() { return bytes_; }

  // Writes the damaged bytes (the first `length` of them, for a truncation) and reads the file.
  Report Read(size_t length = SIZE_MAX) {
    velloran_test::WriteBytes(path_, bytes_.data(), std::min(length, bytes_.size()));
    return ReadEverything(path_);
  }
  void Restore() { bytes_ = original_; }
  // Applies `change` to the bytes, expects the damage reported at `page`, and undoes it.
  template <typename Change>
  void ExpectDamage(const std::string& what, Change&& change, uint32_t page) {
    SCOPED_TRACE(what);
    change();
    ExpectDamageAt(Read(), path_, page);
    Restore();
  }

  // The bytes of a row slot on a data page of the intact file: [start, end) within the page.
  std::pair<uint32_t, uint32_t> RowSpan(uint32_t page, uint32_t row) const {
    const Layout l = layout();
    const uint8_t* p = OriginalPage(page);
    uint32_t start = jet::Get16(p + l.data_row_offsets + 2 * row) & 0x1FFF;
    uint32_t end = row == 0 ? l.page_size : jet::Get16(p + l.data_row_offsets + 2 * (row - 1)) & 0x1FFF;
    return {start, end};
  }

 private:
  std::string fixture_;
  std::string path_;
  std::vector<uint8_t> original_;
  std::vector<uint8_t> bytes_;
};

// Facts about the intact fixture (the definition, its page, every live row in scan order) are
// found through the engine before any damage.
using velloran_test::LoadTable;

// Every page that holds a live row of any table (system tables included).
std::set<uint32_t> PagesWithRows(const std::string& path) {
  std::set<uint32_t> pages;
  auto db = jet::Database::Open(path);
  EXPECT_TRUE(db.ok());
  if (!db.ok()) return pages;
  for (const jet::CatalogEntry& entry : db.value()->objects()) {
    if (!entry.IsTable()) continue;
    for (const jet::RowId& id : LoadTable(path, entry.name).ids) pages.insert(id.page);
  }
  return pages;
}

// A memo or OLE field of the intact file, stored in the way `kind` names (the top bits of its length).
struct LongValueField {
  bool found = false;
  std::string table;
  uint32_t row_page = 0;
  size_t field_offset = 0;  // in the file
  uint32_t length = 0;
  uint32_t pointer = 0;     // row pointer of its (first) LVAL row
};

LongValueField FindLongValue(const std::string& path, uint32_t kind) {
  LongValueField field;
  auto db = jet::Database::Open(path);
  if (!db.ok()) return field;
  jet::Pager& pager = db.value()->pager();
  for (const jet::CatalogEntry& entry : db.value()->objects()) {
    if (!entry.IsTable()) continue;
    velloran_test::LoadedTable facts = LoadTable(path, entry.name);
    for (const jet::RowId& id : facts.ids) {
      auto slot = jet::ReadRowSlot(pager, id.page, id.row);
      auto page = pager.ReadPage(id.page);
      if (!slot.ok() || !page.ok()) continue;
      auto layout = jet::ParseRowLayout(pager.format(), facts.def, slot->bytes, slot->size, "row");
      if (!layout.ok()) continue;
      for (const jet::ColumnDef& c : facts.def.columns) {
        if (!jet::IsLongValue(c.type) || !layout->Present(c.number) || c.var_index + 1u >= layout->var_offsets.size()) continue;
        const uint8_t* f = slot->bytes + layout->var_offsets[c.var_index];
        if ((jet::Get32(f) & 0xC0000000u) != kind) continue;
        field.found = true;
        field.table = entry.name;
        field.row_page = id.page;
        field.field_offset = static_cast<size_t>(id.page) * pager.page_size() + static_cast<size_t>(f - page.value());
        field.length = jet::Get32(f) & 0x3FFFFFFFu;
        field.pointer = jet::Get32(f + 4);
        return field;
      }
    }
  }
  return field;
}

// ---------------------------------------------------------------------------------------------
// Truncation

TEST(DamageTruncation, ACutFileIsReportedAndNeverReadPastItsEnd) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  for (const char* fixture : {"access/testV1997.mdb", "access/overflowTestV2000.mdb", "generated/songsV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    const uint32_t ps = file.page_size();
    const std::set<uint32_t> row_pages = PagesWithRows(file.path());
    ASSERT_FALSE(row_pages.empty());

    std::vector<size_t> lengths = {0, 1, 4, 100, 1000, 2047, 2048, 2049, 4095, 4096, 4097, file.size() - 1,
                                   file.size() - ps};
    // Every page boundary, alternately cut exactly there and in the middle of the next page.
    for (uint32_t k = 1; k < file.page_count(); ++k) lengths.push_back(static_cast<size_t>(k) * ps + (k % 2 ? ps / 2 : 0));
    for (size_t length : lengths) {
      if (length >= file.size()) continue;
      SCOPED_TRACE("cut to " + std::to_string(length) + " bytes");
      Report report = file.Read(length);
      ExpectWellFormed(report, file.path());
      if (length < 2048) {
        ASSERT_FALSE(report.opened);
        EXPECT_EQ(report.errors[0].code(), jet::ErrorCode::kNotDatabase) << report.Describe();
        continue;
      }
      if (length < ps) {
        ASSERT_FALSE(report.opened);
        EXPECT_TRUE(NamesPage(report.errors[0].message(), 0)) << report.Describe();
        continue;
      }
      // A cut that removes rows must be noticed: the definitions' row counts no longer match.
      const uint32_t whole_pages = static_cast<uint32_t>(length / ps);
      if (*row_pages.rbegin() >= whole_pages) {
        EXPECT_FALSE(report.clean()) << "rows were lost silently";
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Header

TEST(DamageHeader, FilesThatAreNoDatabaseOrAreProtectedAreRefusedByName) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  const std::string path = scratch.path() + "/catalogue.mdb";
  auto expect_refused = [&](const std::vector<uint8_t>& bytes, jet::ErrorCode code) {
    velloran_test::WriteBytes(path, bytes);
    Report report = ReadEverything(path);
    ASSERT_FALSE(report.opened);
    EXPECT_EQ(report.errors[0].code(), code) << report.Describe();
    ExpectWellFormed(report, path);
  };

  // (Files too short to hold a header, and damaged signatures: DamageTruncation, DamageRandomSweep.)
  std::string text = "Title,Artist\nWaterloo,ABBA\n";
  while (text.size() < 10000) text += text;
  expect_refused(std::vector<uint8_t>(text.begin(), text.end()), jet::ErrorCode::kNotDatabase);
  EXPECT_EQ(jet::Database::Open(scratch.path() + "/missing.mdb").error().code(), jet::ErrorCode::kIo);
  Damaged jet4(scratch, "access/emptyV2000.mdb");
  std::vector<uint8_t> bytes = jet4.bytes();
  std::memcpy(bytes.data() + 4, "Standard ACE DB", 15);
  expect_refused(bytes, jet::ErrorCode::kUnsupported);
  bytes = jet4.bytes();
  bytes[0x14] = 5;  // a later format version
  expect_refused(bytes, jet::ErrorCode::kUnsupported);

  // Encrypted pages and passwords, in both formats.
  for (const char* fixture : {"access/testV1997.mdb", "access/emptyV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    // Changes the header page as stored (masked), starting from the intact file, and reads it.
    auto read_with_header = [&](auto&& change) {
      file.Restore();
      uint8_t* header = file.Page(0);
      jet::ToggleHeaderMask(file.version(), header, file.page_size());
      change(header);
      jet::ToggleHeaderMask(file.version(), header, file.page_size());
      Report report = file.Read();
      ExpectWellFormed(report, file.path());
      return report;
    };
    const Report encrypted = read_with_header([](uint8_t* header) { header[0x3E] = 1; });
    const Report password = read_with_header([](uint8_t* header) { header[0x42 + 3] ^= 'k'; });
    for (auto [report, word] : {std::pair{encrypted, "encrypted"}, {password, "password"}}) {
      ASSERT_FALSE(report.opened);
      EXPECT_EQ(report.errors[0].code(), jet::ErrorCode::kEncrypted);
      EXPECT_NE(report.errors[0].message().find(word), std::string::npos) << report.Describe();
    }
    // The Jet 4 password area is scrambled with the creation date: a date that is no number at
    // all must still be handled.
    for (double date : {std::nan(""), HUGE_VAL, -1e300, 1e19}) {
      read_with_header([&](uint8_t* header) { std::memcpy(header + 0x72, &date, sizeof date); });
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Table definitions and usage maps

// The offset, within the definition's first page, of column `i`'s entry.
uint32_t ColumnEntry(const Damaged& file, uint32_t tdef, uint32_t i) {
  const Layout l = file.layout();
  uint32_t physical = jet::Get32(file.OriginalPage(tdef) + l.tdef_physical_index_count);
  return l.tdef_header_end + physical * l.physical_index_count_entry + i * l.column_entry_size;
}

TEST(DamageDefinitions, CountsColumnsAndPageChainsOfADefinition) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  for (const char* fixture : {"access/testV1997.mdb", "access/indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    const Layout l = file.layout();
    velloran_test::LoadedTable table = LoadTable(file.path(), "Table1");
    ASSERT_FALSE(table.ids.empty());
    const uint32_t t = table.def.page;
    const uint16_t max_columns = jet::Get16(file.OriginalPage(t) + l.tdef_max_columns);
    const uint16_t columns = jet::Get16(file.OriginalPage(t) + l.tdef_column_count);
    auto damage = [&](const std::string& what, auto&& change, uint32_t expected_page) {
      file.ExpectDamage(what, [&] { change(file.Page(t)); }, expected_page);
    };

    damage("more columns than the maximum", [&](uint8_t* p) { jet::Put16(p + l.tdef_column_count, max_columns + 1); }, t);
    damage("columns running past the definition", [&](uint8_t* p) {
      jet::Put16(p + l.tdef_max_columns, 0xFFFF);
      jet::Put16(p + l.tdef_column_count, 0xFFFF);
    }, t);
    damage("an impossible index count", [&](uint8_t* p) { jet::Put32(p + l.tdef_physical_index_count, 0x7FFFFFFF); }, t);
    damage("an unknown column type", [&](uint8_t* p) { p[ColumnEntry(file, t, 0)] = 0x33; }, t);
    ASSERT_GE(columns, 2);
    damage("a repeated column number", [&](uint8_t* p) {
      std::memcpy(p + ColumnEntry(file, t, 1) + l.column_number, p + ColumnEntry(file, t, 0) + l.column_number, 2);
    }, t);
    damage("a column number beyond the maximum", [&](uint8_t* p) {
      jet::Put16(p + ColumnEntry(file, t, 0) + l.column_number, max_columns);
    }, t);
    damage("names longer than the definition", [&](uint8_t* p) {
      // Every name, and everything after the names, claims the greatest length.
      uint32_t names = ColumnEntry(file, t, columns);
      std::memset(p + names, 0xFF, l.page_size - names);
      jet::Put32(p + l.tdef_next_page, 0);
    }, t);

    // The continuation pointer: to itself, to a page of another kind, past the end of the file.
    damage("a definition continued on itself", [&](uint8_t* p) { jet::Put32(p + l.tdef_next_page, t); }, t);
    damage("a definition continued on the usage map page", [&](uint8_t* p) { jet::Put32(p + l.tdef_next_page, 1); }, 1);
    damage("a definition continued past the end", [&](uint8_t* p) { jet::Put32(p + l.tdef_next_page, 0xABCDEF); }, 0xABCDEF);

    // A fixed column placed outside every row: reported at the page of the first row read.
    uint32_t fixed = UINT32_MAX;
    for (uint32_t i = 0; i < columns && fixed == UINT32_MAX; ++i) {
      const uint8_t* entry = file.OriginalPage(t) + ColumnEntry(file, t, i);
      if ((entry[l.column_flags] & 0x01) != 0 && entry[0] != 0x01) fixed = i;  // fixed, not Boolean
    }
    ASSERT_NE(fixed, UINT32_MAX);
    damage("a fixed column outside the row", [&](uint8_t* p) {
      jet::Put16(p + ColumnEntry(file, t, fixed) + l.column_fixed_offset, 0xFF00);
    }, table.ids[0].page);

    // The catalogue's own definition: the file cannot be opened, and the message says why.
    {
      file.Page(2)[l.tdef_column_count] = 0xFF;
      file.Page(2)[l.tdef_column_count + 1] = 0xFF;
      Report report = file.Read();
      ASSERT_FALSE(report.opened);
      EXPECT_NE(report.errors[0].message().find("catalogue"), std::string::npos) << report.Describe();
      ExpectDamageAt(report, file.path(), 2);
      file.Restore();
      file.Page(2)[0] = jet::kPageData;
      ExpectDamageAt(file.Read(), file.path(), 2);
      file.Restore();
    }
  }
}

TEST(DamageDefinitions, UsageMapsThatListNothingOrTooMuch) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  // Inline maps (Access 97 and 2000) and a reference map (the generated song list).
  for (const char* fixture : {"access/testV1997.mdb", "access/overflowTestV2000.mdb", "generated/songsV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    const Layout l = file.layout();
    std::string name = std::string(fixture).find("songs") != std::string::npos ? "MyList" : "Table1";
    velloran_test::LoadedTable table = LoadTable(file.path(), name);
    ASSERT_FALSE(table.ids.empty());
    const uint32_t t = table.def.page;
    const uint32_t map = jet::Get32(file.OriginalPage(t) + l.tdef_owned_map);
    const uint32_t map_page = map >> 8;
    const std::pair<uint32_t, uint32_t> span = file.RowSpan(map_page, map & 0xFF);
    const uint32_t start = span.first, end = span.second;
    ASSERT_GT(end, start + 5);
    uint8_t* row = file.Page(map_page) + start;
    const bool reference = row[0] == 1;

    file.ExpectDamage("an unknown map type", [&] { row[0] = 7; }, map_page);
    file.ExpectDamage("the owned-pages map points to a missing row",
                      [&] { jet::Put32(file.Page(t) + l.tdef_owned_map, (map_page << 8) | 0xF0); }, map_page);
    file.ExpectDamage("the owned-pages map points to the header page", [&] { jet::Put32(file.Page(t) + l.tdef_owned_map, 0); }, 0);
    if (!reference) {
      // Every bit set, starting just below the largest page number: the pages would wrap around
      // to the start of the file. None of them exists, so the table loses its rows, and says so.
      file.ExpectDamage("an inline map beyond every page", [&] {
        jet::Put32(row + 1, 0xFFFFFF00u);
        std::memset(row + 5, 0xFF, end - start - 5);
      }, t);
    } else {
      // A reference map whose first bitmap page is a page of another kind.
      uint32_t bitmap_page = jet::Get32(row + 1);
      ASSERT_NE(bitmap_page, 0u);
      file.ExpectDamage("a bitmap page of the wrong type", [&] { jet::Put32(row + 1, 1); }, 1);
      // Every slot of the map names the same bitmap page, and every bit of it is set: the map
      // claims every page of the file, over and over, and pages past its end, whose rows would be
      // lost without a word. The first of those is reported.
      file.ExpectDamage("an over-full reference map", [&] {
        for (uint32_t at = 1; at + 4 <= end - start; at += 4) jet::Put32(row + at, bitmap_page);
        std::memset(file.Page(bitmap_page) + 4, 0xFF, file.page_size() - 4);
      }, file.page_count());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Rows and the pointers between them

TEST(DamageRowsAndPointers, RowOffsetTablesOutOfRange) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  for (const char* fixture : {"access/testV1997.mdb", "generated/songsV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    const Layout l = file.layout();
    velloran_test::LoadedTable table = LoadTable(file.path(), std::string(fixture).find("songs") != std::string::npos ? "MyList" : "Table1");
    ASSERT_GE(table.ids.size(), 2u);
    const uint32_t page = table.ids[0].page;
    ASSERT_EQ(table.ids[1].page, page);
    auto damage = [&](const std::string& what, auto&& change) { file.ExpectDamage(what, [&] { change(file.Page(page)); }, page); };
    damage("a row count larger than the page", [&](uint8_t* p) { jet::Put16(p + l.data_row_count, 0x0FFF); });
    damage("a row starting past the page", [&](uint8_t* p) { jet::Put16(p + l.data_row_offsets, 0x1FFF); });
    damage("a row starting inside the offset table", [&](uint8_t* p) { jet::Put16(p + l.data_row_offsets + 2, 4); });
    damage("a row ending where a deleted row's stale offset points, past the page", [&](uint8_t* p) {
      jet::Put16(p + l.data_row_offsets, 0xC000 | 0x1F00);
      jet::Put16(p + l.data_row_offsets + 2, 0x1E00);
    });
    damage("a row that ends before it starts", [&](uint8_t* p) {
      jet::Put16(p + l.data_row_offsets + 2, static_cast<uint16_t>(jet::Get16(p + l.data_row_offsets) + 8));
    });
    // (A data page that stops being one: DamagedFile.ReadsSayWhatIsWrong..., which also holds the
    // export to every row or an error.)
  }
}

TEST(DamageRowsAndPointers, ForwardingPointersThatLoopOrLeadNowhere) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  Damaged file(scratch, "access/overflowTestV2000.mdb");
  const Layout l = file.layout();
  velloran_test::LoadedTable table = LoadTable(file.path(), "Table1");
  // The fixture holds rows that grew and moved: find a forwarding slot (0x4000 alone) and its target.
  uint32_t page = 0, row = 0;
  bool found = false;
  for (uint32_t p = 1; p < file.page_count() && !found; ++p) {
    const uint8_t* data = file.OriginalPage(p);
    if (data[0] != jet::kPageData || jet::Get32(data + l.data_owner) != table.def.page) continue;
    for (uint32_t r = 0; r < jet::Get16(data + l.data_row_count) && !found; ++r) {
      if ((jet::Get16(data + l.data_row_offsets + 2 * r) & 0xC000) == 0x4000) page = p, row = r, found = true;
    }
  }
  ASSERT_TRUE(found);
  const uint32_t slot_start = file.RowSpan(page, row).first;
  const uint32_t target = jet::Get32(file.OriginalPage(page) + slot_start);
  const uint32_t target_page = target >> 8, target_row = target & 0xFF;
  const uint32_t target_start = file.RowSpan(target_page, target_row).first;
  const uint32_t self = (page << 8) | row;

  // The damage is reported at the forwarding slot (where `scanned`, by the scan itself and not only
  // the integrity check), and following the row directly says so, naming the file.
  auto expect_cycle = [&](const std::string& what, bool scanned) {
    SCOPED_TRACE(what);
    Report report = file.Read();
    ExpectDamageAt(report, file.path(), page);
    bool loop = false;
    for (const jet::Error& e : report.errors) loop = loop || e.message().find("cycle") != std::string::npos;
    EXPECT_TRUE(loop || !scanned) << report.Describe();
    auto db = jet::Database::Open(file.path());
    ASSERT_TRUE(db.ok());
    auto direct = jet::ReadRowFollowingOverflow(db.value()->pager(), page, row);
    ASSERT_FALSE(direct.ok());
    EXPECT_NE(direct.error().message().find("cycle"), std::string::npos) << direct.error().message();
    EXPECT_NE(direct.error().message().find(file.path()), std::string::npos);
    file.Restore();
  };
  jet::Put32(file.Page(page) + slot_start, self);
  expect_cycle("a forwarding slot pointing to itself", false);
  // The moved row forwards back to where it came from: a two-slot loop.
  uint8_t* offsets = file.Page(target_page) + l.data_row_offsets + 2 * target_row;
  jet::Put16(offsets, static_cast<uint16_t>((jet::Get16(offsets) & 0x1FFF) | 0x4000));
  jet::Put32(file.Page(target_page) + target_start, self);
  expect_cycle("two forwarding slots pointing to each other", true);
  file.ExpectDamage("a forwarding pointer past the end of the file",
                    [&] { jet::Put32(file.Page(page) + slot_start, 0xFEDCBA00u | target_row); }, 0xFEDCBA);
  file.ExpectDamage("a forwarding pointer to the header page", [&] { jet::Put32(file.Page(page) + slot_start, 0); }, 0);
}

TEST(DamageRowsAndPointers, MemoPointersLengthsAndChains) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  // Memo and OLE values of the system tables: single LVAL rows in every file, chains of LVAL rows
  // in these two (an Access 97 property list and an Access 2000 name map).
  int inline_memos = 0;
  for (const char* fixture : {"access/testV1997.mdb", "access/indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    LongValueField single = FindLongValue(file.path(), 0x40000000u);
    LongValueField chain = FindLongValue(file.path(), 0);
    LongValueField in_row = FindLongValue(file.path(), 0x80000000u);
    ASSERT_TRUE(single.found && chain.found);
    auto damage_field = [&](const LongValueField& field, const std::string& what, uint32_t header, uint32_t pointer,
                            uint32_t expected_page) {
      file.ExpectDamage(what, [&] {
        jet::Put32(file.bytes().data() + field.field_offset, header);
        jet::Put32(file.bytes().data() + field.field_offset + 4, pointer);
      }, expected_page);
    };
    const uint32_t lval_page = single.pointer >> 8;
    damage_field(single, "a single-row memo longer than its row", 0x40000000u | 0x3FFFFFFFu, single.pointer, lval_page);
    damage_field(single, "a single-row memo past the end of the file", 0x40000000u | single.length,
                 0x00FFFF00u | (single.pointer & 0xFF), 0xFFFF);
    damage_field(single, "a single-row memo on the header page", 0x40000000u | single.length, 0x00000000u, 0);
    damage_field(single, "a single-row memo on a missing row", 0x40000000u | single.length, (lval_page << 8) | 0xFE,
                 lval_page);
    damage_field(single, "an inline memo longer than its field", 0x80000000u | 0x100000u, 0, single.row_page);
    damage_field(chain, "a chain longer than its rows", 0x3FFFFFFFu, chain.pointer, chain.row_page);
    // Two bytes too many: a reader must say so rather than hand out the value cut short.
    damage_field(chain, "a chain two bytes longer than its rows", chain.length + 2, chain.pointer, chain.row_page);
    if (in_row.found) {
      damage_field(in_row, "an inline memo two bytes longer than its field", 0x80000000u | (in_row.length + 2), in_row.pointer,
                   in_row.row_page);
      ++inline_memos;
    }
    damage_field(chain, "a chain starting past the end", chain.length, 0x00EEEE00u, 0xEEEE);

    // Chains that loop. The field's length is raised so that reading must go round the loop.
    const uint32_t first_page = chain.pointer >> 8;
    const uint32_t first_start = file.RowSpan(first_page, chain.pointer & 0xFF).first;
    auto expect_loop = [&](const std::string& what) {
      SCOPED_TRACE(what);
      jet::Put32(file.bytes().data() + chain.field_offset, 0x00FFFFFFu);
      Report report = file.Read();
      ExpectDamageAt(report, file.path(), first_page);
      bool loop = false;
      for (const std::string& m : report.messages()) loop = loop || m.find("loops") != std::string::npos;
      EXPECT_TRUE(loop) << report.Describe();
      file.Restore();
    };
    jet::Put32(file.Page(first_page) + first_start, chain.pointer);
    expect_loop("a memo chain looping on its first row");
    // First row -> another LVAL row (the single-row value's) -> first row.
    const uint32_t other_page = single.pointer >> 8;
    jet::Put32(file.Page(first_page) + first_start, single.pointer);
    jet::Put32(file.Page(other_page) + file.RowSpan(other_page, single.pointer & 0xFF).first, chain.pointer);
    expect_loop("a memo chain looping through two rows");
  }
  EXPECT_GT(inline_memos, 0) << "no fixture held an inline memo to damage";
}

// ---------------------------------------------------------------------------------------------
// Random damage

// Seeded so that a failure is reproducible; VELLORAN_DAMAGE_SEED chooses another sweep.
TEST(DamageRandomSweep, ThousandsOfMutationsOfAccess97And2000Files) {
  REQUIRE_SHARED_FIXTURES();
  uint64_t seed = 0x5EEDF00Du;
  if (const char* env = std::getenv("VELLORAN_DAMAGE_SEED")) seed = std::strtoull(env, nullptr, 0);
  std::printf("damage sweep seed 0x%" PRIx64 " (set VELLORAN_DAMAGE_SEED to change it)\n", seed);
  RecordProperty("seed", std::to_string(seed));
  std::mt19937_64 random(seed);
  auto below = [&](uint64_t n) { return static_cast<uint32_t>(random() % n); };

  ScratchDir scratch;
  struct Sweep {
    const char* fixture;
    int cases;
  };
  const Sweep sweeps[] = {{"access/testV1997.mdb", 600},       {"access/overflowTestV1997.mdb", 400},
                          {"access/emptyV2000.mdb", 400},      {"access/overflowTestV2000.mdb", 500},
                          {"access/indexTestV2003.mdb", 400},  {"generated/songsV2000.mdb", 300}};
  int total = 0, refused = 0, damaged = 0;
  for (const Sweep& sweep : sweeps) {
    Damaged file(scratch, sweep.fixture);
    const uint32_t ps = file.page_size();
    const uint32_t pages = file.page_count();
    // Values that make counts, offsets and pointers land on edges.
    const uint32_t edges[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, ps - 1, ps, ps + 1, 0x1FFF, 0x4000, 0x8000, 0xFFFF,
                              pages - 1, pages, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    for (int c = 0; c < sweep.cases; ++c) {
      std::string recipe;
      int mutations = 1 + static_cast<int>(below(4));
      for (int m = 0; m < mutations; ++m) {
        // Mostly the page headers and row-offset tables, where counts and pointers live; one
        // mutation in eight goes to the file header's fields (the masked area ends before 0xA0).
        uint32_t page = below(pages);
        size_t offset = static_cast<size_t>(page) * ps + (below(3) == 0 ? below(ps) : below(64));
        if (below(8) == 0) offset = below(0xA0);
        uint32_t width = 1u << below(3);  // 1, 2 or 4 bytes
        if (offset + width > file.size()) continue;
        uint32_t value = below(2) == 0 ? edges[below(std::size(edges))] : static_cast<uint32_t>(random());
        uint8_t* at = file.bytes().data() + offset;
        if (width == 1) {
          *at = below(2) == 0 ? static_cast<uint8_t>(*at ^ (1u << below(8))) : static_cast<uint8_t>(value);
        } else if (width == 2) {
          jet::Put16(at, static_cast<uint16_t>(value));
        } else {
          jet::Put32(at, value);
        }
        // The recipe names the bytes written, so that a failure can be replayed by hand.
        char step[64];
        std::snprintf(step, sizeof step, " @%zu=", offset);
        recipe.append(step);
        for (uint32_t i = 0; i < width; ++i) {
          std::snprintf(step, sizeof step, "%02X", at[i]);
          recipe.append(step);
        }
      }
      std::string where = sweep.fixture;
      where.append(", seed ").append(std::to_string(seed)).append(", case ").append(std::to_string(c)).append(":");
      SCOPED_TRACE(where + recipe);
      Report report = file.Read();
      ExpectWellFormed(report, file.path());
      // The page type, format version and signature: any change there is no database we read.
      if (!std::equal(file.bytes().begin(), file.bytes().begin() + 0x13, file.OriginalPage(0))) {
        EXPECT_FALSE(report.opened) << "a damaged signature was accepted";
      }
      ++total;
      if (!report.opened) ++refused;
      else if (!report.clean()) ++damaged;
      file.Restore();
      if (::testing::Test::HasFailure()) return;  // one reproducer is enough
    }
  }
  std::printf("damage sweep: %d cases, %d refused at open, %d opened with problems reported\n", total, refused, damaged);
  // The sweep must actually damage things: a large share of the cases is noticed.
  EXPECT_GT(refused + damaged, total / 5);
}

}  // namespace
