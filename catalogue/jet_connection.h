// The Connection the program's interface promises, over the engine's Database opened for reading
// and writing (Access 97 files for reading only).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/engine.h"
#include "catalogue/jet_recordset.h"
#include "jet/database.h"

namespace velloran {

class JetConnection final : public Connection {
 public:
  explicit JetConnection(std::unique_ptr<jet::Database> db);
  // Connection::Open and OpenHoldingReads.
  static std::unique_ptr<Connection> OpenFile(const std::string& path, bool hold_reads);
  ~JetConnection() override;

  const std::string& path() const override { return path_; }

  std::unique_ptr<Recordset> OpenRecordset(const std::string& source) override;
  void Execute(const std::string& statement) override;

  void RefreshTableDefs() override;
  const std::vector<TableInfo>& TableDefs() const override;
  TableInfo TableDef(const std::string& name) override;

  void CreateTable(const std::string& table, const std::vector<NewField>& fields) override;
  void AppendField(const std::string& table, const NewField& field) override;
  void DeleteField(const std::string& table, const std::string& field) override;
  void AppendIndex(const std::string& table, const NewIndex& index) override;

  void HoldReads() override;
  void ReleaseReads() override;
  void Remember(const std::string& note) override;
  bool Remembers(const std::string& note) override;

  void BeginTrans() override;
  void CommitTrans() override;
  void Rollback() override;
  void Close() override;

 private:
  DatabaseSession& Session();  // throws kInvalid once closed
  // Runs `operation` as one write; a failure is thrown, with `statement` named when the engine's
  // message does not name it already.
  void Write(const std::function<jet::Status(jet::Database&)>& operation, const std::string& statement = "");

  std::shared_ptr<DatabaseSession> session_;
  std::string path_;
  // Described when first asked for after opening: a search never asks.
  mutable std::vector<TableInfo> table_defs_;
  mutable std::optional<jet::Database::ReadMark> table_defs_mark_;  // the file as table_defs_ describe it
  // The hold_serial of the hold the connection was opened with (0: opened without one).
  uint64_t held_since_open_ = 0;
};

}  // namespace velloran
