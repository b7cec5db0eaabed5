#include "jet/database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <set>

#include "jet/file/file_lock.h"
#include "jet/schema/create_database.h"
#include "jet/table/row_at.h"
#include "jet/text/text_fold.h"

namespace jet {

namespace {

bool SameEntries(const std::vector<CatalogEntry>& a, const std::vector<CatalogEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const CatalogEntry& x = a[i];
    const CatalogEntry& y = b[i];
    if (x.id != y.id || x.parent_id != y.parent_id || x.name != y.name || x.type != y.type || x.flags != y.flags ||
        x.linked_database != y.linked_database || x.foreign_name != y.foreign_name) {
      return false;
    }
  }
  return true;
}

// A write that meets damage has changed nothing in the file (its pages were only in memory):
// the message says so, and what to do before writing again.
Status RefusedIfDamaged(Status status) {
  if (status.ok() || status.error().code() != ErrorCode::kCorrupt) return status;
  const std::string& what = status.error().message();
  const bool advised = what.find("from a copy") != std::string::npos;
  return Error(ErrorCode::kCorrupt, what + ". The database is damaged, so nothing was written to it" +
                                        (advised ? "" : "; repair it from a copy (a backup made before the damage) before changing it"));
}

}  // namespace

Result<std::unique_ptr<Database>> Database::Open(const std::string& path, Pager::Mode mode, bool hold_reads) {
  Result<std::unique_ptr<Pager>> pager = Pager::Open(path, mode, hold_reads);
  std::string read_only_reason;
  if (!pager.ok() && mode == Pager::Mode::kReadWrite && pager.error().code() == ErrorCode::kReadOnly) {
    read_only_reason = pager.error().message();
    pager = Pager::Open(path, Pager::Mode::kReadOnly, hold_reads);
  }
  if (!pager.ok()) return pager.error();
  std::unique_ptr<Database> db(new Database(std::move(pager).value()));
  db->read_only_reason_ = std::move(read_only_reason);
  JET_RETURN_IF_ERROR(db->LoadCatalogue());
  return db;
}

Status Database::Create(const std::string& path) { return CreateDatabase(path); }

Database::~Database() {
  RollbackTransaction();  // an unfinished transaction never reaches the file
}

Status Database::LoadCatalogue() {
  ReadScope scope(*pager_);
  JET_RETURN_IF_ERROR(scope.status());
  JET_ASSIGN_OR_RETURN(objects_, DecodeCatalogue());
  objects_generation_ = pager_->generation();
  return Status::Ok();
}

// Every search opens the database afresh: what another handle of this process decoded from the
// same pages serves again.
Result<std::vector<CatalogEntry>> Database::DecodeCatalogue() {
  if (auto kept = pager_->SharedDecoded<std::vector<CatalogEntry>>("catalogue")) return *kept;
  JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> objects, ReadCatalogue(*pager_));
  pager_->ShareDecoded("catalogue", std::make_shared<const std::vector<CatalogEntry>>(objects));
  return objects;
}

Result<TableDef> Database::DecodeTable(const CatalogEntry& entry) {
  const std::string key = "table " + std::to_string(entry.DefinitionPage());
  if (auto kept = pager_->SharedDecoded<TableDef>(key); kept != nullptr && kept->name == entry.name) return *kept;
  auto def = ReadTableDef(*pager_, entry.DefinitionPage());
  if (!def.ok()) return def.error().WithContext("reading table \"" + entry.name + "\"");
  def->name = entry.name;
  pager_->ShareDecoded(key, std::make_shared<const TableDef>(def.value()));
  return def;
}

Status Database::RefreshCatalogue() {
  if (objects_generation_ == pager_->generation()) return Status::Ok();
  JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> objects, DecodeCatalogue());
  // Callers may be walking objects() while they read tables: keep the vector when nothing changed.
  if (!SameEntries(objects, objects_)) objects_ = std::move(objects);
  objects_generation_ = pager_->generation();
  return Status::Ok();
}

std::vector<std::string> Database::UserTableNames() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : objects_)
    if (e.IsUserTable()) names.push_back(e.name);
  return names;
}

const CatalogEntry* Database::FindTable(const std::string& name) const {
  for (const CatalogEntry& e : objects_)
    if (e.IsTable() && SameObjectName(e.name, name)) return &e;
  return nullptr;
}

Result<TableDef> Database::ReadTable(const std::string& name) {
  ReadScope scope(*pager_);
  JET_RETURN_IF_ERROR(scope.status());
  JET_RETURN_IF_ERROR(RefreshCatalogue());
  const CatalogEntry* entry = FindTable(name);
  if (entry == nullptr) return Error(ErrorCode::kNotFound, path() + ": there is no table named \"" + name + "\"");
  // A search checks the table's design many times over; decoding it once per state of the file
  // is enough.
  if (defs_generation_ != pager_->generation()) {
    defs_.clear();
    defs_generation_ = pager_->generation();
  }
  auto kept = defs_.find(entry->DefinitionPage());
  if (kept != defs_.end() && kept->second.name == entry->name) return kept->second;
  JET_ASSIGN_OR_RETURN(TableDef def, DecodeTable(*entry));
  defs_[entry->DefinitionPage()] = def;
  return def;
}

Result<bool> Database::ReadRowAt(const TableDef& def, RowId id, const std::vector<size_t>& columns,
                                 std::vector<Value>* values) {
  return jet::ReadRowAt(*pager_, def, id, columns, values);
}

Result<RowId> Database::RowHome(RowId id) { return jet::RowHome(*pager_, id); }

Result<std::unique_ptr<RowOrder>> Database::OpenStorageOrder(const TableDef& def) {
  return jet::OpenStorageOrder(*pager_, def, &owned_pages_);
}

Result<std::unique_ptr<RowOrder>> Database::OpenIndexOrder(const TableDef& def, size_t logical_index) {
  if (logical_index >= def.logical_indexes.size()) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\" has no index " + std::to_string(logical_index));
  }
  return jet::OpenIndexOrder(*pager_, def, def.logical_indexes[logical_index].physical_index);
}

Result<const TableProperties*> Database::ColumnPropertiesOf(const std::string& table) {
  using Properties = std::map<std::string, TableProperties>;
  if (properties_ == nullptr || properties_generation_ != pager_->generation()) {
    properties_ = pager_->SharedDecoded<Properties>("column properties");
    if (properties_ == nullptr) {
      JET_ASSIGN_OR_RETURN(Properties read, ReadColumnProperties(*pager_));
      properties_ = std::make_shared<const Properties>(std::move(read));
      pager_->ShareDecoded("column properties", properties_);
    }
    properties_generation_ = pager_->generation();
  }
  for (const auto& [name, columns] : *properties_)
    if (SameObjectName(name, table)) return &columns;
  return static_cast<const TableProperties*>(nullptr);
}

// The notes are one set per state of the file, shared like the pages: a new state starts empty.
void Database::Remember(const std::string& note) {
  using Notes = std::set<std::string>;
  std::shared_ptr<const Notes> kept = pager_->SharedDecoded<Notes>("notes");
  auto notes = std::make_shared<Notes>(kept != nullptr ? *kept : Notes{});
  notes->insert(note);
  pager_->ShareDecoded<Notes>("notes", std::move(notes));
}

Result<bool> Database::Remembers(const std::string& note) {
  ReadScope scope(*pager_);  // looks at the file's stamp, unless a hold did just now
  JET_RETURN_IF_ERROR(scope.status());
  std::shared_ptr<const std::set<std::string>> notes = pager_->SharedDecoded<std::set<std::string>>("notes");
  return notes != nullptr && notes->count(note) != 0;
}

Status Database::Write(const std::function<Status()>& operation) {
  if (!pager_->writable() && !read_only_reason_.empty()) return Error(ErrorCode::kReadOnly, read_only_reason_);
  if (in_transaction_) {
    Status status = RefreshCatalogue();
    if (status.ok()) status = operation();
    if (!status.ok()) RollbackTransaction();
    return RefusedIfDamaged(status);
  }
  JET_RETURN_IF_ERROR(pager_->BeginWrite());
  Status status = RefreshCatalogue();
  if (status.ok()) status = operation();
  if (status.ok()) status = pager_->Commit();
  // A failed commit leaves its journal behind, which the next open replays; dropping the
  // in-memory pages here keeps this handle consistent with the file meanwhile.
  if (!status.ok() && pager_->in_write()) pager_->Rollback();
  return RefusedIfDamaged(status);
}

Status Database::BeginTransaction() {
  if (in_transaction_) return Error(ErrorCode::kInvalidArgument, path() + ": a transaction is already open");
  if (!pager_->writable() && !read_only_reason_.empty()) return Error(ErrorCode::kReadOnly, read_only_reason_);
  JET_RETURN_IF_ERROR(pager_->BeginWrite());
  in_transaction_ = true;
  return Status::Ok();
}

Status Database::CommitTransaction() {
  if (!in_transaction_) return Error(ErrorCode::kInvalidArgument, path() + ": no transaction is open to commit");
  in_transaction_ = false;
  Status status = pager_->Commit();
  if (!status.ok() && pager_->in_write()) pager_->Rollback();
  return status;
}

void Database::RollbackTransaction() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  if (pager_->in_write()) pager_->Rollback();
}

Result<int64_t> Database::ChangeStamp() const { return pager_->StampNow(); }

Result<int64_t> Database::FileChangeStamp(const std::string& path) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<OsFile> file, Os::Default().Open(path, OpenMode::kRead));
  JET_ASSIGN_OR_RETURN(FileInfo info, file->Stat());
  return ChangeStampOf(info);
}

Database::ReadMark Database::Mark() const {
  return ReadMark{pager_->generation(), pager_->file_stamp(), pager_->process_commits()};
}

bool Database::StillCurrent(const ReadMark& mark) const {
  if (mark.generation != pager_->generation() || mark.process_commits != pager_->process_commits()) return false;
  // While this handle holds the read lock no one can commit, and the hold began with a look at
  // the file: what was read at the stamp the hold saw is still what the file holds.
  if (pager_->holding_reads() && mark.stamp == pager_->file_stamp()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (!stamp_seen_ || now - stamp_seen_at_ >= kStampRecheck) {
    Result<int64_t> stamp = ChangeStamp();
    if (!stamp.ok()) return false;
    stamp_seen_ = stamp.value();
    stamp_seen_at_ = now;
  }
  return *stamp_seen_ == mark.stamp;
}

Status Database::CheckNoOtherWriter(int wait_ms) {
  const bool held = pager_->holding_reads();
  if (held && no_writer_in_hold_ == pager_->hold_serial()) return Status::Ok();
  Status status = CheckAccessLockFile(path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (status.ok()) {
    Result<bool> other = pager_->OtherWriterActive();
    if (!other.ok()) {
      status = other.error();
      break;
    }
    if (!other.value()) {
      if (!held) return Status::Ok();
      if (pager_->holding_reads()) {
        no_writer_in_hold_ = pager_->hold_serial();
        return Status::Ok();
      }
      // The hold was let go so that the writer could finish; it begins again here, so that what
      // the caller reads next is one state of the file again. A writer that began meanwhile is
      // looked for once more.
      status = pager_->HoldReads();
      continue;
    }
    pager_->ReleaseReads();  // that writer cannot commit while this handle holds the read lock
    if (std::chrono::steady_clock::now() >= deadline) {
      status = Error(ErrorCode::kLocked, path() + ": another program is changing the database; try again when it has finished");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The caller will report it and may wait for the user's answer: not while holding the lock.
  pager_->ReleaseReads();
  return status;
}

}  // namespace jet
