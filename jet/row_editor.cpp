#include "jet/row_editor.h"

#include "jet/row_writer.h"

namespace jet {

RowEditor::RowEditor(Database& db, std::unique_ptr<RowWriter> writer) : db_(db), writer_(std::move(writer)) {}

RowEditor::~RowEditor() = default;

Result<std::unique_ptr<RowEditor>> RowEditor::Open(Database& db, const TableDef& def) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<RowWriter> writer, RowWriter::Open(db.pager(), def));
  return std::unique_ptr<RowEditor>(new RowEditor(db, std::move(writer)));
}

Result<RowEditor::Written> RowEditor::Insert(std::vector<Value> values) {
  Written written;
  JET_ASSIGN_OR_RETURN(written.header, writer_->Insert(std::move(values)));
  JET_ASSIGN_OR_RETURN(written.home, db_.RowHome(written.header));
  return written;
}

Result<RowEditor::Written> RowEditor::Change(RowId row, const std::vector<std::pair<size_t, Value>>& changes) {
  Written written;
  JET_ASSIGN_OR_RETURN(written.header, writer_->HeaderOf(row));
  JET_ASSIGN_OR_RETURN(std::vector<Value> values, writer_->Read(written.header));
  for (const auto& [position, value] : changes) values.at(position) = value;
  JET_RETURN_IF_ERROR(writer_->Update(written.header, std::move(values)));
  JET_ASSIGN_OR_RETURN(written.home, db_.RowHome(written.header));
  return written;
}

}  // namespace jet
