// The catalogue: the rows of MSysObjects, which name every table, query and container of a
// database. A table's row carries the page of its definition as its Id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

enum class ObjectType : int16_t {
  kTable = 1,
  kDatabaseProperties = 2,
  kContainer = 3,
  kLinkedOdbcTable = 4,
  kQuery = 5,
  kLinkedTable = 6,
  kRelationship = 8,
};

constexpr uint32_t kCatalogueTablePage = 2;   // MSysObjects' definition
constexpr uint32_t kObjectFlagSystem = 0x80000000;
constexpr uint32_t kObjectFlagSystemTable = 0x00000002;
constexpr uint32_t kObjectFlagHidden = 0x00000008;

struct CatalogEntry {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;  // UTF-8
  int16_t type = 0;
  uint32_t flags = 0;
  std::string linked_database;  // linked tables: the other file
  std::string foreign_name;     // linked tables: the table's name there

  bool IsTable() const { return type == static_cast<int16_t>(ObjectType::kTable); }
  bool IsLinkedTable() const {
    return type == static_cast<int16_t>(ObjectType::kLinkedTable) || type == static_cast<int16_t>(ObjectType::kLinkedOdbcTable);
  }
  bool IsSystem() const { return (flags & (kObjectFlagSystem | kObjectFlagSystemTable)) != 0; }
  bool IsHidden() const { return (flags & kObjectFlagHidden) != 0; }
  bool IsUserTable() const { return IsTable() && !IsSystem(); }
  uint32_t DefinitionPage() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
};

// Reads every catalogue row, in storage order.
Result<std::vector<CatalogEntry>> ReadCatalogue(Pager& pager);

}  // namespace jet
