// The system tables of a new Access 2000 database, defined as Access defines them: the same
// columns in the same order with the same numbers, storage places and flags, and the same
// indexes, so that their definitions come out as Access writes them.
//
// Also the fixed identities of the catalogue: container ids, the owner SIDs of the default
// workgroup, and the access rights Access grants on new objects.
#pragma once

#include <cstdint>
#include <string>

#include "jet/pages/table_def_writer.h"

namespace jet {

enum class SystemTable { kObjects, kAces, kQueries, kRelationships, kAccessObjects };

// The definition of a system table at `page`, without storage: no usage maps, no root pages
// (see AllocateTableStorage). Row and unique counts are zero.
StoredTableDef SystemTableDefinition(SystemTable table, uint32_t page);

// The catalogue's fixed object ids.
constexpr int32_t kRootContainerId = 0x0F000000;
constexpr int32_t kTablesContainerId = 0x0F000001;
constexpr int32_t kDatabasesContainerId = 0x0F000002;
constexpr int32_t kRelationshipsContainerId = 0x0F000003;
constexpr int32_t kDatabasePropertiesId = 0x10000000;  // the MSysDb row

// Owner and grantee SIDs of the default workgroup: the engine itself, the Admin user, the Users
// group and the object's creator.
inline const std::string kEngineSid("\xA7\x31", 2);
inline const std::string kAdminUserSid("\xA6\x33", 2);
inline const std::string kUsersGroupSid("\xA7\x33", 2);
inline const std::string kCreatorSid("\xA7\x36", 2);

// Full rights, as Access grants them on a new table.
constexpr int32_t kFullAccessRights = 1048575;

}  // namespace jet
