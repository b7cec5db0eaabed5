// A table set: every row of one table, in storage order or, after SelectIndex, in the order of
// one of its indexes (as its B-tree keeps them: in an ascending index, rows whose key is empty
// come first), with SeekEqual on the selected index.
//
// The set keeps the places of all its rows, found by its first move (opening finds only the first
// row), when an index is selected, and again whenever the file changed since (another program's
// write, or an AddNew or key change of its own); finding them reads the table's pages or the
// index's leaves, not the rows themselves. The current row stays current across such a refresh
// as long as it exists; when it has gone, the walk goes on with the row that took its place.
#pragma once

#include <memory>
#include <string>

#include "catalogue/jet_recordset.h"

namespace velloran {

class TableRecordset final : public JetRecordset {
 public:
  // How long opening waits for another program's write to finish before reporting kInUse.
  static constexpr int kWriterWaitMs = 1000;

  // Opens the local table `table` (letter case ignored). kInUse while another program holds the
  // file for writing; kNotFound when there is no such table.
  static std::unique_ptr<Recordset> Open(std::shared_ptr<DatabaseSession> session, const std::string& table);

  void SelectIndex(const std::string& index_name) override;
  void SeekEqual(const FieldValue& key) override;
  bool NoMatch() const override { return no_match_; }

 protected:
  jet::Status Sync() override;
  jet::Result<bool> Reach(size_t index) override { return index < rows_.size(); }
  void AfterWrite(const WriteOutcome& outcome) override;

 private:
  using JetRecordset::JetRecordset;

  // Finds the places of every row anew, in the set's order, and keeps the current row current.
  jet::Status Rebuild();
  jet::Result<std::vector<jet::RowId>> FindRows(const jet::TableDef& def);
  // The position in `def` of the index `name` and, when asked, the column numbers of its keys.
  static jet::Result<size_t> FindIndex(const jet::TableDef& def, const std::string& name,
                                       std::vector<uint16_t>* key_columns);

  std::string index_name_;  // empty: storage order
  std::vector<uint16_t> index_columns_;  // the selected index's key columns, by number
  uint64_t rows_generation_ = 0;  // the pager's generation rows_ was found at
  bool rows_known_ = false;
  bool no_match_ = false;
};

}  // namespace velloran
