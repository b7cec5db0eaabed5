// The song table's design and the small toolkit of design operations behind it: finding tables,
// fields and indexes, creating the ones the program needs, removing the old ones, and numbering
// rows that arrived without an ID.
//
// The song table the program works with has the fields ID (Long, index "PrimaryKey"), SongNumber
// (Long, index "SongNumber"), DiskID, Song (index "Song"), Artist (index "Artist") as Text(255),
// PrintYN (Boolean) and HotlistA (Text(10), index "HotlistA"). Every index made here is plain:
// ascending, neither primary nor unique ("PrimaryKey" is only a name). The four mapped fields are
// created by the table and field selector; PrepareTable adds the rest.
//
// Engine errors are not caught here (they end the operation), except around opening a table in
// FieldExists, where another program holding the file gets the user's Retry or Cancel.
#pragma once

#include <string>

#include "catalogue/catalogue_host.h"
#include "catalogue/database_list.h"
#include "catalogue/engine.h"

namespace velloran {

// Field type codes as the design operations take them.
constexpr int16_t kTypeBoolean = 1;
constexpr int16_t kTypeLong = 4;
constexpr int16_t kTypeText = 10;
constexpr int16_t kTypeMemo = 12;

class CatalogueDesign {
 public:
  CatalogueDesign(Connection& db, CatalogueHost& host) : db_(db), host_(host) {}

  // Whether the table exists (names compared by SameName), after refreshing the table list.
  bool TableExists(const std::string& table);
  // Whether the table has the field (SameName); false without the table. While another program
  // holds the table the user is asked to retry or cancel; cancel ends the program. Other errors
  // (a damaged file) end the operation.
  bool FieldExists(const std::string& table, const std::string& field);
  // Whether the table has an index of exactly this name (letter case counts).
  bool IndexExists(const std::string& table, const std::string& index);

  // Adds the field unless the table has it, creating the table (with a Long field "ID") first
  // when it is missing. A size above 0 is kept and lets the field hold zero-length text; Text and
  // Memo fields always allow zero-length text. Size -1 means none given.
  void CreateField(const std::string& table, const std::string& field, int16_t type, int16_t size = -1);
  // Creates a plain index on the comma-separated fields (no blanks trimmed) unless an index of
  // that name exists. Without the table the user is told; when a field is missing nothing is
  // created and nothing said.
  void CreateIndex(const std::string& table, const std::string& index, const std::string& fields);
  void DeleteField(const std::string& table, const std::string& field);
  void DropIndex(const std::string& table, const std::string& index);

  // Fills the entry's empty names with their defaults ("MyList", then SongFields'), then answers whether the table and all four mapped fields exist.
  bool CheckFieldMapping(DatabaseEntry& entry);
  // Brings the table to the program's design (creating it when missing) and numbers the rows that
  // have no ID, from the highest ID up, in PrimaryKey order. The indexes "Song", "Artist" and
  // "SongNumber" go on the fields `fields` maps to those roles. Always true.
  bool PrepareTable(const std::string& table, const SongFields& fields = SongFields{});

 private:
  // The host's question, asked with the connection's hold of the read lock let go: the user may
  // take long to answer, and another program's write would wait all that time.
  MessageAnswer Ask(const std::string& text, MessageButtons buttons);

  Connection& db_;
  CatalogueHost& host_;
};

}  // namespace velloran
