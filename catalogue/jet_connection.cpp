#include "catalogue/jet_connection.h"

#include <filesystem>
#include <variant>

#include "catalogue/jet_design.h"
#include "catalogue/jet_errors.h"
#include "catalogue/query_recordset.h"
#include "catalogue/table_recordset.h"
#include "jet/convert_database.h"
#include "jet/schema_editor.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_update.h"

namespace velloran {

namespace {

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  const size_t end = text.find_last_not_of(" \t\r\n;");
  return end < begin ? std::string() : text.substr(begin, end - begin + 1);
}

// The statement's first word, upper-cased.
std::string FirstWord(const std::string& text) {
  std::string word;
  for (char c : Trim(text)) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) break;
    word += static_cast<char>(c >= 'a' ? c - 32 : c);
  }
  return word;
}

// A table name as a caller may write it: bare or in brackets.
std::string TableName(const std::string& source) {
  std::string name = Trim(source);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  return name;
}

// A linked table's rows and design are in another file: the list only names it.
TableInfo LinkedTable(const jet::CatalogEntry& entry) {
  TableInfo linked;
  linked.name = entry.name;
  linked.attributes = AttributesOf(entry);
  return linked;
}

jet::Error NamingStatement(const jet::Error& error, const std::string& statement) {
  if (statement.empty() || error.message().find(statement) != std::string::npos) return error;
  return jet::Error(error.code(), error.message() + " (running: " + statement + ")");
}

}  // namespace

std::unique_ptr<Connection> JetConnection::OpenFile(const std::string& path, bool hold_reads) {
  auto opened = jet::Database::Open(path, jet::Pager::Mode::kReadWrite, hold_reads);
  std::error_code ignored;
  if (!opened.ok() && !std::filesystem::exists(path, ignored)) {
    throw EngineError(EngineError::Kind::kNotFound, path + ": there is no such file; check the database's name and folder");
  }
  std::unique_ptr<jet::Database> db = ValueOrThrow(std::move(opened));
  const uint64_t db_hold_serial = db->hold_serial();
  auto connection = std::make_unique<JetConnection>(std::move(db));
  if (hold_reads) connection->held_since_open_ = db_hold_serial;
  return connection;
}

bool SameName(const std::string& a, const std::string& b) { return jet::SameObjectName(a, b); }

std::unique_ptr<Connection> Connection::Open(const std::string& path) { return JetConnection::OpenFile(path, false); }

std::unique_ptr<Connection> Connection::OpenHoldingReads(const std::string& path) { return JetConnection::OpenFile(path, true); }

void Connection::Create(const std::string& path) { ThrowIfError(jet::Database::Create(path)); }

bool Connection::IsAccess97(const std::string& path) {
  jet::Result<std::unique_ptr<jet::Database>> db = jet::Database::Open(path);
  return db.ok() && db.value()->version() == jet::JetVersion::kJet3;
}

void Connection::ConvertToAccess2000(const std::string& source, const std::string& target) {
  ThrowIfError(jet::ConvertToAccess2000(source, target));
}

JetConnection::JetConnection(std::unique_ptr<jet::Database> db)
    : session_(std::make_shared<DatabaseSession>()), path_(db->path()) {
  session_->db = std::move(db);
}

JetConnection::~JetConnection() { Close(); }

DatabaseSession& JetConnection::Session() {
  if (session_ == nullptr) ThrowInvalid(path_ + ": the connection was closed; open the database again");
  return *session_;
}

void JetConnection::HoldReads() { ThrowIfError(Session().Db().HoldReads()); }

void JetConnection::Remember(const std::string& note) {
  jet::Database& db = Session().Db();
  if (held_since_open_ == 0 || !db.holding_reads() || db.hold_serial() != held_since_open_) return;
  db.Remember(note);
}

bool JetConnection::Remembers(const std::string& note) { return ValueOrThrow(Session().Db().Remembers(note)); }

void JetConnection::ReleaseReads() {
  if (session_ != nullptr && session_->db != nullptr) session_->db->ReleaseReads();
}

void JetConnection::BeginTrans() { ThrowIfError(Session().Db().BeginTransaction()); }

void JetConnection::CommitTrans() { ThrowIfError(Session().Db().CommitTransaction()); }

void JetConnection::Rollback() { Session().Db().RollbackTransaction(); }

void JetConnection::Close() {
  if (session_ == nullptr) return;
  ReleaseReads();  // sets left open keep the handle, not the lock
  session_->closed = true;  // sets still open fail from now on; the handle goes with the last of them
  session_.reset();
}

std::unique_ptr<Recordset> JetConnection::OpenRecordset(const std::string& source) {
  DatabaseSession& session = Session();
  jet::Database& db = session.Db();
  if (FirstWord(source) == "SELECT") {
    try {
      return QueryRecordset::Open(session_, source);
    } catch (const EngineError&) {
      // A table may be named like a statement; only when there is none is the text a bad query.
      jet::ReadLock scope(db);
      ThrowIfError(scope.status());
      ThrowIfError(db.RefreshCatalogue());
      if (db.FindTable(TableName(source)) == nullptr) throw;
    }
    return TableRecordset::Open(session_, TableName(source));
  }
  const std::string name = TableName(source);
  TableRecordset::CheckNoOtherWriter(db);
  {
    jet::ReadLock scope(db);
    ThrowIfError(scope.status());
    ThrowIfError(db.RefreshCatalogue());
    if (db.FindTable(name) == nullptr) {
      for (const jet::CatalogEntry& entry : db.objects()) {
        if (entry.IsLinkedTable() && jet::SameObjectName(entry.name, name)) {
          ThrowInvalid(path_ + ": \"" + entry.name + "\" is a linked table whose rows are in " + entry.linked_database +
                       "; open that database to read them");
        }
      }
      const std::string word = FirstWord(source);
      if (word == "UPDATE" || word == "DROP") {
        ThrowInvalid("OpenRecordset takes a SELECT statement or a table name; run this statement with Execute: " + source);
      }
      throw EngineError(EngineError::Kind::kNotFound, path_ + ": there is no table named \"" + name + "\"");
    }
    return TableRecordset::OpenChecked(session_, name);
  }
}

void JetConnection::Execute(const std::string& statement) {
  Session();
  auto parsed = jet::ParseStatement(statement);
  const std::string cannot = "Execute runs UPDATE, DROP INDEX and DROP TABLE statements; it cannot run: " + statement;
  if (!parsed.ok()) {
    const std::string word = FirstWord(statement);
    if (word != "UPDATE" && word != "DROP" && word != "SELECT") ThrowInvalid(cannot);
    ThrowError(parsed.error());
  }
  if (std::holds_alternative<jet::DeleteStatement>(parsed.value())) ThrowInvalid(cannot);
  if (std::holds_alternative<jet::SelectStatement>(parsed.value())) {
    ThrowInvalid("Execute runs UPDATE, DROP INDEX and DROP TABLE statements, not queries; open a query with "
                 "OpenRecordset: " + statement);
  }
  if (const auto* update = std::get_if<jet::UpdateStatement>(&parsed.value())) {
    // Every row the statement selects changes in the one write, or none does.
    return Write([&](jet::Database& db) { return jet::ExecuteUpdate(db, db.pager(), *update, statement).status(); }, statement);
  }
  if (const auto* drop = std::get_if<jet::DropIndexStatement>(&parsed.value())) {
    return Write([&](jet::Database& db) { return jet::DropIndex(db.pager(), drop->table.name, drop->index.name); }, statement);
  }
  const auto& drop = std::get<jet::DropTableStatement>(parsed.value());
  Write([&](jet::Database& db) { return jet::DropTable(db.pager(), drop.table.name); }, statement);
}

void JetConnection::Write(const std::function<jet::Status(jet::Database&)>& operation, const std::string& statement) {
  jet::Database& db = Session().Db();
  jet::Status status = db.Write([&] { return operation(db); });
  if (!status.ok()) ThrowError(NamingStatement(status.error(), statement));
}

const std::vector<TableInfo>& JetConnection::TableDefs() const {
  if (!table_defs_mark_) const_cast<JetConnection*>(this)->RefreshTableDefs();
  return table_defs_;
}

void JetConnection::RefreshTableDefs() {
  jet::Database& db = Session().Db();
  // The catalogue check asks for the definitions before nearly every step; while the file is as
  // they describe it, they are still right.
  if (table_defs_mark_ && db.StillCurrent(*table_defs_mark_)) return;
  jet::ReadLock scope(db);
  ThrowIfError(scope.status());
  ThrowIfError(db.RefreshCatalogue());
  std::vector<TableInfo> tables;
  for (const jet::CatalogEntry& entry : db.objects()) {
    if (entry.IsLinkedTable()) {
      tables.push_back(LinkedTable(entry));
      continue;
    }
    if (!entry.IsTable()) continue;
    const jet::TableDef def = ValueOrThrow(db.ReadTable(entry.name));
    const TableProperties* properties = ValueOrThrow(db.ColumnPropertiesOf(entry.name));
    tables.push_back(DescribeTable(def, db.version(), properties, AttributesOf(entry)));
  }
  table_defs_ = std::move(tables);
  table_defs_mark_ = db.Mark();
}

TableInfo JetConnection::TableDef(const std::string& name) {
  jet::Database& db = Session().Db();
  if (table_defs_mark_ && db.StillCurrent(*table_defs_mark_)) {
    for (const TableInfo& table : table_defs_) {
      if (jet::SameObjectName(table.name, name)) return table;
    }
  }
  jet::ReadLock scope(db);
  ThrowIfError(scope.status());
  ThrowIfError(db.RefreshCatalogue());
  const jet::CatalogEntry* entry = nullptr;
  for (const jet::CatalogEntry& e : db.objects()) {
    if ((e.IsTable() || e.IsLinkedTable()) && jet::SameObjectName(e.name, name)) entry = entry != nullptr ? entry : &e;
  }
  if (entry == nullptr) throw EngineError(EngineError::Kind::kNotFound, path_ + ": there is no table named \"" + name + "\"");
  if (entry->IsLinkedTable()) return LinkedTable(*entry);
  const uint32_t attributes = AttributesOf(*entry);
  jet::TableDef def = ValueOrThrow(db.ReadTable(entry->name));
  const TableProperties* properties = ValueOrThrow(db.ColumnPropertiesOf(def.name));
  return DescribeTable(def, db.version(), properties, attributes);
}

void JetConnection::CreateTable(const std::string& table, const std::vector<NewField>& fields) {
  jet::TableDesign design;
  design.name = table;
  for (const NewField& field : fields) design.columns.push_back(ValueOrThrow(ColumnDesignOf(field)));
  Write([&](jet::Database& db) { return jet::CreateTable(db.pager(), design); });
}

void JetConnection::AppendField(const std::string& table, const NewField& field) {
  jet::ColumnDesign design = ValueOrThrow(ColumnDesignOf(field));
  Write([&](jet::Database& db) { return jet::AddColumn(db.pager(), table, design); });
}

void JetConnection::DeleteField(const std::string& table, const std::string& field) {
  Write([&](jet::Database& db) { return jet::DropColumn(db.pager(), table, field); });
}

void JetConnection::AppendIndex(const std::string& table, const NewIndex& index) {
  const jet::IndexDesign design = IndexDesignOf(index);
  Write([&](jet::Database& db) { return jet::AddIndex(db.pager(), table, design); });
}

}  // namespace velloran
