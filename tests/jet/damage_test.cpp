// Damaged databases. A host's catalogue file may be cut short by a full disk, half-copied from a
// USB stick, or simply not be a database; the engine must then say so. Each case damages a scratch
// copy of a fixture, opens it, reads every table's definition and every row (system tables
// included) and runs the integrity check. It must end in success or in errors that name the file
// and, for a damaged structure, the page; never in a crash (the sanitizer build checks every read)
// or a hang (a watchdog aborts a case that runs too long).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
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
  // Whether a message (only an error from the reading itself, with `errors_only`) holds `word`.
  bool Says(const std::string& word, bool errors_only = false) const {
    std::vector<std::string> all = messages();  // the errors first
    if (errors_only) all.resize(errors.size());
    return std::any_of(all.begin(), all.end(), [&](const std::string& m) { return m.find(word) != std::string::npos; });
  }
  std::string Describe() const {
    std::string s = std::string(opened ? "opened" : "not opened") + ", " + std::to_string(rows) + " rows";
    for (const std::string& m : messages()) s += "\n    " + m;
    return s;
  }
};

// Opens `path`, reads every table's definition and every row, and runs the integrity check.
Report ReadEverythingNow(const std::string& path) {
  Report report;
  auto ok = [&](const auto& result) { return result.ok() || (report.errors.push_back(result.error()), false); };
  auto db = jet::Database::Open(path);
  if (!(report.opened = ok(db))) return report;
  for (const jet::CatalogEntry& entry : db.value()->objects()) {
    if (!entry.IsTable()) continue;
    auto def = db.value()->ReadTable(entry.name);
    if (!ok(def)) continue;
    auto cursor = jet::TableCursor::Open(db.value()->pager(), def.value());
    if (!ok(cursor)) continue;
    for (auto more = cursor.value()->Next(); ok(more) && more.value(); more = cursor.value()->Next()) ++report.rows;
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

// Every message names the file; every error about a damaged structure also names a page.
void ExpectWellFormed(const Report& report, const std::string& path) {
  const std::vector<std::string> all = report.messages();  // the errors first
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_NE(all[i].find(path), std::string::npos) << "the message does not name the file: " << all[i];
    // A file that is no database, or one this engine cannot read, has no damaged page to name.
    const bool structure = i >= report.errors.size() || report.errors[i].code() == jet::ErrorCode::kCorrupt;
    EXPECT_TRUE(!structure || std::regex_search(all[i], std::regex("page [0-9]+"))) << "no page in: " << all[i];
  }
}

// The file is not opened, for `code`, in words holding `word`.
void ExpectRefused(const Report& report, const std::string& path, jet::ErrorCode code, const std::string& word = "") {
  ExpectWellFormed(report, path);
  ASSERT_FALSE(report.opened);
  EXPECT_EQ(report.errors[0].code(), code) << report.Describe();
  EXPECT_NE(report.errors[0].message().find(word), std::string::npos) << report.Describe();
}

// The damage is reported, well formed, and at least one message points at `page`.
void ExpectDamageAt(const Report& report, const std::string& path, uint32_t page) {
  ExpectWellFormed(report, path);
  ASSERT_FALSE(report.clean()) << "the damage went unnoticed";
  const std::vector<std::string> all = report.messages();
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const std::string& m) { return NamesPage(m, page); }))
      << "no message names page " << page << ":\n  " << report.Describe();
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
  // Data page
  uint32_t data_owner = 4;
  uint32_t data_row_count, data_row_offsets;

  static Layout For(jet::JetVersion version) {
    if (version == jet::JetVersion::kJet3) return {2048, 4, 21, 25, 31, 35, 43, 8, 18, 1, 13, 14, 4, 8, 10};
    return {4096, 4, 41, 45, 51, 55, 63, 12, 25, 5, 15, 21, 4, 12, 14};
  }
};

// One write of a damage: `width` bytes (1, 2 or 4) of `value`, little-endian, at `offset` in
// `page`; a greater width fills that many bytes with the value's low byte.
struct Write { uint32_t page; size_t offset; uint32_t width, value; };

// A damage, the page a message about it must name, and a word one must hold.
struct Damage { std::string what; std::vector<Write> writes; uint32_t page; std::string says = ""; };

// A scratch copy of a fixture held in memory: damage it, save it, read it, restore it.
class Damaged {
 public:
  Damaged(const ScratchDir& scratch, const std::string& fixture)
      : path_(scratch.CopyFixture(fixture)), original_(velloran_test::ReadBytes(path_)), bytes_(original_) {}

  const std::string& path() const { return path_; }
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
  void Apply(const Write& w) {
    uint8_t* at = Page(w.page) + w.offset;
    if (w.width == 2) jet::Put16(at, static_cast<uint16_t>(w.value));
    else if (w.width == 4) jet::Put32(at, w.value);
    else std::memset(at, static_cast<int>(w.value & 0xFF), w.width);
  }
  // Makes each damage to the intact file in turn and expects it reported at its page, in words
  // holding its `says`; `also` then checks more of the damaged file (through a handle of its own).
  void ExpectDamages(const std::vector<Damage>& damages,
                     const std::function<void(const Damage&, const Report&, jet::Pager&)>& also = nullptr) {
    for (const Damage& d : damages) {
      SCOPED_TRACE(d.what);
      for (const Write& w : d.writes) Apply(w);
      const Report report = Read();
      ExpectDamageAt(report, path_, d.page);
      EXPECT_TRUE(report.Says(d.says)) << report.Describe();
      if (also) {
        auto db = jet::Database::Open(path_);
        ASSERT_TRUE(db.ok());
        also(d, report, db.value()->pager());
      }
      Restore();
    }
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
  std::string path_;
  std::vector<uint8_t> original_;
  std::vector<uint8_t> bytes_;
};

// Facts about the intact fixture (the definition, its page, every live row in scan order) are
// found through the engine before any damage.
using velloran_test::LoadTable;

// Runs `body(file, layout, table)` on a scratch copy of each fixture, with its main table (MyList
// in the generated song list, Table1 in the others) as found in the intact file.
template <typename Body>
void ForEachFixture(std::initializer_list<const char*> fixtures, Body&& body) {
  ScratchDir scratch;
  for (const char* fixture : fixtures) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    velloran_test::LoadedTable table = LoadTable(file.path(), std::strstr(fixture, "songs") ? "MyList" : "Table1");
    ASSERT_FALSE(table.ids.empty());
    body(file, file.layout(), table);
  }
}

// Every page that holds a live row of any table (system tables included).
std::set<uint32_t> PagesWithRows(const std::string& path) {
  std::set<uint32_t> pages;
  EXPECT_OK_LET(db, jet::Database::Open(path));
  if (!db.ok()) return pages;
  for (const jet::CatalogEntry& entry : db.value()->objects())
    if (entry.IsTable())
      for (const jet::RowId& id : LoadTable(path, entry.name).ids) pages.insert(id.page);
  return pages;
}

// A memo or OLE field of the intact file, stored in the way `kind` names (the top bits of its length):
// where it lies in the file, its length, and the row pointer of its (first) LVAL row.
struct LongValueField { bool found = false; uint32_t row_page = 0; size_t field_offset = 0; uint32_t length = 0, pointer = 0; };

LongValueField FindLongValue(const std::string& path, uint32_t kind) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) return {};
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
        return {true, id.page, static_cast<size_t>(id.page) * pager.page_size() + static_cast<size_t>(f - page.value()),
                jet::Get32(f) & 0x3FFFFFFFu, jet::Get32(f + 4)};
      }
    }
  }
  return {};
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

    std::vector<size_t> lengths = {0, 1, 4, 100, 1000, 2047, 2048, 2049, 4095, 4096, 4097, file.size() - 1, file.size() - ps};
    // Every page boundary, alternately cut exactly there and in the middle of the next page.
    for (uint32_t k = 1; k < file.page_count(); ++k) lengths.push_back(static_cast<size_t>(k) * ps + (k % 2 ? ps / 2 : 0));
    for (size_t length : lengths) {
      if (length >= file.size()) continue;
      SCOPED_TRACE("cut to " + std::to_string(length) + " bytes");
      const Report report = file.Read(length);
      ExpectWellFormed(report, file.path());
      if (length < 2048) {
        ExpectRefused(report, file.path(), jet::ErrorCode::kNotDatabase);
      } else if (length < ps) {
        EXPECT_TRUE(!report.opened && NamesPage(report.errors[0].message(), 0)) << report.Describe();
      } else {  // a cut that removes rows must be noticed: the definitions' row counts no longer match
        EXPECT_TRUE(*row_pages.rbegin() < length / ps || !report.clean()) << "rows were lost silently";
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Header

TEST(DamageHeader, FilesThatAreNoDatabaseOrAreProtectedAreRefusedByName) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  EXPECT_EQ(jet::Database::Open(scratch.path() + "/missing.mdb").error().code(), jet::ErrorCode::kIo);
  // (Files too short to hold a header, and damaged signatures: DamageTruncation, DamageRandomSweep.)
  std::string text = "Title,Artist\nWaterloo,ABBA\n";
  while (text.size() < 10000) text += text;
  const std::string path = scratch.File("catalogue.mdb");
  velloran_test::WriteBytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  ExpectRefused(ReadEverything(path), path, jet::ErrorCode::kNotDatabase);

  for (const char* fixture : {"access/testV1997.mdb", "access/emptyV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Damaged file(scratch, fixture);
    // Changes the header page of the intact file (as seen through its mask, where `masked`) and reads it.
    auto read_with_header = [&](bool masked, auto&& change) {
      file.Restore();
      uint8_t* header = file.Page(0);
      if (masked) jet::ToggleHeaderMask(file.version(), header, file.page_size());
      change(header);
      if (masked) jet::ToggleHeaderMask(file.version(), header, file.page_size());
      Report report = file.Read();
      ExpectWellFormed(report, file.path());
      return report;
    };
    const auto unsupported = jet::ErrorCode::kUnsupported;
    ExpectRefused(read_with_header(false, [](uint8_t* h) { std::memcpy(h + 4, "Standard ACE DB", 15); }), file.path(), unsupported);
    ExpectRefused(read_with_header(false, [](uint8_t* h) { h[0x14] = 5; }), file.path(), unsupported);  // a later version
    // Encrypted pages and passwords.
    const auto encrypted = jet::ErrorCode::kEncrypted;
    ExpectRefused(read_with_header(true, [](uint8_t* h) { h[0x3E] = 1; }), file.path(), encrypted, "encrypted");
    ExpectRefused(read_with_header(true, [](uint8_t* h) { h[0x42 + 3] ^= 'k'; }), file.path(), encrypted, "password");
    // The Jet 4 password area is scrambled with the creation date: a date that is no number at
    // all must still be handled.
    for (double date : {std::nan(""), HUGE_VAL, -1e300, 1e19})
      read_with_header(true, [&](uint8_t* header) { std::memcpy(header + 0x72, &date, sizeof date); });
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
  ForEachFixture({"access/testV1997.mdb", "access/indexTestV2000.mdb"}, [](Damaged& file, const Layout& l, auto& table) {
    const uint32_t t = table.def.page;
    const uint8_t* intact = file.OriginalPage(t);
    const uint16_t max_columns = jet::Get16(intact + l.tdef_max_columns), columns = jet::Get16(intact + l.tdef_column_count);
    ASSERT_GE(columns, 2);
    auto column = [&](uint32_t i) { return ColumnEntry(file, t, i); };
    // A fixed column (not a Boolean, whose value lives in the null mask) to place outside every row.
    uint32_t fixed = 0;
    while (fixed < columns && ((intact[column(fixed) + l.column_flags] & 0x01) == 0 || intact[column(fixed)] == 0x01)) ++fixed;
    ASSERT_LT(fixed, columns);
    const uint32_t names = column(columns), next = l.tdef_next_page;
    file.ExpectDamages({
        {"more columns than the maximum", {{t, l.tdef_column_count, 2, max_columns + 1u}}, t},
        {"columns running past the definition", {{t, l.tdef_max_columns, 2, 0xFFFF}, {t, l.tdef_column_count, 2, 0xFFFF}}, t},
        {"an impossible index count", {{t, l.tdef_physical_index_count, 4, 0x7FFFFFFF}}, t},
        {"an unknown column type", {{t, column(0), 1, 0x33}}, t},
        {"a repeated column number", {{t, column(1) + l.column_number, 2, jet::Get16(intact + column(0) + l.column_number)}}, t},
        {"a column number beyond the maximum", {{t, column(0) + l.column_number, 2, max_columns}}, t},
        // Every name, and everything after the names, claims the greatest length.
        {"names longer than the definition", {{t, names, l.page_size - names, 0xFF}, {t, next, 4, 0}}, t},
        // The continuation pointer: to itself, to a page of another kind, past the end of the file.
        {"a definition continued on itself", {{t, next, 4, t}}, t},
        {"a definition continued on the usage map page", {{t, next, 4, 1}}, 1},
        {"a definition continued past the end", {{t, next, 4, 0xABCDEF}}, 0xABCDEF},
        // Reported at the page of the first row read.
        {"a fixed column outside the row", {{t, column(fixed) + l.column_fixed_offset, 2, 0xFF00}}, table.ids[0].page},
        {"the catalogue's definition page turned data page", {{2, 0, 1, jet::kPageData}}, 2},
    });
    // The catalogue's own definition: the file cannot be opened, and the message says why.
    file.Apply({2, l.tdef_column_count, 2, 0xFFFF});
    Report report = file.Read();
    ASSERT_FALSE(report.opened);
    EXPECT_NE(report.errors[0].message().find("catalogue"), std::string::npos) << report.Describe();
    ExpectDamageAt(report, file.path(), 2);
    file.Restore();
  });
}

TEST(DamageDefinitions, UsageMapsThatListNothingOrTooMuch) {
  REQUIRE_SHARED_FIXTURES();
  // Inline maps (Access 97 and 2000) and a reference map (the generated song list).
  ForEachFixture({"access/testV1997.mdb", "access/overflowTestV2000.mdb", "generated/songsV2000.mdb"},
                 [](Damaged& file, const Layout& l, auto& table) {
    const uint32_t t = table.def.page;
    const uint32_t map = jet::Get32(file.OriginalPage(t) + l.tdef_owned_map), map_page = map >> 8;
    const auto [start, end] = file.RowSpan(map_page, map & 0xFF);
    ASSERT_GT(end, start + 5);
    const uint8_t* row = file.OriginalPage(map_page) + start;
    std::vector<Damage> damages = {
        {"an unknown map type", {{map_page, start, 1, 7}}, map_page},
        {"the owned-pages map points to a missing row", {{t, l.tdef_owned_map, 4, (map_page << 8) | 0xF0}}, map_page},
        {"the owned-pages map points to the header page", {{t, l.tdef_owned_map, 4, 0}}, 0},
    };
    if (row[0] != 1) {
      // An inline map. Every bit set, starting just below the largest page number: the pages would
      // wrap around to the start of the file. None of them exists, so the table loses its rows, and
      // says so.
      damages.push_back({"an inline map beyond every page",
                         {{map_page, start + 1, 4, 0xFFFFFF00u}, {map_page, start + 5, end - start - 5, 0xFF}}, t});
    } else {
      // A reference map whose first bitmap page is a page of another kind.
      const uint32_t bitmap_page = jet::Get32(row + 1);
      ASSERT_NE(bitmap_page, 0u);
      damages.push_back({"a bitmap page of the wrong type", {{map_page, start + 1, 4, 1}}, 1});
      // Every slot of the map names the same bitmap page, and every bit of it is set: the map
      // claims every page of the file, over and over, and pages past its end, whose rows would be
      // lost without a word. The first of those is reported.
      Damage over_full{"an over-full reference map", {{bitmap_page, 4, file.page_size() - 4, 0xFF}}, file.page_count()};
      for (uint32_t at = 1; at + 4 <= end - start; at += 4) over_full.writes.push_back({map_page, start + at, 4, bitmap_page});
      damages.push_back(over_full);
    }
    file.ExpectDamages(damages);
  });
}

// ---------------------------------------------------------------------------------------------
// Rows and the pointers between them

TEST(DamageRowsAndPointers, RowOffsetTablesOutOfRange) {
  REQUIRE_SHARED_FIXTURES();
  ForEachFixture({"access/testV1997.mdb", "generated/songsV2000.mdb"}, [](Damaged& file, const Layout& l, auto& table) {
    ASSERT_GE(table.ids.size(), 2u);
    const uint32_t page = table.ids[0].page, offsets = l.data_row_offsets;
    ASSERT_EQ(table.ids[1].page, page);
    const uint32_t first = jet::Get16(file.OriginalPage(page) + offsets);
    const std::vector<Damage> damages = {
        {"a row count larger than the page", {{page, l.data_row_count, 2, 0x0FFF}}, page},
        {"a row starting past the page", {{page, offsets, 2, 0x1FFF}}, page},
        {"a row starting inside the offset table", {{page, offsets + 2, 2, 4}}, page},
        {"a row ending where a deleted row's stale offset points, past the page",
         {{page, offsets, 2, 0xC000 | 0x1F00}, {page, offsets + 2, 2, 0x1E00}}, page},
        {"a row that ends before it starts", {{page, offsets + 2, 2, first + 8}}, page},
    };
    // Reached by its place, as an index walk reaches it, the damaged row is an error as well.
    file.ExpectDamages(damages, [&](const Damage&, const Report&, jet::Pager& pager) {
      EXPECT_FALSE(jet::ReadRowFollowingOverflow(pager, page, 0).ok() && jet::ReadRowFollowingOverflow(pager, page, 1).ok());
    });
    // (A data page that stops being one: DamagedFile.ReadsSayWhatIsWrong..., which also holds the
    // export to every row or an error.)
  });
}

TEST(DamageRowsAndPointers, ForwardingPointersThatLoopOrLeadNowhere) {
  REQUIRE_SHARED_FIXTURES();
  ForEachFixture({"access/overflowTestV2000.mdb"}, [](Damaged& file, const Layout& l, auto& table) {
    // The fixture holds rows that grew and moved: find a forwarding slot (0x4000 alone) and its target.
    uint32_t page = 0, row = 0;
    for (uint32_t p = 1; p < file.page_count() && page == 0; ++p) {
      const uint8_t* data = file.OriginalPage(p);
      if (data[0] != jet::kPageData || jet::Get32(data + l.data_owner) != table.def.page) continue;
      for (uint32_t r = 0; r < jet::Get16(data + l.data_row_count) && page == 0; ++r)
        if ((jet::Get16(data + l.data_row_offsets + 2 * r) & 0xC000) == 0x4000) page = p, row = r;
    }
    ASSERT_NE(page, 0u);
    const uint32_t slot_start = file.RowSpan(page, row).first, target = jet::Get32(file.OriginalPage(page) + slot_start);
    const uint32_t target_page = target >> 8, target_row = target & 0xFF, self = (page << 8) | row;
    const uint32_t target_offset = l.data_row_offsets + 2 * target_row;

    // The damage is reported at the forwarding slot (where it says "cycle", by the scan itself and
    // not only the integrity check), and following the row directly says so, naming the file.
    const uint32_t target_slot = jet::Get16(file.OriginalPage(target_page) + target_offset);
    file.ExpectDamages({{"a forwarding slot pointing to itself", {{page, slot_start, 4, self}}, page},
                        // The moved row forwards back to where it came from: a two-slot loop.
                        {"two forwarding slots pointing to each other",
                         {{target_page, target_offset, 2, (target_slot & 0x1FFF) | 0x4000},
                          {target_page, file.RowSpan(target_page, target_row).first, 4, self}}, page, "cycle"}},
                       [&](const Damage& d, const Report& report, jet::Pager& pager) {
      EXPECT_TRUE(d.says.empty() || report.Says(d.says, true)) << report.Describe();
      auto direct = jet::ReadRowFollowingOverflow(pager, page, row);
      ASSERT_FALSE(direct.ok());
      EXPECT_NE(direct.error().message().find("cycle"), std::string::npos) << direct.error().message();
      EXPECT_NE(direct.error().message().find(file.path()), std::string::npos);
    });
    file.ExpectDamages({
        {"a forwarding pointer past the end of the file", {{page, slot_start, 4, 0xFEDCBA00u | target_row}}, 0xFEDCBA},
        {"a forwarding pointer to the header page", {{page, slot_start, 4, 0}}, 0},
    });
  });
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
    const LongValueField single = FindLongValue(file.path(), 0x40000000u), chain = FindLongValue(file.path(), 0);
    const LongValueField in_row = FindLongValue(file.path(), 0x80000000u);
    ASSERT_TRUE(single.found && chain.found);
    // The field's length word (with the kind in its top bits) and its row pointer, rewritten.
    auto field = [](const LongValueField& f, const char* what, uint32_t header, uint32_t pointer, uint32_t page) {
      return Damage{what, {{0, f.field_offset, 4, header}, {0, f.field_offset + 4, 4, pointer}}, page};
    };
    const uint32_t lval_page = single.pointer >> 8, kSingle = 0x40000000u, kInline = 0x80000000u;
    // Chains that loop. The field's length is raised so that reading must go round the loop.
    const uint32_t first_page = chain.pointer >> 8, other_page = single.pointer >> 8;
    const uint32_t first_start = file.RowSpan(first_page, chain.pointer & 0xFF).first;
    const Write longer{0, chain.field_offset, 4, 0x00FFFFFFu};
    std::vector<Damage> damages = {
        field(single, "a single-row memo longer than its row", kSingle | 0x3FFFFFFFu, single.pointer, lval_page),
        field(single, "a single-row memo past the end of the file", kSingle | single.length, 0x00FFFF00u | (single.pointer & 0xFF), 0xFFFF),
        field(single, "a single-row memo on the header page", kSingle | single.length, 0, 0),
        field(single, "a single-row memo on a missing row", kSingle | single.length, (lval_page << 8) | 0xFE, lval_page),
        field(single, "an inline memo longer than its field", kInline | 0x100000u, 0, single.row_page),
        field(chain, "a chain longer than its rows", 0x3FFFFFFFu, chain.pointer, chain.row_page),
        // Two bytes too many: a reader must say so rather than hand out the value cut short.
        field(chain, "a chain two bytes longer than its rows", chain.length + 2, chain.pointer, chain.row_page),
        field(chain, "a chain starting past the end", chain.length, 0x00EEEE00u, 0xEEEE),
        {"a memo chain looping on its first row", {longer, {first_page, first_start, 4, chain.pointer}}, first_page, "loops"},
        // First row -> another LVAL row (the single-row value's) -> first row.
        {"a memo chain looping through two rows",
         {longer, {first_page, first_start, 4, single.pointer},
          {other_page, file.RowSpan(other_page, single.pointer & 0xFF).first, 4, chain.pointer}}, first_page, "loops"},
    };
    if (in_row.found) {
      damages.push_back(field(in_row, "an inline memo two bytes longer than its field", kInline | (in_row.length + 2),
                              in_row.pointer, in_row.row_page));
      ++inline_memos;
    }
    file.ExpectDamages(damages);
  }
  EXPECT_GT(inline_memos, 0) << "no fixture held an inline memo to damage";
}

// ---------------------------------------------------------------------------------------------
// Random damage

// Seeded so that a failure is reproducible; VELLORAN_DAMAGE_SEED chooses another sweep.
TEST(DamageRandomSweep, ThousandsOfMutationsOfAccess97And2000Files) {
  REQUIRE_SHARED_FIXTURES();
  const uint64_t seed = velloran_test::NumberFromEnvironment("VELLORAN_DAMAGE_SEED", 0x5EEDF00Du);
  std::printf("damage sweep seed 0x%" PRIx64 " (set VELLORAN_DAMAGE_SEED to change it)\n", seed);
  RecordProperty("seed", std::to_string(seed));
  std::mt19937_64 random(seed);
  auto below = [&](uint64_t n) { return static_cast<uint32_t>(random() % n); };

  ScratchDir scratch;
  const std::pair<const char*, int> sweeps[] = {{"access/testV1997.mdb", 600},      {"access/overflowTestV1997.mdb", 400},
                                                {"access/emptyV2000.mdb", 400},     {"access/overflowTestV2000.mdb", 500},
                                                {"access/indexTestV2003.mdb", 400}, {"generated/songsV2000.mdb", 300}};
  int total = 0, refused = 0, damaged = 0;
  for (const auto& [fixture, cases] : sweeps) {
    Damaged file(scratch, fixture);
    const uint32_t ps = file.page_size(), pages = file.page_count();
    // Values that make counts, offsets and pointers land on edges.
    const uint32_t edges[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, ps - 1, ps, ps + 1, 0x1FFF, 0x4000, 0x8000, 0xFFFF,
                              pages - 1, pages, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    for (int c = 0; c < cases; ++c) {
      std::string recipe;
      for (uint32_t m = 0, mutations = 1 + below(4); m < mutations; ++m) {
        // Mostly the page headers and row-offset tables, where counts and pointers live; one
        // mutation in eight goes to the file header's fields (the masked area ends before 0xA0).
        uint32_t page = below(pages);
        size_t offset = static_cast<size_t>(page) * ps + (below(3) == 0 ? below(ps) : below(64));
        if (below(8) == 0) offset = below(0xA0);
        uint32_t width = 1u << below(3);  // 1, 2 or 4 bytes
        if (offset + width > file.size()) continue;
        uint32_t value = below(2) == 0 ? edges[below(std::size(edges))] : static_cast<uint32_t>(random());
        const char* at = reinterpret_cast<const char*>(file.bytes().data() + offset);
        if (width == 1 && below(2) == 0) value = static_cast<uint8_t>(*at) ^ (1u << below(8));  // one bit flipped
        file.Apply({0, offset, width, value});
        // The recipe names the bytes written, so that a failure can be replayed by hand.
        recipe += " @" + std::to_string(offset) + "=" + velloran_test::Hex(std::string(at, width), true);
      }
      SCOPED_TRACE(std::string(fixture) + ", seed " + std::to_string(seed) + ", case " + std::to_string(c) + ":" + recipe);
      Report report = file.Read();
      ExpectWellFormed(report, file.path());
      // The page type, format version and signature: any change there is no database we read.
      EXPECT_TRUE(std::equal(file.bytes().begin(), file.bytes().begin() + 0x13, file.OriginalPage(0)) || !report.opened)
          << "a damaged signature was accepted";
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
