#include "jet/schema/create_database.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/schema/system_catalogue_writer.h"
#include "jet/pages/data_page_writer.h"
#include "jet/file/header.h"
#include "jet/file/journal.h"
#include "jet/file/os.h"
#include "jet/pages/property_map.h"
#include "jet/schema/system_tables.h"
#include "jet/table/table_storage.h"
#include "jet/pages/usage_map_writer.h"

namespace jet {

namespace {

constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kFirstDefinitionPage = 2;   // MSysObjects; then MSysACEs, MSysQueries, MSysRelationships
constexpr uint32_t kSystemMapPage = 6;
constexpr uint32_t kAccessObject = 0x80000000;  // first id of the containers Access adds
constexpr uint32_t kSystemObjectFlag = 0x80000000;
constexpr uint32_t kHiddenTableFlag = 0x00000002;

// The header page before masking. The fields past the sort order that no reader interprets
// (0x18..0x2F, 0x6A, 0x98.., the table at 0xE00) hold what Access 2000 writes there.
std::vector<uint8_t> HeaderPage(double creation_date) {
  std::vector<uint8_t> p(kPageSize, 0);
  p[1] = 0x01;
  std::memcpy(p.data() + 4, "Standard Jet DB", 16);
  p[0x14] = 0x01;  // Jet 4
  static const uint8_t kMaskedPrefix[] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p.data() + 0x18, kMaskedPrefix, sizeof kMaskedPrefix);
  Put16(p.data() + 0x3C, 1252);
  // An empty password reads as the creation date's whole days, repeated.
  uint8_t date_mask[4];
  Put32(date_mask, static_cast<uint32_t>(static_cast<int64_t>(creation_date)));
  for (int i = 0; i < 40; ++i) p[0x42 + i] = date_mask[i % 4];
  Put32(p.data() + 0x6A, 0x21AA);
  Put16(p.data() + 0x6E, 0x0409);  // General sort order
  uint64_t date_bits;
  std::memcpy(&date_bits, &creation_date, sizeof date_bits);
  Put64(p.data() + 0x72, date_bits);
  Put32(p.data() + 0x98, 0x0654);
  std::memcpy(p.data() + 0x9C, "4.0", 4);
  p[0xE00] = 0x01;
  p[0xE01] = 0x01;
  for (uint32_t i = 0xE02; i < kPageSize; i += 2) p[i + 1] = 0x01;
  ToggleHeaderMask(JetVersion::kJet4, p.data(), p.size());
  return p;
}

// Page 1: a data page with the global usage map (row 0: a set bit is a free page; pages 0 and 1
// are in use) and a second, empty map row as Access writes it.
std::vector<uint8_t> GlobalMapPage() {
  std::vector<uint8_t> p(kPageSize, 0);
  const uint32_t row_size = 69;
  p[0] = kPageData;
  p[1] = 0x01;
  Put32(p.data() + 4, 1);
  Put16(p.data() + 12, 2);
  uint32_t row0 = kPageSize - row_size, row1 = row0 - row_size;
  Put16(p.data() + 14, static_cast<uint16_t>(row0));
  Put16(p.data() + 16, static_cast<uint16_t>(row1));
  Put16(p.data() + 2, static_cast<uint16_t>(row1 - 18));
  std::memset(p.data() + row0 + 5, 0xFF, 64);
  p[row0 + 5] = 0xFC;  // pages 0 and 1
  return p;
}

// A file of two pages (header and global usage map), created under a name no one else uses.
Status WriteSkeleton(Os& os, const std::string& path, double creation_date) {
  JET_ASSIGN_OR_RETURN(auto file, os.Open(path, OpenMode::kCreateNew));
  JET_RETURN_IF_ERROR(file->WriteAll(HeaderPage(creation_date).data(), kPageSize, 0));
  JET_RETURN_IF_ERROR(file->WriteAll(GlobalMapPage().data(), kPageSize, kPageSize));
  return file->Sync(false);
}

struct ObjectRow {
  uint32_t id;
  uint32_t parent;
  const char* name;
  int16_t type;
  uint32_t flags;
  const std::string* owner;
};

struct AceRow {
  uint32_t object;
  int32_t rights;
  bool inheritable;
  const std::string* sid;
};

std::vector<Value> ObjectValues(const Pager& pager, const TableDef& catalogue, const ObjectRow& o, double date, const std::string& props) {
  std::vector<std::pair<std::string, Value>> v = {
      {"Id", int64_t{static_cast<int32_t>(o.id)}},       {"ParentId", int64_t{static_cast<int32_t>(o.parent)}},
      {"Name", FromUtf8(o.name)},                        {"Type", int64_t{o.type}},
      {"DateCreate", DateTime{date}},                    {"DateUpdate", DateTime{date}},
      {"Owner", Bytes(*o.owner)},                         {"Flags", int64_t{static_cast<int32_t>(o.flags)}}};
  if (!props.empty()) v.emplace_back("LvProp", Bytes(props));
  auto row = MakeRow(pager, catalogue, v);
  return row.ok() ? row.value() : std::vector<Value>();
}

Status InsertCatalogue(Pager& pager, uint32_t access_objects_page, double date) {
  JET_ASSIGN_OR_RETURN(TableDef catalogue, ReadSystemTable(pager, "MSysObjects"));
  const uint32_t root = kRootContainerId, tables = kTablesContainerId, dbs = kDatabasesContainerId;
  const std::vector<ObjectRow> objects = {
      {kTablesContainerId, root, "Tables", 3, kSystemObjectFlag, &kEngineSid},
      {kDatabasesContainerId, root, "Databases", 3, kSystemObjectFlag, &kEngineSid},
      {kRelationshipsContainerId, root, "Relationships", 3, kSystemObjectFlag, &kEngineSid},
      {kDatabasePropertiesId, dbs, "MSysDb", 2, kSystemObjectFlag, &kAdminUserSid},
      {2, tables, "MSysObjects", 1, kSystemObjectFlag, &kEngineSid},
      {3, tables, "MSysACEs", 1, kSystemObjectFlag, &kEngineSid},
      {4, tables, "MSysQueries", 1, kSystemObjectFlag, &kEngineSid},
      {5, tables, "MSysRelationships", 1, kSystemObjectFlag, &kEngineSid},
      {kAccessObject + 0, root, "DataAccessPages", 3, 0, &kAdminUserSid},
      {kAccessObject + 1, root, "Forms", 3, 0, &kAdminUserSid},
      {kAccessObject + 2, root, "Modules", 3, 0, &kAdminUserSid},
      {kAccessObject + 3, root, "Reports", 3, 0, &kAdminUserSid},
      {kAccessObject + 4, root, "Scripts", 3, 0, &kAdminUserSid},
      {kAccessObject + 5, root, "SysRel", 3, 0, &kAdminUserSid},
      {access_objects_page, tables, "MSysAccessObjects", 1, kHiddenTableFlag, &kAdminUserSid}};
  std::string props = EncodePropertyBlob({PropertySet{"", {TextProperty("AccessVersion", kNewDatabaseAccessVersion, false),
                                                           LongProperty("Build", kNewDatabaseAccessBuild, false)}}});
  std::vector<std::vector<Value>> rows;
  for (const ObjectRow& o : objects) rows.push_back(ObjectValues(pager, catalogue, o, date, o.id == kDatabasePropertiesId ? props : ""));
  return InsertRows(pager, catalogue, rows);
}

Status InsertAccessControl(Pager& pager, uint32_t access_objects_page) {
  JET_ASSIGN_OR_RETURN(TableDef aces, ReadSystemTable(pager, "MSysACEs"));
  const int32_t all = kFullAccessRights;
  std::vector<AceRow> entries;
  auto access_container = [&](uint32_t id) {
    for (const std::string* sid : {&kUsersGroupSid, &kAdminUserSid, &kCreatorSid}) entries.push_back({id, all, true, sid});
  };
  access_container(kAccessObject + 0);
  entries.push_back({kDatabasesContainerId, 393216, false, &kAdminUserSid});
  access_container(kAccessObject + 1);
  access_container(kAccessObject + 2);
  entries.insert(entries.end(), {{kRelationshipsContainerId, 983294, true, &kCreatorSid},
                                 {kRelationshipsContainerId, 393217, false, &kAdminUserSid},
                                 {kRelationshipsContainerId, all, true, &kUsersGroupSid}});
  for (uint32_t id : {kAccessObject + 3, kAccessObject + 4, kAccessObject + 5}) access_container(id);
  entries.insert(entries.end(), {{kTablesContainerId, 983294, true, &kCreatorSid},
                                 {kTablesContainerId, 1048319, true, &kAdminUserSid},
                                 {kTablesContainerId, 1048319, true, &kUsersGroupSid},
                                 {kDatabasePropertiesId, 393230, false, &kAdminUserSid},
                                 {kDatabasePropertiesId, 14, false, &kUsersGroupSid},
                                 {access_objects_page, all, false, &kAdminUserSid},
                                 {access_objects_page, all, false, &kUsersGroupSid},
                                 {3, 393216, false, &kAdminUserSid},
                                 {2, 393216, false, &kAdminUserSid}, {2, 20, false, &kUsersGroupSid},
                                 {4, 393216, false, &kAdminUserSid}, {4, 20, false, &kUsersGroupSid},
                                 {5, 917504, false, &kAdminUserSid}, {5, 20, false, &kUsersGroupSid}});
  std::vector<std::vector<Value>> rows;
  for (const AceRow& e : entries) {
    JET_ASSIGN_OR_RETURN(auto row, MakeRow(pager, aces, {{"ObjectId", int64_t{static_cast<int32_t>(e.object)}},
                                                  {"ACM", int64_t{e.rights}},
                                                  {"FInheritable", e.inheritable},
                                                  {"SID", Bytes(*e.sid)}}));
    rows.push_back(std::move(row));
  }
  return InsertRows(pager, aces, rows);
}

// Definitions, storage and rows of every system table, inside one write.
Status BuildSystemTables(Pager& pager, double date) {
  for (uint32_t page = kFirstDefinitionPage; page <= kSystemMapPage; ++page) JET_RETURN_IF_ERROR(AllocatePage(pager).status());
  JET_RETURN_IF_ERROR(InitDataPage(pager, kSystemMapPage, 0));
  const SystemTable jet_tables[] = {SystemTable::kObjects, SystemTable::kAces, SystemTable::kQueries, SystemTable::kRelationships};
  for (uint32_t i = 0; i < 4; ++i) {
    StoredTableDef stored = SystemTableDefinition(jet_tables[i], kFirstDefinitionPage + i);
    JET_RETURN_IF_ERROR(AllocateTableStorage(pager, &stored, kSystemMapPage));
    JET_RETURN_IF_ERROR(WriteTableDef(pager, stored.def, stored.extras));
  }
  JET_ASSIGN_OR_RETURN(uint32_t access_objects_page, AllocatePage(pager));
  StoredTableDef access_objects = SystemTableDefinition(SystemTable::kAccessObjects, access_objects_page);
  JET_RETURN_IF_ERROR(AllocateTableStorage(pager, &access_objects, 0));
  JET_RETURN_IF_ERROR(WriteTableDef(pager, access_objects.def, access_objects.extras));
  JET_RETURN_IF_ERROR(InsertCatalogue(pager, access_objects_page, date));
  return InsertAccessControl(pager, access_objects_page);
}

std::string TemporaryName(const std::string& path) {
  std::random_device random;
  return path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(random() % 1000000);
}

// Gives the finished file its name, durably. A hard link never replaces an existing file; on file
// systems without hard links the name is checked just before the rename instead.
Status PublishWithoutOverwriting(Os& os, const std::string& from, const std::string& to) {
  const auto appeared = [&] { return Error(ErrorCode::kInvalidArgument, to + ": the file appeared meanwhile; it was left alone"); };
  // A name that may not survive a power cut is taken back: a failure leaves nothing at `to`.
  const auto durable = [&] {
    Status synced = os.SyncFolderOf(to);
    if (!synced.ok()) (void)os.Delete(to);
    return synced;
  };
  auto linked = os.Link(from, to);
  if (linked.ok()) return linked.value() ? durable() : appeared();
  JET_ASSIGN_OR_RETURN(bool exists, os.Exists(to));
  if (exists) return appeared();
  JET_RETURN_IF_ERROR(os.Rename(from, to));
  return durable();
}

}  // namespace

Status CreateDatabase(const std::string& path, const NewDatabaseOptions& options) {
  Os& os = Os::Default();
  JET_ASSIGN_OR_RETURN(bool exists, os.Exists(path));
  if (exists) return Error(ErrorCode::kInvalidArgument, path + ": the file already exists; a new database is never written over it");
  double date = options.creation_date != 0 ? options.creation_date : CurrentOleDate();
  if (!std::isfinite(date) || date < 1 || date > 2958465) {
    return Error(ErrorCode::kInvalidArgument, "a creation date must lie between the years 1900 and 9999");
  }
  const std::string building = TemporaryName(path);
  Status status = WriteSkeleton(os, building, date);
  if (status.ok()) status = [&]() -> Status {
    JET_ASSIGN_OR_RETURN(auto pager, Pager::Open(building, Pager::Mode::kReadWrite));
    JET_RETURN_IF_ERROR(pager->BeginWrite());
    Status built = BuildSystemTables(*pager, date);
    if (!built.ok()) {
      pager->Rollback();
      return built.error().WithContext(path + ": building the new database");
    }
    return pager->Commit();
  }();
  if (status.ok()) status = PublishWithoutOverwriting(os, building, path);
  // The building name goes whatever happened; when it cannot, it is only a leftover beside a
  // database that has its name (or none).
  (void)os.Delete(building);
  (void)os.Delete(JournalPath(building));
  if (!status.ok() && status.error().code() != ErrorCode::kInvalidArgument) {
    return status.error().WithContext(path + ": the new database was not made");
  }
  return status;
}

}  // namespace jet
