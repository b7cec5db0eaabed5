// Helpers shared by the design-operation tests: reading tables back, running the mdbtools
// commands, and short ways to write column and index designs.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jet/schema/system_catalogue_writer.h"
#include "jet/database.h"
#include "jet/schema_editor.h"
#include "jet/pages/usage_map.h"
#include "jet/writable_database.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/test_support.h"

namespace schema_test {

using jet::ColumnType;
using jet::Value;

using velloran_test::Have;
using velloran_test::Hex;
using velloran_test::Problems;
using velloran_test::ReadRows;
using velloran_test::ReadWholeFile;
using velloran_test::RunCommand;

inline jet::TableDef TableNamed(jet::Pager& pager, const std::string& name) {
  auto entries = jet::ReadCatalogue(pager);
  EXPECT_TRUE(entries.ok());
  for (const jet::CatalogEntry& e : entries.value()) {
    if (e.IsTable() && e.name == name) {
      EXPECT_OK_LET(def, jet::ReadTableDef(pager, e.DefinitionPage()));
      def->name = name;
      return def.value();
    }
  }
  ADD_FAILURE() << "no table " << name;
  return {};
}

// "Name Type #n" per column and "Name (cols) flags" per index: what a design says, not where.
inline std::string Design(const jet::TableDef& d) {
  std::string s;
  for (const jet::ColumnDef& c : d.columns) {
    s += c.name + " " + jet::ColumnTypeName(c.type) + " #" + std::to_string(c.number) + " len " + std::to_string(c.length) +
         " flags " + std::to_string(c.flags) + "/" + std::to_string(c.extra_flags) + "; ";
  }
  for (const jet::LogicalIndex& li : d.logical_indexes) {
    const jet::PhysicalIndex& pi = d.physical_indexes[li.physical_index];
    s += li.name + " #" + std::to_string(li.number) + " -> " + std::to_string(li.physical_index) + " (";
    for (const jet::IndexColumn& c : pi.columns) s += std::to_string(c.column_number) + (c.ascending ? "+" : "-");
    s += ") t" + std::to_string(li.type) + " f" + std::to_string(pi.flags) + "; ";
  }
  return s;
}

inline std::string TextOf(const Value& v) { return std::holds_alternative<jet::Text>(v) ? jet::ToUtf8(std::get<jet::Text>(v)) : ""; }
inline int64_t IntOf(const Value& v) { return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : -1; }
inline std::string BytesOf(const Value& v) { return std::holds_alternative<jet::Bytes>(v) ? std::get<jet::Bytes>(v) : ""; }

inline jet::ColumnDesign Column(const std::string& name, ColumnType type, uint16_t size = 255) { return {.name = name, .type = type, .size = size}; }

inline jet::IndexDesign Index(const std::string& name, std::vector<jet::IndexColumnDesign> columns, bool primary = false, bool unique = false) {
  return {.name = name, .columns = std::move(columns), .primary = primary, .unique = unique};
}

inline jet::Status InsertAll(jet::WritableDatabase& db, const std::string& table, const std::vector<std::vector<Value>>& rows) {
  return db.Write([&]() -> jet::Status {
    jet::TableDef def = TableNamed(db.pager(), table);
    return jet::InsertRows(db.pager(), def, rows);
  });
}

// The catalogue and a usage map's pages, by value (a range-for over a temporary Result's value
// would outlive the Result).
inline std::vector<jet::CatalogEntry> Catalogue(jet::Pager& pager) {
  auto entries = jet::ReadCatalogue(pager);
  EXPECT_TRUE(entries.ok());
  return entries.ok() ? entries.value() : std::vector<jet::CatalogEntry>();
}

inline std::vector<uint32_t> UsagePages(jet::Pager& pager, uint32_t map) {
  auto pages = jet::ReadUsageMap(pager, map);
  EXPECT_TRUE(pages.ok());
  return pages.ok() ? pages.value() : std::vector<uint32_t>();
}

// Holds every named table of `path` up to mdb-reader, row by row against our reader (see
// other_readers.h); leaves a note when node is not installed.
inline void ExpectMdbReaderAgrees(const std::string& path, const std::vector<std::string>& tables) {
  std::string modules = velloran_test::MdbReaderOrNote();
  if (modules.empty()) return;
  std::vector<velloran_test::Snapshot> snapshots;
  for (const std::string& table : tables) snapshots.push_back({path, table});
  int explained = 0;
  velloran_test::CompareWithMdbReader(modules, snapshots, &explained);
}

// Pages the global usage map lists as free.
inline std::set<uint32_t> FreePages(jet::Pager& pager) {
  auto free = jet::ReadUsageMap(pager, jet::kGlobalUsageMapPointer);
  EXPECT_TRUE(free.ok());
  return free.ok() ? std::set<uint32_t>(free->begin(), free->end()) : std::set<uint32_t>();
}

}  // namespace schema_test
