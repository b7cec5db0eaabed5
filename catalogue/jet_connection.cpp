#include "catalogue/jet_connection.h"

#include <filesystem>
#include <variant>

#include "catalogue/jet_design.h"
#include "catalogue/jet_errors.h"
#include "catalogue/query_recordset.h"
#include "catalogue/table_recordset.h"
#include "jet/schema/create_database.h"
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
  const uint64_t db_hold_serial = db->pager().hold_serial();
  auto connection = std::make_unique<JetConnection>(std::move(db));
  if (hold_reads) connection->held_since_open_ = db_hold_serial;
  connection->RefreshTableDefs();
  return connection;
}

std::unique_ptr<Connection> Connection::Open(const std::string& path) { return JetConnection::OpenFile(path, false); }

std::unique_ptr<Connection> Connection::OpenHoldingReads(const std::string& path) { return JetConnection::OpenFile(path, true); }

void Connection::Create(const std::string& path) { ThrowIfError(jet::CreateDatabase(path)); }

JetConnection::JetConnection(std::unique_ptr<jet::Database> db)
    : session_(std::make_shared<DatabaseSession>()), path_(db->path()) {
  session_->db = std::move(db);
}

JetConnection::~JetConnection() { Close(); }

DatabaseSession& JetConnection::Session() {
  if (session_ == nullptr) ThrowInvalid(path_ + ": the connection was closed; open the database again");
  return *session_;
}

void JetConnection::HoldReads() { ThrowIfError(Session().Db().pager().HoldReads()); }

void JetConnection::Remember(const std::string& note) {
  jet::Pager& pager = Session().Db().pager();
  if (held_since_open_ == 0 || !pager.holding_reads() || pager.hold_serial() != held_since_open_) return;
  pager.ShareDecoded<bool>("note: " + note, std::make_shared<const bool>(true));
}

bool JetConnection::Remembers(const std::string& note) {
  jet::Pager& pager = Session().Db().pager();
  jet::ReadScope scope(pager);  // looks at the file's stamp, unless a hold did just now
  ThrowIfError(scope.status());
  return pager.SharedDecoded<bool>("note: " + note) != nullptr;
}

void JetConnection::ReleaseReads() {
  if (session_ != nullptr && session_->db != nullptr) session_->db->pager().ReleaseReads();
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
    auto statement = jet::ParseSelect(source);
    if (statement.ok()) return QueryRecordset::Open(session_, source, std::move(statement).value());
    // A table may be named like a statement; only when there is none is the text a bad query.
    jet::ReadScope scope(db.pager());
    ThrowIfError(scope.status());
    ThrowIfError(db.RefreshCatalogue());
    if (db.FindTable(TableName(source)) == nullptr) ThrowError(statement.error());
    return TableRecordset::Open(session_, TableName(source));
  }
  const std::string name = TableName(source);
  TableRecordset::CheckNoOtherWriter(db);
  {
    jet::ReadScope scope(db.pager());
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
  if (!parsed.ok()) {
    const std::string word = FirstWord(statement);
    if (word != "UPDATE" && word != "DROP" && word != "SELECT") {
      ThrowInvalid("Execute runs UPDATE, DROP INDEX and DROP TABLE statements; it cannot run: " + statement);
    }
    ThrowError(parsed.error());
  }
  if (std::holds_alternative<jet::SelectStatement>(parsed.value())) {
    ThrowInvalid("Execute runs UPDATE, DROP INDEX and DROP TABLE statements, not queries; open a query with "
                 "OpenRecordset: " + statement);
  }
  if (const auto* update = std::get_if<jet::UpdateStatement>(&parsed.value())) return RunUpdate(*update, statement);
  if (const auto* drop = std::get_if<jet::DropIndexStatement>(&parsed.value())) {
    return Write([&](jet::Pager& pager) { return jet::DropIndex(pager, drop->table.name, drop->index.name); }, statement);
  }
  const auto& drop = std::get<jet::DropTableStatement>(parsed.value());
  Write([&](jet::Pager& pager) { return jet::DropTable(pager, drop.table.name); }, statement);
}

// Every row the statement selects changes in the one write, or none does.
void JetConnection::RunUpdate(const jet::UpdateStatement& update, const std::string& sql) {
  jet::Database& db = Session().Db();
  Write([&](jet::Pager& pager) { return jet::ExecuteUpdate(db, pager, update, sql).status(); }, sql);
}

void JetConnection::Write(const std::function<jet::Status(jet::Pager&)>& operation, const std::string& statement) {
  jet::Database& db = Session().Db();
  jet::Status status = db.Write([&] { return operation(db.pager()); });
  if (!status.ok()) ThrowError(NamingStatement(status.error(), statement));
}

void JetConnection::RefreshTableDefs() {
  jet::Database& db = Session().Db();
  // The catalogue check asks for the definitions before nearly every step; while the file is as
  // they describe it, they are still right.
  if (table_defs_mark_ && db.StillCurrent(*table_defs_mark_)) return;
  jet::ReadScope scope(db.pager());
  ThrowIfError(scope.status());
  if (auto kept = db.pager().SharedDecoded<std::vector<TableInfo>>("table list")) {
    table_defs_ = *kept;  // another connection of this program described the file as it is
    table_defs_mark_ = db.Mark();
    return;
  }
  ThrowIfError(db.RefreshCatalogue());
  std::vector<TableInfo> tables;
  for (const jet::CatalogEntry& entry : db.objects()) {
    if (entry.IsLinkedTable()) {
      TableInfo linked;
      linked.name = entry.name;
      linked.attributes = AttributesOf(entry);
      tables.push_back(std::move(linked));
      continue;
    }
    if (!entry.IsTable()) continue;
    auto def = jet::ReadTableDef(db.pager(), entry.DefinitionPage());
    if (!def.ok()) ThrowError(def.error().WithContext("reading table \"" + entry.name + "\""));
    def->name = entry.name;
    const TableProperties* properties = ValueOrThrow(Session().PropertiesOf(entry.name));
    tables.push_back(DescribeTable(def.value(), db.version(), properties, AttributesOf(entry)));
  }
  table_defs_ = std::move(tables);
  table_defs_mark_ = db.Mark();
  db.pager().ShareDecoded("table list", std::make_shared<const std::vector<TableInfo>>(table_defs_));
}

TableInfo JetConnection::TableDef(const std::string& name) {
  jet::Database& db = Session().Db();
  if (table_defs_mark_ && db.StillCurrent(*table_defs_mark_)) {
    for (const TableInfo& table : table_defs_) {
      if (jet::SameObjectName(table.name, name)) return table;
    }
  }
  jet::ReadScope scope(db.pager());
  ThrowIfError(scope.status());
  ThrowIfError(db.RefreshCatalogue());
  for (const jet::CatalogEntry& entry : db.objects()) {
    if (!entry.IsLinkedTable() || !jet::SameObjectName(entry.name, name)) continue;
    TableInfo linked;
    linked.name = entry.name;
    linked.attributes = AttributesOf(entry);
    return linked;
  }
  const jet::CatalogEntry* entry = db.FindTable(name);
  for (size_t i = 0; entry == nullptr && i < db.objects().size(); ++i) {
    if (db.objects()[i].IsTable() && jet::SameObjectName(db.objects()[i].name, name)) entry = &db.objects()[i];
  }
  if (entry == nullptr) throw EngineError(EngineError::Kind::kNotFound, path_ + ": there is no table named \"" + name + "\"");
  const uint32_t attributes = AttributesOf(*entry);
  jet::TableDef def = ValueOrThrow(db.ReadTable(entry->name));
  const TableProperties* properties = ValueOrThrow(Session().PropertiesOf(def.name));
  return DescribeTable(def, db.version(), properties, attributes);
}

void JetConnection::CreateTable(const std::string& table, const std::vector<NewField>& fields) {
  jet::TableDesign design;
  design.name = table;
  for (const NewField& field : fields) design.columns.push_back(ValueOrThrow(ColumnDesignOf(field)));
  Write([&](jet::Pager& pager) { return jet::CreateTable(pager, design); });
}

void JetConnection::AppendField(const std::string& table, const NewField& field) {
  jet::ColumnDesign design = ValueOrThrow(ColumnDesignOf(field));
  Write([&](jet::Pager& pager) { return jet::AddColumn(pager, table, design); });
}

void JetConnection::DeleteField(const std::string& table, const std::string& field) {
  Write([&](jet::Pager& pager) { return jet::DropColumn(pager, table, field); });
}

void JetConnection::AppendIndex(const std::string& table, const NewIndex& index) {
  const jet::IndexDesign design = IndexDesignOf(index);
  Write([&](jet::Pager& pager) { return jet::AddIndex(pager, table, design); });
}

}  // namespace velloran
