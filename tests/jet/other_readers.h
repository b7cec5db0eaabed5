// The other readers the write tests hold our files up to: mdbtools' mdb-export, and mdb-reader
// (JavaScript, run with node through tools/mdb-reader-export.mjs), with the faults of each that
// are proven and tolerated, and a fingerprint of rows that both sides compute.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <type_traits>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/check/csv_export.h"
#include "jet/pages/data_page.h"
#include "jet/database.h"
#include "jet/pages/row_decoder.h"
#include "jet/table/table_cursor.h"
#include "jet/text/text_codec.h"
#include "tests/jet/test_support.h"

namespace velloran_test {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Text;
using jet::Value;

// ---------------------------------------------------------------------------------------------
// Running the other readers.

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `command` with the locale pinned, so that dates print the same everywhere; its output.
inline std::string RunPinned(const std::string& command, int* exit_code) {
  std::string out;
  *exit_code = RunCommand("env LC_ALL=C.UTF-8 " + command, &out);
  return out;
}

inline bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

// From the build (a compiler cache may hand this file a relative name, which __FILE__ would keep).
inline std::filesystem::path ProjectRoot() { return std::filesystem::path(VELLORAN_SOURCE_DIR); }

// The folder of mdb-reader's modules, installed into the build tree once, or "" (with a note)
// when node and npm are not installed; an install that fails fails the test.
inline std::string MdbReaderOrNote() {
  if (!Have("node") || !Have("npm")) {
    std::cout << "[ note     ] node and npm are not installed: the mdb-reader comparison is left out\n";
    return "";
  }
  std::filesystem::path dir = std::filesystem::path(VELLORAN_JET_TOOL).parent_path().parent_path() / "node";
  std::string out, script = (ProjectRoot() / "tools" / "install-mdb-reader.sh").string();
  const bool installed = RunCommand("sh " + ShellQuote(script) + " " + ShellQuote(dir.string()) + " 2>&1", &out) == 0;
  EXPECT_TRUE(installed) << "installing mdb-reader with npm failed: " << out;
  return installed ? dir.string() : "";
}

inline std::vector<std::string> CsvRecords(const std::string& csv) {
  std::vector<std::string> records;
  std::string current;
  bool quoted = false;
  for (char c : csv) {
    if (c == '"') quoted = !quoted;
    if (c == '\n' && !quoted) records.push_back(std::exchange(current, {}));
    else current += c;
  }
  if (!current.empty()) records.push_back(current);
  return records;
}

// The fields of one CSV record: quotes removed, doubled quotes undone; `quoted` tells an empty
// quoted field from a field with nothing.
struct CsvField { std::string text; bool quoted = false; };

inline std::vector<CsvField> CsvFields(const std::string& record) {
  std::vector<CsvField> fields(1);
  bool in_quotes = false;
  for (size_t i = 0; i < record.size(); ++i) {
    const char c = record[i];
    if (in_quotes && c == '"' && i + 1 < record.size() && record[i + 1] == '"') fields.back().text += record[i++];
    else if (c == '"') in_quotes = !in_quotes, fields.back().quoted = true;
    else if (!in_quotes && c == ',') fields.emplace_back();
    else fields.back().text += c;
  }
  return fields;
}

// mdbtools converts UTF-16 one code unit at a time, so a character outside the Basic Multilingual
// Plane comes out as "??" (see export_compare_test.cpp); ours is made to read the same, and
// `replaced` counts the characters so changed.
inline std::string AsMdbtoolsPrintsIt(const std::string& utf8, int* replaced = nullptr) {
  std::string out;
  int four_byte = 0;
  for (size_t i = 0; i < utf8.size(); ++i)
    if ((static_cast<uint8_t>(utf8[i]) & 0xF8) == 0xF0 && i + 3 < utf8.size()) out += "??", i += 3, ++four_byte;
    else out += utf8[i];
  if (replaced != nullptr) *replaced = four_byte;
  return out;
}

// Our CSV export of `table` against mdb-export's, record by record (see AsMdbtoolsPrintsIt).
inline void ExpectMdbExportAgrees(const std::string& path, const std::string& table) {
  SCOPED_TRACE("mdb-export of " + table);
  ASSERT_OK_LET(db, jet::Database::Open(path));
  std::ostringstream ours;
  ASSERT_TRUE(jet::ExportTableCsv(*db.value(), table, ours).ok());
  int code = -1;
  std::string theirs = RunPinned("mdb-export " + ShellQuote(path) + " " + ShellQuote(table), &code);
  ASSERT_EQ(code, 0);
  std::vector<std::string> a = CsvRecords(ours.str()), b = CsvRecords(theirs);
  ASSERT_EQ(a.size(), b.size()) << "records: ours vs mdb-export";
  for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(AsMdbtoolsPrintsIt(a[i]), b[i]) << "record " << i;
}

// ---------------------------------------------------------------------------------------------
// The fingerprint mdb-reader-export.mjs computes, from our values (see the script for the form).

class Fingerprint {
 public:
  void Unit(uint32_t u) { a_ = (a_ ^ (u & 0xFFFF)) * 0x01000193u, b_ = (b_ ^ (u & 0xFFFF)) * 0x01000193u; }
  void Double(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 4; ++i) Unit(static_cast<uint32_t>(bits >> (16 * i)));
  }
  // A string ('s', UTF-16 units) or bytes ('b'): the kind, the length, each unit.
  template <typename Units>
  void Sequence(char kind, const Units& units) {
    Unit(static_cast<uint32_t>(kind));
    Unit(static_cast<uint32_t>(units.size()));
    Unit(static_cast<uint32_t>(units.size() >> 16));
    for (auto u : units) Unit(static_cast<std::make_unsigned_t<decltype(u)>>(u));
  }
  void String(const Text& s) { Sequence('s', s); }
  std::string Hex() const {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%08x%08x", a_, b_);
    return buf;
  }

 private:
  uint32_t a_ = 0x811c9dc5u;
  uint32_t b_ = 0x01000193u ^ 0x9e3779b9u;
};

// Digits of a 128-bit magnitude with `scale` of them after a point, as mdb-reader prints amounts.
inline std::string Amount(bool negative, unsigned __int128 magnitude, int scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  while (digits.size() < static_cast<size_t>(scale) + 1) digits.insert(digits.begin(), '0');
  std::string out = negative ? "-" : "";
  out += digits.substr(0, digits.size() - scale);
  if (scale > 0) out += "." + digits.substr(digits.size() - scale);
  return out;
}

inline void AddValue(const ColumnDef& c, const Value& v, Fingerprint* f) {
  if (jet::IsNull(v)) return f->Unit('n');
  if (const bool* b = std::get_if<bool>(&v)) return f->Unit(*b ? 't' : 'f');
  if (const int64_t* i = std::get_if<int64_t>(&v)) return f->Unit('d'), f->Double(static_cast<double>(*i));
  if (const float* x = std::get_if<float>(&v)) return f->Unit('d'), f->Double(static_cast<double>(*x));
  if (const double* x = std::get_if<double>(&v)) return f->Unit('d'), f->Double(*x);
  if (const Text* t = std::get_if<Text>(&v)) return f->String(*t);
  if (const jet::DateTime* d = std::get_if<jet::DateTime>(&v)) {
    f->Unit('D');
    return f->Double(std::floor((d->days - 25569) * 86400 * 1000 + 0.5));
  }
  if (const jet::Currency* m = std::get_if<jet::Currency>(&v)) {
    bool negative = m->scaled < 0;
    unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(m->scaled) : m->scaled;
    return f->String(jet::FromUtf8(Amount(negative, magnitude, 4)));
  }
  if (const jet::Decimal* d = std::get_if<jet::Decimal>(&v)) {
    unsigned __int128 magnitude = 0;
    for (int w = 3; w >= 0; --w) magnitude = (magnitude << 32) | d->magnitude[w];
    return f->String(jet::FromUtf8(Amount(d->negative, magnitude, c.scale)));
  }
  if (const jet::Guid* g = std::get_if<jet::Guid>(&v)) {
    const auto& b = g->bytes;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[3], b[2], b[1],
                  b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return f->String(jet::FromUtf8(buf));
  }
  f->Sequence('b', std::get<jet::Bytes>(v));
}

inline std::string FingerprintOf(const jet::TableDef& def, const std::vector<Value>& values) {
  std::vector<size_t> order(def.columns.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return def.columns[x].number < def.columns[y].number; });
  Fingerprint f;
  for (size_t i : order) AddValue(def.columns[i], values[i], &f);
  return f.Hex();
}

inline std::string Describe(const std::vector<Value>& values) {
  std::string out;
  for (const Value& v : values) {
    const Text* t = std::get_if<Text>(&v);
    const int64_t* i = std::get_if<int64_t>(&v);
    out += out.empty() ? "" : " | ";
    out += jet::IsNull(v) ? "NULL"
           : t           ? "\"" + jet::ToUtf8(t->substr(0, 40)) + "\"(" + std::to_string(t->size()) + ")"
           : i           ? std::to_string(*i)
           : std::holds_alternative<bool>(v) ? (std::get<bool>(v) ? "true" : "false")
                                             : "<value>";
  }
  return out;
}

struct Snapshot { std::string path, table; };

// mdb-reader 3.2 finds a row's end from the previous slot's offset without masking its flag bits
// (Database.findRow), so a long-value row that follows a deleted slot (flags 0xC000, as Access
// and we leave freed long values) seems to run to the end of the page, and a memo chain through
// such a row comes out cut short (data/memo.js stops when a piece looks too long). This reads a
// Memo field the way mdb-reader does, so that a difference can be shown to be that fault and
// nothing else.
inline Text AsMdbReaderReadsMemo(jet::Pager& pager, const std::string& field) {
  auto find_row = [&](uint32_t pointer) {
    const uint8_t* page = pager.ReadPage(pointer >> 8).value();
    const uint32_t row = pointer & 0xFF, start = jet::Get16(page + 14 + 2 * row);
    const uint32_t end = std::min<uint32_t>(row == 0 ? 4096 : jet::Get16(page + 14 + 2 * (row - 1)), 4096);
    return start >= end ? std::string() : std::string(reinterpret_cast<const char*>(page) + start, end - start);
  };
  const uint8_t* f = reinterpret_cast<const uint8_t*>(field.data());
  uint32_t length = jet::Get24(f);
  std::string data;
  if (f[3] == 0x80) {
    data = field.substr(12, length);
  } else if (f[3] == 0x40) {
    data = find_row(jet::Get32(f + 4)).substr(0, length);
  } else {
    uint32_t pointer = jet::Get32(f + 4);
    do {
      std::string row = find_row(pointer);
      if (data.size() + row.size() - 4 > length || row.empty()) break;
      data += row.substr(4);
      pointer = jet::Get32(reinterpret_cast<const uint8_t*>(row.data()));
    } while (pointer != 0);
    data.resize(std::min<size_t>(data.size(), length));
  }
  return jet::DecodeStoredText(jet::JetVersion::kJet4, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

// The values of the cursor's row with each Memo read as mdb-reader reads it.
inline std::vector<Value> AsMdbReaderReadsRow(jet::Pager& pager, const jet::TableDef& def, const jet::TableCursor& cursor) {
  std::vector<Value> values = cursor.values();
  jet::RowSlot slot = jet::ReadRowSlot(pager, cursor.row_id().page, cursor.row_id().row).value();
  jet::RowLayout layout = jet::ParseRowLayout(pager.format(), def, slot.bytes, slot.size, "row").value();
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (c.type != ColumnType::kMemo || jet::IsNull(values[i])) continue;
    std::string field(reinterpret_cast<const char*>(slot.bytes) + layout.var_offsets[c.var_index],
                      layout.var_offsets[c.var_index + 1] - layout.var_offsets[c.var_index]);
    values[i] = AsMdbReaderReadsMemo(pager, field);
  }
  return values;
}

// Every kept copy through mdb-reader in one run of node; each row's fingerprint against ours.
inline void CompareWithMdbReader(const std::string& modules, const std::vector<Snapshot>& snapshots, int* explained) {
  std::string command = "node " + ShellQuote((ProjectRoot() / "tools" / "mdb-reader-export.mjs").string()) + " " + ShellQuote(modules);
  for (const Snapshot& s : snapshots) command += " " + ShellQuote(s.path) + " " + ShellQuote(s.table);
  std::string out;
  ASSERT_EQ(RunCommand(command, &out), 0) << out;
  std::istringstream lines(out);
  for (const Snapshot& s : snapshots) {
    SCOPED_TRACE(s.path);
    std::string header;
    ASSERT_TRUE(std::getline(lines, header));
    size_t at = header.find("\"rows\":");
    ASSERT_NE(at, std::string::npos) << header;
    size_t count = std::stoul(header.substr(at + 7));
    ASSERT_OK_LET(db, jet::Database::Open(s.path));
    ASSERT_OK_LET(def, db.value()->ReadTable(s.table));
    ASSERT_OK_LET(cursor, jet::TableCursor::Open(db.value()->pager(), def.value()));
    size_t rows = 0;
    for (; cursor.value()->Next().value(); ++rows) {
      std::string theirs;
      ASSERT_TRUE(std::getline(lines, theirs));
      std::string ours = FingerprintOf(def.value(), cursor.value()->values());
      if (theirs == ours) continue;
      std::vector<Value> as_they_read = AsMdbReaderReadsRow(db.value()->pager(), def.value(), *cursor.value());
      ASSERT_EQ(theirs, FingerprintOf(def.value(), as_they_read))
          << "row " << rows << " (" << Describe(cursor.value()->values()) << ") reads differently in mdb-reader, and not "
          << "only by its row-end fault; see node tools/mdb-reader-export.mjs " << modules << " --full " << s.path << " "
          << s.table;
      ++*explained;
    }
    EXPECT_EQ(rows, count);
  }
}

}  // namespace velloran_test
